#!/usr/bin/env bash
# The join script under a real command interpreter: splitter-cli.exe cuts a file under wine,
# wine's cmd runs the script in the parts' folder, and the rebuilt file must equal the source
# byte for byte.
#
#   join_under_cmd.sh WINE_RUN PREFIX CLI_EXE WORK_DIR GROUP [LINUX_CLI]
#
# Each GROUP is one CTest test. Every case prints one line; any failed case fails the group.
# LINUX_CLI, the splitter-cli of the Linux build, makes the scripts of the cases split on Linux.
set -euo pipefail
wine_run=$1 prefix=$2 cli=$3 work=$4 group=$5 linux_cli=${6:-}

failures=0
fail() {
  echo "FAIL  $*"
  failures=$((failures + 1))
}

win() { "$wine_run" "$prefix" "$@"; }

# The Windows path wine gives a Unix path (its Z: drive).
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# A source of `size` bytes that holds what a text-mode copy would damage: NUL, CR LF, Ctrl-Z.
make_source() {
  local path=$1 size=$2
  { printf 'A\0B\r\nC\x1aD'; head -c "$size" /dev/urandom; } >"$path"
  truncate -s "$size" "$path"
}

# Cuts NAME into PARTS parts, runs the script in the parts' folder and compares.
# HOW is "plain" (cmd /c join.bat, a copy of the script under a plain name, so the test is about
# the script's text and not about quoting cmd's own command line), "own" (cmd /c NAME.bat) or
# "linux" (as plain, cut by LINUX_CLI in the locale wine runs in: the script a Linux user sends).
joins() {
  local name=$1 parts=$2 size=$3 how=${4:-plain}
  local dir
  dir=$(mktemp -d "$work/case.XXXXXX")
  make_source "$dir/$name" "$size"
  local out
  if [ "$how" = linux ]; then
    if ! out=$(cd "$dir" && LC_ALL=${SPLITTER_WINE_LANG:-C.UTF-8} "$linux_cli" "$name" "$parts" 2>&1) ||
      [ -n "$(grep -v '^Splitting\|^Done' <<<"$out")" ]; then
      fail "[$name] $parts parts: the Linux splitter-cli ${linux_cli:-(none given)} said: $out"
      return
    fi
  elif ! out=$(cd "$dir" && win "$cli" "$(windows_path "$dir/$name")" "$parts" 2>&1); then
    fail "[$name] $parts parts: splitter-cli failed: $(tail -n 3 <<<"$out")"
    return
  fi
  mkdir "$dir/source"
  mv "$dir/$name" "$dir/source/"
  local script=join.bat
  if [ "$how" = own ]; then script="$name.bat"; else cp "$dir/$name.bat" "$dir/join.bat"; fi
  if ! out=$(cd "$dir" && win cmd /c "$script" 2>&1); then
    fail "[$name] $parts parts: cmd failed: $out"
    return
  fi
  if ! cmp -s "$dir/source/$name" "$dir/$name"; then
    fail "[$name] $parts parts: rebuilt file differs from the source; cmd said: $out"
    return
  fi
  if ! check_copy_lines "$dir/$name.bat" "$name"; then
    return
  fi
  local from=""
  [ "$how" != linux ] || from=", split on Linux"
  echo "ok    [$name] $parts parts, $size bytes, $(grep -ac '^copy /b' "$dir/$name.bat") copy line(s)$from"
  rm -rf "$dir"
}

# The same round trip, joined by splitter-cli join instead of cmd: it must read the script in
# the code page it was written in. FROM and BY are windows (splitter-cli.exe) or linux (LINUX_CLI
# in the locale wine runs in, which writes a name its code page cannot spell in UTF-8).
joins_with_cli() {
  local name=$1 parts=$2 size=$3 from=${4:-windows} by=${5:-windows}
  local dir out lang=${SPLITTER_WINE_LANG:-C.UTF-8}
  dir=$(mktemp -d "$work/case.XXXXXX")
  make_source "$dir/$name" "$size"
  if [ "$from" = linux ]; then out=$(cd "$dir" && LC_ALL=$lang "$linux_cli" "$name" "$parts" 2>&1 >/dev/null)
  else out=$(cd "$dir" && win "$cli" "$(windows_path "$dir/$name")" "$parts" 2>&1); fi || {
    fail "[$name] $parts parts: splitter-cli on $from failed: $(tail -n 3 <<<"$out")"
    return
  }
  mkdir "$dir/source"
  mv "$dir/$name" "$dir/source/"
  if [ "$by" = linux ]; then out=$(cd "$dir" && LC_ALL=$lang "$linux_cli" join "$name.bat" 2>&1 >/dev/null)
  else out=$(win "$cli" join "$(windows_path "$dir/$name.bat")" 2>&1); fi || {
    fail "[$name] split on $from, splitter-cli join on $by failed: $(tail -n 3 <<<"$out")"
    return
  }
  if ! cmp -s "$dir/source/$name" "$dir/$name"; then
    fail "[$name] joined by splitter-cli: differs from the source"
    return
  fi
  echo "ok    [$name] $parts parts, split on $from, joined by splitter-cli join on $by"
  rm -rf "$dir"
}

