#!/usr/bin/env bash
# kv20x-vcam where the platform has no virtual cameras (Wine has no
# mfsensorgroup.dll, as Windows 10 has none): every command says so on
# stderr and exits 3, and neither the machine's nor the user's registry
# changes; a bad command line exits 2; --help lists the exit codes.
#   vcam_test.sh <build tree>     (WINEPREFIX, WINE: the tree's prefix and loader)
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
tree=$(readlink -f "$1")
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix of the build tree}"
: "${WINE64:=/usr/lib/wine/wine64}"
: "${WINE:=$WINE64}"
export WINEPREFIX WINEDEBUG=-all
"$root/tools/wine-prefix.sh" "$WINEPREFIX" || exit 1
work=$(mktemp -d)
failures=0
trap 'session_end; rm -rf "$work"' EXIT

# One server per session for the program starts (each costs seconds
# without), its streams detached from the test runner's. Ending the session
# writes the registry out to the prefix's hive files.
session_start() { wineserver -k 2>/dev/null; wineserver -w; wineserver -p </dev/null >/dev/null 2>&1; }
session_end() { wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; }

expect() {  # expect <description> <condition...>
  local what=$1; shift
  if "$@"; then echo "ok:   $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
vcam() {  # vcam <name> <arguments...>: its output in $work/<name>.out and .err, its code echoed
  local name=$1; shift
  (cd "$work" && "$WINE" "$tree/tools/kv20x-vcam.exe" "$@" >"$name.out" 2>"$name.err" </dev/null)
  echo $?
}
# HKLM\Software (both views: the 32-bit one is Wow6432Node inside the 64-bit
# one) and HKCU\Software, as the server last wrote them to the prefix,
# without the keys' modification times: Wine's own start-up rewrites a few
# keys with the same values (Windows NT\CurrentVersion, Wine\Fonts), and the
# display adapter's driver date under System every session. Reading the files
# is much quicker than `reg export` of HKLM\Software, which takes 15 s here.
snapshot() {
  local hive
  for hive in system user; do
    awk '/^\[/ { keep = /^\[Software\\\\/ } keep && !/^#time=/ { sub(/\] [0-9]+$/, "]"); print }' \
      "$WINEPREFIX/$hive.reg" >"$work/$1-$hive.txt"
  done
}

echo "== usage, and a first session that lets the prefix settle"
session_start
for bad in "none" "bogus" "register extra"; do
  if [ "$bad" = none ]; then code=$(vcam bad); else code=$(vcam bad $bad); fi
  expect "'$bad' is a bad command line: exit 2 (got $code)" test "$code" -eq 2
done
code=$(vcam help --help)
expect "--help exits 0 (got $code)" test "$code" -eq 0
for line in "0  done" "2  bad command line" "3  this system has no virtual cameras" "4  access denied" \
            "5  the system refused" "6  status: supported, but" "7  register: the media source is not registered"; do
  expect "--help lists exit code '${line%%  *}'" grep -q -- "$line" "$work/help.out"
done
session_end
snapshot before

echo "== every command: not supported here, nothing written"
session_start
for command in register remove status; do
  code=$(vcam "$command" "$command")
  expect "$command exits 3, not supported (got $code)" test "$code" -eq 3
  expect "$command says on stderr that virtual cameras are not supported and nothing changed" \
    grep -q "$command: virtual cameras are not supported here: mfsensorgroup.dll .*nothing was changed" \
    "$work/$command.err"
  expect "$command prints nothing on stdout" test ! -s "$work/$command.out"
done
session_end
snapshot after
for hive in system user; do
  if diff -u "$work/before-$hive.txt" "$work/after-$hive.txt" >"$work/$hive.diff"; then
    echo "ok:   $hive.reg: Software is unchanged ($(grep -c '^\[' "$work/after-$hive.txt") keys)"
  else
    echo "FAIL: $hive.reg: Software changed:"
    head -40 "$work/$hive.diff"
    failures=$((failures + 1))
  fi
done

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
