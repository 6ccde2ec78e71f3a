#!/bin/bash
# Takes the README's screenshots on a private X server (Xvfb on the first free
# display) with openbox, driving KALVOR on the simulated reader from the
# keyboard and kalvor-link, then kalvor-batch: its window on a batch of a
# calibrated lot, the first page of that batch's report, the Calibration
# window on a store made as a lab makes it (films read hands-free, then the
# commands) and the Quality Control window. Needs Xvfb, openbox, xdotool,
# xwininfo, xprop, ImageMagick and pdftoppm (Debian: xvfb openbox xdotool
# x11-utils imagemagick poppler-utils; `make screenshots` installs them).
# Usage: tools/take-screenshots.sh [builddir] [outdir]
set -eu
BUILD=${1:-build}
OUT=${2:-docs}

missing=""
# need WHAT PROGRAM...: WHAT is missing unless every PROGRAM is on the PATH.
need() {
    local what=$1
    shift
    for p in "$@"; do
        command -v "$p" >/dev/null 2>&1 || { missing="$missing, $what"; return; }
    done
}
need "Xvfb (package xvfb)" Xvfb
need "a window manager (package openbox)" openbox
need "xdotool (package xdotool)" xdotool
need "xwininfo and xprop (package x11-utils)" xwininfo xprop
need "ImageMagick (package imagemagick)" import convert
need "pdftoppm (package poppler-utils)" pdftoppm
if [ -n "$missing" ]; then
    echo "take-screenshots.sh: missing: ${missing#, }" >&2
    echo "Install them with: apt-get install xvfb openbox xdotool x11-utils imagemagick poppler-utils (or: make screenshots)" >&2
    exit 1
fi
for f in "$BUILD/kalvor" "$BUILD/kalvor-link" "$BUILD/kalvor-batch" "$BUILD/kalvor-qc-demo"; do
    [ -x "$f" ] || { echo "take-screenshots.sh: $f is not built (make build)" >&2; exit 1; }
done

TMP=$(mktemp -d)
# At the end: our own background jobs (Xvfb, openbox, KALVOR) stop first.
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$TMP"' EXIT
# Xvfb picks a free display and writes its number to descriptor 3.
Xvfb -displayfd 3 -screen 0 1400x1050x24 -dpi 96 -nolisten tcp 3>"$TMP/display" >/dev/null 2>&1 &
for _ in $(seq 100); do [ -s "$TMP/display" ] && break; sleep 0.1; done
[ -s "$TMP/display" ] || { echo "take-screenshots.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$TMP/display")" XDG_CONFIG_HOME=$TMP/cfg XDG_RUNTIME_DIR=$TMP/run
unset QT_FONT_DPI QT_SCALE_FACTOR
openbox >/dev/null 2>&1 &
# KALVOR starts once the window manager has taken the screen.
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
sleep 0.5
mkdir -p "$XDG_CONFIG_HOME/KALVOR" "$OUT"
mkdir -m 700 "$XDG_RUNTIME_DIR"
printf '[Properties]\nPort=768\nScreenLeft=1500\nScreenTop=1500\n' > "$XDG_CONFIG_HOME/KALVOR/KALVOR.conf"
L="$BUILD/kalvor-link"
# The first visible window named $1, waited for up to 20 s. (A search can fail
# while windows come and go; it is simply repeated.)
waitwin() {
    local id
    for _ in $(seq 200); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    echo "take-screenshots.sh: no window $1 appeared; KALVOR said:" >&2
    cat "$TMP/kalvor.log" >&2
    return 1
}
"$BUILD/kalvor" --simulate >"$TMP/kalvor.log" 2>&1 &
MAIN=$(waitwin '^KALVOR$')
sleep 2
"$L" put simulator:dosimeter 0.512 >/dev/null
sleep 2

main() { xdotool windowactivate --sync "$MAIN" 2>/dev/null || true; }
# The window named $2 with its frame.
shot() {
    local w
    w=$(waitwin "^$2\$")
    sleep 0.5
    import -window "$w" -frame "$OUT/$1"
}
# A part of the screen, $2 (WxH), from just left of and above the main window.
area() {
    local x y
    x=$(xwininfo -id "$MAIN" | awk '/Absolute upper-left X/ {print $4}')
    y=$(xwininfo -id "$MAIN" | awk '/Absolute upper-left Y/ {print $4}')
    import -window root "$TMP/full.png"
    convert "$TMP/full.png" -crop "$2+$((x - 6))+$((y - 26))" +repage "$OUT/$1"
}

shot main-window.png KALVOR
main; xdotool key alt+s; sleep 0.4; xdotool key w; sleep 0.5
area menus.png 430x190
xdotool key Escape Escape Escape; sleep 0.3
main; xdotool key alt+s p
shot port-dialog.png "Port Address Setup"
xdotool key alt+c; sleep 0.5
main; xdotool key ctrl+n; sleep 0.8; xdotool key Return; sleep 0.8
"$L" put simulator:holder filter >/dev/null; "$L" put simulator:filter none >/dev/null
xdotool key alt+z; sleep 0.8
for f in light:l medium:m dark:d; do
    "$L" put simulator:filter "${f%%:*}" >/dev/null; xdotool key "alt+${f##*:}"; sleep 0.8
