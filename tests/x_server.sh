#!/bin/bash
# A throwaway X server for the window tests, as pg_server.sh is for PostgreSQL: Xvfb on a display
# number of its own, without TCP, ended again on stop.
#
#   x_server.sh start STATE_FILE NUMBER   starts it as :NUMBER; STATE_FILE records its process
#   x_server.sh stop STATE_FILE           ends that process
set -euo pipefail
[[ ${1:-} =~ ^(start|stop)$ ]] || { echo "usage: $0 start STATE_FILE NUMBER | stop STATE_FILE" >&2 && exit 2; }
state=${2:?state file}
# A run that never reached its stop leaves its server behind: it ends before a new one starts.
kill "$(cat "$state" 2>/dev/null)" 2>/dev/null || true
rm -f "$state"
[[ $1 == start ]] || exit 0
Xvfb ":${3:?display number}" -screen 0 1024x768x24 -nolisten tcp >"$state.log" 2>&1 &
echo $! >"$state"
for _ in $(seq 100); do
  DISPLAY=:$3 xdotool getdisplaygeometry >/dev/null 2>&1 && exit 0
  sleep 0.1
done
echo "x_server.sh: Xvfb did not start on :$3" >&2 && cat "$state.log" >&2 && exit 1
