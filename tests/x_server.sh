#!/bin/bash
# A throwaway X server for the window tests, as pg_server.sh is for PostgreSQL: Xvfb on a display
# number of its own, without TCP, ended again on stop.
#
#   x_server.sh start STATE_FILE NUMBER   starts it as :NUMBER; STATE_FILE records its process
#   x_server.sh stop STATE_FILE           ends that process
set -euo pipefail

stop_server() {
  [[ -f $1 ]] || return 0
  kill "$(<"$1")" 2>/dev/null || true
  rm -f "$1"
}

start_server() {
  local state=$1 number=$2
  # A run that never reached its stop leaves its server behind: end it first.
  stop_server "$state"
  Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >"$state.log" 2>&1 &
  echo $! >"$state"
  for _ in $(seq 100); do
    DISPLAY=:$number xdotool getdisplaygeometry >/dev/null 2>&1 && echo "X test server on :$number" && return 0
    sleep 0.1
  done
  echo "x_server.sh: Xvfb did not start on :$number" >&2
  cat "$state.log" >&2
  return 1
}

case "${1:-}" in
  start) start_server "${2:?state file}" "${3:?display number}" ;;
  stop) stop_server "${2:?state file}" ;;
  *) echo "usage: $0 start STATE_FILE NUMBER | stop STATE_FILE" >&2 && exit 2 ;;
esac
