#!/bin/bash
# varnlog --gui on a real X server (DISPLAY): a large import shows the progress window, found by its
# title; a second import of the day asks in a box, answered Yes with a key press, and updates it; a
# read-only database ends in an error report's box. Each window is kept as a PNG in SHOTS.
#
#   gui_x11.sh VARNLOG SHOTS
set -euo pipefail
varnlog=$1 shots=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/varn-gui-XXXXXX")
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
mkdir -p "$shots" "$work/runtime" "$work/1" "$work/2"
chmod 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime

# A day of 30,000 sessions, long enough to read that its window is up for a while; the version
# changes the day's total.
day() {
  awk -v version="$1" 'BEGIN {
    printf "#15/03/2024#\r\n"
    for (n = 0; n < 30000; n++)
      printf "\"PC%02d,09:%02d,10:%02d,1:00|1.50,2.00,,2.40|Member:2.00,7.90,M%04d\"\r\n", n % 20 + 1, n % 60, n % 60, n
    printf "End Total %d.00\r\n", 237000 + version }' >"$work/$1/15-03-2024.log"
}

# The id of the first window whose title holds $1, once it shows (20 s at most).
window() {
  for _ in $(seq 200); do
    xdotool search --name "$1" 2>/dev/null | head -n1 | grep . && return 0
    sleep 0.1
  done
  echo "gui_x11.sh: no window \"$1\" showed" >&2 && return 1
}

# shot NAME TITLE KEY STATUS ARGUMENTS...: varnlog --gui ARGUMENTS; its window titled TITLE is kept as
# NAME.png, then KEY pressed in it (none: left alone); varnlog must end with STATUS.
shot() {
  local name=$1 title=$2 key=$3 status=$4 id pid result=0
  shift 4
  "$varnlog" --gui "$@" >"$work/$name.out" 2>&1 &
  pid=$!
  id=$(window "$title")
  sleep 0.2
  import -window "$id" "$shots/$name.png"
  # The key's release goes to a box that its press has closed already.
  [[ -z $key ]] || xdotool key --window "$id" "$key" 2>/dev/null || true
  wait "$pid" || result=$?
  cat "$work/$name.out"
  ((result == status)) || { echo "gui_x11.sh: $name: varnlog ended with $result, not $status" >&2 && return 1; }
}

db=$work/shop.mdb
day 1 && day 2
shot progress " Please Wait..." "" 0 --db "$db" import "$work/1/15-03-2024.log"
grep -q "inserted 15/03/2024" "$work/progress.out"
shot question "Varn Log Process" Return 0 --db "$db" import "$work/2/15-03-2024.log"
"$varnlog" --db "$db" history --csv | grep -q "^15/03/2024,.*,237002,1$"
chmod a-w "$db"
shot error "Varn Log Process" Return 1 --db "$db" import "$work/1/15-03-2024.log"
"$varnlog" --db "$db" history --csv | grep -q "^15/03/2024,.*,237002,1$"
