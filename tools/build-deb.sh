#!/bin/sh
# The Debian packages of the committed tree (HEAD): exported into a clean
# folder, with its version and commit time written down (.version), and
# built there by dpkg-buildpackage -us -uc -b, as anyone would build the
# source package. The .debs, .buildinfo and .changes are copied to OUT.
#     build-deb.sh [OUT [WORK]]        (JOBS: parallel compile jobs)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "${1:-.}" && cd "${1:-.}" && pwd)
work=${2:-build-deb}

cd "$top"
if ! git rev-parse --verify -q HEAD >/dev/null 2>&1; then
    echo "build-deb.sh: $top is no git checkout; build it with dpkg-buildpackage -us -uc -b in a clean copy" >&2
    exit 1
fi
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
    echo "build-deb.sh: uncommitted changes are left out: the package is built from HEAD" >&2
version=$(sh tools/version.sh)
epoch=$(sh tools/version.sh --epoch)

rm -rf "$work"
mkdir -p "$work/kalvor"
git archive --format=tar HEAD | tar -x -C "$work/kalvor"
echo "$version $epoch" >"$work/kalvor/.version"
echo "Building the packages of kalvor $version in $work/kalvor"
(
    cd "$work/kalvor"
    # Debian's own tools only: a python3 or compiler of the user's (pyenv,
    # /usr/local) has no place in a package.
    PATH=/usr/sbin:/usr/bin:/sbin:/bin DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:+$DEB_BUILD_OPTIONS }parallel=${JOBS:-2}" \
        dpkg-buildpackage -us -uc -b >../build.log 2>&1
) || {
    tail -n 40 "$work/build.log"
    echo "build-deb.sh: dpkg-buildpackage failed; the whole log is $work/build.log" >&2
    exit 1
}
for f in "$work"/*.deb "$work"/*.buildinfo "$work"/*.changes; do
    [ "$(dirname "$f")" -ef "$out" ] || cp -f "$f" "$out/"
    echo "$out/$(basename "$f")"
done
