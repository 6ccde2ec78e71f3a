#!/bin/sh
# What the build tree installs with the prefix /usr, as the Debian package
# takes it: exactly the expected files; desktop-file-validate, appstreamcli
# and man accept them; one version in the programs, the manual pages, the
# metainfo and debian/changelog; and the purge script keeps group kalvor
# exactly while users or a dpkg-statoverride need it. (The package itself is
# checked by tests/package/package_test.sh, make package-check.)
#     install_test.sh BUILD_DIR SOURCE_DIR "PROGRAM:DESKTOP_ID ..." PROGRAM...
set -eu
build=$1 source=$2 desktop_entries=$3
shift 3
programs=$*

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The prefix the tree was configured with: /usr as the package has it also
# installs the example settings for every account in /etc.
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
root=$work/root
DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 || {
    cat "$work/install.log"
    exit 1
}

# ---- the files, exactly -------------------------------------------------------
{
    for p in $programs; do
        echo "./usr/bin/$p"
        echo "./usr/share/man/man1/$p.1"
    done
    for entry in $desktop_entries; do
        echo "./usr/share/applications/${entry#*:}.desktop"
        echo "./usr/share/metainfo/${entry#*:}.metainfo.xml"
    done
    echo "./usr/share/bash-completion/completions/kalvor-link"
    for size in 16 24 32 48 64 128 256; do
        echo "./usr/share/icons/hicolor/${size}x${size}/apps/kalvor.png"
    done
    echo "./usr/share/icons/hicolor/scalable/apps/kalvor.svg"
    [ "$prefix" != /usr ] || echo "./etc/xdg/KALVOR/KALVOR.conf"
} | sort >"$work/expected"
(cd "$root" && find . ! -type d | sort) >"$work/files"
if ! cmp -s "$work/expected" "$work/files"; then
    fail "the installed files differ from the expected ones (< expected, > installed):"
    diff "$work/expected" "$work/files" | grep '^[<>]' || true
fi

# ---- one version ---------------------------------------------------------------
version=$(sh "$source/tools/version.sh" "$source")
release=$(sed -n '1s/^kalvor (\([^)]*\)).*/\1/p' "$source/debian/changelog")
for p in $programs; do
    [ "$("$build/$p" --version | awk '{ print $NF }')" = "$version" ] ||
        fail "$p --version says $("$build/$p" --version), the tree is $version"
    grep -q "^\.TH .*\"KALVOR $version\"" "$root/usr/share/man/man1/$p.1" || fail "$p.1 is not of version $version"
done
case $version in
    "$release" | "$release"~* | *+*) ;;
    *) fail "version $version is neither release $release of debian/changelog nor a build towards it" ;;
esac
for entry in $desktop_entries; do
    first=$(grep -m 1 -o '<release version="[^"]*"' "$root/usr/share/metainfo/${entry#*:}.metainfo.xml")
    [ "$first" = "<release version=\"$version\"" ] || fail "the newest release of ${entry#*:} is $first, not $version"
done
conf=$source/packaging/KALVOR.conf
grep -q '^\[Properties\]$' "$conf" || fail "KALVOR.conf has no [Properties]"
grep -v '^\(;.*\|\[Properties\]\|\)$' "$conf" && fail "KALVOR.conf sets something"

# ---- what the desktop, AppStream and man say ----------------------------------
for entry in $desktop_entries; do
    program=${entry%%:*} desktop_id=${entry#*:}
    desktop-file-validate "$root/usr/share/applications/$desktop_id.desktop" || fail "desktop-file-validate $desktop_id"
    grep -qx "Exec=$program" "$root/usr/share/applications/$desktop_id.desktop" || fail "Exec is not $program"
done
appstreamcli validate-tree --no-net "$root" >"$work/appstream.log" 2>&1 || {
    cat "$work/appstream.log"
    fail "appstreamcli validate-tree"
}
for p in $programs; do
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
        "$root/usr/share/man/man1/$p.1" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "groff warnings in $p.1: $warnings"
done

# ---- the maintainer scripts -----------------------------------------------------
for script in "$source"/debian/kalvor.postinst "$source"/debian/kalvor.postrm; do
    [ -x "$script" ] || fail "$script is not executable"
    sh -n "$script" || fail "$script does not parse"
done
# Purge against stand-ins for getent, dpkg-statoverride and delgroup that
# record what they are asked.
bin=$work/bin
mkdir "$bin"
cat >"$bin/getent" <<'STUB'
#!/bin/sh
[ "$1 $2" = "group kalvor" ] && echo "kalvor:x:999:$MEMBERS"
STUB
cat >"$bin/dpkg-statoverride" <<'STUB'
#!/bin/sh
[ "$1" = --list ] && printf '%s' "$OVERRIDES"
STUB
cat >"$bin/delgroup" <<'STUB'
#!/bin/sh
echo "delgroup $*" >>"$LOG"
[ -z "$MEMBERS" ] || { echo "delgroup: the group is not empty" >&2; exit 1; }
STUB
chmod +x "$bin"/*
purge() {
    : >"$work/log"
    MEMBERS=$1 OVERRIDES=$2 LOG=$work/log PATH=$bin:$PATH sh "$source/debian/kalvor.postrm" purge 2>"$work/err" ||
        fail "postrm purge failed: $(cat "$work/err")"
    cat "$work/log"
}
[ "$(purge "" "")" = "delgroup --system --only-if-empty kalvor" ] || fail "an unused group is not deleted"
[ -z "$(purge "" "root kalvor 0710 /usr/bin/kalvor
")" ] || fail "a group that a statoverride names is deleted"
grep -q "dpkg-statoverride names it for /usr/bin/kalvor" "$work/err" || fail "postrm does not say why it keeps the group"
[ -z "$(purge "" "root other 0710 /usr/bin/kalvor
")" ] && fail "a statoverride of another group keeps kalvor"

[ "$failures" -eq 0 ] || { echo "$failures failures"; exit 1; }
echo "installed files, version $version, desktop entries, metainfo, manual pages and purge script agree"
