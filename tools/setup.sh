#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the main job need
# (skipping what is present), prepares the WoW64 Wine prefixes of both build
# trees and fetches the Windows ffmpeg clients the end-to-end tests use.
# Safe to run again; a second run takes seconds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake ninja-build g++ make
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 xvfb xauth fonts-wqy-microhei
  googletest libgtest-dev libbenchmark-dev
  ffmpeg valgrind clang libclang-rt-14-dev
  nsis osslsigncode openssl curl
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

# Both build trees' Wine prefixes, WoW64 prefixes.
for tree in x64 x86; do
  "$root/tools/wine-prefix.sh" "$root/build/$tree/wineprefix"
done

# A real client nobody here wrote: Windows builds of ffmpeg 4.1 of both
# bitnesses, from the npm registry (npm checks the packages' integrity).
clients=$root/build/clients
for client in "ia32 x86" "x64 x64"; do
  set -- $client
  if [ ! -f "$clients/ffmpeg-$2/ffmpeg.exe" ]; then
    echo "setup: fetching the $2 Windows ffmpeg"
    download=$(mktemp -d)
    (cd "$download" && npm pack --silent "@ffmpeg-installer/win32-$1@4.1.0" >/dev/null)
    mkdir -p "$clients/ffmpeg-$2"
    tar -xzf "$download"/*.tgz -C "$clients/ffmpeg-$2" --strip-components=1 package/ffmpeg.exe
    rm -rf "$download"
  fi
done
echo "setup: ready"
