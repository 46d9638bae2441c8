#!/bin/bash
# Checks a tree that scripts/install made under PREFIX, moved elsewhere first to prove that it
# finds its own parts: the command line imports into the user's data folder, a C host builds
# against the installed header and library through pkg-config and imports, and the manual page
# reads cleanly.
#   tests/install_check.sh PREFIX
set -euo pipefail

installed="$1"
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "install check: $*" >&2; exit 1; }

prefix="$work/moved"
cp -a "$installed" "$prefix"
export HOME="$work/home" XDG_DATA_HOME=
mkdir -p "$HOME"

version="$("$prefix/bin/varnlog" --version)"
[[ "$version" == "varnlog $(sed -n 's/^project(VarnLogImp VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")" ]] ||
  fail "--version says: $version"
log="$source_dir/examples/14-03-2024.log"
"$prefix/bin/varnlog" import "$log" >/dev/null
[[ -f "$HOME/.local/share/varnlogimp/varnrpt.mdb" ]] || fail "the default database is not in the user's data folder"
"$prefix/bin/varnlog" history | grep -q "14/03/2024" || fail "the imported day is not in the history"
# Without a home there is no default database: said, not crashed.
status=0
HOME=relative "$prefix/bin/varnlog" history >"$work/nohome.out" 2>&1 || status=$?
((status == 1)) && grep -q "Neither XDG_DATA_HOME nor HOME" "$work/nohome.out" ||
  fail "without a home: exit $status, $(cat "$work/nohome.out")"

export PKG_CONFIG_PATH
PKG_CONFIG_PATH="$(dirname "$(find "$prefix" -name varnlogimp.pc)")"
library="$(pkg-config --variable=library varnlogimp)"
[[ "$(realpath "$library")" == "$prefix"/lib*/libVarnLogImp.so ]] || fail "pkg-config names $library"
# shellcheck disable=SC2046
cc -std=c11 -Wall -Werror -o "$work/host" "$source_dir/examples/host.c" $(pkg-config --cflags --libs varnlogimp)
"$work/host" "$library" "$work/host.mdb" "$log" </dev/null >"$work/host.out" || fail "the host failed: $(cat "$work/host.out")"
grep -q "Imported: True" "$work/host.out" || fail "the host did not import: $(cat "$work/host.out")"

# The windows and the desktop program, built where Qt 6 is: the plugin where both the library and
# the command line look for it, the program in the desktop's menu as the one that opens logs.
if pkg-config --exists Qt6Widgets; then
  [[ -f "$(dirname "$library")/varnlogimp/libVarnLogImpWindows.so" ]] || fail "the windows are not beside the library"
  desktop_version="$(QT_QPA_PLATFORM=offscreen "$prefix/bin/varnlog-desktop" --version)"
  [[ "$desktop_version" == "varnlog-desktop ${version#varnlog }" ]] || fail "varnlog-desktop --version says: $desktop_version"
  entry="$prefix/share/applications/varnlog-desktop.desktop"
  desktop-file-validate "$entry" || fail "the desktop entry is not valid"
  grep -q "^MimeType=text/x-log;" "$entry" || fail "the desktop entry does not open logs"
  [[ -f "$prefix/share/icons/hicolor/scalable/apps/varnlog-desktop.svg" ]] || fail "the desktop entry's icon is missing"
fi

warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/varnlog.1" 2>&1 >/dev/null)"
[[ -z "$warnings" ]] || fail "the manual page: $warnings"
LC_ALL=C.UTF-8 man -l "$prefix/share/man/man1/varnlog.1" | grep -q "varnlog - import" || fail "the manual page has no name line"
echo "install check: the installed tree works from $prefix"