done
shot ndf-dialog.png "Neutral Density Filter Check"
"$L" put simulator:filter none >/dev/null; "$L" put simulator:holder film >/dev/null
"$L" put simulator:dosimeter none >/dev/null
xdotool key alt+c; sleep 0.6; xdotool key Return; sleep 2.5
"$L" put simulator:dosimeter 0.512 >/dev/null; sleep 1.5
main; xdotool key alt+h; sleep 0.4; xdotool key a
shot about-box.png "About KALVOR"
xdotool key Escape
"$L" get A WL na nb nc

# kalvor-batch on a calibrated lot: the lot, 5 dose levels x 3 films of a known
# response read hands-free, the calibration fitted and approved, then a
# production batch of positioned films with dose limits.
B="$BUILD/kalvor-batch"
S="$TMP/records.sqlite"
# The LED of the head, waited for up to 15 s.
waitled() {
    for _ in $(seq 150); do
        [ "$("$L" get -t simulator:led)" = "$1" ] && return 0
        sleep 0.1
    done
    echo "take-screenshots.sh: the head's LED did not turn $1" >&2
    return 1
}
# A film of dose $1 kGy (A0 0.150, 0.1 mm, k = 20 (1 - e^(-0.02 D)) per mm) slid in
# until its record is confirmed, then taken out.
film() {
    "$L" put simulator:film "$(awk -v d="$1" 'BEGIN { printf "%.4f", 0.150 + 0.1 * 20 * (1 - exp(-0.02 * d)) }')" >/dev/null
    waitled 1
    "$L" put simulator:dosimeter none >/dev/null
    waitled 0
}
"$L" put simulator:dosimeter none >/dev/null
"$L" put simulator:holder film >/dev/null
"$L" put reader:zero 1 >/dev/null
sleep 3
"$B" lot add EBT3-0512 --thickness 0.1 --thickness-u 0.002 --background 0.150 --wavelength 510 \
    --type "radiochromic film" --store "$S" >/dev/null
printf 'id,dose_kGy\n' >"$TMP/doses.csv"
n=0
for d in 5 10 20 40 60; do
    for _ in 1 2 3; do n=$((n + 1)); printf 'C-%03d,%s\n' "$n" "$d" >>"$TMP/doses.csv"; done
done
"$B" --batch cal-2026-12 --operator ann --prefix C- --store "$S" >"$TMP/cal.log" 2>&1 &
CAL=$!
waitwin '^KALVOR batch reading$' >/dev/null
sleep 2
for d in 5 5 5 10 10 10 20 20 20 40 40 40 60 60 60; do film "$d"; done
kill "$CAL"; wait "$CAL" || true
ID=$("$B" calibrate --lot EBT3-0512 --batch cal-2026-12 --doses "$TMP/doses.csv" --model exp --reference-u 1.5 \
    --json --store "$S" | sed -n 's/^ *"calibration": \([0-9]*\),*$/\1/p')
"$B" approve "$ID" --reason "calibration of lot EBT3-0512, reader 1500 at 510 nm" --operator "M. Weber (QA)" \
    --store "$S" >/dev/null
printf 'id,position\n' >"$TMP/map.csv"
for i in 1 2 3 4 5 6 7 8; do printf 'P-%02d,%s-%s\n' "$i" "$([ "$i" -le 4 ] && echo top || echo bottom)" "$(((i - 1) % 4 + 1))" >>"$TMP/map.csv"; done
"$B" --batch prod-2026-12-07 --operator ann --lot EBT3-0512 --ids "$TMP/map.csv" --limits 20..45 \
    --irradiated "$(date -d '-2 hours' +%Y-%m-%dT%H:%M)" --store "$S" >"$TMP/prod.log" 2>&1 &
PROD=$!
BATCHWIN=$(waitwin '^KALVOR batch reading$')
sleep 2
for d in 31.2 27.8 24.5 22.1 36.4 33.0 29.7 18.6; do film "$d"; done
sleep 1
xdotool windowactivate --sync "$BATCHWIN" 2>/dev/null || true
shot batch-window.png "KALVOR batch reading"
kill "$PROD"; wait "$PROD" || true
"$B" report --batch prod-2026-12-07 --pdf "$TMP/report.pdf" --operator "M. Weber (QA)" \
    --lab-name "Irradiation Laboratory, Quality Control" --lab-address "1 Beam Road\\n12345 Town" --store "$S"
pdftoppm -png -r 80 -f 1 -l 1 -singlefile "$TMP/report.pdf" "$OUT/report-page"

