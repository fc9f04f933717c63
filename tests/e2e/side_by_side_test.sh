#!/usr/bin/env bash
# Both modules registered in one WoW64 prefix, as a setup installs them on
# 64-bit Windows: each bitness's clients find the camera and stream through
# the module of their own bitness, the two give the same pictures, settings
# saved by one are read by the other, and unregistering one bitness leaves
# the other registered and working.
#   side_by_side_test.sh <32-bit build tree> <64-bit build tree>
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
x86=$(readlink -f "$1")
x64=$(readlink -f "$2")
kv20x_driver_build=$x64
source "$root/tools/wine-session.sh"
work=$(mktemp -d)
log=$work/wine.log
failures=0
trap 'wine_session_end; rm -rf "$work"' EXIT

wine_quiet() { "$@" >>"$log" 2>&1 </dev/null; }
expect() {  # expect <description> <condition...>
  local what=$1; shift
  if "$@"; then echo "ok:   $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
contains() { grep -q -- "$2" "$1"; }
capture() {  # capture <x86|x64> <output file> <options...>: kv20x-capture of that bitness
  local arch=$1 out=$2 tree loader; shift 2
  if [ "$arch" = x64 ]; then tree=$x64 loader=$WINE64; else tree=$x86 loader=$WINE32; fi
  (cd "$work" && "$loader" "$tree/tools/kv20x-capture.exe" "$@" >"$out" 2>&1 </dev/null)
}
clsid="{99D56D64-7A37-4F84-BF61-98445E175985}"
server_of() {  # server_of <loader>: the module registered in that loader's view
  "$1" reg query "HKCR\\CLSID\\$clsid\\InprocServer32" /ve 2>/dev/null </dev/null | tr -d '\r' |
    sed -n 's/.*REG_SZ *//p'
}
settings_of() {  # settings_of <loader>: the user's group A as that bitness sees it
  "$1" reg query "HKCU\\Software\\ORBILUX \\KV20X\\dshow" 2>/dev/null </dev/null | tr -d '\r' | sort
}

wine_session_start >>"$log" 2>&1 </dev/null
wine_quiet camera_driver remove
wine_quiet install_camera_driver; grep -q "running on" "$log" || { echo "the driver did not start:"; cat "$log"; }
wine_quiet "$WINE" reg delete "HKCU\\Software\\ORBILUX " /f

echo "== both bitnesses registered"
register_module "$x64" "$WINE64"
expect "the 64-bit regsvr32 registers the 64-bit module" test $? -eq 0
register_module "$x86" "$WINE32"
expect "the 32-bit regsvr32 registers the 32-bit module" test $? -eq 0
expect "the 64-bit view names the 64-bit module ($(server_of "$WINE64"))" \
  test "$(server_of "$WINE64")" = "$(windows_path "$x64/KV20X.ax")"
expect "the 32-bit view names the 32-bit module ($(server_of "$WINE32"))" \
  test "$(server_of "$WINE32")" = "$(windows_path "$x86/KV20X.ax")"

for arch in x64 x86; do
  capture $arch "$work/list-$arch.txt" --list
  expect "a $arch client lists the camera" contains "$work/list-$arch.txt" "Quorl T5R 3.1M Camera"
  capture $arch "$work/record-$arch.txt" --size 640x480 --frames 8 --exposure 300 --gain 20 \
    --output none --snapshot "snap-$arch.bmp"
  expect "a $arch client streams through the $arch module (exit $?)" test -s "$work/snap-$arch.bmp"
done
expect "and both modules make the same picture of the same frames" "$WINE64" "$x64/tests/check_snapshot.exe" --same \
  "$(windows_path "$work/snap-x64.bmp")" "$(windows_path "$work/snap-x86.bmp")"

echo "== settings saved by one bitness are read by the other"
capture x64 "$work/set64.txt" --controls --gamma 180 --contrast 55
capture x86 "$work/get32.txt" --controls
expect "the 32-bit module reads the gamma the 64-bit one saved" grep -Eq "Gamma +10 .. 250 +default 100 +value 180" \
  "$work/get32.txt"
expect "and the contrast" grep -Eq "Contrast +0 .. 100 +default 30 +value 55" "$work/get32.txt"
capture x86 "$work/set32.txt" --controls --gamma 120 --contrast 10 --hz 60
capture x64 "$work/get64.txt" --controls
expect "the 64-bit module reads the gamma the 32-bit one saved" grep -Eq "Gamma +10 .. 250 +default 100 +value 120" \
  "$work/get64.txt"
expect "and the mains frequency" contains "$work/get64.txt" "60 Hz"
expect "both views see one and the same stored group" test "$(settings_of "$WINE64")" = "$(settings_of "$WINE32")"
expect "which holds only double words" test "$(settings_of "$WINE64" | grep -c REG_ | tr -d ' ')" -eq \
  "$(settings_of "$WINE64" | grep -c REG_DWORD | tr -d ' ')"
wine_quiet "$WINE" reg delete "HKCU\\Software\\ORBILUX " /f

echo "== unregistering one bitness leaves the other"
unregister_module "$x86" "$WINE32"
expect "the 32-bit module unregisters" test $? -eq 0
capture x86 "$work/gone32.txt" --frames 2 --output none
expect "32-bit clients no longer find the camera (exit $?)" test $? -eq 3
capture x64 "$work/still64.txt" --frames 4 --output none
expect "64-bit clients still stream (exit $?)" test $? -eq 0
register_module "$x86" "$WINE32"
unregister_module "$x64" "$WINE64"
expect "the 64-bit module unregisters" test $? -eq 0
capture x64 "$work/gone64.txt" --frames 2 --output none
expect "64-bit clients no longer find the camera (exit $?)" test $? -eq 3
capture x86 "$work/still32.txt" --frames 4 --output none
expect "32-bit clients still stream (exit $?)" test $? -eq 0
unregister_module "$x86" "$WINE32"
expect "and with both gone, nothing names the camera" test -z "$(server_of "$WINE64")$(server_of "$WINE32")"
wine_quiet "$WINE" reg delete "HKCU\\Software\\ORBILUX " /f

if [ $failures -ne 0 ]; then
  echo "side_by_side_test: $failures checks failed"; echo "--- wine log"; tail -50 "$log"
  exit 1
fi
echo "side_by_side_test: all checks passed"