# Every line within cmd's 8191 characters; every copy line after the first appends to the
# destination: copy /b DEST+"NAME.k"+... DEST.
check_copy_lines() {
  local script=$1 name=$2
  local longest
  longest=$(tr -d '\r' <"$script" | awk '{ if (length($0) > n) n = length($0) } END { print n }')
  if [ "$longest" -gt 8191 ]; then
    fail "[$name] a line of $longest characters"
    return 1
  fi
  local dest="$name"
  case $name in *[\ \&\(\)\[\]\{\}^=\;!\'+,\`~]*) dest="\"$name\"" ;; esac
  dest=${dest//%/%%}
  local stray
  stray=$(tr -d '\r' <"$script" | grep -a '^copy /b' | tail -n +2 | grep -acvF "copy /b $dest+\"" || true)
  if [ "$stray" -ne 0 ]; then
    fail "[$name] $stray later copy line(s) do not start with: copy /b $dest+\""
    return 1
  fi
}

# Parts of a chosen size with a checksum file, by splitter-cli.exe (SHA-256 from CNG): sha256sum
# checks the parts, cmd joins them, sha256sum checks the file; then splitter-cli.exe join checks
# the parts against the checksum file, refusing a part changed since the split.
checksums() {
  local name=$1 size=$2 part_size=$3
  local dir out status=0
  dir=$(mktemp -d "$work/case.XXXXXX")
  make_source "$dir/$name" "$size"
  if ! out=$(cd "$dir" && win "$cli" --checksum --size "$part_size" "$(windows_path "$dir/$name")" 2>&1); then
    fail "[$name] --checksum --size $part_size: splitter-cli failed: $(tail -n 3 <<<"$out")"
    return
  fi
  mkdir "$dir/source"
  mv "$dir/$name" "$dir/source/"
  if ! out=$(cd "$dir" && sha256sum -c --ignore-missing --quiet "$name.sha256" 2>&1); then
    fail "[$name] sha256sum does not agree with the parts: $out"
    return
  fi
  cp "$dir/$name.bat" "$dir/join.bat"
  if ! out=$(cd "$dir" && win cmd /c join.bat 2>&1) ||
    ! out=$(cd "$dir" && sha256sum -c --strict --quiet "$name.sha256" 2>&1); then
    fail "[$name] joined by cmd, sha256sum does not agree: $out"
    return
  fi
  rm "$dir/$name"
  if ! out=$(win "$cli" join "$(windows_path "$dir/$name.bat")" 2>&1) ||
    ! cmp -s "$dir/source/$name" "$dir/$name"; then
    fail "[$name] splitter-cli join with the checksums failed: $(tail -n 3 <<<"$out")"
    return
  fi
  rm "$dir/$name"
  printf 'X' | dd of="$dir/$name.1" bs=1 seek=7 conv=notrunc status=none
  out=$(win "$cli" join "$(windows_path "$dir/$name.bat")" 2>&1) || status=$?
  local expected="Part $name.1 does not match its SHA-256 in $name.sha256"
  if [ "$status" -ne 2 ] || ! grep -qF "$expected" <<<"$out" || [ -e "$dir/$name" ]; then
    fail "[$name] a changed part: expected exit 2 and \"$expected\"; got exit $status: $(tail -n 3 <<<"$out")"
    return
  fi
  echo "ok    [$name] --size $part_size --checksum: sha256sum, cmd and splitter-cli join agree"
  rm -rf "$dir"
}

# A name the OEM code page cannot carry: a failure that says why in words, and not one file
# written.
refused() {
  local name=$1 code_page=${2:-437}
  local dir
  dir=$(mktemp -d "$work/case.XXXXXX")
  make_source "$dir/$name" 100
  local out status=0
  out=$(cd "$dir" && win "$cli" "$(windows_path "$dir/$name")" 3 2>&1) || status=$?
  local expected="Error 52: Bad file name or number: cmd reads join scripts in code page $code_page here, which cannot spell \"$name\". Nothing was written: rename the file"
  if [ "$status" -ne 1 ] || ! grep -qF "$expected" <<<"$out"; then
    fail "[$name] expected exit 1 and \"$expected\"; got exit $status: $(tail -n 3 <<<"$out")"
  elif [ "$(ls "$dir" | wc -l)" -ne 1 ]; then
    fail "[$name] files were written: $(ls "$dir" | tr '\n' ' ')"
  else
    echo "ok    [$name] refused before any part: $expected"
  fi
  rm -rf "$dir"
}

long_name() {
  local name="" i
  for i in $(seq 1 14); do name+="long name $i "; done
  printf '%s.bin' "${name% }"
}

rm -rf "$work"
mkdir -p "$work"
case $group in
  ordinary)
    joins "report.pdf" 3 300 own
    joins "report.pdf" 4 300
    joins "data" 2 2
    joins "ten.bin" 7 10
    joins "eleven parts.dat" 11 4096
    joins "my file.txt" 5 1000 own
    ;;
  special)
    # Each character cmd gives a meaning to, alone and all together.
    joins "100%.txt" 3 100
    joins "%PATH%.txt" 3 100
    joins "a %1 b %~dp0.txt" 3 100
    joins "a&b.txt" 3 100
    joins "(paren).txt" 3 100
    joins "a)b.txt" 3 100
    joins "a^b.txt" 3 100
    joins "it's.txt" 3 100
    joins "a+b.txt" 3 100
    joins "a,b.txt" 3 100
    joins "a;b.txt" 3 100
    joins "a=b.txt" 3 100
    joins "!bang!.txt" 3 100
    joins "[x]{y}~\`z.txt" 3 100
    joins " ~ spaces & (all) ^ 'of' + them , ; = % ! .txt" 4 1000
    ;;
  oem437)
    # The OEM code page is 437 here: these letters are in it, Cyrillic is not.
    joins "café.txt" 3 100
    joins "Über Größe.txt" 3 100
    joins "año niño ÆæÅ.txt" 3 100
    joins "résumé & (café) 100%.txt" 5 500
    joins_with_cli "résumé & (café) 100%.txt" 5 500
    joins "café.txt" 3 100 linux
    joins "résumé & (café) 100%.txt" 5 500 linux
    refused "файл.txt"
    refused "ørsted.txt"
    refused "漢字.txt"
    # The Linux splitter-cli writes a UTF-8 script for it, which splitter-cli.exe joins.
    joins_with_cli "файл.txt" 3 100 linux
    ;;
  oem866)
    # Under a Russian locale the OEM code page is 866: Cyrillic joins, "é" is refused.
    export SPLITTER_WINE_LANG=ru_RU.UTF-8
    joins "файл.txt" 3 100
    joins "Отчёт за год & (копия).doc" 5 500
    joins_with_cli "Отчёт за год & (копия).doc" 5 500
    joins "Отчёт за год & (копия).doc" 5 500 linux
    refused "café.txt" 866
    ;;
  codepages)
    # A name in each OEM code page that wine's cmd takes, in the locale that gives it: split on
    # Windows and on Linux, each joined by cmd and by the other system's splitter-cli.
    while read -r locale name; do
      export SPLITTER_WINE_LANG=$locale
      joins "$name" 3 100
      joins "$name" 3 100 linux
      joins_with_cli "$name" 3 100 linux windows
      joins_with_cli "$name" 3 100 windows linux
    done <<'NAMES'
