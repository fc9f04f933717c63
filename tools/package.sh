#!/usr/bin/env bash
# Builds the setup program, build/package/KV20X-Setup-<version>.exe, from the
# Release builds of both modules (build/x64 and build/x86), with NSIS. The
# version is the project's (CMakeLists.txt), the one the modules' version
# resources carry.
#
# Signing: with KV20X_SIGN_CERT (a PKCS#12 file: certificate and private
# key) and KV20X_SIGN_PASSWORD (its password) set, both modules, the
# uninstaller and the setup program are signed and timestamped by
# tools/installer/sign.sh (which says how the timestamp server is chosen,
# and when a file may be signed without a timestamp). Without a certificate
# the setup is built unsigned, and says so.
#
#   package.sh [--version V] [--module64 FILE] [--module32 FILE] [--output DIR]
#              [--test-native-machine N]
# The options stand in for the defaults in tests only (an older or newer
# setup, a module that cannot be registered, a setup that takes the
# processor IMAGE_FILE_MACHINE N as the machine's own, to show a refusal the
# test machine cannot show otherwise). A release is built without them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^project(KV20X VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
module64=$root/build/x64/KV20X.ax
module32=$root/build/x86/KV20X.ax
output=$root/build/package
defines=()
usage="usage: package.sh [--version V] [--module64 FILE] [--module32 FILE] [--output DIR] [--test-native-machine N]"
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }
  case $1 in
    --version) version=$2 ;;
    --module64) module64=$(readlink -f "$2") ;;
    --module32) module32=$(readlink -f "$2") ;;
    --output) output=$2 ;;
    --test-native-machine) defines+=(-DTEST_NATIVE_MACHINE="$2") ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
  shift 2
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

sign=$root/tools/installer/sign.sh
signing=0
if [ -n "${KV20X_SIGN_CERT:-}" ]; then
  [ -f "$KV20X_SIGN_CERT" ] || { echo "package: KV20X_SIGN_CERT names no file" >&2; exit 1; }
  signing=1
  "$sign" "$stage/x64/KV20X.ax"
  "$sign" "$stage/x86/KV20X.ax"
  # makensis signs the uninstaller with the same script before it puts it
  # into the setup; the script takes the certificate from the environment.
  defines+=(-DSIGN_COMMAND="\"$sign\"")
fi

setup=$output/KV20X-Setup-$version.exe
makensis -WX -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DMODULE64="$stage/x64/KV20X.ax" \
  -DMODULE32="$stage/x86/KV20X.ax" -DOUTFILE="$setup" "${defines[@]}" "$root/tools/installer/kv20x.nsi" \
  >"$stage/makensis.log" 2>&1 ||
  { cat "$stage/makensis.log" >&2; rm -f "$setup"; exit 1; }
if [ $signing = 1 ]; then
  "$sign" "$setup" || { rm -f "$setup"; exit 1; }
  echo "package: $setup (signed)"
else
  echo "package: $setup (unsigned: set KV20X_SIGN_CERT and KV20X_SIGN_PASSWORD to sign)"
fi
