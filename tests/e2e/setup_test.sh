#!/usr/bin/env bash
# The setup program, as an administrator deploys it, in a WoW64 prefix of its
# own: silent install of both bitnesses and clients of both streaming from
# the simulated driver; every refusal with its exit code; failed upgrades
# that leave the previous version working; an upgrade while an application
# streams, and with held and blocked files; uninstalls as deployment tools
# run them, with a module missing, and from a copied uninstaller; signatures
# on everything the install leaves; the setup's language; 32-bit Windows.
# After every scenario the registrations of both views and the uninstall
# entry are checked against each other (setup_probe invariant).
#   setup_test.sh <32-bit build tree> <64-bit build tree>
# Exits 77 (a skip, for CTest) on a machine that cannot run 32-bit programs:
# the setup program is one.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
x86=$(readlink -f "$1")
x64=$(readlink -f "$2")
if ! "${WINE32:-/usr/lib/wine/wine}" --version >/dev/null 2>&1; then
  echo "setup_test: this machine cannot run 32-bit programs (${WINE32:-/usr/lib/wine/wine} does not start):" \
    "the setup program is one, so it cannot be tested here"
  exit 77
fi
# The language check reads a dialog: the whole session gets a display, as
# Wine's desktop belongs to the server session.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a "$0" "$@"
fi
work=$(mktemp -d)
export WINEPREFIX=$work/prefix
kv20x_driver_build=$x64
source "$root/tools/wine-session.sh"
log=$work/wine.log
failures=0
holders=()
trap 'for h in "${holders[@]}"; do release "$h"; done; wine_session_end; [ -n "${KV20X_KEEP:-}" ] || rm -rf "$work"' EXIT