ar_SA.UTF-8 ملف.txt
el_GR.UTF-8 αρχείο.txt
de_DE.UTF-8 Größe.txt
he_IL.UTF-8 קובץ.txt
ru_RU.UTF-8 файл.txt
th_TH.UTF-8 ไฟล์.txt
ja_JP.UTF-8 燿ァ.txt
zh_CN.UTF-8 文件.txt
ko_KR.UTF-8 파일.txt
zh_TW.UTF-8 檔案.txt
NAMES
    ;;
  checksum)
    checksums "report.pdf" 10000 4K
    checksums "résumé & (café) 100%.txt" 3000000 1MB
    ;;
  many)
    # 999 parts of a long name: the list runs over several copy lines.
    joins "$(long_name)" 999 3000
    ;;
  chcp65001)
    # Why a name outside the OEM code page is refused rather than written in UTF-8 after
    # "chcp 65001": wine's cmd reads every line of a batch file in the OEM code page, even after
    # chcp has switched the console to 65001 (which it does only when there is a console, so the
    # script runs on a pseudo-terminal here). If this case ever fails, cmd has learnt to follow
    # the console's code page, and such names can get a UTF-8 script instead of the refusal.
    name="файл.txt"
    dir=$(mktemp -d "$work/case.XXXXXX")
    printf 'AB' >"$dir/$name.0"
    printf 'CD' >"$dir/$name.1"
    printf '@Echo Off\r\nchcp 65001\r\ncopy /b "%s.0"+"%s.1" "%s"' "$name" "$name" "$name" \
      >"$dir/join.bat"
    out=$(cd "$dir" && script -qec "$(printf '%q ' "$wine_run" "$prefix" cmd /c join.bat)" \
      /dev/null 2>&1 </dev/null) || true
    if ! grep -q 'Active code page: 65001' <<<"$out"; then
      fail "[chcp 65001] chcp did not switch the console: $out"
    elif [ -e "$dir/$name" ]; then
      fail "[chcp 65001] cmd now reads the lines after chcp 65001 in UTF-8: the refusal of" \
        "names outside the OEM code page can give way to a UTF-8 script"
    else
      echo "ok    [chcp 65001] switched the console, yet the UTF-8 line after it was not" \
        "understood (cmd said \"$(grep -o 'File not found' <<<"$out" | head -n 1)\")"
      rm -rf "$dir"
    fi
    ;;
  *)
    echo "unknown group: $group" >&2
    exit 2
    ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "$failures case(s) failed"
  exit 1
fi
