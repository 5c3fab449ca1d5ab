#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need.
# Idempotent and quick when everything is present.
set -euo pipefail
PKGS=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
  libtag1-dev libgtest-dev
  python3-mutagen id3v2
  flac vorbis-tools opus-tools ffmpeg wavpack sox
  audacious audacious-plugins dbus libglib2.0-bin
  xvfb xauth fonts-dejavu-core
  desktop-file-utils appstream dpkg-dev lintian fakeroot
  # Encoders of the test files of the remaining formats (Speex, Musepack); Debian has
  # no Monkey's Audio encoder.
  speex musepack-tools
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
