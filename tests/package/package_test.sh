#!/bin/sh
# The Debian packages as built (make package-check): the files of kalvor,
# exactly, with /etc/xdg/KALVOR/KALVOR.conf a conffile; the control fields
# and maintainer scripts; the programs stripped, their debugging symbols in
# kalvor-dbgsym under the programs' build ids; hardening-check and
# lintian --pedantic without a complaint; the package's version throughout.
#     package_test.sh [DIR]        (the folder holding the packages; default .)
set -eu
dir=${1:-.}
top=$(cd "$(dirname "$0")/../.." && pwd)
version=$(sh "$top/tools/version.sh" "$top")
arch=$(dpkg --print-architecture)
deb=$dir/kalvor_${version}_${arch}.deb
dbgsym=$dir/kalvor-dbgsym_${version}_${arch}.deb
for f in "$deb" "$dbgsym"; do
    [ -f "$f" ] || { echo "FAIL: no $f (make package builds it)"; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
programs="kalvor kalvor-link kalvor-batch"

# ---- the files, exactly -------------------------------------------------------
{
    for p in $programs; do
        echo "./usr/bin/$p"
        echo "./usr/share/man/man1/$p.1.gz"
    done
    for id in com.orsana.kalvor com.orsana.kalvor_batch; do
        echo "./usr/share/applications/$id.desktop"
        echo "./usr/share/metainfo/$id.metainfo.xml"
    done
    echo "./usr/share/bash-completion/completions/kalvor-link"
    for size in 16 24 32 48 64 128 256; do
        echo "./usr/share/icons/hicolor/${size}x${size}/apps/kalvor.png"
    done
    echo "./usr/share/icons/hicolor/scalable/apps/kalvor.svg"
    echo "./usr/share/doc/kalvor/copyright"
    echo "./usr/share/doc/kalvor/changelog.gz"
    echo "./etc/xdg/KALVOR/KALVOR.conf"
    echo "./usr/lib/tmpfiles.d/kalvor.conf"
    echo "./lib/udev/rules.d/60-kalvor.rules"
    echo "./usr/lib/python3/dist-packages/kalvor_link/__init__.py"
    echo "./usr/lib/python3/dist-packages/kalvor_link/_version.py"
    echo "./usr/lib/python3/dist-packages/kalvor_link/py.typed"
} | sort >"$work/expected"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | grep -v '/kalvor_link-[^/]*\.dist-info/' | sort >"$work/files"
if ! cmp -s "$work/expected" "$work/files"; then
    fail "the package's files differ from the expected ones (< expected, > packaged):"
    diff "$work/expected" "$work/files" | grep '^[<>]' || true
fi
dpkg-deb -c "$deb" | grep -q "/usr/lib/python3/dist-packages/kalvor_link-[^/]*\.dist-info/METADATA$" ||
    fail "no dist-info of the Python package"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ && $2 != "root/root" { print }' | grep . && fail "files not owned by root"

root=$work/root
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$work/control"
for p in $programs; do
    case $(file -b "$root/usr/bin/$p") in
        *"pie executable"*", stripped"*) ;;
        *) fail "usr/bin/$p is no stripped PIE: $(file -b "$root/usr/bin/$p")" ;;
    esac
done
grep -qx /etc/xdg/KALVOR/KALVOR.conf "$work/control/conffiles" || fail "KALVOR.conf is no conffile"
grep -qx 'f /run/lock/kalvor.lock 0660 root kalvor -' "$root/usr/lib/tmpfiles.d/kalvor.conf" ||
    fail "the tmpfiles.d entry does not make the card lock root:kalvor 0660"
grep -q 'KERNEL=="port".*GROUP="kalvor", MODE="0660"' "$root/lib/udev/rules.d/60-kalvor.rules" ||
    fail "the udev rule does not give /dev/port to group kalvor"
grep -q "__version__ = \"$(sh "$top/tools/version.sh" --python "$top")\"" \
    "$root/usr/lib/python3/dist-packages/kalvor_link/_version.py" || fail "the Python package has another version"

