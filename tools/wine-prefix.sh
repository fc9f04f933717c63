#!/usr/bin/env bash
# Makes sure a Wine prefix exists and is a WoW64 prefix (both registry views,
# so that the 32-bit and the 64-bit module can be registered side by side).
# A prefix made before 32-bit Wine was installed has no 32-bit side; it is
# made again.
#   wine-prefix.sh <prefix>
set -eu
prefix=$1
if [ -f "$prefix/system.reg" ] && [ -d "$prefix/drive_c/windows/syswow64" ]; then
  exit 0
fi
if [ -e "$prefix" ]; then
  echo "wine-prefix: $prefix has no 32-bit side; making it again" >&2
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
fi
mkdir -p "$prefix"
WINEPREFIX=$prefix WINEDEBUG=-all /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 </dev/null
WINEPREFIX=$prefix wineserver -w
if [ ! -d "$prefix/drive_c/windows/syswow64" ]; then
  echo "wine-prefix: $prefix was made without a 32-bit side: is wine32:i386 installed?" >&2
  exit 1
fi
