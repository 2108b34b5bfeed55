#!/usr/bin/env bash
# Standard input and output in binary mode under wine: bytes of every value (CR LF, a lone LF,
# Ctrl+Z, NUL) go through a split of standard input and a join into standard output as they
# are, and the checksum file agrees with sha256sum.
#
#   binary_streams.sh WINE_RUN PREFIX CLI_EXE WORK_DIR
set -euo pipefail
wine_run=$1 prefix=$2 cli=$3 work=$4

rm -rf "$work"
mkdir -p "$work"
cd "$work"
# Every byte value, then the ones a text mode changes or stops at, several times over.
{
  for round in 1 2 3 4 5 6 7 8; do
    for ((i = 0; i < 256; i++)); do printf "\\$(printf %03o "$i")"; done
    printf '\r\n\n\032\r\032\000\r\r\n'
  done
  for ((i = 255; i >= 0; i--)); do printf "\\$(printf %03o "$i")"; done
} >bytes
failed=0
fail() { echo "FAIL  $*"; failed=1; }

cat bytes | "$wine_run" "$prefix" "$cli" --checksum --size 1000 - data >out.txt 2>err.txt ||
  fail "the split of standard input: $(cat err.txt)"
cat data.0 data.1 data.2 2>/dev/null | cmp -s - bytes || fail "the parts are not the bytes"
[ ! -e data.3 ] || fail "a fourth part"
cp bytes data && (sha256sum -c --quiet data.sha256 || fail "data.sha256") && rm data
"$wine_run" "$prefix" "$cli" join --stdout data.bat >joined 2>err.txt ||
  fail "the join into standard output: $(cat err.txt)"
cmp -s joined bytes || fail "the joined bytes differ: $(cmp joined bytes)"
[ ! -e data ] || fail "join --stdout made a file"
[ $failed = 0 ] && echo "PASS  $(wc -c <bytes) bytes of every value through both streams"
exit $failed
