#!/usr/bin/env bash
# End to end: the unmodified module, registered with the regsvr32 of its own
# bitness and found by the device enumerator, records from the simulated
# camera driver through kv20x-capture, the guide's example and a Windows
# ffmpeg of the same bitness; then the ways a recording can fail.
#   record_test.sh <build tree of the module> [<64-bit build tree>]
# The module's programs run under $WINE (wine64, or the 32-bit wine for the
# 32-bit tree); the simulated driver comes from the 64-bit tree.
set -u
build=$(readlink -f "$1")
root=$(cd "$(dirname "$0")/../.." && pwd)
kv20x_build=$build
kv20x_driver_build=$(readlink -f "${2:-$1}")
source "$root/tools/wine-session.sh"
if [ "$WINE" = "$WINE64" ]; then arch=x64; else arch=x86; fi
echo "== the $arch module, under $WINE"
work=$(mktemp -d)
log=$work/wine.log
failures=0
trap 'wine_session_end; rm -rf "$work"' EXIT

# Wine's service processes keep the streams of the program that started the
# server: they go to a log, never to the test runner.
wine_quiet() { "$@" >>"$log" 2>&1 </dev/null; }
capture() {  # capture <output file> <options...>: runs kv20x-capture, returns its exit code
  local out=$1; shift
  (cd "$work" && "$WINE" "$build/tools/kv20x-capture.exe" "$@" >"$out" 2>&1 </dev/null)
}
expect() {  # expect <description> <condition...>
  local what=$1; shift
  if "$@"; then echo "ok:   $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
contains() { grep -q -- "$2" "$1"; }
probe() {  # probe <file>: the first video stream's facts, key=value lines
  ffprobe -v error -select_streams v:0 -count_frames \
    -show_entries stream=codec_name,pix_fmt,width,height,nb_read_frames,r_frame_rate -of default=nw=1 "$1" 2>&1
}
value() { printf '%s\n' "$1" | sed -n "s/^$2=//p"; }

wine_session_start >>"$log" 2>&1 </dev/null
wine_quiet camera_driver remove
wine_quiet register_module

echo "== no camera (its driver not started)"
capture "$work/absent.txt" --seconds 2 --output absent.avi
status=$?
cat "$work/absent.txt"
expect "the tool reports a missing camera" test "$status" -eq 4
expect "with a message saying so" contains "$work/absent.txt" "camera not connected"

wine_quiet install_camera_driver


echo "== recording 3 s at 1024x768"
capture "$work/record.txt" --size 1024x768 --seconds 3 --output capture.avi --snapshot snapshot.bmp
status=$?
cat "$work/record.txt"
expect "the recording succeeds" test "$status" -eq 0
expect "no frame was dropped" contains "$work/record.txt" " 0 dropped)"
facts=$(probe "$work/capture.avi")
echo "$facts"
expect "the file is raw BGR video" test "$(value "$facts" codec_name)/$(value "$facts" pix_fmt)" = "rawvideo/bgr24"
expect "of 1024 x 768" test "$(value "$facts" width)x$(value "$facts" height)" = "1024x768"
frames=$(value "$facts" nb_read_frames)
# 1024 x 768 at the default settings: 76 ms a frame, 13.2 frames/s.
expect "about 3 s worth of frames ($frames)" test "${frames:-0}" -ge 30 -a "${frames:-0}" -le 48
expect "the snapshot shows the chart upright in its colours" \
  "$WINE" "$build/tests/check_snapshot.exe" "$(windows_path "$work/snapshot.bmp")"

echo "== every format through kv20x-capture"
for run in "rgb32 bgra|bgr0" "yuy2 yuyv422" "nv12 nv12" "i420 yuv420p"; do
  set -- $run
  capture "$work/format-$1.txt" --size 1024x768 --format "$1" --seconds 2 --output "format-$1.avi" \
    --snapshot "format-$1.bmp"
  status=$?
  facts=$(probe "$work/format-$1.avi")
  expect "kv20x-capture records $1 (exit $status, $(value "$facts" codec_name)/$(value "$facts" pix_fmt))" \
    test "$status" -eq 0 -a "$(value "$facts" width)x$(value "$facts" height)" = "1024x768"
  expect "the file's pixel format is that of $1" grep -Eqx "$2" <<<"$(value "$facts" pix_fmt)"
  expect "its snapshot, turned back to RGB, shows the chart" \
    "$WINE" "$build/tests/check_snapshot.exe" "$(windows_path "$work/format-$1.bmp")"
done

echo "== the application guide's example"
(cd "$work" && "$WINE" "$build/tools/grab-one-frame.exe" example.bmp >"$work/example.txt" 2>&1 </dev/null)
status=$?
cat "$work/example.txt"
expect "the example grabs a frame" test "$status" -eq 0
expect "and its picture is the chart" "$WINE" "$build/tests/check_snapshot.exe" "$(windows_path "$work/example.bmp")"

echo "== a Windows ffmpeg of the same bitness"
ffmpeg_exe=$root/build/clients/ffmpeg-$arch/ffmpeg.exe
camera="Quorl T5R 3.1M Camera"
ffmpeg_win() {  # ffmpeg_win <output file> <options...>: the Windows ffmpeg in the work folder
  local out=$1; shift
  (cd "$work" && "$WINE" "$ffmpeg_exe" -hide_banner -nostdin "$@" >"$out" 2>&1 </dev/null)
}
ffmpeg_win "$work/ffmpeg-list.txt" -f dshow -list_devices true -i dummy
expect "ffmpeg lists the camera" contains "$work/ffmpeg-list.txt" "\"$camera\""
ffmpeg_win "$work/ffmpeg-options.txt" -f dshow -list_options true -i video="$camera"
for size in 2048x1536 1024x768 640x480; do
  expect "ffmpeg sees $size" grep -q "s=$size" "$work/ffmpeg-options.txt"
done
# Per size: seconds, and the frames the camera sends in that time at the
# default settings (149, 76 and 45 ms a frame); the file must hold most of them.
for run in "2048x1536 4 27" "1024x768 3 40" "640x480 2 44"; do
  set -- $run
  ffmpeg_win "$work/ffmpeg-$1.txt" -y -f dshow -rtbufsize 256M -video_size "$1" -i video="$camera" -t "$2" \
    -q:v 2 "ffmpeg-$1.avi"
  status=$?
  facts=$(probe "$work/ffmpeg-$1.avi")
  frames=$(value "$facts" nb_read_frames)
  expect "ffmpeg records $1 for $2 s (exit $status, $frames frames)" test "$status" -eq 0 \
    -a "$(value "$facts" width)x$(value "$facts" height)" = "$1"
  expect "at the camera's rate ($frames of $3 frames, $(value "$facts" r_frame_rate) frames/s)" \
    test "${frames:-0}" -ge $(($3 * 8 / 10)) -a "${frames:-0}" -le $(($3 + 2))
done
ffmpeg -v error -y -sseof -1 -i "$work/ffmpeg-1024x768.avi" -frames:v 1 -pix_fmt bgr24 "$work/ffmpeg.bmp"
expect "and ffmpeg's last frame shows the chart upright in its colours" \
  "$WINE" "$build/tests/check_snapshot.exe" "$(windows_path "$work/ffmpeg.bmp")"

echo "== ffmpeg records every format at every size, and the pictures agree with RGB24"
# The mean of |a - b| over two raw pictures of the same size.
mean_difference() {
  local bytes
  bytes=$(stat -c %s "$1")
  cmp -l "$1" "$2" | awk -v n="$bytes" '
    function oct(s,   v, i) { v = 0; for (i = 1; i <= length(s); i++) v = v * 8 + substr(s, i, 1); return v }
    { d = oct($2) - oct($3); sum += d < 0 ? -d : d }
    END { printf "%.2f", (n > 0 ? sum / n : 999) }'
}
# The last frame of a recording as raw RGB24, top-down. Converted with exact
# rounding and every chroma sample: ffmpeg's default conversion alone loses
# about 2 levels on this chart (its own RGB to 4:2:0 and back: 2.4).
last_frame() {
  ffmpeg -v error -y -sseof -1 -i "$1" -frames:v 1 -sws_flags accurate_rnd+full_chroma_int+bitexact \
    -pix_fmt rgb24 -f rawvideo "$2"
}
for size in 2048x1536 1024x768 640x480; do
  for run in "bgr24 bgr24" "yuyv422 yuyv422" "nv12 nv12" "yuv420p yuv420p" "bgr0 bgr0|bgra"; do
    set -- $run
    file=format-$size-$1.avi
    ffmpeg_win "$work/format.txt" -y -f dshow -rtbufsize 256M -video_size "$size" -pixel_format "$1" \
      -i video="$camera" -t 2 -c:v copy "$file"
    status=$?
    facts=$(probe "$work/$file")
    expect "ffmpeg records $size $1 (exit $status, $(value "$facts" pix_fmt), $(value "$facts" nb_read_frames) frames)" \
      test "$status" -eq 0 -a "$(value "$facts" width)x$(value "$facts" height)" = "$size" \
      -a "$(value "$facts" nb_read_frames)" -gt 0
    expect "as $1" grep -Eqx "$2" <<<"$(value "$facts" pix_fmt)"
    last_frame "$work/$file" "$work/format-$1.rgb"
    if [ "$1" != bgr24 ]; then
      difference=$(mean_difference "$work/format-bgr24.rgb" "$work/format-$1.rgb")
      expect "its picture agrees with RGB24's (mean difference $difference levels)" \
        awk -v d="$difference" 'BEGIN { exit !(d != "" && d + 0 <= 2) }'
    fi
  done
done

echo "== a camera that stalls"
wine_quiet camera_driver fault --stall-from 5
capture "$work/stall.txt" --seconds 20 --stall-timeout 2 --output stall.avi
status=$?
cat "$work/stall.txt"
expect "the tool reports the stall" test "$status" -eq 5
expect "with a message saying so" contains "$work/stall.txt" "stopped sending frames"
stop_ms=$(tr -d '\r' <"$work/stall.txt" | sed -n 's/^stopped in \([0-9]*\) ms$/\1/p')
expect "and Stop returns within a second (${stop_ms:-?} ms)" test "${stop_ms:-99999}" -lt 1000

echo "== a camera whose read fails"
wine_quiet camera_driver fault --fail-read 5
capture "$work/fail.txt" --seconds 20 --output fail.avi
status=$?
cat "$work/fail.txt"
expect "the tool reports the graph's error" test "$status" -eq 5
expect "with a message saying so" contains "$work/fail.txt" "failed while recording"

echo "== a camera that does not answer its requests"
wine_quiet camera_driver fault --hang-controls
started=$(date +%s%N)
capture "$work/hang.txt" --seconds 5 --output hang.avi
status=$?
took=$((($(date +%s%N) - started) / 1000000))
cat "$work/hang.txt"
expect "the tool reports that the camera could not be started" test "$status" -eq 5
expect "with a message saying so" contains "$work/hang.txt" "could not be started"
expect "and gives up within seconds, not never (${took} ms)" test "$took" -lt 8000
wine_quiet camera_driver fault --clear

echo "== a camera unplugged while recording"
wine_quiet camera_driver fault --clear
capture "$work/lost.txt" --seconds 20 --output lost.avi &
recorder=$!
# Gone once frames flow (the tool reports them every second): a camera that
# vanishes during the start is another case.
for _ in $(seq 300); do
  grep -q "^recording: [1-9]" "$work/lost.txt" 2>/dev/null && break
  kill -0 $recorder 2>/dev/null || break
  sleep 0.1
done
wine_quiet camera_driver fault --vanish
wait $recorder
status=$?
cat "$work/lost.txt"
expect "the tool reports the lost camera" test "$status" -eq 5
expect "from the graph's device-lost event" contains "$work/lost.txt" "unplugged while recording"
wine_quiet camera_driver fault --clear
capture "$work/back.txt" --seconds 2 --output back.avi
status=$?
expect "plugged in again, it records ($(grep -c . "$work/back.txt") lines)" test "$status" -eq 0

echo "== the standard camera properties"
capture "$work/controls.txt" --controls --gamma 180 --contrast 55 --hz 60
status=$?
cat "$work/controls.txt"
expect "the tool lists the properties" test "$status" -eq 0
expect "gamma set through IAMVideoProcAmp" grep -Eq "Gamma +10 .. 250 +default 100 +value 180" "$work/controls.txt"
expect "contrast set through IAMVideoProcAmp" grep -Eq "Contrast +0 .. 100 +default 30 +value 55" "$work/controls.txt"
# The example left the auto exposure off, and the settings in force are kept.
expect "gain with its auto flag" grep -Eq "Gain +0 .. 80 +default 20 +value 20 +auto-capable, manual" "$work/controls.txt"
expect "exposure in log2 seconds" grep -Eq "Exposure \(log2 s\) +-12 .. -2 " "$work/controls.txt"
expect "mains frequency through IKsPropertySet" contains "$work/controls.txt" "60 Hz"
expect "no property the camera lacks" test "$(grep -c "Brightness\|Zoom\|Focus" "$work/controls.txt")" -eq 0
# The user's settings as they were before the test.
wine_quiet "$WINE" reg delete "HKCU\\Software\\ORBILUX " /f

echo "== ffmpeg asks for the slowest, a middle and the fastest rate of every size it lists"
# ffmpeg prints each size's range as "min s=WxH fps=SLOW max s=WxH fps=FAST"
# (%g, six digits) and checks a request against the caps after its own
# rounding, so the ends are asked for rounded inward to three decimals.
ranges=$(tr -d '\r' <"$work/ffmpeg-options.txt" |
  sed -n 's/.*min s=\([0-9x]*\) fps=\([0-9.e+-]*\) max s=[0-9x]* fps=\([0-9.e+-]*\).*/\1 \2 \3/p' | sort -u)
expect "ffmpeg lists a rate range for each size" test "$(printf '%s\n' "$ranges" | grep -c .)" -eq 3
while read -r size slow fast; do
  rates=$(awk -v s="$slow" -v f="$fast" 'BEGIN {
    s = int(s * 1000 + 0.999) / 1000; f = int(f * 1000) / 1000
    printf "%.3f %.3f %.3f", s, (s + f) / 2, f }')
  for rate in $rates; do
    # The stream is copied as it comes: ffmpeg stamps each frame with the
    # graph clock when it arrives, so the times tell the rate delivered.
    ffmpeg_win "$work/rate.txt" -y -f dshow -rtbufsize 256M -video_size "$size" -framerate "$rate" \
      -i video="$camera" -t 5 -c:v copy -f framecrc rate.crc
    status=$?
    measured=$(tr -d '\r' <"$work/rate.crc" | awk -F', *' '
      /^#tb 0:/ { split($0, tb, /[: \/]+/); num = tb[3]; den = tb[4] }
      !/^#/ { n++; pts = $2 + 0; if (n == 1) first = pts }
      END { if (n > 2 && pts > first && den > 0) printf "%.3f", (n - 1) / ((pts - first) * num / den); else print 0 }')
    expect "$size asked at $rate frames/s records at $measured frames/s (exit $status)" \
      awk -v m="$measured" -v r="$rate" -v s="$status" 'BEGIN { exit !(s == 0 && m >= r * 0.88 && m <= r * 1.12) }'
  done
done <<<"$ranges"
# A rate asked for chooses the clock, which is saved with the settings: the
# user's settings as they were before.
wine_quiet "$WINE" reg delete "HKCU\\Software\\ORBILUX " /f

echo "== not registered"
wine_quiet unregister_module
capture "$work/unregistered.txt" --seconds 2
status=$?
cat "$work/unregistered.txt"
expect "the tool reports the unregistered module" test "$status" -eq 3

if [ $failures -ne 0 ]; then
  echo "record_test: $failures checks failed"; echo "--- wine log"; tail -50 "$log"
  exit 1
fi
echo "record_test: all checks passed"
