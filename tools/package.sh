#!/usr/bin/env bash
# Builds the setup program, build/package/KV20X-Setup-<version>.exe, from the
# Release builds of both modules (build/x64 and build/x86), with NSIS. The
# version is the project's (CMakeLists.txt), the one the modules' version
# resources carry.
#
# Signing: with KV20X_SIGN_CERT (a PKCS#12 file: certificate and private
# key) and KV20X_SIGN_PASSWORD (its password) set, both modules and the setup
# program are signed with osslsigncode, timestamped by KV20X_SIGN_TIMESTAMP
# (default http://timestamp.digicert.com) when that server answers. Without
# a certificate the setup is built unsigned, and says so.
#
#   package.sh [--version V] [--module64 FILE] [--module32 FILE] [--output DIR]
# The options stand in for the defaults in tests only (an older or newer
# setup, a module that cannot be registered).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(KV20X VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
module64=$root/build/x64/KV20X.ax
module32=$root/build/x86/KV20X.ax
output=$root/build/package
while [ $# -gt 0 ]; do
  case $1 in
    --version) version=$2; shift 2 ;;
    --module64) module64=$(readlink -f "$2"); shift 2 ;;
    --module32) module32=$(readlink -f "$2"); shift 2 ;;
    --output) output=$2; shift 2 ;;
    *) echo "usage: package.sh [--version V] [--module64 FILE] [--module32 FILE] [--output DIR]" >&2; exit 2 ;;
  esac
done
for module in "$module64" "$module32"; do
  [ -f "$module" ] || { echo "package: $module is missing: build both modules first" >&2; exit 1; }
done
mkdir -p "$output"
output=$(readlink -f "$output")
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/x64" "$stage/x86"
cp "$module64" "$stage/x64/KV20X.ax"
cp "$module32" "$stage/x86/KV20X.ax"

signing=0
if [ -n "${KV20X_SIGN_CERT:-}" ]; then
  [ -f "$KV20X_SIGN_CERT" ] || { echo "package: KV20X_SIGN_CERT names no file" >&2; exit 1; }
  signing=1
  timestamp=(); server=${KV20X_SIGN_TIMESTAMP:-http://timestamp.digicert.com}
  if curl -s -o /dev/null --max-time 5 "$server"; then
    timestamp=(-ts "$server")
  else
    echo "package: the timestamp server $server does not answer: signing without a timestamp"
  fi
fi
sign() {  # sign <file>: signs it in place
  local signed=$1.signed
  osslsigncode sign -pkcs12 "$KV20X_SIGN_CERT" -pass "${KV20X_SIGN_PASSWORD:-}" -h sha256 \
    -n "Quorl T5R 3.1M Camera" "${timestamp[@]}" -in "$1" -out "$signed" >/dev/null
  mv "$signed" "$1"
}
if [ $signing = 1 ]; then
  sign "$stage/x64/KV20X.ax"
  sign "$stage/x86/KV20X.ax"
fi

setup=$output/KV20X-Setup-$version.exe
makensis -V2 -DVERSION="$version" -DMODULE64="$stage/x64/KV20X.ax" -DMODULE32="$stage/x86/KV20X.ax" \
  -DOUTFILE="$setup" "$root/tools/installer/kv20x.nsi" >"$stage/makensis.log" ||
  { cat "$stage/makensis.log" >&2; exit 1; }
if [ $signing = 1 ]; then
  sign "$setup"
  echo "package: $setup (signed)"
else
  echo "package: $setup (unsigned: set KV20X_SIGN_CERT and KV20X_SIGN_PASSWORD to sign)"
fi
