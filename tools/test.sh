#!/usr/bin/env bash
# Builds everything and runs every test: the platform-independent core
# natively (under AddressSanitizer and UBSan) and its fuzzers, then every
# Windows test program twice: the 64-bit build under wine64 and the 32-bit
# build under 32-bit Wine, each in its own WoW64 prefix. The 32-bit tree's
# end-to-end tests use the 64-bit tree's simulated driver, and its
# side-by-side test registers both modules in one prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${KV20X_JOBS:-2}

"$root/tools/setup.sh"

configure() {  # build-dir cmake-arguments...
  local dir=$1; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  fi
}

configure build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV20X_SANITIZE=ON -DKV20X_BENCHMARKS=OFF
configure build/native -DCMAKE_BUILD_TYPE=Release
configure build/x64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x64.cmake"
configure build/x86 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86.cmake" -DKV20X_X64_BUILD="$root/build/x64"
CC=clang CXX=clang++ configure build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV20X_SANITIZE=ON -DKV20X_FUZZ=ON

for dir in build/asan build/native build/x64 build/x86 build/fuzz; do
  echo "== building $dir"
  cmake --build "$dir" -j "$jobs"
done

"$root/tools/check-modules.sh" build/x64 build/x86

status=0
echo "== native tests (sanitizers)"
(cd build/asan && ctest --output-on-failure -j "$jobs") || status=1
echo "== fuzzers (short runs from the kept corpus)"
fuzz_seconds=${KV20X_FUZZ_SECONDS:-20}
for fuzzer in frame_read settings_load video_format; do
  corpus=$(mktemp -d)
  cp "$root/tests/fuzz/corpus/$fuzzer/"* "$corpus/"
  if (cd "$corpus" && "$root/build/fuzz/tests/fuzz/${fuzzer}_fuzzer" -max_total_time="$fuzz_seconds" \
        -print_final_stats=1 "$corpus" >"$corpus.log" 2>&1); then
    echo "$fuzzer: $(grep -E '^stat::number_of_executed_units' "$corpus.log" | awk '{print $2}') inputs, no fault"
  else
    tail -40 "$corpus.log"
    echo "$fuzzer: FAILED (the input is in the log above)"
    status=1
  fi
  rm -rf "$corpus" "$corpus.log"
done
# 32-bit Windows programs (the x86 module's tests, the 32-bit clients, the
# setup program) need a kernel that runs 32-bit programs. A machine whose
# kernel refuses them ("Exec format error") cannot run them at all: say so
# loudly and run the rest, rather than fail on the machine.
x64_skip=()
arches=(x64 x86)
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "== NOT RUN: this machine's kernel cannot run 32-bit programs (/usr/lib/wine/wine: $(
    /usr/lib/wine/wine --version 2>&1 | head -1)):"
  echo "   the x86 module's tests and the tests with 32-bit programs (side_by_side, sharing, setup_program)"
  echo "   were built but are skipped here; they run on any machine with 32-bit support"
  x64_skip=(-E '^(side_by_side|sharing|setup_program)$')
  arches=(x64)
fi
for arch in "${arches[@]}"; do
  echo "== Windows tests under Wine ($arch)"
  if [ "$arch" = x64 ]; then
    (cd build/$arch && ctest --output-on-failure "${x64_skip[@]}") || status=1
  else
    (cd build/$arch && ctest --output-on-failure) || status=1
  fi
  WINEPREFIX="$root/build/$arch/wineprefix" wineserver -k 2>/dev/null || true
done

if [ $status -ne 0 ]; then
  echo "== FAILED"
  exit 1
fi
echo "== all tests passed"
