#!/usr/bin/env bash
# The main job: records a few seconds of video at 1024 x 768 from the
# simulated camera through the real module, the way a user's application
# would. Installs what is needed, builds the 64-bit module and tools,
# installs the simulated camera driver, registers KV20X.ax with regsvr32,
# and runs kv20x-capture. Writes out/capture.avi and out/snapshot.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-4}

"$root/tools/setup.sh"
if [ ! -f "$root/build/x64/build.ninja" ]; then
  cmake -S "$root" -B "$root/build/x64" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x64.cmake" >/dev/null
fi
cmake --build "$root/build/x64" --target kv20x_module kv20xsim kv20xsim-tool kv20x-capture

source "$root/tools/wine-session.sh"
trap wine_session_end EXIT
wine_session_start
install_camera_driver
register_module

mkdir -p "$root/out"
cd "$root/out"
"$WINE" "$kv20x_build/tools/kv20x-capture.exe" --list
"$WINE" "$kv20x_build/tools/kv20x-capture.exe" --size 1024x768 --seconds "$seconds" \
  --output capture.avi --snapshot snapshot.png
echo
echo "recorded: $root/out/capture.avi"
echo "snapshot: $root/out/snapshot.png"
