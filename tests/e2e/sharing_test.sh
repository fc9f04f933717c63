#!/usr/bin/env bash
# One camera, several applications, end to end: real client processes of
# both bitnesses (the Windows ffmpeg and kv20x-capture) on the simulated
# driver. A second application is refused at once, sends the camera nothing,
# and leaves the first one's recording whole; a killed application leaves
# the camera free; a process that cannot open the camera and holds an object
# of the claim's name keeps it from no one; with no camera at all, listing
# works and every client ends promptly with "not connected".
#   sharing_test.sh <32-bit build tree> <64-bit build tree>
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
loader() { if [ "$1" = x64 ]; then echo "$WINE64"; else echo "$WINE32"; fi; }
tree() { if [ "$1" = x64 ]; then echo "$x64"; else echo "$x86"; fi; }
capture() {  # capture <x86|x64> <output file> <options...>
  local arch=$1 out=$2; shift 2
  (cd "$work" && "$(loader "$arch")" "$(tree "$arch")/tools/kv20x-capture.exe" "$@" >"$out" 2>&1 </dev/null)
}
ffmpeg_win() {  # ffmpeg_win <x86|x64> <output file> <options...>
  local arch=$1 out=$2; shift 2
  (cd "$work" && "$(loader "$arch")" "$root/build/clients/ffmpeg-$arch/ffmpeg.exe" -hide_banner -nostdin "$@" \
    >"$out" 2>&1 </dev/null)
}
stat_of() { camera_driver stats 2>/dev/null | tr -d '\r' | sed -n "s/.*$1 \([0-9]*\).*/\1/p"; }
wait_streaming() {  # until the camera is being read from (at most 20 s)
  local before after
  before=$(stat_of reads)
  for _ in $(seq 1 100); do
    sleep 0.2
    after=$(stat_of reads)
    [ "${after:-0}" -gt "${before:-0}" ] && return 0
  done
  return 1
}
elapsed_ms() { echo $((($(date +%s%N) - $1) / 1000000)); }
probe_frames() {
  ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=width,height,nb_read_frames \
    -of csv=p=0 "$1" 2>/dev/null
}
camera="Quorl T5R 3.1M Camera"

wine_session_start >>"$log" 2>&1 </dev/null
wine_quiet camera_driver remove
wine_quiet install_camera_driver
wine_quiet register_module "$x64" "$WINE64"
wine_quiet register_module "$x86" "$WINE32"

for order in "x64 x86" "x86 x64"; do
  set -- $order
  first=$1 second=$2
  echo "== a $first ffmpeg records; a $second ffmpeg and kv20x-capture ask for the camera meanwhile"
  ffmpeg_win "$first" "$work/a.txt" -y -f dshow -rtbufsize 256M -video_size 1024x768 -i video="$camera" -t 9 \
    -q:v 2 a.avi &
  recorder=$!
  expect "the first one streams" wait_streaming
  opens=$(stat_of requesting-opens)
  started=$(date +%s%N)
  ffmpeg_win "$second" "$work/b.txt" -y -f dshow -video_size 640x480 -i video="$camera" -t 2 b.avi
  status=$?
  took=$(elapsed_ms "$started")
  expect "the second ffmpeg fails (exit $status) and ends promptly (${took} ms, the process start included)" \
    test "$status" -ne 0 -a "$took" -lt 15000
  capture "$second" "$work/c.txt" --size 640x480 --seconds 2 --output none
  status=$?
  cat "$work/c.txt"
  expect "kv20x-capture reports the camera in use (exit $status)" test "$status" -eq 7
  expect "with a message saying so" contains "$work/c.txt" "in use by another application"
  expect "the camera was sent nothing by either ($(stat_of requesting-opens) handles that asked, $opens before)" \
    test "$(stat_of requesting-opens)" = "$opens"
  wait $recorder
  status=$?
  facts=$(probe_frames "$work/a.avi")
  frames=${facts##*,}
  # 9 s at 1024 x 768: 76 ms a frame, 118 frames.
  expect "the first recording is whole: $facts (exit $status)" test "$status" -eq 0 -a "${facts%,*}" = "1024,768" \
    -a "${frames:-0}" -ge 110 -a "${frames:-0}" -le 120
  ffmpeg -v error -y -sseof -1 -i "$work/a.avi" -frames:v 1 -pix_fmt bgr24 "$work/a.bmp"
  expect "and its last picture is the chart" "$WINE64" "$x64/tests/check_snapshot.exe" "$(windows_path "$work/a.bmp")"
done

echo "== an application killed while it streams leaves the camera free"
# Started without a subshell, so that $! is the Windows process itself.
cd "$work"
"$WINE64" "$x64/tools/kv20x-capture.exe" --seconds 60 --output none >"$work/killed.txt" 2>&1 </dev/null &
victim=$!
cd - >/dev/null
expect "the first one streams" wait_streaming
kill -9 "$victim"
wait "$victim" 2>/dev/null
expect "the first one is gone" test -z "$(ps -o pid= -p "$victim")"
capture x86 "$work/after.txt" --frames 10 --output none
status=$?
cat "$work/after.txt"
expect "the next one streams (exit $status)" test "$status" -eq 0

for kind in low closed; do
  echo "== a process that cannot open the camera holds an object of the claim's name ($kind): the camera streams"
  cd "$work"
  "$WINE64" "$x64/tests/claim_squatter.exe" "$kind" >"$work/squatter-$kind.txt" 2>&1 </dev/null &
  squatter=$!
  cd - >/dev/null
  for _ in $(seq 1 100); do
    contains "$work/squatter-$kind.txt" holding && break
    sleep 0.2
  done
  expect "the squatter holds it" contains "$work/squatter-$kind.txt" holding
  for arch in x86 x64; do
    capture "$arch" "$work/squatted-$kind-$arch.txt" --frames 10 --output none
    status=$?
    expect "kv20x-capture ($arch) records all the same (exit $status)" test "$status" -eq 0
  done
  kill -9 "$squatter"
  wait "$squatter" 2>/dev/null
done

echo "== no camera: listing works, and every client ends at once"
wine_quiet camera_driver remove
for arch in x64 x86; do
  ffmpeg_win "$arch" "$work/list-$arch.txt" -f dshow -list_devices true -i dummy
  expect "the $arch ffmpeg lists the camera" contains "$work/list-$arch.txt" "\"$camera\""
  ffmpeg_win "$arch" "$work/options-$arch.txt" -f dshow -list_options true -i video="$camera"
  expect "and its formats" contains "$work/options-$arch.txt" "s=1024x768"
  started=$(date +%s%N)
  ffmpeg_win "$arch" "$work/none-$arch.txt" -y -f dshow -video_size 640x480 -i video="$camera" -t 2 none.avi
  status=$?
  took=$(elapsed_ms "$started")
  expect "the $arch ffmpeg fails and tears its graph down at once (exit $status, ${took} ms)" \
    test "$status" -ne 0 -a "$took" -lt 15000
  capture "$arch" "$work/absent-$arch.txt" --seconds 2 --output none
  status=$?
  expect "kv20x-capture ($arch) reports the camera not connected (exit $status)" test "$status" -eq 4
  expect "with a message saying so" contains "$work/absent-$arch.txt" "camera not connected"
done

wine_quiet unregister_module "$x64" "$WINE64"
wine_quiet unregister_module "$x86" "$WINE32"
if [ $failures -ne 0 ]; then
  echo "sharing_test: $failures checks failed"; echo "--- wine log"; tail -50 "$log"
  exit 1
fi
echo "sharing_test: all checks passed"
