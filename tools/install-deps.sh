#!/usr/bin/env bash
# Installs the Debian packages Orvane needs to build, test and run, only those missing.
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev libgmock-dev qt6-base-dev libavcodec-dev libavformat-dev
          libavutil-dev libswscale-dev pkg-config ffmpeg fonts-dejavu-core
          dpkg-dev lintian desktop-file-utils appstream shared-mime-info file dvdauthor)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
