#!/usr/bin/env bash
# The setup program, as an administrator deploys it, in a WoW64 prefix of its
# own: silent install of both bitnesses, clients of both streaming from the
# simulated driver, upgrade (also while an application holds the module),
# refused downgrade, a registration that fails, uninstall leaving the
# registry as it was in both views, and signatures.
#   setup_test.sh <32-bit build tree> <64-bit build tree>
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
x86=$(readlink -f "$1")
x64=$(readlink -f "$2")
work=$(mktemp -d)
export WINEPREFIX=$work/prefix
kv20x_driver_build=$x64
source "$root/tools/wine-session.sh"
log=$work/wine.log
failures=0
trap 'wine_session_end; [ -n "${KV20X_KEEP:-}" ] || rm -rf "$work"' EXIT

wine_quiet() { "$@" >>"$log" 2>&1 </dev/null; }
expect() {  # expect <description> <condition...>
  local what=$1; shift
  if "$@"; then echo "ok:   $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
contains() { grep -q -- "$2" "$1"; }
drive=$WINEPREFIX/drive_c
folder64="$drive/Program Files/ORBILUX/KV20X"
folder32="$drive/Program Files (x86)/ORBILUX/KV20X"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KV20X'
settings_key='HKCU\Software\ORBILUX \KV20X\dshow'
version=$(sed -n 's/^project(KV20X VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")

setup() {  # setup <setup.exe> [options...]: runs it silently, returns its exit code
  local exe=$1; shift
  (cd "$work" && "$WINE32" "$exe" /S "$@" >>"$log" 2>&1 </dev/null)
}
uninstall() {  # uninstall [options...]: the installed uninstaller, silently, waited for
  (cd "$work" && "$WINE64" "C:\\Program Files\\ORBILUX\\KV20X\\uninstall.exe" /S "$@" >>"$log" 2>&1 </dev/null)
  # It goes on from a copy of itself; it is done when its entry is gone.
  for _ in $(seq 1 100); do
    reg_value "$uninstall_key" DisplayName >/dev/null || return 0
    sleep 0.2
  done
  return 1
}
reg_value() {  # reg_value <key> <name> [loader]: the value's data, or failure
  "${3:-$WINE64}" reg query "$1" /v "$2" 2>/dev/null </dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p" |
    grep .
}
server_of() {  # server_of <loader>: the module the filter's class names in that loader's view
  "$1" reg query "HKCR\\CLSID\\{99D56D64-7A37-4F84-BF61-98445E175985}\\InprocServer32" /ve 2>/dev/null </dev/null |
    tr -d '\r' | sed -n 's/.*REG_SZ *//p'
}
device_entry() {  # device_entry <loader>: the device entry's DevicePath in that loader's view
  reg_value 'HKCR\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance\Quorl T5R 3.1M Camera' DevicePath "$1"
}
snapshot() {  # snapshot <file>: both views of the machine's software, and the user's
  (cd "$work" && "$WINE64" regedit /E machine.reg 'HKEY_LOCAL_MACHINE\Software' &&
    "$WINE64" regedit /E user.reg 'HKEY_CURRENT_USER\Software') >>"$log" 2>&1 </dev/null
  { iconv -f utf-16 -t utf-8 "$work/machine.reg"; iconv -f utf-16 -t utf-8 "$work/user.reg"; } | tr -d '\r' >"$1"
}
streams() {  # streams <x64|x86>: a client of that bitness records a few frames
  local loader=$WINE64 tree=$x64
  if [ "$1" = x86 ]; then loader=$WINE32 tree=$x86; fi
  (cd "$work" && "$loader" "$tree/tools/kv20x-capture.exe" --frames 3 --output none >"$work/client-$1.txt" 2>&1 \
    </dev/null)
}
file_version() { strings -el "$1" | grep -A1 -x FileVersion | tail -1; }

echo "== the setup programs"
"$root/tools/package.sh" >>"$log" 2>&1
current=$root/build/package/KV20X-Setup-$version.exe
expect "the setup program is built ($(basename "$current"))" test -f "$current"
# An older release, whose modules differ from this one's (a trailing mark),
# a newer one, and one whose 32-bit module cannot be loaded.
printf 'older build' | cat "$x64/KV20X.ax" - >"$work/old64.ax"
printf 'older build' | cat "$x86/KV20X.ax" - >"$work/old32.ax"
printf 'not a module' >"$work/broken.ax"
"$root/tools/package.sh" --version 0.9.0 --module64 "$work/old64.ax" --module32 "$work/old32.ax" \
  --output "$work/old" >>"$log" 2>&1
"$root/tools/package.sh" --version 9.0.0 --output "$work/new" >>"$log" 2>&1
"$root/tools/package.sh" --version 1.0.1 --module32 "$work/broken.ax" --output "$work/broken" >>"$log" 2>&1

wine_session_start >>"$log" 2>&1 </dev/null
wine_quiet camera_driver remove
wine_quiet install_camera_driver
snapshot "$work/before.txt"

echo "== silent install"
setup "$current"
expect "the setup succeeds (exit $?)" test $? -eq 0
expect "the 64-bit module is in the 64-bit program files" cmp -s "$folder64/KV20X.ax" "$x64/KV20X.ax"
expect "the 32-bit module in the 32-bit one" cmp -s "$folder32/KV20X.ax" "$x86/KV20X.ax"
expect "both carry the version $version" test "$(file_version "$folder64/KV20X.ax")/$(file_version "$folder32/KV20X.ax")" \
  = "$version/$version"
expect "the 64-bit view registers the 64-bit module" test "$(server_of "$WINE64")" = \
  'C:\Program Files\ORBILUX\KV20X\KV20X.ax'
expect "the 32-bit view the 32-bit module" test "$(server_of "$WINE32")" = \
  'C:\Program Files (x86)\ORBILUX\KV20X\KV20X.ax'
expect "both views hold the device entry" test "$(device_entry "$WINE64")|$(device_entry "$WINE32")" = \
  '\\.\vx41k-0|\\.\vx41k-0'
expect "the installed programs list it" test "$(reg_value "$uninstall_key" DisplayName)" = "Quorl T5R 3.1M Camera"
for name in DisplayVersion Publisher UninstallString EstimatedSize DisplayIcon; do
  expect "with $name ($(reg_value "$uninstall_key" $name))" reg_value "$uninstall_key" $name
done
streams x64
expect "a 64-bit client streams" test $? -eq 0
streams x86
expect "a 32-bit client streams" test $? -eq 0

echo "== refused downgrade"
wine_quiet uninstall
setup "$work/new/KV20X-Setup-9.0.0.exe"
setup "$current"
expect "an older setup over a newer installation stops (exit $?)" test $? -eq 3
expect "and changes nothing" test "$(reg_value "$uninstall_key" DisplayVersion)" = 9.0.0

echo "== upgrade from 0.9.0, with an application holding the module"
wine_quiet uninstall
setup "$work/old/KV20X-Setup-0.9.0.exe"
expect "the older version installs" cmp -s "$folder64/KV20X.ax" "$work/old64.ax"
(cd "$work" && "$WINE64" "$x64/tools/kv20x-capture.exe" --controls --gamma 140 >"$work/gamma.txt" 2>&1 </dev/null)
expect "the user sets a gamma" test "$(reg_value "$settings_key" Gamma)" = 0x8c
cd "$work"
"$WINE64" "$x64/tools/kv20x-capture.exe" --seconds 6 --output none >"$work/holder.txt" 2>&1 </dev/null &
holder=$!
cd - >/dev/null
for _ in $(seq 1 50); do grep -q "recording:" "$work/holder.txt" && break; sleep 0.2; done
expect "an application streams through the old module" contains "$work/holder.txt" "recording:"
setup "$current"
expect "the newer setup succeeds meanwhile (exit $?)" test $? -eq 0
expect "the new 64-bit module is in place" cmp -s "$folder64/KV20X.ax" "$x64/KV20X.ax"
expect "the new 32-bit module too" cmp -s "$folder32/KV20X.ax" "$x86/KV20X.ax"
wait $holder
expect "the application records to its end undisturbed (exit $?)" test $? -eq 0
expect "one uninstall entry, the new version" test "$(reg_value "$uninstall_key" DisplayVersion)" = "$version"
expect "the user's gamma is kept" test "$(reg_value "$settings_key" Gamma)" = 0x8c
streams x64
expect "a new 64-bit client streams through the new module" test $? -eq 0

echo "== uninstall"
uninstall
expect "the uninstaller finishes" test $? -eq 0
expect "the folders are gone" test ! -e "$drive/Program Files/ORBILUX" -a ! -e "$drive/Program Files (x86)/ORBILUX"
expect "the user's settings stay" test "$(reg_value "$settings_key" Gamma)" = 0x8c
wine_quiet "$WINE64" reg delete 'HKCU\Software\ORBILUX ' /f
snapshot "$work/after.txt"
diff "$work/before.txt" "$work/after.txt" >"$work/registry.diff"
expect "the registry is as before the install, in both views ($(grep -c '^[<>]' "$work/registry.diff") lines differ)" \
  test ! -s "$work/registry.diff"
head -20 "$work/registry.diff"
streams x64
expect "64-bit clients no longer find the camera (exit $?)" test $? -eq 3
streams x86
expect "nor 32-bit ones (exit $?)" test $? -eq 3

echo "== uninstall that removes the user's settings too"
setup "$current"
(cd "$work" && "$WINE64" "$x64/tools/kv20x-capture.exe" --controls --gamma 150 >/dev/null 2>&1 </dev/null)
uninstall /REMOVESETTINGS
expect "the user's settings are gone" test -z "$(reg_value "$settings_key" Gamma)"
snapshot "$work/after2.txt"
expect "and the registry is as before" cmp -s "$work/before.txt" "$work/after2.txt"

echo "== a module that cannot be registered"
setup "$work/broken/KV20X-Setup-1.0.1.exe"
expect "the setup fails (exit $?)" test $? -eq 2
expect "and leaves no folder" test ! -e "$drive/Program Files/ORBILUX" -a ! -e "$drive/Program Files (x86)/ORBILUX"
snapshot "$work/after3.txt"
expect "and no registry entry" cmp -s "$work/before.txt" "$work/after3.txt"

echo "== a signed build"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throwaway test signer" -keyout "$work/key.pem" \
  -out "$work/cert.pem" >>"$log" 2>&1
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:test -out "$work/signer.pfx" \
  >>"$log" 2>&1
KV20X_SIGN_CERT=$work/signer.pfx KV20X_SIGN_PASSWORD=test KV20X_SIGN_TIMESTAMP=http://127.0.0.1:9/ \
  "$root/tools/package.sh" --output "$work/signed" >"$work/package.txt" 2>&1
cat "$work/package.txt"
signed=$work/signed/KV20X-Setup-$version.exe
expect "the signed setup is built" contains "$work/package.txt" "(signed)"
verify() {  # verify <file>: the signature is there and covers the file
  osslsigncode verify -in "$1" >"$work/verify.txt" 2>&1
  local current computed
  current=$(sed -n 's/^Current message digest *: *//p' "$work/verify.txt" | head -1)
  computed=$(sed -n 's/^Calculated message digest *: *//p' "$work/verify.txt" | head -1)
  [ -n "$current" ] && [ "$current" = "$computed" ] && grep -q "Throwaway test signer" "$work/verify.txt"
}
expect "the setup program carries a signature over its bytes" verify "$signed"
setup "$signed"
expect "the signed setup installs (exit $?)" test $? -eq 0
expect "the installed 64-bit module carries a signature" verify "$folder64/KV20X.ax"
expect "the installed 32-bit module too" verify "$folder32/KV20X.ax"
wine_quiet uninstall

echo "== 32-bit Windows"
wine_session_end >>"$log" 2>&1
# A prefix without a 64-bit side: what 32-bit Windows offers a setup.
win32=$work/win32
(WINEPREFIX=$win32 WINEARCH=win32 "$WINE32" wineboot -i && WINEPREFIX=$win32 wineserver -w) >>"$log" 2>&1 </dev/null
(cd "$work" && WINEPREFIX=$win32 "$WINE32" "$current" /S >>"$log" 2>&1 </dev/null)
expect "the setup succeeds (exit $?)" test $? -eq 0
expect "with the 32-bit module alone, in the program files" \
  test "$(cd "$win32/drive_c" && find Program* -name KV20X.ax)" = "Program Files/ORBILUX/KV20X/KV20X.ax"
expect "the one it built" cmp -s "$win32/drive_c/Program Files/ORBILUX/KV20X/KV20X.ax" "$x86/KV20X.ax"
expect "registered" test "$(WINEPREFIX=$win32 server_of "$WINE32")" = 'C:\Program Files\ORBILUX\KV20X\KV20X.ax'
(cd "$work" && WINEPREFIX=$win32 "$WINE32" "C:\\Program Files\\ORBILUX\\KV20X\\uninstall.exe" /S >>"$log" 2>&1 </dev/null)
for _ in $(seq 1 100); do [ -e "$win32/drive_c/Program Files/ORBILUX" ] || break; sleep 0.2; done
expect "and removed again" test ! -e "$win32/drive_c/Program Files/ORBILUX" -a -z "$(WINEPREFIX=$win32 server_of "$WINE32")"
WINEPREFIX=$win32 wineserver -k 2>/dev/null

if [ $failures -ne 0 ]; then
  echo "setup_test: $failures checks failed"; echo "--- wine log"; tail -50 "$log"
  exit 1
fi
echo "setup_test: all checks passed"
