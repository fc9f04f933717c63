#!/usr/bin/env bash
# tools/setup.sh against a package registry that misbehaves: apt-get, dpkg,
# dpkg-query and sudo are replaced on PATH by stubs that play a mirror
# serving a bad index (an update that fails once, or every time, on the
# 32-bit side's security index), an install that fails unless every package
# comes from the release's own suite, and one that fails outright. Each case
# checks the exit code, how often the update was tried, the install commands
# and what the script says. Nothing is installed: the script runs from a
# copy in a folder of its own, with the Wine prefix script stubbed and the
# Windows clients already "there".
#   setup_script_test.sh
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap '[ -n "${KV20X_KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0
expect() {  # expect <description> <condition...>
  local what=$1; shift
  if "$@"; then echo "ok:   $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
says() { grep -qF -- "$1" "$work/out"; }
suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")

# The copy of the script, in a tree of its own.
mkdir -p "$work/tree/tools" "$work/tree/build/clients/ffmpeg-x86" "$work/tree/build/clients/ffmpeg-x64"
cp "$root/tools/setup.sh" "$work/tree/tools/setup.sh"
touch "$work/tree/build/clients/ffmpeg-x86/ffmpeg.exe" "$work/tree/build/clients/ffmpeg-x64/ffmpeg.exe"
printf '#!/bin/sh\necho "$@" >>"%s/prefixes"\n' "$work" >"$work/tree/tools/wine-prefix.sh"

# The stubs. Every call is logged in calls; the case's behaviour comes from
# the environment: STUB_MISSING (packages not installed), STUB_UPDATE_FAILS
# (how many updates fail; "all" for every one), STUB_INSTALL (ok, fail,
# release-only: fails unless -t <suite>).
stubs=$work/stubs
mkdir -p "$stubs"
cat >"$stubs/apt-get" <<EOF
#!/usr/bin/env bash
echo "apt-get \$*" >>"$work/calls"
case "\$1" in
  update)
    count=\$(( \$(cat "$work/updates" 2>/dev/null || echo 0) + 1 ))
    echo \$count >"$work/updates"
    if [ "\$STUB_UPDATE_FAILS" = all ] || [ \$count -le "\$STUB_UPDATE_FAILS" ]; then
      echo "Get:1 http://deb.example/debian $suite InRelease"
      echo "E: Failed to fetch http://deb.example/debian-security/dists/$suite-security/main/binary-i386/Packages.xz  File has unexpected size (49796 != 49808). Mirror sync in progress? [IP: 192.0.2.1 80]"
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
      exit 100
    fi
    exit 0 ;;
  install)
    if [[ " \$* " == *" -s "* ]]; then
      # A dry run of one package: why it cannot be had.
      case "\${@: -1}" in
        wine32:i386) echo " wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4+deb12u1) but 8.0~repack-4 is to be installed"
                     echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;;
        nsis) echo "E: Unable to locate package nsis"; exit 100 ;;
        *) exit 0 ;;
      esac
    fi
    case "\$STUB_INSTALL" in
      ok) exit 0 ;;
      release-only) [[ " \$* " == *" -t $suite "* ]] && exit 0 ;;
    esac
    echo "E: Unable to correct problems, you have held broken packages."
    exit 100 ;;
esac
exit 0
EOF
cat >"$stubs/dpkg-query" <<'EOF'
#!/usr/bin/env bash
package=${@: -1}
for missing in $STUB_MISSING; do
  [ "$missing" = "$package" ] && exit 1
done
printf 'install ok installed'
EOF
cat >"$stubs/dpkg" <<EOF
#!/usr/bin/env bash
echo "dpkg \$*" >>"$work/calls"
[ "\$1" = --print-foreign-architectures ] && echo i386
exit 0
EOF
printf '#!/bin/sh\nexec "$@"\n' >"$stubs/sudo"
chmod +x "$stubs"/* "$work/tree/tools/"*.sh

run() {  # run <missing> <update failures> <install>: runs the script; $? is its exit code
  rm -f "$work/calls" "$work/updates" "$work/prefixes"
  touch "$work/calls"
  STUB_MISSING=$1 STUB_UPDATE_FAILS=$2 STUB_INSTALL=$3 KV20X_APT_TRIES=3 KV20X_APT_PAUSE=0 PATH="$stubs:$PATH" \
    timeout 60 bash "$work/tree/tools/setup.sh" >"$work/out" 2>&1 </dev/null
}
updates() { grep -c '^apt-get update' "$work/calls"; }
installs() { grep '^apt-get install' "$work/calls" | grep -v -- ' -s ' ; }

echo "== everything installed: no registry asked"
run "" 0 ok
expect "the setup succeeds (exit $?)" test $? -eq 0
expect "without apt-get" test ! -s "$work/calls"
expect "the prefixes of both trees are made" test "$(wc -l <"$work/prefixes")" -eq 2

echo "== the first update fails, the second works"
run "nsis wine32:i386" 1 ok
expect "the setup succeeds (exit $?)" test $? -eq 0
expect "after two updates ($(updates))" test "$(updates)" -eq 2
expect "it says the update failed, with the index" says "package index update failed (try 1 of 3)"
expect "naming the index that failed" says "binary-i386/Packages.xz  File has unexpected size"
expect "one install of the missing packages" test "$(installs)" = \
  "apt-get install -y -q --no-install-recommends wine32:i386 nsis"

echo "== every update fails, the install works with the indexes that arrived"
run "nsis" all ok
expect "the setup succeeds (exit $?)" test $? -eq 0
expect "after KV20X_APT_TRIES updates ($(updates))" test "$(updates)" -eq 3
expect "it goes on with what arrived" says "going on with the indexes that did arrive"
expect "one install" test "$(installs | wc -l)" -eq 1

echo "== the 32-bit side lacks an index: the release's own suite"
run "wine32:i386" all release-only
expect "the setup succeeds (exit $?)" test $? -eq 0
expect "the install is tried again from $suite" test "$(installs | tail -1)" = \
  "apt-get install -y -q --no-install-recommends -t $suite wine32:i386"
expect "and it says why" says "trying again with every package from $suite"
expect "and what it left out" says "installed from $suite (without the updates whose index was missing)"

echo "== nothing helps: it says which package and why"
run "wine32:i386 cmake" all fail
expect "the setup fails with apt-get's code (exit $?)" test $? -eq 100
expect "after two installs" test "$(installs | wc -l)" -eq 2
expect "it names the package and its broken dependency" \
  says "wine32:i386: wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4+deb12u1) but 8.0~repack-4 is to be installed"
expect "and the index that was missing" says "binary-i386/Packages.xz"
expect "and that the 32-bit side lacks it" says "the 32-bit (i386) side lacks an index the 64-bit side has"
expect "the package that can be had is not named" bash -c "! grep -q '^setup:   cmake:' '$work/out'"
expect "no prefix is made" test ! -e "$work/prefixes"

echo "== the update works but a package cannot be found"
run "nsis" 0 fail
expect "the setup fails (exit $?)" test $? -eq 100
expect "with one install, not from the release suite" test "$(installs | wc -l)" -eq 1
expect "it names the package" says "nsis: E: Unable to locate package nsis"
expect "and quotes apt-get" says "setup: apt-get said:"

if [ $failures -ne 0 ]; then
  echo "setup_script_test: $failures checks failed; the last run said:"; cat "$work/out"
  exit 1
fi
echo "setup_script_test: all checks passed"
