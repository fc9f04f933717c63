#!/usr/bin/env bash
# Signs one executable in place with osslsigncode (Authenticode, SHA-256) and
# timestamps it, for tools/package.sh: the modules, the setup program, and
# (through makensis's !uninstfinalize) the uninstaller before it goes into
# the setup.
#   sign.sh <file>
# From the environment:
#   KV20X_SIGN_CERT          the PKCS#12 file: certificate and private key
#   KV20X_SIGN_PASSWORD      its password; handed to osslsigncode through a
#                            pipe, so it never shows on a command line
#   KV20X_SIGN_TIMESTAMP     the RFC 3161 timestamp server
#                            (default http://timestamp.digicert.com)
#   KV20X_SIGN_NO_TIMESTAMP  1: a timestamp server that gives no timestamp
#                            leaves the file signed without one (the signature
#                            then ends with the certificate); otherwise that
#                            is an error
set -euo pipefail
file=$1
server=${KV20X_SIGN_TIMESTAMP:-http://timestamp.digicert.com}
# An answer that has not come by then does not come (a server that takes the
# connection and never answers would otherwise hold the build).
limit=60
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '%s' "${KV20X_SIGN_PASSWORD:-}" |
  osslsigncode sign -pkcs12 "$KV20X_SIGN_CERT" -readpass - -h sha256 -n "Quorl T5R 3.1M Camera" \
    -in "$file" -out "$work/signed" >"$work/sign.log" 2>&1 ||
  { echo "sign: $file could not be signed:" >&2; sed 's/^/sign:   /' "$work/sign.log" >&2; exit 1; }

if timeout "$limit" osslsigncode add -ts "$server" -in "$work/signed" -out "$work/stamped" >"$work/stamp.log" 2>&1
then
  mv "$work/stamped" "$file"
elif [ "${KV20X_SIGN_NO_TIMESTAMP:-}" = 1 ]; then
  echo "sign: the timestamp server $server gave no timestamp: $(basename "$file") is signed WITHOUT one" \
    "(KV20X_SIGN_NO_TIMESTAMP=1); its signature ends with the certificate" >&2
  mv "$work/signed" "$file"
else
  echo "sign: the timestamp server $server gave no timestamp for $(basename "$file"):" >&2
  grep -E 'HTTP|failure|failed|error' "$work/stamp.log" | head -3 | sed 's/^/sign:   /' >&2 || true
  echo "sign: a signature without a timestamp becomes invalid when the certificate expires; set" \
    "KV20X_SIGN_TIMESTAMP to a server that answers, or KV20X_SIGN_NO_TIMESTAMP=1 to sign without one" >&2
  exit 1
fi
