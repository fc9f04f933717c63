#!/usr/bin/env bash
# Renders the property pages in English and in simplified Chinese to
# out/pages/*.png (needs the 64-bit build: ./tools/test.sh or cmake --build build/x64).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/x64/wineprefix} WINEDEBUG=-all
tool="$root/build/x64/tools/render-pages.exe"
out="$root/out/pages"
mkdir -p "$out"
for language in en_US.UTF-8 zh_CN.UTF-8; do
  wineserver -k 2>/dev/null || true; wineserver -w
  LANG=$language LC_ALL=$language xvfb-run -a -s "-screen 0 1024x768x24" /usr/lib/wine/wine64 "$tool" "Z:${out//\//\\}" 2>&1 |
    grep -v "X connection" || true
done
wineserver -k 2>/dev/null || true
echo "pages: $out"
