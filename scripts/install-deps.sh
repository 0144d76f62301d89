#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running Voxmira need.
# Checks each package first; only when something is missing does it run apt-get update
# (once) and apt-get install. Works as root and through sudo otherwise.
set -euo pipefail

packages=(
  build-essential cmake make pkg-config
  libwxgtk3.2-dev libgtk-3-dev libgl1-mesa-dev libgl1-mesa-dri
  libtiff-dev libopenjp2-7-dev libfreetype-dev zlib1g-dev libjpeg-dev libcharls-dev libgdcm-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool x11-apps fonts-cabin
  python3-dev pybind11-dev python3-numpy python3-pytest python3-opencv python3-pydicom
  python3-dask python3-distributed
)
# Optional groups: "fixtures" adds the peer tools that made the committed test fixtures
# and samples; they are never needed to build or test.
if [ "${1:-}" = "fixtures" ]; then
  packages+=(dcmtk libgdcm-tools imagemagick libopenjp2-tools python3-numpy python3-scipy
             python3-skimage python3-pydicom python3-tifffile python3-opencv)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
