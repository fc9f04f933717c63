#!/usr/bin/env bash
# Helpers for scripts that run the module under Wine with the simulated
# camera driver. Set kv20x_build (the build tree whose module and programs
# run; build/x64 unless set) and WINE (the loader of that tree's bitness;
# wine64 unless set) before or after sourcing it; then:
#   wine_session_start      a Wine session of its own, with a persistent server
#   install_camera_driver   the simulated camera on \\.\vx41k-0
#   camera_driver ARGS...   kv20xsim.exe: install, remove, fault ...
#   register_module [TREE [LOADER]]    regsvr32 of TREE/KV20X.ax, with the
#   unregister_module [TREE [LOADER]]  regsvr32 of LOADER's bitness
#   windows_path PATH       the Z: path Wine programs understand
#   wine_session_end
# The driver is a 64-bit kernel driver, taken from the 64-bit build tree
# (kv20x_driver_build) whatever the module's bitness. The server is made
# persistent with its streams detached: the device host that runs the driver
# lives only as long as the server (Wine facts of PLATFORM notes: a server
# started before wineboot on an empty prefix makes service start fail, so
# the prefix exists before this runs).

kv20x_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$kv20x_root/build/x64/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
WINE64=${WINE64:-/usr/lib/wine/wine64}
WINE32=${WINE32:-/usr/lib/wine/wine}
WINE=${WINE:-$WINE64}
kv20x_build=${kv20x_build:-$kv20x_root/build/x64}
kv20x_driver_build=${kv20x_driver_build:-$kv20x_root/build/x64}

windows_path() {
  local absolute
  absolute=$(readlink -f "$1")
  echo "Z:${absolute//\//\\}"
}

wine_session_start() {
  "$kv20x_root/tools/wine-prefix.sh" "$WINEPREFIX"
  wineserver -k 2>/dev/null || true
  wineserver -w
  wineserver -p </dev/null >/dev/null 2>&1
}

wine_session_end() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

camera_driver() {
  "$WINE64" "$kv20x_driver_build/tools/simdriver/kv20xsim.exe" "$@"
}

install_camera_driver() {
  camera_driver install "$(windows_path "$kv20x_driver_build/tools/simdriver/kv20xsim.sys")"
}

register_module() {
  "${2:-$WINE}" regsvr32 /s "$(windows_path "${1:-$kv20x_build}/KV20X.ax")"
}

unregister_module() {
  "${2:-$WINE}" regsvr32 /s /u "$(windows_path "${1:-$kv20x_build}/KV20X.ax")"
}
