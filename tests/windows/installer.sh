#!/usr/bin/env bash
# The Windows installer under wine64: made by CPack (cpack -G NSIS), then one table of cases run
# one after the other in a wine prefix of its own. Each case installs and uninstalls silently,
# checks the exit status of each, and checks that what the install puts in place is there after
# a good install and that nothing at all is left after a failed one or after the uninstall, so
# every case starts from a clean prefix.
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

user=$(id -un)
profile='C:\users\'$user
home=$profile'\AppData\Local\Programs\Splitter'
# The Unix path of a path on wine's C: drive.
unix() { local p=${1#C:\\}; printf '%s/drive_c/%s' "$prefix" "${p//\\//}"; }
environment() {
  if [ "$1" = all ]; then echo 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
  else echo 'HKCU\Environment'; fi
}

# Everything an install in MODE (user, all) into FOLDER puts in place, present (1) or absent
# (0): files, registry keys, the folder on the PATH.
check() {
  local want=$1 mode=$2 folder=$3 when=$4 root=HKCU f k path
  local files=("$folder\splitter.exe" "$folder\splitter-cli.exe" "$folder\README.txt"
               "$folder\LICENSE.txt" "$folder\Uninstall.exe"
               "$profile\AppData\Roaming\Microsoft\Windows\SendTo\Splitter.lnk")
  if [ "$mode" = all ]; then
    root=HKLM
    files+=('C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Splitter.lnk'
            'C:\users\Default\AppData\Roaming\Microsoft\Windows\SendTo\Splitter.lnk')
  else
    files+=("$profile\AppData\Roaming\Microsoft\Windows\Start Menu\Programs\Splitter.lnk")
  fi
  for f in "${files[@]}"; do
    [ "$([ -e "$(unix "$f")" ] && echo 1 || echo 0)" = "$want" ] ||
      fail "$when: $f $([ "$want" = 1 ] && echo missing || echo left)"
  done
  for k in "$root\\Software\\Classes\\*\\shell\\Splitter\\command" \
           "$root\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Splitter"; do
    [ "$(win reg query "$k" >/dev/null 2>&1 && echo 1 || echo 0)" = "$want" ] ||
      fail "$when: $k $([ "$want" = 1 ] && echo missing || echo left)"
  done
  path=$(win reg query "$(environment "$mode")" /v Path 2>/dev/null | tr -d '\r' |
    sed -n 's/.*REG_[A-Z_]*  *//p' || true)
  [ "$(grep -qiF ";$folder;" <<<";$path;" && echo 1 || echo 0)" = "$want" ] ||
    fail "$when: $folder $([ "$want" = 1 ] && echo "not on" || echo "left on") the PATH: $path"
  [ "$want" = 1 ] || [ ! -e "$(unix "$folder")" ] ||
    fail "$when: the folder is left: $(ls -A "$(unix "$folder")")"
}

# Runs a command (a wine program, silently) and expects its exit status to be 0 or not.
expect() {
  local want=$1 what=$2 status=0
  shift 2
  win "$@" >/dev/null 2>&1 || status=$?
  if [ "$want" = 0 ] && [ "$status" != 0 ]; then fail "$what ended with $status"
  elif [ "$want" != 0 ] && [ "$status" = 0 ]; then fail "$what ended with 0, as if it had worked"
  fi
}

# Uninstalls through the uninstaller's own copy (_?=FOLDER), whose exit status is the run's;
# the uninstaller itself stays, as it does with _?=, and goes with the folder.
uninstall() {
  local want=$1 folder=$2 when=$3
  expect "$want" "$when: the uninstall" "$(unix "$folder")/Uninstall.exe" /S "_?=$folder"
  if [ "$want" = 0 ]; then rm -f "$(unix "$folder")/Uninstall.exe"; rmdir "$(unix "$folder")" 2>/dev/null || true; fi
}

# Runs a command while splitter.exe from PROGRAM runs, its window up (so it holds the mutex the
# installer looks for; it takes it before it makes the window), on an X server of its own.
while_running() {
  local program=$1 status=0
  shift
  xvfb-run -a bash -c '
    program=$1 wine_run=$2 prefix=$3
    shift 3
    "$wine_run" "$prefix" "$program" >/dev/null 2>&1 &
    for ((i = 0; i < 600; i++)); do
      xdotool search --name Splitter >/dev/null 2>&1 && break
      sleep 0.1
    done
    status=0
    if ! xdotool search --name Splitter >/dev/null 2>&1; then
      echo "splitter.exe did not show its window within 60 s" >&2; status=99
    else
      env -u DISPLAY "$wine_run" "$prefix" "$@" >/dev/null 2>&1 || status=$?
    fi
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    wait
    exit $status' bash "$program" "$wine_run" "$prefix" "$@" || status=$?
  echo "$status"
}

# ---- the cases --------------------------------------------------------------------------------

case_per_user() {
  expect 0 "the silent install" "$setup" /S
  check 1 user "$home" "after the install"
  local command
  command=$(win reg query 'HKCU\Software\Classes\*\shell\Splitter\command' /ve 2>/dev/null || true)
  grep -qF "\"$home\\splitter.exe\" \"%1\"" <<<"$command" || fail "right-click command: $command"
  grep -qi "installed" "$(unix "$home")/README.txt" || fail "the installer's README is the zip's"
  # The installed command line splits a file.
  head -c 100000 /dev/urandom >"$work/data.bin"
  win "$(unix "$home")/splitter-cli.exe" "Z:${work//\//\\}\\data.bin" 3 >/dev/null ||
    fail "the installed splitter-cli.exe failed"
  [ "$(cat "$work"/data.bin.[012] | cmp - "$work/data.bin" && echo same)" = same ] ||
    fail "the installed splitter-cli.exe did not split the file"
  # As Apps & features runs it: the uninstaller runs on from a copy of itself, so wait, bounded,
  # for it to be done.
  expect 0 "the silent uninstall" "$(unix "$home")/Uninstall.exe" /S
  local i
  for ((i = 0; i < 300; i++)); do [ -e "$(unix "$home")" ] || break; sleep 0.1; done
  check 0 user "$home" "after the uninstall"
}

case_unwritable_folder() {
  expect 2 "an install into Z:\\proc\\x" "$setup" /S '/D=Z:\proc\x'
  check 0 user 'Z:\proc\x' "after an install into a folder that cannot be written"
}

case_running_at_install() {
  local status
  status=$(while_running "$build/splitter.exe" "$setup" /S)
  [ "$status" != 0 ] || fail "an install while Splitter runs ended with 0"
  [ "$status" != 99 ] || fail "an install while Splitter runs: splitter.exe did not start"
  check 0 user "$home" "after an install while Splitter runs"
}

case_running_at_uninstall() {
  expect 0 "the silent install" "$setup" /S
  local status
  status=$(while_running "$(unix "$home")/splitter.exe" "$(unix "$home")/Uninstall.exe" /S "_?=$home")
  [ "$status" != 0 ] || fail "an uninstall while Splitter runs ended with 0"
  check 1 user "$home" "after an uninstall while Splitter runs"
  uninstall 0 "$home" "once Splitter has ended"
  check 0 user "$home" "after the uninstall"
}

case_all_users_with_folder() {
  local folder='C:\Tools\Splitter'
  expect 0 "/AllUsers /D=$folder" "$setup" /S /AllUsers "/D=$folder"
  check 1 all "$folder" "after /AllUsers /D=$folder"
  ! win reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Splitter' \
    >/dev/null 2>&1 || fail "/AllUsers /D=$folder made a per-user Apps & features entry"
  uninstall 0 "$folder" "/AllUsers /D=$folder"
  check 0 all "$folder" "after the uninstall of /AllUsers /D=$folder"
}

case_second_folder() {
  local first='C:\First\Splitter' second='C:\Second\Splitter'
  expect 0 "the install into $first" "$setup" /S "/D=$first"
  expect 0 "the install into $second" "$setup" /S "/D=$second"
  [ ! -e "$(unix "$first")" ] || fail "the first copy is left in $first: $(ls -A "$(unix "$first")")"
  local location
  location=$(win reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Splitter' \
    /v InstallLocation 2>/dev/null | tr -d '\r' || true)
  grep -qF "$second" <<<"$location" || fail "the registered copy is not $second: $location"
  check 1 user "$second" "after the second install"
  uninstall 0 "$second" "the second copy"
  check 0 user "$second" "after the uninstall of the second copy"
  check 0 user "$first" "after the uninstall of the second copy"
}

for case in per_user unwritable_folder running_at_install running_at_uninstall \
            all_users_with_folder second_folder; do
  before=$failures
  "case_$case"
  [ "$failures" != "$before" ] || echo "ok    $case"
done

if [ "$failures" = 0 ]; then rm -rf "$work"; fi
exit $((failures > 0))
