#!/usr/bin/env bash
# Instructions per frame of the whole image pipeline at each size, counted by
# callgrind (repeatable on a shared machine, unlike time). Uses the native
# Release build: cmake -S . -B build/native -G Ninja && cmake --build build/native
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cost="$root/build/native/bench/frame_cost"
frames=${FRAMES:-3}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for size in "2048 1536" "1024 768" "640 480"; do
  set -- $size
  valgrind --tool=callgrind --callgrind-out-file="$out/cg" \
    --toggle-collect='kv20x::RunFramePipeline*' "$cost" "$1" "$2" "$frames" >/dev/null 2>"$out/log"
  total=$(awk '/^summary:/{print $2}' "$out/cg")
  echo "$1x$2: $((total / frames)) instructions per frame ($frames frames)"
done
