#!/usr/bin/env bash
# Helpers for scripts that run the module under Wine with the simulated
# camera driver. Source it; then:
#   wine_session_start      a Wine session of its own, with a persistent server
#   install_camera_driver   the simulated camera on \\.\vx41k-0
#   register_module         regsvr32 of build/x64/KV20X.ax
#   windows_path PATH       the Z: path Wine programs understand
#   wine_session_end
# The server is made persistent with its streams detached: the device host
# that runs the driver lives only as long as the server (Wine facts of
# PLATFORM notes: a server started before wineboot on an empty prefix makes
# service start fail, so the prefix exists before this runs).

kv20x_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$kv20x_root/build/x64/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
WINE64=${WINE64:-/usr/lib/wine/wine64}
kv20x_build=$kv20x_root/build/x64

windows_path() {
  local absolute
  absolute=$(readlink -f "$1")
  echo "Z:${absolute//\//\\}"
}

wine_session_start() {
  wineserver -k 2>/dev/null || true
  wineserver -w
  wineserver -p </dev/null >/dev/null 2>&1
}

wine_session_end() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

install_camera_driver() {
  "$WINE64" "$kv20x_build/tools/simdriver/kv20xsim.exe" install \
    "$(windows_path "$kv20x_build/tools/simdriver/kv20xsim.sys")"
}

register_module() {
  "$WINE64" regsvr32 /s "$(windows_path "$kv20x_build/KV20X.ax")"
}
