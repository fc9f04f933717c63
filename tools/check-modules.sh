#!/usr/bin/env bash
# Checks what a host sees of each built module: exactly the five entry points
# by name with ordinals 1 to 5, and imports of system DLLs only (no mingw
# runtime DLL); and that vector registers appear only in the image
# pipeline's kernels for their instruction set, entered after the processor
# has been asked: none beyond SSE2 elsewhere in the 64-bit module, none at
# all elsewhere in the 32-bit one. Usage: check-modules.sh build-dir...
set -euo pipefail
allowed='^(kernel32|user32|gdi32|advapi32|ole32|oleaut32|comctl32|msvcrt|ntdll|api-ms-win-[a-z0-9-]+)\.dll$'
status=0
for dir in "$@"; do
  module="$dir/KV20X.ax"
  if [ ! -f "$module" ]; then
    echo "check-modules: $module not built yet, skipped"
    continue
  fi
  dump=$(x86_64-w64-mingw32-objdump -p "$module")
  # "[ i] Name" lines: entry i carries ordinal base + i, the base being 1.
  exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\][[:space:]]*\(.*\)$/\1 \2/p' |
    while read -r index name; do echo "$((index + 1)) $name"; done)
  base=$(printf '%s\n' "$dump" | sed -n 's/.*Export Address Table -- Ordinal Base \([0-9]*\).*/\1/p')
  if [ "$base" != "1" ]; then
    echo "check-modules: $module has ordinal base '$base'"; status=1
  fi
  expected=$'1 DllCanUnloadNow\n2 DllGetClassObject\n3 DllMain\n4 DllRegisterServer\n5 DllUnregisterServer'
  if [ "$exports" != "$expected" ]; then
    echo "check-modules: $module exports are wrong:"; printf '%s\n' "$exports"; status=1
  fi
  imports=$(printf '%s\n' "$dump" | awk '/DLL Name:/{print tolower($3)}' | sort -u)
  for dll in $imports; do
    if ! [[ $dll =~ $allowed ]]; then
      echo "check-modules: $module imports $dll, which a host does not have"; status=1
    fi
  done
  if printf '%s\n' "$dump" | grep -q 'file format pei-i386'; then
    registers='%[xyz]mm'
  else
    registers='%[yz]mm'
  fi
  strays=$(x86_64-w64-mingw32-objdump -d --no-show-raw-insn "$module" |
    awk -v registers="$registers" '/^[0-9a-f]+ <.*>:$/ { fn = $2; next }
      $0 ~ registers && fn !~ /(Sse2Ops|Ssse3Ops|Avx2Ops|Avx512Ops)/ { print fn }' | sort -u)
  if [ -n "$strays" ]; then
    echo "check-modules: $module uses vector registers outside the kernels:"; printf '%s\n' "$strays"; status=1
  fi
  echo "check-modules: $module exports ok; imports: $(echo $imports); vector code in the kernels only"
done
exit $status
