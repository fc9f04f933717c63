#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the main job need
# (skipping what is present), then prepares the Wine prefix of the 64-bit
# build tree. Safe to run again; a second run takes seconds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake ninja-build g++ make
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 xvfb xauth fonts-wqy-microhei
  googletest libgtest-dev libbenchmark-dev
  ffmpeg valgrind clang libclang-rt-14-dev
  libopencv-core-dev libopencv-imgproc-dev
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root=()
  if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  # The 32-bit module runs under 32-bit Wine, which comes from the i386 side.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
  fi
  "${as_root[@]}" apt-get update -q
  "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

prefix=${KV20X_WINEPREFIX:-$root/build/x64/wineprefix}
if [ ! -f "$prefix/system.reg" ]; then
  echo "setup: creating the Wine prefix $prefix"
  mkdir -p "$prefix"
  WINEPREFIX=$prefix WINEDEBUG=-all /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 </dev/null
  WINEPREFIX=$prefix wineserver -w
fi
echo "setup: ready"
