#!/bin/sh
# The version of KALVOR built from a source tree, the one version that
# --version, the Debian package, the AppStream release list and the Python
# client carry. Prints it on one line:
#     version.sh [--epoch | --python] [SOURCE_DIR]
#
# R below is the release the tree works towards: the version of the newest
# entry of debian/changelog.
#   R                    the commit tagged vR (a release)
#   R~N.gHASH            N commits after the newest tag vT older than R
#                        (git describe), e.g. 1.1.0~12.gabc1234
#   T+N.gHASH            N commits after a tag vT not older than R (a release
#                        made without a new changelog entry after it)
#   R~0.DATE.TIME.gHASH  a checkout without a reachable v* tag (a clone made
#                        without tags, a shallow clone): the commit's time in
#                        UTC, e.g. 1.1.0~0.20261207.153012.gabc1234. It grows
#                        with every commit and sorts below the R~N builds of
#                        a checkout that has the tags, and below R.
#   the .version file    a tree exported from a checkout (make package
#                        writes it: "VERSION EPOCH")
#   R~0                  a tree without git and without .version
# Debian orders these versions as meant: R~0 < R~0.DATE... < R~1... < R~12... < R < R+3...
#
# --epoch prints the commit's time (seconds since 1970, for SOURCE_DATE_EPOCH)
# instead: from git, else the .version file, else the newest changelog entry.
# --python prints the version as Python packaging spells it (PEP 440):
# 1.1.0~12.gabc1234 -> 1.1.0.dev12+gabc1234, 1.1.0+3.gabc1234 -> 1.1.0.post3+gabc1234.
set -eu

mode=version
case ${1:-} in
    --epoch | --python) mode=${1#--}; shift ;;
esac
top=${1:-$(dirname "$0")/..}
cd "$top"

newest=$(sed -n '1s/^[a-z0-9.+-]* (\([^)]*\)).*/\1/p' debian/changelog)
[ -n "$newest" ] || { echo "version.sh: no version in $top/debian/changelog" >&2; exit 1; }

changelog_epoch() {
    date -d "$(sed -n 's/^ -- .*>  //p' debian/changelog | head -n 1)" +%s
}

version="" epoch=""
if [ -e .git ] && command -v git >/dev/null && git rev-parse --verify -q HEAD >/dev/null 2>&1; then
    epoch=$(git log -1 --format=%ct HEAD)
    hash=$(git rev-parse --short=7 HEAD)
    if described=$(git describe --tags --long --abbrev=7 --match 'v[0-9]*' HEAD 2>/dev/null); then
        # vT-N-gHASH; T itself may hold dashes
        count=${described%-g*}
        count=${count##*-}
        tag=${described%-*-g*}
        tag=${tag#v}
        if [ "$count" -eq 0 ] && [ "$tag" = "$newest" ]; then
            version=$newest
        elif dpkg --compare-versions "$tag" lt "$newest"; then
            version=$newest~$count.g$hash
        else
            version=$tag+$count.g$hash
        fi
    else
        version=$newest~0.$(TZ=UTC0 git log -1 --date=format-local:%Y%m%d.%H%M%S --format=%cd HEAD).g$hash
    fi
elif [ -f .version ]; then
    read -r version epoch <.version
fi
[ -n "$version" ] || version=$newest~0
[ -n "$epoch" ] || epoch=$(changelog_epoch)

case $mode in
    version) echo "$version" ;;
    epoch) echo "$epoch" ;;
    python)
        echo "$version" | sed -e 's/~0\.\([0-9]*\)\.\([0-9]*\)\.g/.dev\1\2+g/' \
            -e 's/~0$/.dev0/' -e 's/~\([0-9]*\)\.g/.dev\1+g/' -e 's/+\([0-9]*\)\.g/.post\1+g/' ;;
esac
