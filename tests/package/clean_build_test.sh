#!/bin/sh
# Build-Depends complete: the packages of HEAD built as a plain user in a
# clean Debian 12 chroot (debootstrap --variant=minbase) that has nothing
# but build-essential and what `apt-get build-dep` installs from
# debian/control. As root (debootstrap, chroot). The .debs are compared with
# those of make package (DIR), which were built elsewhere, by another user,
# when both builds had the same packages installed (their .buildinfo files).
#     clean_build_test.sh [DIR]        (JOBS: parallel compile jobs)
# Kept between runs in build-chroot/: the minbase tree.
set -eu
dir=$(cd "${1:-.}" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
[ "$(id -u)" -eq 0 ] || { echo "clean_build_test.sh: run as root (debootstrap, chroot)" >&2; exit 2; }
cache=$top/build-chroot
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
version=$(sh "$top/tools/version.sh" "$top")
epoch=$(sh "$top/tools/version.sh" --epoch "$top")

base=$cache/bookworm-minbase
if [ ! -x "$base/usr/bin/apt-get" ]; then
    rm -rf "$base"
    mkdir -p "$cache"
    debootstrap --variant=minbase bookworm "$base" "$mirror" >"$cache/debootstrap.log" 2>&1 || {
        tail -n 20 "$cache/debootstrap.log"
        exit 1
    }
fi
root=$cache/build
cleanup() {
    umount "$root/proc" 2>/dev/null || true
    rm -rf "$root"
}
trap cleanup EXIT
cleanup
cp -a "$base" "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# The suites of an installed Debian 12: its point releases and security updates too.
security=${DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security bookworm-security main
EOF
mount -t proc proc "$root/proc"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive sh -c "$1"; }

echo "the tree of HEAD ($version) for user builder"
in_root "useradd --create-home builder"
mkdir "$root/home/builder/kalvor"
git -C "$top" archive HEAD | tar -x -C "$root/home/builder/kalvor"
echo "$version $epoch" >"$root/home/builder/kalvor/.version"
in_root "chown -R builder: /home/builder/kalvor"

echo "apt-get upgrade; apt-get install build-essential; apt-get build-dep from debian/control"
in_root "apt-get update -q && apt-get upgrade -y -q && apt-get install -y -q --no-install-recommends build-essential &&
    apt-get build-dep -y -q --no-install-recommends /home/builder/kalvor" >"$cache/build-deps.log" 2>&1 || {
    tail -n 20 "$cache/build-deps.log"
    exit 1
}
echo "dpkg-buildpackage -us -uc -b as builder"
in_root "su builder -c 'cd ~/kalvor && DEB_BUILD_OPTIONS=parallel=${JOBS:-2} dpkg-buildpackage -us -uc -b'" \
    >"$cache/clean-build.log" 2>&1 || {
    tail -n 30 "$cache/clean-build.log"
    echo "FAIL: the package does not build from Build-Depends alone (whole log: $cache/clean-build.log)"
    exit 1
}
echo "built as a plain user from Build-Depends alone"

# A .deb is the same bytes only when it was built with the same tools and
# libraries: the .buildinfo files list them. When this host's differ from
# the mirror's newer point release, the difference is named and the .debs
# are not compared (make reproducible compares builds on one system).
build_env() { awk '/^Installed-Build-Depends:/ {on = 1; next} on && /^ / {sub(/,$/, ""); sub(/^ /, ""); print; next} {on = 0}' "$1" | sort; }
# make package's .buildinfo of this very version (it lists its .debs).
mine=
for f in "$dir"/kalvor_*_amd64.buildinfo; do
    [ -f "$f" ] && grep -q " kalvor_${version}_amd64.deb\$" "$f" && mine=$f
done
theirs=$(ls "$root"/home/builder/kalvor_*_amd64.buildinfo | head -n 1)
if [ -z "$mine" ]; then
    echo "NOT COMPARED: $dir has no .buildinfo of make package for $version (HEAD moved since make package?)"
    exit 1
fi
build_env "$mine" >"$cache/env-host"
build_env "$theirs" >"$cache/env-chroot"
# Packages both builds had, in other versions; a package that only one of
# them had installed (an alternative, a tool of this host's) is named but
# does not stop the comparison.
awk 'NR == FNR {v[$1] = $0; next} ($1 in v) && v[$1] != $0 {print "  - " v[$1]; print "  + " $0}' \
    "$cache/env-host" "$cache/env-chroot" >"$cache/env-differ"
only=$(awk 'NR == FNR {v[$1] = 1; next} !($1 in v) {print $1}' "$cache/env-chroot" "$cache/env-host" | tr '\n' ' ')
[ -z "$only" ] || echo "installed for make package only, not needed by the build: $only"
if [ -s "$cache/env-differ" ]; then
    echo "NOT COMPARED: the chroot built with other versions of $(($(wc -l <"$cache/env-differ") / 2)) of" \
        "the $(wc -l <"$cache/env-chroot") packages of its build environment (- this host, + chroot):"
    head -n 40 "$cache/env-differ"
    echo "(apt-get upgrade on this host, then make clean-build-test again, compares the .debs)"
    exit 0
fi

status=0
for deb in "$root"/home/builder/*.deb; do
    name=$(basename "$deb")
    sha256sum "$deb" | sed 's|  .*/|  chroot: |'
    if [ -f "$dir/$name" ]; then
        sha256sum "$dir/$name" | sed 's|  .*/|  make package: |'
        cmp -s "$deb" "$dir/$name" || { echo "DIFFERENT: $name"; status=1; }
    else
        echo "MISSING: make package made no $name"
        status=1
    fi
done
[ "$status" -eq 0 ] && echo "the same packages as make package, built with its build environment" \
    "(its $(wc -l <"$cache/env-chroot") packages in the same versions)"
exit "$status"