# ---- control fields and maintainer scripts -----------------------------------
field() { dpkg-deb -f "$1" "$2"; }
[ "$(field "$deb" Package)" = kalvor ] || fail "Package: $(field "$deb" Package)"
[ "$(field "$deb" Version)" = "$version" ] || fail "Version: $(field "$deb" Version)"
[ "$(field "$deb" Architecture)" = "$arch" ] || fail "Architecture: $(field "$deb" Architecture)"
depends=$(field "$deb" Depends)
for dep in libcap2-bin adduser libqt6core6 libqt6widgets6 libqt6network6 libqt6sql6-sqlite libc6 python3; do
    echo "$depends" | tr ',' '\n' | grep -q "^ *$dep\( \|:\|$\)" || fail "Depends lacks $dep: $depends"
done
[ "$(field "$dbgsym" Depends)" = "kalvor (= $version)" ] || fail "kalvor-dbgsym Depends: $(field "$dbgsym" Depends)"
for script in postinst postrm; do
    [ -x "$work/control/$script" ] || fail "$script is missing or not executable"
    sh -n "$work/control/$script" || fail "$script does not parse"
done
grep -q 'setcap cap_sys_rawio+ep "$program"' "$work/control/postinst" || fail "postinst sets no capability"
grep -q '^program=/usr/bin/kalvor$' "$work/control/postinst" || fail "postinst names another program"
grep -q 'systemd-tmpfiles .*--create kalvor.conf' "$work/control/postinst" || fail "postinst makes no card lock"
grep -q 'dpkg-statoverride --list' "$work/control/postrm" || fail "postrm does not look at the statoverrides"
zcat "$root/usr/share/doc/kalvor/changelog.gz" | head -n 1 | grep -q "^kalvor ($version)" ||
    fail "the installed changelog begins: $(zcat "$root/usr/share/doc/kalvor/changelog.gz" | head -n 1)"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/com.orsana.kalvor.metainfo.xml" ||
    fail "the metainfo has no release $version"
appstreamcli validate-tree --no-net "$root" >"$work/appstream.log" 2>&1 || {
    cat "$work/appstream.log"
    fail "appstreamcli validate-tree"
}

# ---- debugging symbols ----------------------------------------------------------
dpkg-deb -x "$dbgsym" "$work/dbg"
for p in $programs; do
    id=$(readelf -n "$root/usr/bin/$p" | sed -n 's/.*Build ID: //p')
    [ -n "$id" ] || { fail "usr/bin/$p has no build id"; continue; }
    debug=$work/dbg/usr/lib/debug/.build-id/$(echo "$id" | cut -c1-2)/$(echo "$id" | cut -c3-).debug
    [ -f "$debug" ] || fail "kalvor-dbgsym has no symbols of $p ($id)"
done

# ---- hardening and lintian -------------------------------------------------------
for p in $programs; do
    hardening-check "$root/usr/bin/$p" >"$work/hardening.log" 2>&1 || {
        cat "$work/hardening.log"
        fail "hardening-check usr/bin/$p"
    }
done
hardening-check "$root/usr/bin/kalvor"
# The binary packages, as installed. (Their .changes of a build between
# releases names the distribution UNRELEASED, as it should: lintian calls
# that unreleased-changes, an error for an upload, which it is not.)
# (lintian run as root says it would rather not, on standard error)
# A tag lintian masks itself (M:, a known false positive such as Python's
# dist-info top_level.txt) is no complaint, though --fail-on counts it in
# Debian 12's lintian: every tag line is read instead.
lintian --pedantic --display-info "$deb" "$dbgsym" >"$work/lintian.log" 2>"$work/lintian.err" || {
    cat "$work/lintian.log" "$work/lintian.err"
    fail "lintian failed"
}
if grep -q '^[EWIPX]: ' "$work/lintian.log"; then
    cat "$work/lintian.log"
    fail "lintian --pedantic complains"
fi

echo "$(basename "$deb"): $(wc -l <"$work/files") files; lintian --pedantic: $(grep -c '^[EWIPX]: ' "$work/lintian.log" || true) tags"
[ "$failures" -eq 0 ] || { echo "$failures failures"; exit 1; }
echo "the packages of kalvor $version are sound"
