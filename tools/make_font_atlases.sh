#!/usr/bin/env bash
# Regenerates the canvas font atlases in data/fonts from Debian's fonts-cabin.
# Needs libfreetype-dev, fonts-cabin and the wx development files (scripts/install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
font=$(fc-list : file | grep -i 'cabin-regular' | head -n1 | cut -d: -f1)
[ -n "$font" ] || font=/usr/share/fonts/opentype/cabin/Cabin-Regular.otf
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
g++ -std=c++17 -O2 tools/make_font_atlases.cpp -o "$out/make_font_atlases" \
  $(pkg-config --cflags --libs freetype2) $(wx-config --cxxflags --libs base,core)
"$out/make_font_atlases" "$font" data/fonts
