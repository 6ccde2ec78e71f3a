#!/bin/sh
# The <releases> of the AppStream metainfo, from debian/changelog: every
# released entry with its date and what it names; a build between releases
# (VERSION other than the newest entry's) first, as a development release
# with the newest entry's items so far.
#     appstream-releases.sh CHANGELOG VERSION EPOCH
set -eu
changelog=$1 version=$2 epoch=$3
awk -v version="$version" -v day="$(date -u -d "@$epoch" +%Y-%m-%d)" '
function esc(s) { gsub(/&/, "\\&amp;", s); gsub(/</, "\\&lt;", s); gsub(/>/, "\\&gt;", s); return s }
function iso(d,    f, m) {  # "Mon, 07 Dec 2026 15:30:00 +0000" -> 2026-12-07
    split(d, f, " ")
    m = index("JanFebMarAprMayJunJulAugSepOctNovDec", f[3])
    return sprintf("%s-%02d-%02d", f[4], (m + 2) / 3, f[2])
}
function item() { if (text != "") { items[n++] = text; text = "" } }
function entry(kind, v, date,    i) {
    printf "    <release version=\"%s\" date=\"%s\"%s>\n", v, date, kind
    if (n > 0) {
        print "      <description>"
        print "        <ul>"
        for (i = 0; i < n; i++)
            printf "          <li>%s</li>\n", esc(items[i])
        print "        </ul>"
        print "      </description>"
    }
    print "    </release>"
}
/^[a-z0-9][a-z0-9.+-]* \(/ {
    v = $2; gsub(/[()]/, "", v)
    dist = $3; sub(/;.*/, "", dist)
    n = 0; text = ""; first = (entries++ == 0)
    next
}
/^  \* / { item(); text = substr($0, 5); next }
/^    [^ ]/ { sub(/^ +/, ""); text = text " " $0; next }
/^ -- / {
    item()
    sub(/^ -- .*>  /, "")
    if (first && v != version)
        entry(" type=\"development\"", version, day)
    else if (dist != "UNRELEASED" || v == version)
        entry("", v, iso($0))
}
' "$changelog"
