#!/usr/bin/env bash
# Runs screen_reader_test.py in a D-Bus session of its own (D-Bus starts the accessibility bus
# in it on demand) and on a display of its own: nothing of the desktop it runs on is read.
#   screen_reader_test.sh SPLITTER FOLDER
set -euo pipefail
if [ -z "${SPLITTER_OWN_SESSION:-}" ]; then
  export SPLITTER_OWN_SESSION=1
  exec timeout 90 dbus-run-session -- xvfb-run -a "$0" "$@"
fi
exec /usr/bin/python3 "$(dirname "$0")/screen_reader_test.py" "$@"
