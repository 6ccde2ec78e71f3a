#!/bin/sh
# Builds the packages of HEAD twice, in two folders of different depth, one
# after the other (so at different times), with a different time zone,
# locale and umask, and compares the .debs byte for byte. Prints their
# SHA-256; ends 1 when they differ, naming the files inside that differ.
#     reproducible-check.sh WORK_A WORK_B        (JOBS: parallel compile jobs)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
a=$1 b=$2
out_a=$a/out out_b=$b/out
rm -rf "$a" "$b"
mkdir -p "$out_a" "$out_b"

echo "first build, in $a"
(umask 022 && TZ=UTC LC_ALL=C.UTF-8 sh "$top/tools/build-deb.sh" "$out_a" "$a/work") >/dev/null
echo "second build, in $b"
(umask 002 && TZ=Pacific/Auckland LC_ALL=C sh "$top/tools/build-deb.sh" "$out_b" "$b/work") >/dev/null

status=0
for deb in "$out_a"/*.deb; do
    name=$(basename "$deb")
    other=$out_b/$name
    sha256sum "$deb" "$other" | sed "s|  .*/\([^/]*/out\)/|  \1/|"
    if ! cmp -s "$deb" "$other"; then
        status=1
        echo "DIFFERENT: $name"
        mkdir -p "$a/x/$name" "$b/x/$name"
        dpkg-deb -R "$deb" "$a/x/$name"
        dpkg-deb -R "$other" "$b/x/$name"
        diff -r "$a/x/$name" "$b/x/$name" | head -n 20 || true
    fi
done
[ "$status" -eq 0 ] && echo "the packages of both builds are identical"
exit "$status"