wine_quiet() { "$@" >>"$log" 2>&1 </dev/null; }
expect() {  # expect <description> <condition...>
  local what=$1; shift
  if "$@"; then echo "ok:   $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
contains() { grep -q -- "$2" "$1"; }
drive=$WINEPREFIX/drive_c
folder64="$drive/Program Files/ORBILUX/KV20X"
folder32="$drive/Program Files (x86)/ORBILUX/KV20X"
module64='C:\Program Files\ORBILUX\KV20X\KV20X.ax'
module32='C:\Program Files (x86)\ORBILUX\KV20X\KV20X.ax'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KV20X'
settings_key='HKCU\Software\ORBILUX \KV20X\dshow'
version=$(sed -n 's/^project(KV20X VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")

# The probe program of each bitness: it runs programs and reports their whole
# exit code (Wine hands a Linux parent only its low 8 bits).
probe() { "$WINE64" "$x64/tests/setup_probe.exe" "$@"; }
runs() {  # runs <probe command...>: sets $code to the exit code of the program the probe ran
  (cd "$work" && probe "$@" >"$work/run.txt" 2>&1 </dev/null)
  code=$(tr -d '\r' <"$work/run.txt" | sed -n 's/^exit: //p' | tail -1)
  [ -n "$code" ] || code="none ($(tr -d '\r' <"$work/run.txt" | tail -1))"
}
setup() {  # setup <setup.exe> [options...]: runs it silently; $code is its exit code
  runs run "$(windows_path "$1")" /S "${@:2}"
}
quiet_uninstall() {  # the entry's QuietUninstallString, as deployment tools run it; $code
  runs quiet-uninstall
}
check_invariant() {  # check_invariant <scenario>
  (cd "$work" && probe invariant >"$work/invariant.txt" 2>&1 </dev/null)
  local rc=$?
  expect "after $1: the registrations of both views and the entry agree" test $rc -eq 0
  [ $rc -eq 0 ] || tr -d '\r' <"$work/invariant.txt"
}
hold() {  # hold <name> <x64|x86> <what to hold...>: a process holds it until `release <name>`
  local name=$1 loader=$WINE64 exe=$x64/tests/setup_probe.exe
  if [ "$2" = x86 ]; then loader=$WINE32 exe=$x86/tests/setup_probe.exe; fi
  shift 2
  (cd "$work" && exec "$loader" "$exe" hold "$name" "$@" >"$work/$name.out" 2>&1 </dev/null) &
  eval "pid_$name=$!"
  holders+=("$name")
  for _ in $(seq 1 150); do
    grep -q held "$work/$name.out" && return 0
    kill -0 "$(eval echo "\$pid_$name")" 2>/dev/null || break
    sleep 0.2
  done
  echo "hold $name: $(tr -d '\r' <"$work/$name.out")"
  return 1
}
release() {  # release <name>: the holder lets go and ends
  local pid
  eval "pid=\${pid_$1:-}"
  [ -n "$pid" ] || return 0
  (cd "$work" && probe release "$1" >/dev/null 2>&1 </dev/null)
  wait "$pid" 2>/dev/null
  eval "pid_$1="
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
as_before() {  # as_before <scenario>: the registry is as before the first install, in both views
  # (the user's settings aside: clients may have saved some meanwhile)
  wine_quiet "$WINE64" reg delete 'HKCU\Software\ORBILUX ' /f
  snapshot "$work/after.txt"
  diff "$work/before.txt" "$work/after.txt" >"$work/registry.diff"
  expect "$1: the registry is as before the install ($(grep -c '^[<>]' "$work/registry.diff") lines differ)" \
    test ! -s "$work/registry.diff"
  head -20 "$work/registry.diff"
}
uninstaller_leaves() {
  [ ! -e "$drive/Program Files/ORBILUX" ] && return 0
  [ "$(cd "$drive/Program Files/ORBILUX" && find . | sort | paste -sd' ')" = ". ./KV20X ./KV20X/uninstall.exe" ] &&
    "$WINE64" reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations \
      2>/dev/null </dev/null | tr -d '\r' | grep -q 'KV20X\\uninstall.exe'
}
no_folders() { test ! -e "$drive/Program Files/ORBILUX" -a ! -e "$drive/Program Files (x86)/ORBILUX"; }
streams() {  # streams <x64|x86>: a client of that bitness records a few frames
  local loader=$WINE64 tree=$x64
  if [ "$1" = x86 ]; then loader=$WINE32 tree=$x86; fi
  (cd "$work" && "$loader" "$tree/tools/kv20x-capture.exe" --frames 3 --output none >"$work/client-$1.txt" 2>&1 \
    </dev/null)
}
file_version() { strings -el "$1" | grep -A1 -x FileVersion | tail -1; }
verify() {  # verify <file>: an Authenticode signature by the test signer covers the file's bytes
  osslsigncode verify -in "$1" >"$work/verify.txt" 2>&1
  local current computed
  current=$(sed -n 's/^Current message digest *: *//p' "$work/verify.txt" | head -1)
  computed=$(sed -n 's/^Calculated message digest *: *//p' "$work/verify.txt" | head -1)
  [ -n "$current" ] && [ "$current" = "$computed" ] && grep -q "Throwaway test signer" "$work/verify.txt"
}
uninstall_as_user() {  # uninstall_as_user <uninstaller> [options]: `uninstall.exe /S`, waited for
  # It copies itself away and returns at once; the copy is done when the
  # setups' mutex is free again after the entry has gone.
  (cd "$work" && "$WINE64" "$1" /S "${@:2}" >>"$log" 2>&1 </dev/null)
  for _ in $(seq 1 100); do
    reg_value "$uninstall_key" DisplayName >/dev/null || break
    sleep 0.2
  done
  (cd "$work" && probe wait-free 'Global\KV20X-Setup' >>"$log" 2>&1 </dev/null)
}
installed_as() {  # installed_as <64-bit module> <32-bit module>: those files are in place
  cmp -s "$folder64/KV20X.ax" "$1" && cmp -s "$folder32/KV20X.ax" "$2"
}

echo "== the setup programs"
"$root/tools/package.sh" >>"$log" 2>&1
current=$root/build/package/KV20X-Setup-$version.exe
expect "the setup program is built ($(basename "$current"))" test -f "$current"
# An older release, whose modules differ from this one's (a trailing mark);
# newer ones whose 32-bit or 64-bit module cannot be loaded (a text file in
# its place); a test build that takes the machine for Windows on ARM.
printf 'older build' | cat "$x64/KV20X.ax" - >"$work/old64.ax"
printf 'older build' | cat "$x86/KV20X.ax" - >"$work/old32.ax"
printf 'not a module' >"$work/broken.ax"
"$root/tools/package.sh" --version 0.9.0 --module64 "$work/old64.ax" --module32 "$work/old32.ax" \
  --output "$work/old" >>"$log" 2>&1
"$root/tools/package.sh" --version 1.0.1 --module32 "$work/broken.ax" --output "$work/broken32" >>"$log" 2>&1
"$root/tools/package.sh" --version 1.0.1 --module64 "$work/broken.ax" --output "$work/broken64" >>"$log" 2>&1
"$root/tools/package.sh" --test-native-machine 43620 --output "$work/arm" >>"$log" 2>&1
old=$work/old/KV20X-Setup-0.9.0.exe
broken32=$work/broken32/KV20X-Setup-1.0.1.exe
broken64=$work/broken64/KV20X-Setup-1.0.1.exe
arm=$work/arm/KV20X-Setup-$version.exe
expect "and the test builds" test -f "$old" -a -f "$broken32" -a -f "$broken64" -a -f "$arm"

echo "== signing"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throwaway test signer" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" >>"$log" 2>&1
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:test -out "$work/signer.pfx" \
  >>"$log" 2>&1
# A server that refuses at once stands for one that does not answer.
KV20X_SIGN_CERT=$work/signer.pfx KV20X_SIGN_PASSWORD=test KV20X_SIGN_TIMESTAMP=http://127.0.0.1:9/ \
  "$root/tools/package.sh" --output "$work/unstamped" >"$work/package.txt" 2>&1
expect "without a timestamp the signed package fails (exit $?)" test $? -ne 0
expect "and says why" contains "$work/package.txt" "gave no timestamp"
expect "and leaves no setup program" test ! -e "$work/unstamped/KV20X-Setup-$version.exe"
KV20X_SIGN_CERT=$work/signer.pfx KV20X_SIGN_PASSWORD=test KV20X_SIGN_TIMESTAMP=http://127.0.0.1:9/ \
  KV20X_SIGN_NO_TIMESTAMP=1 "$root/tools/package.sh" --output "$work/signed" >"$work/package.txt" 2>&1
signed=$work/signed/KV20X-Setup-$version.exe
expect "allowed explicitly, it signs without one and says so" contains "$work/package.txt" "signed WITHOUT one"
expect "the signed setup is built" contains "$work/package.txt" "(signed)"
expect "the setup program carries a signature over its bytes" verify "$signed"

wine_session_start >>"$log" 2>&1 </dev/null
wine_quiet camera_driver remove
wine_quiet install_camera_driver
snapshot "$work/before.txt"

echo "== silent install"
setup "$current"
expect "the setup succeeds (exit $code)" test "$code" = 0
expect "the 64-bit module is in the 64-bit program files, the 32-bit one in the 32-bit one" \
  installed_as "$x64/KV20X.ax" "$x86/KV20X.ax"
expect "both carry the version $version" test "$(file_version "$folder64/KV20X.ax")/$(file_version "$folder32/KV20X.ax")" \
  = "$version/$version"
expect "the 64-bit view registers the 64-bit module" test "$(server_of "$WINE64")" = "$module64"
expect "the 32-bit view the 32-bit module" test "$(server_of "$WINE32")" = "$module32"
expect "both views hold the device entry" test "$(device_entry "$WINE64")|$(device_entry "$WINE32")" = \
  '\\.\vx41k-0|\\.\vx41k-0'
expect "the installed programs list it" test "$(reg_value "$uninstall_key" DisplayName)" = "Quorl T5R 3.1M Camera"
for name in DisplayVersion Publisher UninstallString QuietUninstallString EstimatedSize DisplayIcon; do
  expect "with $name ($(reg_value "$uninstall_key" $name))" test -n "$(reg_value "$uninstall_key" $name)"
done
expect "no file is left beside the modules" test "$(ls "$folder64" | paste -sd' ')|$(ls "$folder32")" = \
  "KV20X.ax uninstall.exe|KV20X.ax"
streams x64
expect "a 64-bit client streams" test $? -eq 0
streams x86
expect "a 32-bit client streams" test $? -eq 0
(cd "$work" && "$WINE64" "$x64/tools/kv20x-capture.exe" --controls --gamma 140 >"$work/gamma.txt" 2>&1 </dev/null)
expect "the user sets a gamma" test "$(reg_value "$settings_key" Gamma)" = 0x8c
check_invariant "the install"

echo "== refusals, each with its own exit code, changing nothing"
wine_quiet "$WINE64" reg add "$uninstall_key" /v DisplayVersion /d 9.0.0 /f
setup "$current"
expect "a newer version is installed: 1638 (exit $code)" test "$code" = 1638
expect "and it stays" test "$(reg_value "$uninstall_key" DisplayVersion)" = 9.0.0
wine_quiet "$WINE64" reg add "$uninstall_key" /v DisplayVersion /d "$version" /f
hold busy x64 --mutex 'Global\KV20X-Setup'
setup "$current"
expect "another setup is running: 1618 (exit $code)" test "$code" = 1618
quiet_uninstall
expect "the uninstaller waits its turn too: 1618 (exit $code)" test "$code" = 1618
release busy
runs restricted "$(windows_path "$current")" /S
expect "a standard user (the Administrators group denied): 740 (exit $code)" test "$code" = 740
setup "$arm"
expect "Windows on ARM: 1633 (exit $code)" test "$code" = 1633
expect "nothing changed" installed_as "$x64/KV20X.ax" "$x86/KV20X.ax"
check_invariant "the refusals"

echo "== failed upgrades leave the previous version working"
for broken in 32 64; do
  setup "$work/broken$broken/KV20X-Setup-1.0.1.exe"
  expect "a newer setup whose $broken-bit module cannot be loaded fails: 1603 (exit $code)" test "$code" = 1603
  expect "the previous modules are in place" installed_as "$x64/KV20X.ax" "$x86/KV20X.ax"
  expect "and registered in both views" test "$(server_of "$WINE64")|$(server_of "$WINE32")" = "$module64|$module32"
  expect "the entry keeps its version" test "$(reg_value "$uninstall_key" DisplayVersion)" = "$version"
  expect "no file of the failed upgrade is left" test "$(ls "$folder64" | paste -sd' ')|$(ls "$folder32")" = \
    "KV20X.ax uninstall.exe|KV20X.ax"
  check_invariant "the failed upgrade ($broken-bit module)"
done
# An application-control rule that blocks the 32-bit regsvr32 alone.
mv "$drive/windows/syswow64/regsvr32.exe" "$work/regsvr32.exe"
setup "$broken64"
mv "$work/regsvr32.exe" "$drive/windows/syswow64/regsvr32.exe"
expect "a regsvr32 that cannot be started fails it too: 1603 (exit $code)" test "$code" = 1603
expect "the previous modules stay in place" installed_as "$x64/KV20X.ax" "$x86/KV20X.ax"
check_invariant "the blocked regsvr32"
streams x64
expect "afterwards a 64-bit client still streams" test $? -eq 0
streams x86
expect "and a 32-bit one" test $? -eq 0

echo "== uninstall as deployment tools run it"
quiet_uninstall
expect "the quiet uninstall succeeds (exit $code)" test "$code" = 0
expect "and returns only when it is done: the modules are gone" \
  test ! -e "$folder64/KV20X.ax" -a ! -e "$drive/Program Files (x86)/ORBILUX"
expect "and the entry" test -z "$(reg_value "$uninstall_key" DisplayName)"
# Windows lets the running uninstaller move itself out of the folder; Wine
# does not, so there it and its folder go at the next restart.
expect "the uninstaller itself goes at the next restart at the latest" uninstaller_leaves
expect "the user's settings stay" test "$(reg_value "$settings_key" Gamma)" = 0x8c
as_before "the uninstall"
check_invariant "the uninstall"
streams x64
expect "64-bit clients no longer find the camera (exit $?)" test $? -eq 3
streams x86
expect "nor 32-bit ones (exit $?)" test $? -eq 3

echo "== upgrade from 0.9.0 while an application streams through it"
setup "$old"
expect "the older version installs (exit $code)" test "$code" = 0
expect "its modules are in place" installed_as "$work/old64.ax" "$work/old32.ax"
cd "$work"
"$WINE64" "$x64/tools/kv20x-capture.exe" --seconds 6 --output none >"$work/holder.txt" 2>&1 </dev/null &
streaming=$!
cd - >/dev/null
for _ in $(seq 1 50); do grep -q "recording:" "$work/holder.txt" && break; sleep 0.2; done
expect "an application streams through the old 64-bit module" contains "$work/holder.txt" "recording:"
# Another holds the 32-bit one for as long as the setup runs.
hold old32 x86 --module "$module32"
setup "$current"
release old32
expect "the newer setup succeeds meanwhile, asking for a restart for the held files: 3010 (exit $code)" \
  test "$code" = 3010
expect "the new modules are in place" installed_as "$x64/KV20X.ax" "$x86/KV20X.ax"
wait $streaming
expect "the application records to its end undisturbed (exit $?)" test $? -eq 0
expect "one uninstall entry, the new version" test "$(reg_value "$uninstall_key" DisplayVersion)" = "$version"
streams x64
expect "a new 64-bit client streams through the new module" test $? -eq 0
check_invariant "the upgrade"

echo "== held and blocked files"
# An application holds each module, and a file an earlier upgrade moved
# aside is still open in another: the signed build must still put its
# modules in place, not exit 0 with the old ones.
cp "$folder64/KV20X.ax" "$folder64/KV20X.ax.old"
hold apps x64 --module "$module64" --file 'C:\Program Files\ORBILUX\KV20X\KV20X.ax.old'
hold app32 x86 --module "$module32"
setup "$signed"
expect "the signed setup installs over held and blocked files: 3010 (exit $code)" test "$code" = 3010
expect "its modules are the ones in place" verify "$folder64/KV20X.ax"
expect "both of them" verify "$folder32/KV20X.ax"
expect "and so is its uninstaller" verify "$folder64/uninstall.exe"
release apps
release app32
check_invariant "the held files"
# A module open in a way that keeps it from being moved at all.
cp "$folder64/KV20X.ax" "$work/signed64.ax"
cp "$folder32/KV20X.ax" "$work/signed32.ax"
hold locked x64 --file "$module64"
setup "$current"
expect "a module that cannot be moved aside fails the setup: 1603 (exit $code)" test "$code" = 1603
release locked
expect "the modules that were there stay" installed_as "$work/signed64.ax" "$work/signed32.ax"
check_invariant "the module that could not be moved"

echo "== uninstall with a module missing"
quiet_uninstall
expect "the uninstall after the upgrades succeeds (exit $code)" test "$code" = 0
for missing in 64 32; do
  setup "$current"
  folder=$folder64
  if [ $missing = 32 ]; then folder=$folder32; fi
  rm "$folder/KV20X.ax"
  # As a user starts it: it copies itself away, and its copy removes
  # everything.
  uninstall_as_user "C:\\Program Files\\ORBILUX\\KV20X\\uninstall.exe"
  expect "with the $missing-bit module missing the uninstall leaves no folder" no_folders
  as_before "the uninstall without the $missing-bit module"
  check_invariant "the uninstall without the $missing-bit module"
done

echo "== a copied uninstaller, asked to remove the user's settings too"
setup "$current"
(cd "$work" && "$WINE64" "$x64/tools/kv20x-capture.exe" --controls --gamma 150 >/dev/null 2>&1 </dev/null)
mkdir -p "$work/copy"
cp "$folder64/uninstall.exe" "$work/copy/uninstall.exe"
printf 'not ours' >"$work/copy/KV20X.ax"
uninstall_as_user "$(windows_path "$work/copy/uninstall.exe")" /REMOVESETTINGS
expect "the installed folders are gone" no_folders
expect "the files beside the copy stay" test -f "$work/copy/KV20X.ax" -a -f "$work/copy/uninstall.exe"
expect "the user's settings are gone" test -z "$(reg_value "$settings_key" Gamma)"
as_before "the copied uninstaller"
check_invariant "the copied uninstaller"

echo "== the setup speaks the user's language"
setup "$current"
wine_quiet "$WINE64" reg add "$uninstall_key" /v DisplayVersion /d 9.0.0 /f
for case in "en_US.UTF-8|Version 9.0.0 of the Quorl T5R 3.1M Camera is installed, newer" \
            "zh_CN.UTF-8|已安装 Quorl T5R 3.1M Camera 9.0.0 版"; do
  locale=${case%%|*}
  (cd "$work" && env LANG="$locale" LC_ALL="$locale" "$WINE64" "$x64/tests/setup_probe.exe" dialog \
    "$(windows_path "$current")" >"$work/dialog.txt" 2>&1 </dev/null)
  expect "in $locale the message reads \"${case#*|}...\"" contains "$work/dialog.txt" "${case#*|}"
  expect "and the setup ends with 1638" contains "$work/dialog.txt" "exit: 1638"
done
wine_quiet "$WINE64" reg add "$uninstall_key" /v DisplayVersion /d "$version" /f
quiet_uninstall
expect "removed again (exit $code)" test "$code" = 0
check_invariant "the language checks"

echo "== 32-bit Windows"
wine_session_end >>"$log" 2>&1
# A prefix without a 64-bit side: what 32-bit Windows offers a setup.
win32=$work/win32
(WINEPREFIX=$win32 WINEARCH=win32 "$WINE32" wineboot -i && WINEPREFIX=$win32 wineserver -w) >>"$log" 2>&1 </dev/null
(cd "$work" && WINEPREFIX=$win32 "$WINE32" "$x86/tests/setup_probe.exe" run "$(windows_path "$current")" /S \
  >"$work/run.txt" 2>&1 </dev/null)
expect "the setup succeeds ($(tr -d '\r' <"$work/run.txt" | tail -1))" contains "$work/run.txt" "exit: 0"
expect "with the 32-bit module alone, in the program files" \
  test "$(cd "$win32/drive_c" && find Program* -name KV20X.ax)" = "Program Files/ORBILUX/KV20X/KV20X.ax"
expect "the one it built" cmp -s "$win32/drive_c/Program Files/ORBILUX/KV20X/KV20X.ax" "$x86/KV20X.ax"
expect "registered" test "$(WINEPREFIX=$win32 server_of "$WINE32")" = 'C:\Program Files\ORBILUX\KV20X\KV20X.ax'
(cd "$work" && WINEPREFIX=$win32 "$WINE32" "$x86/tests/setup_probe.exe" invariant >"$work/invariant.txt" 2>&1 \
  </dev/null)
expect "the registration and the entry agree" contains "$work/invariant.txt" "invariant: holds"
(cd "$work" && WINEPREFIX=$win32 "$WINE32" "$x86/tests/setup_probe.exe" quiet-uninstall >"$work/run.txt" 2>&1 \
  </dev/null)
expect "the quiet uninstall succeeds ($(tr -d '\r' <"$work/run.txt" | tail -1))" contains "$work/run.txt" "exit: 0"
expect "and removes it (but for the uninstaller, under Wine, until the next restart)" \
  test ! -e "$win32/drive_c/Program Files/ORBILUX/KV20X/KV20X.ax" -a -z "$(WINEPREFIX=$win32 server_of "$WINE32")"
WINEPREFIX=$win32 wineserver -k 2>/dev/null

if [ $failures -ne 0 ]; then
  echo "setup_test: $failures checks failed"; echo "--- wine log"; tail -50 "$log"
  exit 1
fi
echo "setup_test: all checks passed"
