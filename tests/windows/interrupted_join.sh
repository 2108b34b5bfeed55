#!/usr/bin/env bash
# Ctrl+C in the middle of a join, under wine (which hands a SIGINT to the program as the
# console's Ctrl+C event): splitter-cli.exe removes its temporary file and ends with
# STATUS_CONTROL_C_EXIT, as Windows ends a program on Ctrl+C (wine passes on its low byte, 58).
#
#   interrupted_join.sh WINE_RUN PREFIX CLI_EXE WORK_DIR
set -euo pipefail
wine_run=$1 prefix=$2 cli=$3 work=$4

rm -rf "$work"
mkdir -p "$work"
# Sparse parts of 1 GiB: the join takes seconds, and is cut as soon as it has begun.
for k in 0 1 2 3; do truncate -s 1G "$work/big.$k"; done
printf 'copy /b "big.0"+"big.1"+"big.2"+"big.3" big' >"$work/big.bat"

temporary() { compgen -G "$work/.join-*" >/dev/null; }
# Waits up to $1 hundredths of a second for the command that follows.
within() {
  local n=$1
  shift
  for ((i = 0; i < n; i++)); do "$@" && return 0; sleep 0.01; done
  return 1
}
running() { kill -0 "$pid" 2>/dev/null; }
stopped() { ! running; }

(cd "$work" && exec "$wine_run" "$prefix" "$cli" join big.bat) >/dev/null 2>&1 &
pid=$!
if ! within 3000 temporary; then
  kill -KILL "$pid" 2>/dev/null || true
  echo "FAIL  no temporary file within 30 s of the start"
  exit 1
fi
kill -INT "$pid"
if ! within 1000 stopped; then
  kill -KILL "$pid"
  echo "FAIL  the join did not end within 10 s of Ctrl+C"
  exit 1
fi
status=0
wait "$pid" || status=$?
failed=0
if [ "$status" != 58 ]; then echo "FAIL  status $status, not 58"; failed=1; fi
if temporary; then echo "FAIL  the temporary file is left: $(ls -A "$work")"; failed=1; fi
if [ -e "$work/big" ]; then echo "FAIL  an interrupted join made big"; failed=1; fi
# Killed, the program removes nothing: its file, marked to go when closed, goes as Windows closes it.
(cd "$work" && exec "$wine_run" "$prefix" "$cli" join big.bat) >/dev/null 2>&1 &
pid=$!
within 3000 temporary && kill -KILL "$pid"
wait "$pid" || true
if ! within 1000 eval '! temporary'; then echo "FAIL  a kill left: $(ls -A "$work")"; failed=1; fi
[ "$failed" = 0 ] && echo "ok    interrupted join: status 58, no temporary file" && rm -rf "$work"
exit "$failed"
