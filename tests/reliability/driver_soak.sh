#!/usr/bin/env bash
# The soak through the simulated camera driver: the unmodified module,
# registered with regsvr32, in a Wine session with the driver installed.
#   driver_soak.sh <64-bit build tree> [cycles]
# The cycle count defaults to 100, or 1000 with KV20X_RELIABILITY=long.
set -u
build=$(readlink -f "$1")
root=$(cd "$(dirname "$0")/../.." && pwd)
cycles=${2:-100}
if [ "${KV20X_RELIABILITY:-}" = long ] && [ $# -lt 2 ]; then cycles=1000; fi
source "$root/tools/wine-session.sh"
kv20x_build=$build
log=$(mktemp)
trap 'wine_session_end; rm -f "$log"' EXIT

{
  wine_session_start
  "$WINE64" "$build/tools/simdriver/kv20xsim.exe" remove
  register_module
  install_camera_driver
} >>"$log" 2>&1 </dev/null
out=$(mktemp)
"$WINE64" "$build/tests/driver_soak.exe" "$cycles" >"$out" 2>&1 </dev/null
status=$?
cat "$out"
rm -f "$out"
exit $status
