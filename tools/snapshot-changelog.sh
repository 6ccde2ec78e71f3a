#!/bin/sh
# The changelog entry of a build between releases, for the top of the
# changelog the package installs: its version, the commit, and the release
# it works towards (the newest entry of debian/changelog, which follows).
#     snapshot-changelog.sh [SOURCE_DIR]
set -eu
top=${1:-$(dirname "$0")/..}
tools=$(dirname "$0")
version=$(sh "$tools/version.sh" "$top")
epoch=$(sh "$tools/version.sh" --epoch "$top")
towards=$(sed -n '1s/^[a-z0-9.+-]* (\([^)]*\)).*/\1/p' "$top/debian/changelog")
maintainer=$(sed -n 's/^ -- \(.*>\)  .*/\1/p' "$top/debian/changelog" | head -n 1)
commit=$(echo "$version" | sed -n 's/.*\.g\([0-9a-f]*\)$/\1/p')

echo "kalvor ($version) UNRELEASED; urgency=medium"
echo
case $version in
    *~0) echo "  * A build without version control history, towards $towards." ;;
    *~0.*) echo "  * A build of commit $commit, towards $towards (made where no release tag was at hand)." ;;
    *~*)
        count=$(echo "$version" | sed -n 's/.*~\([0-9]*\)\.g.*/\1/p')
        [ "$count" = 1 ] && commits="1 commit" || commits="$count commits"
        echo "  * A build of commit $commit, $commits after the last release, towards $towards." ;;
    *+*) echo "  * A build of commit $commit, made after release ${version%%+*}." ;;
esac
echo
echo " -- $maintainer  $(LC_ALL=C date -u -R -d "@$epoch")"
echo
