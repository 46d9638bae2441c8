#!/bin/bash
# varnlog --gui on a real X server (DISPLAY): a large import shows the progress window, found by its
# title; a second import of the day asks in a box, answered Yes with a key press, and updates it; a
# read-only database ends in an error report's box, and the day stays updated. Each window is kept as
# NAME.png in SHOTS.
#
#   gui_x11.sh VARNLOG SHOTS
set -euo pipefail
varnlog=$1 shots=$2 work=$(mktemp -d "${TMPDIR:-/tmp}/varn-gui-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$shots" "$work/xdg" "$work/1" "$work/2" && chmod 700 "$work/xdg"
export XDG_RUNTIME_DIR=$work/xdg
# A day of 30,000 sessions, which keeps its window up for a while; the version goes into its total.
for version in 1 2; do
  awk -v version=$version 'BEGIN { print "#15/03/2024#"; for (n = 0; n < 30000; n++)
    printf "\"PC%02d,09:00,10:00,1:00|1.50,2.00,,2.40,,1.20,3.00,,0.50|Member:2.00,12.60,M%04d\"\n", n % 20 + 1, n
    print "End Total " 237000 + version }' >"$work/$version/15-03-2024.log"
done

# shot NAME TITLE KEY STATUS ARGUMENTS...: varnlog --gui ARGUMENTS, whose window titled TITLE is kept as
# NAME.png before KEY is pressed in it (none: it is left alone); varnlog must end with STATUS.
shot() {
  local id pid result=0
  "$varnlog" --gui "${@:5}" >"$work/$1.out" 2>&1 &
  pid=$!
  # Looked for more often than xdotool's own --sync does, to see the progress window while it reads.
  for _ in $(seq 400); do id=$(xdotool search --limit 1 --name "$2") && break || sleep 0.05; done
  [[ -n $id ]] || { cat "$work/$1.out" && echo "gui_x11.sh: $1: no window \"$2\" showed" >&2 && return 1; }
  sleep 0.1
  import -window "$id" "$shots/$1.png"
  # Pressed again until it was taken (a box may not listen yet); the release after the press that closed
  # the box finds no window.
  while [[ -n $3 ]] && kill -0 "$pid" 2>/dev/null && xdotool key --window "$id" "$3" 2>/dev/null; do sleep 0.5; done
  wait "$pid" || result=$?
  cat "$work/$1.out"
  ((result == $4)) || { echo "gui_x11.sh: $1: varnlog ended with $result, not $4" >&2 && return 1; }
}
db=$work/shop.mdb
shot progress " Please Wait..." "" 0 --db "$db" import "$work/1/15-03-2024.log"
shot question "Varn Log Process" Return 0 --db "$db" import "$work/2/15-03-2024.log"
chmod a-w "$db"
shot error "Varn Log Process" Return 1 --db "$db" import "$work/1/15-03-2024.log"
"$varnlog" --db "$db" history --csv | grep -q "^15/03/2024,.*,237002,1$"
