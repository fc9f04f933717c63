#!/usr/bin/env bash
# The soak through the simulated camera driver: the unmodified module,
# registered with the regsvr32 of its bitness, in a Wine session with the
# driver installed; the driver comes from the 64-bit tree.
#   driver_soak.sh <build tree> <64-bit build tree> [cycles]
# The cycle count defaults to 100, or 1000 with KV20X_RELIABILITY=long.
set -u
build=$(readlink -f "$1")
root=$(cd "$(dirname "$0")/../.." && pwd)
kv20x_build=$build
kv20x_driver_build=$(readlink -f "$2")
cycles=${3:-100}
if [ "${KV20X_RELIABILITY:-}" = long ] && [ $# -lt 3 ]; then cycles=1000; fi
source "$root/tools/wine-session.sh"
log=$(mktemp)
trap 'wine_session_end; rm -f "$log"' EXIT

{
  wine_session_start
  camera_driver remove
  register_module
  install_camera_driver
} >>"$log" 2>&1 </dev/null
out=$(mktemp)
"$WINE" "$build/tests/driver_soak.exe" "$cycles" >"$out" 2>&1 </dev/null
status=$?
cat "$out"
rm -f "$out"
exit $status
