#!/usr/bin/env bash
# The Windows installer under wine64, made by CPack (cpack -G NSIS): one table of cases, run one
# after the other in a wine prefix of its own. Each checks the exit status of every silent install
# and uninstall, that what an install puts in place is there after it, and that nothing is left
# after a failed install or an uninstall (so every case starts from a clean prefix).
#
#   installer.sh WINE_RUN PREFIX BUILD_DIR WORK_DIR
set -euo pipefail
wine_run=$1 prefix=$2 build=$3 work=$4

# A wine server left from an earlier run would write into the prefix as it goes.
if [ -d "$prefix" ]; then WINEPREFIX=$prefix wineserver -k 2>/dev/null || true; fi
rm -rf "$work" "$prefix" "$prefix".lock
mkdir -p "$work"
win() { "$wine_run" "$prefix" "$@"; }
failures=0
fail() { echo "FAIL  $*"; failures=$((failures + 1)); }

(cd "$build" && cpack -G NSIS -D CPACK_PACKAGE_DIRECTORY="$work" \
   -D CPACK_PACKAGE_FILE_NAME=setup >/dev/null)
setup=$work/setup.exe
file "$setup" | grep -q 'PE32+ executable.*x86-64' || fail "not a 64-bit installer: $(file "$setup")"

profile='C:\users\'$(id -un)
home=$profile'\AppData\Local\Programs\Splitter'
# The Unix path of a path on wine's C: drive.
unix() { local p=${1#C:\\}; printf '%s/drive_c/%s' "$prefix" "${p//\\//}"; }

# Everything an install for MODE (user, all) into FOLDER puts in place, present (1) or absent
# (0): files, registry keys, the folder on the PATH.
check() {
  local want=$1 mode=$2 folder=$3 when=$4 root=HKCU env='HKCU\Environment' item path
  local items=("$folder\splitter.exe" "$folder\splitter-cli.exe" "$folder\README.txt"
    "$folder\LICENSE.txt" "$folder\Uninstall.exe" "$profile\AppData\Roaming\Microsoft\Windows\SendTo\Splitter.lnk"
    "$profile\AppData\Roaming\Microsoft\Windows\Start Menu\Programs\Splitter.lnk") state=(left missing)
  if [ "$mode" = all ]; then
    root=HKLM env='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
    items[6]='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Splitter.lnk'
    items+=('C:\users\Default\AppData\Roaming\Microsoft\Windows\SendTo\Splitter.lnk')
  fi
  for item in "${items[@]}"; do
    [ "$([ -e "$(unix "$item")" ] && echo 1 || echo 0)" = "$want" ] || fail "$when: $item ${state[$want]}"
  done
  for item in 'Software\Classes\*\shell\Splitter\command' 'Software\Microsoft\Windows\CurrentVersion\Uninstall\Splitter'; do
    [ "$(win reg query "$root\\$item" >/dev/null 2>&1 && echo 1 || echo 0)" = "$want" ] ||
      fail "$when: $root\\$item ${state[$want]}"
  done
  path=$(win reg query "$env" /v Path 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_[A-Z_]*  *//p' || true)
  [ "$(grep -qiF ";$folder;" <<<";$path;" && echo 1 || echo 0)" = "$want" ] ||
    fail "$when: $folder on the PATH ${state[$want]}: $path"
  [ "$want" = 1 ] || [ ! -e "$(unix "$folder")" ] || fail "$when: $folder left: $(ls -A "$(unix "$folder")")"
}

# Runs a wine program silently: WANT is 0 for success, 1 for a failure that must not look like one.
expect() {
  local want=$1 what=$2 status=0
  shift 2
  win "$@" >/dev/null 2>&1 || status=$?
  [ "$([ "$status" = 0 ] && echo 0 || echo 1)" = "$want" ] || fail "$what ended with $status"
}

# The uninstaller of FOLDER, run as its own copy (_?=), whose exit status is the run's; it stays,
# as it does with _?=, and goes with the folder.
uninstall() {
  expect "$1" "$3: the uninstall" "$(unix "$2")/Uninstall.exe" /S "_?=$2"
  [ "$1" = 1 ] || { rm -f "$(unix "$2")/Uninstall.exe"; rmdir "$(unix "$2")" 2>/dev/null || true; }
}

# Runs a wine program while splitter.exe from PROGRAM runs with its window up (it holds the mutex
# the installer looks for before it makes the window), on an X server of its own: the program
# must fail (99: the window did not show within 60 s).
while_running() {
  local what=$1 status
  shift
  status=$(xvfb-run -a bash -c '
    "$1" "$2" "$3" >/dev/null 2>&1 &
    for ((i = 0; i < 600; i++)); do xdotool search --name Splitter >/dev/null 2>&1 && break; sleep 0.1; done
    status=99
    if xdotool search --name Splitter >/dev/null 2>&1; then
      status=0
      env -u DISPLAY "$1" "$2" "${@:4}" >/dev/null 2>&1 || status=$?
    fi
    WINEPREFIX=$2 wineserver -k 2>/dev/null || true
    wait
    echo "$status"' bash "$wine_run" "$prefix" "$@")
  [ "$status" != 0 ] && [ "$status" != 99 ] || fail "$what while Splitter runs ended with $status"
}

case_per_user() {
  expect 0 "the install" "$setup" /S
  check 1 user "$home" "after the install"
  grep -qF "\"$home\\splitter.exe\" \"%1\"" <<<"$(win reg query 'HKCU\Software\Classes\*\shell\Splitter\command' /ve 2>&1)" ||
    fail "the right-click command is not splitter.exe \"%1\""
  grep -q "installed" "$(unix "$home")/README.txt" || fail "the installer's README.txt is the zip's"
  head -c 100000 /dev/urandom >"$work/data.bin"
  win "$(unix "$home")/splitter-cli.exe" "Z:${work//\//\\}\\data.bin" 3 >/dev/null &&
    cat "$work"/data.bin.[012] | cmp -s - "$work/data.bin" || fail "the installed splitter-cli.exe did not split"
  # As Apps & features runs it: on from a copy of itself, so wait for it, bounded.
  expect 0 "the uninstall" "$(unix "$home")/Uninstall.exe" /S
  for ((i = 0; i < 300; i++)); do [ -e "$(unix "$home")" ] || break; sleep 0.1; done
  check 0 user "$home" "after the uninstall"
}
case_unwritable_folder() {
  expect 1 "an install into Z:\\proc\\x" "$setup" /S '/D=Z:\proc\x'
  check 0 user 'Z:\proc\x' "after an install into Z:\\proc\\x"
}
case_running_at_install() {
  while_running "an install" "$build/splitter.exe" "$setup" /S
  check 0 user "$home" "after an install while Splitter runs"
}
case_running_at_uninstall() {
  expect 0 "the install" "$setup" /S
  while_running "an uninstall" "$(unix "$home")/splitter.exe" "$(unix "$home")/Uninstall.exe" /S "_?=$home"
  check 1 user "$home" "after an uninstall while Splitter runs"
  uninstall 0 "$home" "once Splitter has ended"
  check 0 user "$home" "after the uninstall"
}
case_all_users_with_folder() {
  local folder='C:\Tools\Splitter'
  expect 0 "/AllUsers /D=$folder" "$setup" /S /AllUsers "/D=$folder"
  check 1 all "$folder" "after /AllUsers /D=$folder"
  ! win reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Splitter' >/dev/null 2>&1 ||
    fail "/AllUsers made a per-user Apps & features entry"
  uninstall 0 "$folder" "/AllUsers /D=$folder"
  check 0 all "$folder" "after the uninstall of /AllUsers /D=$folder"
}
case_second_folder() {
  local first='C:\First\Splitter' second='C:\Second\Splitter'
  expect 0 "the install into $first" "$setup" /S "/D=$first"
  expect 0 "the install into $second" "$setup" /S "/D=$second"
  [ ! -e "$(unix "$first")" ] || fail "the first copy is left: $(ls -A "$(unix "$first")")"
  grep -qF "$second" <<<"$(win reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Splitter' /v InstallLocation 2>&1)" ||
    fail "the registered copy is not the one in $second"
  check 1 user "$second" "after the install into $second"
  uninstall 0 "$second" "the copy in $second"
  check 0 user "$second" "after the uninstall of the copy in $second"
}

for case in per_user unwritable_folder running_at_install running_at_uninstall \
            all_users_with_folder second_folder; do
  before=$failures
  "case_$case"
  [ "$failures" != "$before" ] || echo "ok    $case"
done
if [ "$failures" = 0 ]; then rm -rf "$work"; fi
exit $((failures > 0))
