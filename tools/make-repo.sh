#!/bin/sh
# A flat apt repository for a lab's PCs: the packages in DIR (those of the
# tree's version) are added to REPO, which gets its Packages, a Release
# file signed with the gpg key REPO_KEY (InRelease, Release.gpg), and the
# key itself for the PCs (kalvor-archive-keyring.gpg). Older packages in
# REPO stay; apt installs the newest.
#     REPO_KEY=KEY make-repo.sh REPO [DIR]
# On each PC (REPO copied to /srv/kalvor, or served at http://server/kalvor/):
#     sudo install -D -m 644 /srv/kalvor/kalvor-archive-keyring.gpg /etc/apt/keyrings/kalvor.gpg
#     echo "deb [signed-by=/etc/apt/keyrings/kalvor.gpg] file:/srv/kalvor ./" | sudo tee /etc/apt/sources.list.d/kalvor.list
#     sudo apt-get update && sudo apt-get install kalvor
set -eu
repo=$1 dir=${2:-.}
top=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${REPO_KEY:-}" ]; then
    echo "make-repo.sh: name the lab's signing key: make repo REPO_KEY=lab@example.org" >&2
    echo "(make one once: gpg --quick-generate-key \"Our lab's KALVOR packages <lab@example.org>\" ed25519 sign never)" >&2
    exit 2
fi
gpg --batch --list-secret-keys "$REPO_KEY" >/dev/null 2>&1 || {
    echo "make-repo.sh: gpg has no secret key $REPO_KEY" >&2
    exit 2
}
version=$(sh "$top/tools/version.sh" "$top")
set -- "$dir"/*_"$version"_*.deb
[ -f "$1" ] || { echo "make-repo.sh: no packages of version $version in $dir (make package)" >&2; exit 1; }

mkdir -p "$repo"
cp -f "$@" "$repo/"
cd "$repo"
rm -f Release Release.gpg InRelease
apt-ftparchive packages . >Packages
gzip -9n -c Packages >Packages.gz
apt-ftparchive -o APT::FTPArchive::Release::Origin=KALVOR \
    -o APT::FTPArchive::Release::Label=KALVOR \
    -o "APT::FTPArchive::Release::Description=KALVOR reader software" release . >Release.new
mv Release.new Release
gpg --batch --yes --local-user "$REPO_KEY" --armor --detach-sign --output Release.gpg Release
gpg --batch --yes --local-user "$REPO_KEY" --clearsign --output InRelease Release
gpg --batch --yes --export "$REPO_KEY" >kalvor-archive-keyring.gpg
echo "$repo: $(grep -c '^Package:' Packages) packages, signed by $REPO_KEY"
