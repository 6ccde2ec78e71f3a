#!/bin/sh
# The packages of Build-Depends in debian/control, one per line, every build
# profile included (the first of alternatives; debhelper for debhelper-compat).
#     build-depends.sh [CONTROL]
set -eu
control=${1:-$(dirname "$0")/../debian/control}
awk '
/^Build-Depends:/ { on = 1; sub(/^Build-Depends:/, "") }
on && /^[^ #]/ && !/^Build-Depends:/ { on = 0 }
on && !/^#/ { print }
' "$control" | tr ',' '\n' | sed -e 's/|.*//' -e 's/[[(<].*//' -e 's/:any//' -e 's/^ *//' -e 's/ *$//' |
    sed 's/^debhelper-compat$/debhelper/' | grep -v '^$'
