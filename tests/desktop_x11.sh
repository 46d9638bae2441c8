#!/bin/bash
# varnlog-desktop on a real X server (DISPLAY) with a month of imported days: its main window is found
# by its title and kept as desktop-days.png, its Report page (Ctrl+2) at the takings per day as
# desktop-report.png; Ctrl+Q
# ends it. The month is the example log of 14/03/2024 dated to each day of March 2024, each day
# without some of its sessions and its End Total their sum, so that the days differ.
#
#   desktop_x11.sh VARNLOG VARNLOG_DESKTOP EXAMPLE_LOG SHOTS
set -euo pipefail
varnlog=$1 desktop=$2 example=$3 shots=$4 work=$(mktemp -d "${TMPDIR:-/tmp}/varn-desktop-XXXXXX")
trap 'kill "${pid:-0}" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$shots" "$work/xdg" "$work/logs" && chmod 700 "$work/xdg"
export XDG_RUNTIME_DIR=$work/xdg XDG_CONFIG_HOME=$work/config
for day in $(seq -w 1 31); do
  awk -v day="$day" '
    /^"PC/ && (NR + day) % (day % 7 + 2) == 0 { next }
    /^"PC/ { n = split($0, parts, ":"); split(parts[n], amounts, ","); gsub(/[$"]/, "", amounts[2]); total += amounts[2] }
    /^End Total/ { printf "End Total %.2f\r\n", total; next }
    { gsub("14/03/2024", day "/03/2024"); print }' "$example" >"$work/logs/$day-03-2024.log"
done
db=$work/shop.mdb
"$varnlog" --db "$db" import "$work/logs" >/dev/null

# window TITLE: the id of the first window whose title holds TITLE, once it shows.
window() {
  local id
  for _ in $(seq 200); do id=$(xdotool search --limit 1 --name "$1") && echo "$id" && return || sleep 0.05; done
  echo "desktop_x11.sh: no window \"$1\" showed" >&2 && return 1
}
"$desktop" --db "$db" >"$work/desktop.out" 2>&1 &
pid=$!
id=$(window "VarnLogImp - $db")
# Keys go to the window that has the focus (a window manager would give it one).
xdotool windowfocus --sync "$id"
sleep 0.5
import -window "$id" "$shots/desktop-days.png"
xdotool key ctrl+2
sleep 1
# The page's "Per day" section, whose chart is the takings of each day.
xdotool mousemove --window "$id" 127 116 click 1
sleep 0.5
import -window "$id" "$shots/desktop-report.png"
xdotool key ctrl+q
wait "$pid" || { cat "$work/desktop.out" && echo "desktop_x11.sh: varnlog-desktop ended with $?" >&2 && exit 1; }
# Two different pictures: the key took the window to its Report page.
if cmp -s "$shots/desktop-days.png" "$shots/desktop-report.png"; then
  echo "desktop_x11.sh: Ctrl+2 did not show the Report page" >&2 && exit 1
fi
exit 0
