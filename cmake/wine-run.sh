#!/usr/bin/env bash
# Runs one Windows test program under Wine for CTest, with the loader of the
# program's bitness ($WINE: wine64 or the 32-bit wine).
#
# Wine's service processes inherit the standard streams of the program that
# started the server and outlive it for a few seconds; were those streams the
# test runner's pipe, the runner would wait for them. So the program writes
# into a file, which is copied out once the program itself has ended.
set -u
xvfb=0
if [ "${1:-}" = "--xvfb" ]; then xvfb=1; shift; fi
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix of the build tree}"
: "${WINE64:=/usr/lib/wine/wine64}"
: "${WINE:=$WINE64}"
export WINEPREFIX WINEDEBUG="${WINEDEBUG:--all}"
"$(dirname "$0")/../tools/wine-prefix.sh" "$WINEPREFIX" || exit 1
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if [ $xvfb = 1 ]; then
  # Wine's desktop belongs to the server session: a session started without
  # a display cannot create windows, and one started on this Xvfb would be
  # left without its display. So the program gets a session of its own.
  wineserver -k 2>/dev/null; wineserver -w
  xvfb-run -a "$WINE" "$@" >"$log" 2>&1 </dev/null
  rc=$?
  wineserver -k 2>/dev/null; wineserver -w
  cat "$log"
  exit $rc
else
  "$WINE" "$@" >"$log" 2>&1 </dev/null
fi
rc=$?
cat "$log"
exit $rc
