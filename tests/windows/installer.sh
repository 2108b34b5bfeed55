#!/usr/bin/env bash
# The Windows installer under wine64: made by CPack (cpack -G NSIS), installed silently into a
# fresh wine prefix, used, uninstalled silently; what it puts in place must be there after the
# install and gone after the uninstall.
#
#   installer.sh WINE_RUN PREFIX BUILD_DIR WORK_DIR
set -euo pipefail
wine_run=$1 prefix=$2 build=$3 work=$4

rm -rf "$work" "$prefix" "$prefix".lock
mkdir -p "$work"
win() { "$wine_run" "$prefix" "$@"; }
failures=0
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }

(cd "$build" && cpack -G NSIS -D CPACK_PACKAGE_DIRECTORY="$work" \
   -D CPACK_PACKAGE_FILE_NAME=setup >/dev/null)
file "$work/setup.exe" | grep -q 'PE32+ executable.*x86-64' || fail "not a 64-bit installer: $(file "$work/setup.exe")"
win "$work/setup.exe" /S || fail "the silent install ended with $?"

profile=$prefix/drive_c/users/$(id -un)
home=$profile/AppData/Local/Programs/Splitter
# What the install puts in place: files under the prefix, and registry keys (HKCU: for the user
# who installed it).
files=("$home/splitter.exe" "$home/splitter-cli.exe" "$home/README.txt" "$home/Uninstall.exe"
       "$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Splitter.lnk"
       "$profile/AppData/Roaming/Microsoft/Windows/SendTo/Splitter.lnk")
keys=('HKCU\Software\Classes\*\shell\Splitter\command'
      'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Splitter')
# Every item of the table, present (1) or absent (0).
check() {
  local want=$1 when=$2 f k
  for f in "${files[@]}"; do
    [ "$([ -e "$f" ] && echo 1 || echo 0)" = "$want" ] || fail "$when: ${f#"$prefix"/} $([ "$want" = 1 ] && echo missing || echo left)"
  done
  for k in "${keys[@]}"; do
    [ "$(win reg query "$k" >/dev/null 2>&1 && echo 1 || echo 0)" = "$want" ] || fail "$when: $k $([ "$want" = 1 ] && echo missing || echo left)"
  done
}
check 1 "after the install"
command=$(win reg query 'HKCU\Software\Classes\*\shell\Splitter\command' /ve 2>/dev/null || true)
grep -qF '"C:\users\'"$(id -un)"'\AppData\Local\Programs\Splitter\splitter.exe" "%1"' <<<"$command" ||
  fail "right-click command: $command"

# The installed command line splits a file.
head -c 100000 /dev/urandom >"$work/data.bin"
win "$home/splitter-cli.exe" "Z:${work//\//\\}\\data.bin" 3 >/dev/null ||
  fail "the installed splitter-cli.exe failed"
[ "$(cat "$work"/data.bin.[012] | cmp - "$work/data.bin" && echo same)" = same ] ||
  fail "the installed splitter-cli.exe did not split the file"

# The uninstaller runs on from a copy of itself: wait, bounded, for it to be done.
win "$home/Uninstall.exe" /S || fail "the silent uninstall ended with $?"
for ((i = 0; i < 300; i++)); do [ -e "$home" ] || break; sleep 0.1; done
check 0 "after the uninstall"
[ -e "$home" ] && fail "after the uninstall: the program folder is left: $(ls -A "$home")"

if [ "$failures" = 0 ]; then echo "ok    installed, used and uninstalled silently"; rm -rf "$work"; fi
exit $((failures > 0))
