#!/bin/bash
# Takes the README's screenshots under Xvfb with openbox, driving KALVOR on the
# simulated reader from the keyboard and kalvor-link. Needs xvfb, openbox,
# xdotool and imagemagick. Usage: tools/take-screenshots.sh [builddir] [outdir]
set -eu
BUILD=${1:-build}
OUT=${2:-docs}
DISPLAY_NO=:57
TMP=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$TMP"' EXIT
Xvfb $DISPLAY_NO -screen 0 1024x768x24 -dpi 96 >/dev/null 2>&1 &
sleep 1
export DISPLAY=$DISPLAY_NO XDG_CONFIG_HOME=$TMP/cfg XDG_RUNTIME_DIR=$TMP/run
openbox >/dev/null 2>&1 &
mkdir -p "$XDG_CONFIG_HOME/KALVOR" "$OUT"
mkdir -m 700 "$XDG_RUNTIME_DIR"
printf '[Properties]\nPort=768\nScreenLeft=1500\nScreenTop=1500\n' > "$XDG_CONFIG_HOME/KALVOR/KALVOR.conf"
L="$BUILD/kalvor-link"
"$BUILD/kalvor" --simulate >/dev/null 2>&1 &
sleep 3
"$L" put 'simulator!dosimeter' 0.512 >/dev/null
sleep 2
main() { xdotool windowactivate --sync "$(xdotool search --name '^KALVOR$' | head -1)" 2>/dev/null || true; }
grab() { import -window root "$TMP/full.png"; convert "$TMP/full.png" -crop "$2" +repage "$OUT/$1"; }

grab main-window.png 210x110+95+95
main; xdotool key alt+s; sleep 0.4; xdotool key w; sleep 0.5
grab menus.png 430x170+95+95
xdotool key Escape Escape Escape; sleep 0.3
main; xdotool key alt+s p; sleep 1
grab port-dialog.png 570x470+228+123
xdotool key alt+c; sleep 0.5
main; xdotool key ctrl+n; sleep 0.8; xdotool key Return; sleep 0.8
"$L" put 'simulator!holder' filter >/dev/null; "$L" put 'simulator!filter' none >/dev/null
xdotool key alt+z; sleep 0.8
for f in light:l medium:m dark:d; do
    "$L" put 'simulator!filter' "${f%%:*}" >/dev/null; xdotool key "alt+${f##*:}"; sleep 0.8
done
grab ndf-dialog.png 375x335+181+228
"$L" put 'simulator!filter' none >/dev/null; "$L" put 'simulator!holder' film >/dev/null
"$L" put 'simulator!dosimeter' none >/dev/null
xdotool key alt+c; sleep 0.6; xdotool key Return; sleep 2.5
"$L" put 'simulator!dosimeter' 0.512 >/dev/null; sleep 1.5
main; xdotool key alt+h; sleep 0.4; xdotool key a; sleep 1
grab about-box.png 610x390+95+95
xdotool key Escape
"$L" get A WL na nb nc