# The calibration window. The lot's unirradiated films and its calibration
# films (5 dose levels x 3 films of an exp curve, each film a little off the
# curve as real films are) are read hands-free by kalvor-batch on the
# simulated reader; the lot takes the mean of the first batch as its
# background; two calibrations are made by the commands (one approved), and
# the window fits the third and stores it as a draft.
B="$BUILD/kalvor-batch"
STORE=$TMP/records.sqlite
# led 1|0: waits up to 15 s for the head's LED.
led() {
    for _ in $(seq 150); do
        [ "$("$L" get -t reader:led 2>/dev/null)" = "$1" ] && return 0
        sleep 0.1
    done
    echo "take-screenshots.sh: the head's LED did not turn $1; kalvor-batch said:" >&2
    cat "$TMP/batch.log" >&2
    return 1
}
# readbatch NAME PREFIX ABSORBANCE...: a batch window that reads each film
# slid in; it stays open (its process is $BATCH).
readbatch() {
    local name=$1 prefix=$2
    shift 2
    "$B" --batch "$name" --operator ann --lot L7 --prefix "$prefix" --store "$STORE" >>"$TMP/batch.log" 2>&1 &
    BATCH=$!
    waitwin '^KALVOR batch reading$' >/dev/null
    for _ in $(seq 100); do grep -q 'connected to KALVOR' "$TMP/batch.log" && break; sleep 0.1; done
    sleep 2
    for a in "$@"; do
        "$L" put simulator:film "$a" >/dev/null
        led 1
        "$L" put simulator:dosimeter none >/dev/null
        led 0
    done
}
"$L" put simulator:dosimeter none >/dev/null
sleep 1.5
# A = A0 + t*k, k = 20*(1 - exp(-0.02 D)) mm-1, A0 0.150, t 0.1 mm; each film's
# response 0.8 % (SD) off the curve, the background films 0.002.
films=$(awk 'BEGIN { srand(7)
    for (i = 0; i < 3; i++) printf "%.4f ", 0.150 + 0.002 * (rand() + rand() + rand() - 1.5) * 2 }')
readbatch bg-L7 B- $films
kill "$BATCH"; wait "$BATCH" || true
"$B" lot add L7 --thickness 0.100 --thickness-u 0.002 --background-batch bg-L7 --type "radiochromic film" \
    --notes "received 2026-11-30, kept dark at 20 C" --operator ann --store "$STORE" >/dev/null
awk 'BEGIN { srand(11); n = 0
    split("5 10 20 40 60", d, " ")
    for (l = 1; l <= 5; l++) for (i = 0; i < 3; i++) {
        k = 20 * (1 - exp(-0.02 * d[l])) * (1 + 0.008 * (rand() + rand() + rand() - 1.5) * 2)
        printf "C-%03d,%s\n", ++n, d[l] > "/dev/stderr"
        printf "%.4f ", 0.150 + 0.1 * k
    } }' >"$TMP/cal-films" 2>"$TMP/cal-doses"
{ echo "id,dose_kGy"; cat "$TMP/cal-doses"; } >"$TMP/doses-L7.csv"
readbatch cal-L7 C- $(cat "$TMP/cal-films")
CAL=$("$B" calibrate --lot L7 --batch cal-L7 --doses "$TMP/doses-L7.csv" --model poly3 --reference-u 1.5 \
    --operator ann --json --store "$STORE" | awk -F'[:,]' '/"calibration":/ {gsub(/ /, "", $2); print $2}')
"$B" approve "$CAL" --reason "calibration of lot L7" --operator "Ben (QA)" --store "$STORE" >/dev/null
"$B" calibrate --lot L7 --batch cal-L7 --doses "$TMP/doses-L7.csv" --model power --reference-u 1.5 \
    --operator ann --store "$STORE" >/dev/null
BW=$(waitwin '^KALVOR batch reading$')
xdotool windowactivate --sync "$BW" 2>/dev/null || true
xdotool key alt+f; sleep 0.4; xdotool key a
CW=$(waitwin '^Calibration of a film lot$')
sleep 1
xdotool windowactivate --sync "$CW" 2>/dev/null || true
xdotool key alt+u ctrl+a; xdotool type 1.5; xdotool key Tab
xdotool key alt+o
waitwin '^The reference doses$' >/dev/null
sleep 0.5
xdotool type "$TMP/doses-L7.csv"; xdotool key Return
sleep 1.5
xdotool windowactivate --sync "$CW" 2>/dev/null || true
xdotool key alt+s
sleep 1
shot calibration-window.png 'Calibration of a film lot'
kill "$BATCH"; wait "$BATCH" || true

# kalvor-batch's Quality Control window, on a store of five weeks of checks
# (kalvor-qc-demo), linked to the simulated reader; the batch dialog of its
# start is cancelled.
"$BUILD/kalvor-qc-demo" "$TMP/qc.sqlite" >/dev/null
XDG_DATA_HOME=$TMP/data "$BUILD/kalvor-batch" --store "$TMP/qc.sqlite" >"$TMP/batch.log" 2>&1 &
waitwin '^Batch$' >/dev/null
sleep 0.5; xdotool key Escape
BATCH=$(waitwin '^KALVOR batch reading$')
xdotool windowactivate --sync "$BATCH" 2>/dev/null || true
xdotool key alt+f; sleep 0.4; xdotool key c
QC=$(waitwin '^Quality Control$')
xdotool windowmove "$QC" 16 24; sleep 1.5
shot quality-control.png "Quality Control"
