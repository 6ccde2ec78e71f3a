#!/bin/sh
# Installs the Debian packages KALVOR needs to build, test and run, if any
# are missing: with apt-get as root, or through sudo.
set -eu
missing=""
for pkg in "$@"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    case "$status" in
        *"install ok installed"*) ;;
        *) missing="$missing $pkg" ;;
    esac
done
[ -z "$missing" ] && exit 0
echo "Installing missing Debian packages:$missing"
if [ "$(id -u)" -eq 0 ]; then
    SUDO=""
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    SUDO="sudo -n"
elif command -v sudo >/dev/null 2>&1 && [ -t 0 ]; then
    SUDO="sudo"
else
    echo "These Debian packages are missing:$missing" >&2
    echo "Installing them needs root: run 'sudo apt-get install$missing' (or 'make' as root), then try again." >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
