#!/bin/sh
# Builds the Debian package from a build tree and checks it: the file list
# (programs stripped, desktop entry, icons, metainfo, manual pages, completion,
# copyright, changelog, and nothing else), the control fields and maintainer
# scripts; desktop-file-validate, appstreamcli and lintian accept it.
#     package_test.sh BUILD_DIR DESKTOP_ID PROGRAM...
set -eu
build=$1
desktop_id=$2
shift 2
programs=$*

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

version=$("$build/kalvor" --version | awk '{ print $NF }')
arch=$(dpkg --print-architecture)
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    exit 1
fi
deb=$work/out/kalvor_${version}_${arch}.deb
[ -f "$deb" ] || { ls "$work/out"; echo "FAIL: no $deb"; exit 1; }

# ---- the files, exactly -------------------------------------------------------
expected=$work/expected
{
    for p in $programs; do
        echo "./usr/bin/$p"
        echo "./usr/share/man/man1/$p.1.gz"
    done
    echo "./usr/share/applications/$desktop_id.desktop"
    echo "./usr/share/metainfo/$desktop_id.metainfo.xml"
    echo "./usr/share/bash-completion/completions/kalvor-link"
    for size in 16 24 32 48 64 128 256; do
        echo "./usr/share/icons/hicolor/${size}x${size}/apps/kalvor.png"
    done
    echo "./usr/share/icons/hicolor/scalable/apps/kalvor.svg"
    echo "./usr/share/doc/kalvor/copyright"
    echo "./usr/share/doc/kalvor/changelog.gz"
} | sort >"$expected"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >"$work/files"
if ! cmp -s "$expected" "$work/files"; then
    fail "the package's files differ from the expected ones (< expected, > packaged):"
    diff "$expected" "$work/files" | grep '^[<>]' || true
fi
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ && $2 != "root/root" { print }' | grep . && fail "files not owned by root"

root=$work/root
dpkg-deb -x "$deb" "$root"
for p in $programs; do
    case $(file -b "$root/usr/bin/$p") in
        *", stripped"*) ;;
        *) fail "usr/bin/$p is not stripped" ;;
    esac
done

# ---- control fields and maintainer scripts -----------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kalvor ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
depends=$(field Depends)
for dep in libcap2-bin adduser libqt6core6 libqt6widgets6 libqt6network6 libc6; do
    echo "$depends" | tr ',' '\n' | grep -q "^ *$dep\( \|$\)" || fail "Depends lacks $dep: $depends"
done
dpkg-deb -e "$deb" "$work/control"
for script in postinst postrm; do
    [ -x "$work/control/$script" ] || fail "$script is missing or not executable"
    sh -n "$work/control/$script" || fail "$script does not parse"
done
grep -q 'setcap cap_sys_rawio+ep "$program"' "$work/control/postinst" || fail "postinst sets no capability"
grep -q '^program=/usr/bin/kalvor$' "$work/control/postinst" || fail "postinst names another program"

# ---- what the desktop, AppStream and Debian's tools say -----------------------
desktop-file-validate "$root/usr/share/applications/$desktop_id.desktop" || fail "desktop-file-validate"
grep -qx 'Exec=kalvor' "$root/usr/share/applications/$desktop_id.desktop" || fail "Exec is not kalvor"
appstreamcli validate-tree --no-net "$root" >"$work/appstream.log" 2>&1 || {
    cat "$work/appstream.log"
    fail "appstreamcli validate-tree"
}
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/$desktop_id.metainfo.xml" ||
    fail "the metainfo has no release $version"
zcat "$root/usr/share/doc/kalvor/changelog.gz" | head -n 1 | grep -q "^kalvor ($version)" ||
    fail "the changelog's last entry is not $version"
grep -q '^License: GPL-3.0-or-later$' "$root/usr/share/doc/kalvor/copyright" || fail "copyright without SPDX id"
for p in $programs; do
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
        "$root/usr/share/man/man1/$p.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "groff warnings in $p.1: $warnings"
done
# (lintian run as root says it would rather not, on standard error)
lintian --fail-on error "$deb" >"$work/lintian.log" 2>"$work/lintian.err" || {
    cat "$work/lintian.err"
    fail "lintian reports errors"
}
cat "$work/lintian.log"

echo "$(basename "$deb"): $(wc -l <"$work/files") files; lintian: $(grep -c '^E:' "$work/lintian.log" || true) errors, $(grep -c '^W:' "$work/lintian.log" || true) warnings"
[ "$failures" -eq 0 ] || { echo "$failures failures"; exit 1; }
