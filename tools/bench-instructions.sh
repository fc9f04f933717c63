#!/usr/bin/env bash
# Instructions per frame of the whole image pipeline at each size, counted by
# callgrind (repeatable on a shared machine, unlike time). Uses the native
# Release build: cmake -S . -B build/native -G Ninja && cmake --build build/native
#   KV20X_SIMD=<level>  the instruction-set level (default avx2; valgrind
#                       cannot run avx512)
#   FRAMES=<n>          frames per size (default 3)
#   FORMATS="<f> ..."   picture formats (default rgb24; any of rgb24 rgb32
#                       yuy2 nv12 i420)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cost="$root/build/native/bench/frame_cost"
frames=${FRAMES:-3}
formats=${FORMATS:-rgb24}
export KV20X_SIMD=${KV20X_SIMD:-avx2}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for format in $formats; do
  for size in "2048 1536" "1024 768" "640 480"; do
    set -- $size
    ran=$(valgrind --tool=callgrind --callgrind-out-file="$out/cg" \
      --toggle-collect='kv20x::RunFramePipeline*' "$cost" "$1" "$2" "$frames" "$format" 2>"$out/log")
    total=$(awk '/^summary:/{print $2}' "$out/cg")
    echo "$1x$2 $format: $((total / frames)) instructions per frame ($frames frames; ${ran#*on })"
  done
done
