#!/bin/bash
# A throwaway PostgreSQL server for the tests and the benchmark: a new cluster in a temporary
# folder, listening on a loopback port only, trusting local connections, removed again on stop.
# The server refuses to run as root, so as root it runs as the unprivileged user nobody.
#
#   pg_server.sh start STATE_FILE PORT   starts it; STATE_FILE records where it lives
#   pg_server.sh stop STATE_FILE         stops it and removes its folder
#
# Connect as user varn: postgresql://varn@127.0.0.1:PORT/postgres
# The server does not sync its files to disk unless VARN_PG_FSYNC=on (the benchmark sets it).
set -euo pipefail

readonly SERVER_USER=nobody

server_bin() {
  local bin
  bin=$(find /usr/lib/postgresql -mindepth 2 -maxdepth 2 -name bin -type d 2>/dev/null | sort -V | tail -n1)
  [[ -n $bin && -x $bin/initdb ]] ||
    { echo "pg_server.sh: no PostgreSQL server is installed (Debian package postgresql)" >&2 && return 1; }
  echo "$bin"
}

as_server_user() {
  if ((EUID == 0)); then runuser -u "$SERVER_USER" -- "$@"; else "$@"; fi
}

start_server() {
  local state=$1 port=$2 bin dir
  # A run that never reached its stop leaves its server behind: end it first.
  stop_server "$state"
  bin=$(server_bin)
  dir=$(mktemp -d "${TMPDIR:-/tmp}/varn-pg-XXXXXX")
  echo "$dir" >"$state"
  if ((EUID == 0)); then chown "$SERVER_USER:" "$dir"; fi
  as_server_user "$bin/initdb" -D "$dir/data" -U varn --auth=trust -E UTF8 --no-locale >"$dir/initdb.log" 2>&1 ||
    { cat "$dir/initdb.log" >&2 && return 1; }
  # One role that must give its password, for the tests of a password given apart from the address.
  sed -i '1i host all varn_password 127.0.0.1/32 scram-sha-256' "$dir/data/pg_hba.conf"
  # The tests' data is thrown away with the folder: syncing it would only cost time.
  as_server_user "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories=$dir -c fsync=${VARN_PG_FSYNC:-off}" \
    start >/dev/null ||
    { echo "pg_server.sh: the server did not start on 127.0.0.1:$port" >&2; cat "$dir/server.log" >&2; return 1; }
  echo "PostgreSQL test server on postgresql://varn@127.0.0.1:$port/postgres (folder $dir)"
}

stop_server() {
  local state=$1 dir
  [[ -f $state ]] || return 0
  dir=$(<"$state")
  if [[ -n $dir && -f $dir/data/postmaster.pid ]]; then
    as_server_user "$(server_bin)/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null || true
  fi
  # Only a folder this script made is removed.
  if [[ $dir == */varn-pg-* ]]; then rm -rf "$dir"; fi
  rm -f "$state"
}

case "${1:-}" in
  start) start_server "${2:?state file}" "${3:?port}" ;;
  stop) stop_server "${2:?state file}" ;;
  *) echo "usage: $0 start STATE_FILE PORT | stop STATE_FILE" >&2 && exit 2 ;;
esac
