#!/bin/sh
# The package as a lab's administrator meets it, in a clean Debian 12 chroot
# (debootstrap --variant=minbase, from the configured Debian mirror), as root:
#   1. install the 1.0.0 package (built from the tag v1.0.0, commit 882896b,
#      as that commit built it: CPack);
#   2. upgrade to this tree's package: the version, owner, mode and
#      capability of /usr/bin/kalvor, the card lock, every program starts,
#      the Python client imports; reinstalling changes nothing;
#   3. purge with an administrator's dpkg-statoverride naming group kalvor
#      and nobody in the group: the group stays, and apt-get install works;
#   4. install again (the override is honoured), remove the override, purge:
#      the group goes;
#   5. install through a signed flat apt repository (make-repo.sh, with a
#      key made for the test) with the three lines of the README, and purge.
# dpkg must be sound after each step (dpkg --audit, apt-get check).
#     chroot_test.sh [DIR]   (the folder holding this tree's packages; default .)
# Kept between runs in build-chroot/: the minbase tree and the 1.0.0 package.
set -eu
dir=$(cd "${1:-.}" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
[ "$(id -u)" -eq 0 ] || { echo "chroot_test.sh: run as root (debootstrap, chroot)" >&2; exit 2; }
cache=$top/build-chroot
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
version=$(sh "$top/tools/version.sh" "$top")
arch=$(dpkg --print-architecture)
new=$dir/kalvor_${version}_${arch}.deb
[ -f "$new" ] || { echo "chroot_test.sh: no $new (make package)" >&2; exit 1; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
step() { echo; echo "==== $*"; }

# ---- the minbase tree, once -----------------------------------------------------
base=$cache/bookworm-minbase
if [ ! -x "$base/usr/bin/apt-get" ]; then
    step "debootstrap --variant=minbase bookworm from $mirror"
    rm -rf "$base"
    mkdir -p "$cache"
    debootstrap --variant=minbase bookworm "$base" "$mirror" >"$cache/debootstrap.log" 2>&1 || {
        tail -n 20 "$cache/debootstrap.log"
        exit 1
    }
fi

# ---- the 1.0.0 package, once ------------------------------------------------------
old=$cache/kalvor_1.0.0_$arch.deb
if [ ! -f "$old" ]; then
    step "building the 1.0.0 package from v1.0.0 ($(git -C "$top" rev-parse --short v1.0.0))"
    rm -rf "$cache/v1.0.0"
    mkdir -p "$cache/v1.0.0/src"
    git -C "$top" archive v1.0.0 | tar -x -C "$cache/v1.0.0/src"
    (
        cd "$cache/v1.0.0"
        cmake -S src -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVOR_BENCH=OFF \
            -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
        cmake --build build -j "${JOBS:-2}" --target kalvor kalvor-link kalvor-batch kalvor_gzipped_docs
        cd build && cpack -G DEB
    ) >"$cache/v1.0.0.log" 2>&1 || {
        tail -n 20 "$cache/v1.0.0.log"
        exit 1
    }
    cp "$cache/v1.0.0/build/kalvor_1.0.0_$arch.deb" "$old"
fi

# ---- a fresh copy of the tree for this run ----------------------------------------
root=$cache/run
cleanup() {
    umount "$root/proc" 2>/dev/null || true
    rm -rf "$root"
}
trap cleanup EXIT
cleanup
cp -a "$base" "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mkdir -p "$root/srv/debs"
cp "$old" "$dir"/*_"$version"_*.deb "$root/srv/debs/"

# Runs a shell command in the chroot; its output is shown indented.
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive sh -c "$1"; }
show() { in_root "$1" 2>&1 | sed 's/^/    /'; }
dpkg_sound() {
    audit=$(in_root "dpkg --audit" 2>&1)
    [ -z "$audit" ] || fail "$1: dpkg --audit: $audit"
    in_root "apt-get check" >/dev/null 2>&1 || fail "$1: apt-get check fails"
}
check() { in_root "$1" >/dev/null 2>&1 || fail "$2"; }
installed() { in_root "dpkg-query -W -f='\${Version}' kalvor" 2>/dev/null || true; }

step "apt-get update, and the tools this test uses"
in_root "apt-get update -q" >/dev/null
in_root "apt-get install -y -q --no-install-recommends systemd-standalone-tmpfiles gnupg" >/dev/null
dpkg_sound "the fresh chroot"

step "1. install 1.0.0"
show "apt-get install -y -q /srv/debs/$(basename "$old") | tail -n 3"
[ "$(installed)" = 1.0.0 ] || fail "1.0.0 is not installed: $(installed)"
check "getent group kalvor" "no group kalvor"
show "adduser --quiet --disabled-password --gecos '' ann && adduser --quiet ann kalvor"
dpkg_sound "install 1.0.0"

step "2. upgrade to $version"
show "apt-get install -y -q /srv/debs/kalvor_${version}_$arch.deb | tail -n 3"
[ "$(installed)" = "$version" ] || fail "$version is not installed: $(installed)"
[ "$(in_root "stat -c '%U:%G %a' /usr/bin/kalvor")" = "root:kalvor 750" ] ||
    fail "/usr/bin/kalvor is $(in_root "stat -c '%U:%G %a' /usr/bin/kalvor")"
in_root "getcap /usr/bin/kalvor" | grep -q 'cap_sys_rawio[=+]ep' || fail "no CAP_SYS_RAWIO: $(in_root "getcap /usr/bin/kalvor")"
[ "$(in_root "stat -c '%U:%G %a' /run/lock/kalvor.lock")" = "root:kalvor 660" ] ||
    fail "the card lock is $(in_root "stat -c '%U:%G %a' /run/lock/kalvor.lock" 2>&1)"
for p in kalvor kalvor-link kalvor-batch; do
    [ "$(in_root "$p --version")" = "$p $version" ] || fail "$p --version: $(in_root "$p --version" 2>&1)"
done
check "su ann -c 'kalvor --simulate --check' | grep -qx 'KALVOR 1500 gain 1.9 510 nm 600 nm at 300'" \
    "kalvor --simulate --check does not test the simulated head for a member of group kalvor"
check "su ann -c 'env -u DISPLAY kalvor --simulate'; test \$? -eq 12" "kalvor without a display does not end with 12"
check "su ann -c 'kalvor-link get A'; test \$? -eq 3" "kalvor-link without a program does not end with 3"
check "su ann -c 'kalvor-batch verify --store /tmp/none.sqlite' 2>&1 | grep -q 'no record store'" \
    "kalvor-batch verify does not run (without a display) to report the missing store"
check "[ \"\$(python3 -c 'import kalvor_link; print(kalvor_link.__version__)')\" = '$(sh "$top/tools/version.sh" --python "$top")' ]" \
    "python3 cannot import kalvor_link of this version"
check "adduser --quiet --disabled-password --gecos '' bob && ! su bob -c 'kalvor --version'" \
    "a user outside group kalvor can run kalvor"
check "grep -q '^\[Properties\]' /etc/xdg/KALVOR/KALVOR.conf" "no /etc/xdg/KALVOR/KALVOR.conf"
show "apt-get install -y -q --reinstall /srv/debs/kalvor_${version}_$arch.deb | tail -n 1"
in_root "getcap /usr/bin/kalvor" | grep -q 'cap_sys_rawio[=+]ep' || fail "a reinstall lost the capability"
dpkg_sound "upgrade"

step "3. purge with a dpkg-statoverride naming group kalvor, nobody in the group"
show "dpkg-statoverride --update --add root kalvor 0710 /usr/bin/kalvor && deluser --quiet ann kalvor"
show "apt-get purge -y -q kalvor 2>&1 | tail -n 4"
check "getent group kalvor" "purge deleted group kalvor, which a statoverride names"
check "[ ! -e /etc/xdg/KALVOR/KALVOR.conf ]" "purge left /etc/xdg/KALVOR/KALVOR.conf"
dpkg_sound "purge with a statoverride"
show "apt-get install -y -q --no-install-recommends less | tail -n 1"
check "dpkg-query -W less" "apt-get install fails after the purge"

step "4. install again (the override honoured), remove the override, purge"
show "apt-get install -y -q /srv/debs/kalvor_${version}_$arch.deb | tail -n 1"
[ "$(in_root "stat -c '%U:%G %a' /usr/bin/kalvor")" = "root:kalvor 710" ] ||
    fail "the statoverride is not honoured: $(in_root "stat -c '%U:%G %a' /usr/bin/kalvor")"
in_root "getcap /usr/bin/kalvor" | grep -q 'cap_sys_rawio[=+]ep' || fail "no capability with the statoverride"
show "dpkg-statoverride --remove /usr/bin/kalvor && apt-get purge -y -q kalvor | tail -n 1"
check "! getent group kalvor" "purge left an empty group kalvor that nothing names"
dpkg_sound "purge"

step "5. install through a signed flat apt repository"
gnupg=$cache/gnupg
rm -rf "$gnupg"
mkdir -m 700 "$gnupg"
GNUPGHOME=$gnupg gpg --batch --quiet --passphrase '' --quick-generate-key "KALVOR test repository <test@kalvor.invalid>" \
    ed25519 sign never 2>/dev/null
GNUPGHOME=$gnupg REPO_KEY=test@kalvor.invalid sh "$top/tools/make-repo.sh" "$root/srv/kalvor" "$dir" | sed 's/^/    /'
rm -rf "$gnupg"
in_root "install -D -m 644 /srv/kalvor/kalvor-archive-keyring.gpg /etc/apt/keyrings/kalvor.gpg
    echo 'deb [signed-by=/etc/apt/keyrings/kalvor.gpg] file:/srv/kalvor ./' | tee /etc/apt/sources.list.d/kalvor.list >/dev/null
    apt-get update -q && apt-get install -y -q kalvor" >"$cache/repo.log" 2>&1 || {
    tail -n 20 "$cache/repo.log"
    fail "apt-get update && apt-get install kalvor from the repository failed"
}
grep -qi "not signed\|NO_PUBKEY\|insecure" "$cache/repo.log" && fail "apt doubts the repository's signature"
[ "$(installed)" = "$version" ] || fail "the repository did not install $version: $(installed)"
check "python3 -c 'import kalvor_link'" "no kalvor_link after installing from the repository"
show "apt-get purge -y -q kalvor | tail -n 1"
dpkg_sound "install from the repository and purge"

echo
[ "$failures" -eq 0 ] || { echo "$failures failures"; exit 1; }
echo "install, upgrade from 1.0.0, purge with a statoverride, reinstall, repository install and purge: dpkg sound throughout"
