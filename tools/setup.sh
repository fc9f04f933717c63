#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the main job need
# (skipping what is present), prepares the WoW64 Wine prefixes of both build
# trees and fetches the Windows ffmpeg clients the end-to-end tests use.
# Safe to run again; a second run takes seconds.
#
# A package registry is not always perfect: a mirror in the middle of a sync
# serves an index of the wrong size, and `apt-get update` fails on it. So:
# - the update is tried up to KV20X_APT_TRIES times (default 3), with a
#   pause of KV20X_APT_PAUSE seconds (default 10) between tries;
# - a failed update is no failure by itself: the install goes on with the
#   indexes that did arrive;
# - when the install then fails because the 32-bit side lacks an index that
#   the 64-bit side has (typically the security suite's), so that the 32-bit
#   libraries cannot match the versions of the 64-bit ones, it is tried once
#   more with every package from the release's own suite, whose indexes both
#   sides have;
# - when that fails as well, it says which packages could not be had and
#   which indexes were missing, and exits with 100, as apt-get does.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake ninja-build g++ make
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 xvfb xauth fonts-wqy-microhei
  googletest libgtest-dev libbenchmark-dev
  ffmpeg valgrind clang libclang-rt-14-dev
  nsis osslsigncode openssl curl
  libopencv-core-dev libopencv-imgproc-dev
)

tries=${KV20X_APT_TRIES:-3}
pause=${KV20X_APT_PAUSE:-10}
log_dir=$(mktemp -d)
trap 'rm -rf "$log_dir"' EXIT

as_root=()
if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi
export DEBIAN_FRONTEND=noninteractive

# The update, tried a few times. Its failures are remembered for the report.
update_indexes() {
  local try
  for ((try = 1; try <= tries; try++)); do
    if "${as_root[@]}" apt-get update -q >"$log_dir/update.log" 2>&1; then
      return 0
    fi
    grep -E '^(E|W|Err):' "$log_dir/update.log" >"$log_dir/update-errors" || true
    echo "setup: package index update failed (try $try of $tries):" >&2
    sed 's/^/setup:   /' "$log_dir/update-errors" >&2
    if ((try < tries)); then sleep "$pause"; fi
  done
  echo "setup: going on with the indexes that did arrive" >&2
  return 1
}

# The suite the system was released with (bookworm, say); empty if unknown.
release_suite() {
  local codename=""
  if [ -r /etc/os-release ]; then
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  fi
  echo "$codename"
}

install_packages() {  # extra apt-get arguments...
  "${as_root[@]}" apt-get install -y -q --no-install-recommends "$@" "${missing[@]}" \
    >"$log_dir/install.log" 2>&1
}

# Why each missing package cannot be had, one line each, from a dry run of
# that package alone.
explain_failure() {
  echo "setup: could not install the packages the build needs." >&2
  local package reason
  for package in "${missing[@]}"; do
    if ! apt-get install -s -q --no-install-recommends "$package" >"$log_dir/one.log" 2>&1; then
      reason=$(grep -E 'Depends:|Unable to locate|has no installation candidate|^E:' "$log_dir/one.log" \
        | head -3 | sed 's/^ *//' | paste -sd';' -)
      echo "setup:   $package: ${reason:-see apt-get install $package}" >&2
    fi
  done
  if [ -s "$log_dir/update-errors" ]; then
    echo "setup: the package index update had failed on:" >&2
    sed 's/^/setup:   /' "$log_dir/update-errors" >&2
    if grep -q 'i386' "$log_dir/update-errors"; then
      echo "setup: the 32-bit (i386) side lacks an index the 64-bit side has, so 32-bit packages such as" \
        "wine32:i386 cannot match the versions of the 64-bit libraries; run tools/setup.sh again" \
        "when the mirror has finished its sync." >&2
    fi
  else
    echo "setup: apt-get said:" >&2
    tail -20 "$log_dir/install.log" | sed 's/^/setup:   /' >&2
  fi
}

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  # The 32-bit module runs under 32-bit Wine, which comes from the i386 side.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
  fi
  : >"$log_dir/update-errors"
  update_indexes || true
  if ! install_packages; then
    suite=$(release_suite)
    if [ -s "$log_dir/update-errors" ] && [ -n "$suite" ]; then
      echo "setup: the install failed with an index missing; trying again with every package from $suite" \
        "itself, whose indexes both architectures have" >&2
      if install_packages -t "$suite"; then
        echo "setup: installed from $suite (without the updates whose index was missing)" >&2
      else
        explain_failure
        exit 100
      fi
    else
      explain_failure
      exit 100
    fi
  fi
fi

# Both build trees' Wine prefixes, WoW64 prefixes.
for tree in x64 x86; do
  "$root/tools/wine-prefix.sh" "$root/build/$tree/wineprefix"
done

# A real client nobody here wrote: Windows builds of ffmpeg 4.1 of both
# bitnesses, from the npm registry (npm checks the packages' integrity).
clients=$root/build/clients
for client in "ia32 x86" "x64 x64"; do
  set -- $client
  if [ ! -f "$clients/ffmpeg-$2/ffmpeg.exe" ]; then
    echo "setup: fetching the $2 Windows ffmpeg"
    download=$(mktemp -d)
    (cd "$download" && npm pack --silent "@ffmpeg-installer/win32-$1@4.1.0" >/dev/null)
    mkdir -p "$clients/ffmpeg-$2"
    tar -xzf "$download"/*.tgz -C "$clients/ffmpeg-$2" --strip-components=1 package/ffmpeg.exe
    rm -rf "$download"
  fi
done
echo "setup: ready"
