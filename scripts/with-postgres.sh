#!/usr/bin/env bash
# Runs COMMAND... with a throwaway PostgreSQL server from Debian's postgresql package: initdb into a
# temporary folder as an unprivileged user, listening on a Unix socket in that folder only (no TCP
# at all), stopped and removed when the command ends, however it ends. The command finds the
# server in VELMORA_TEST_PG_URL (a libpq URI naming the socket folder).
set -euo pipefail

bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
folder=$(mktemp -d /tmp/velmora-pg.XXXXXX)
chmod 755 "$folder"
as_user=()
user=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
  # initdb and postgres refuse to run as root.
  user=nobody
  chown "$user" "$folder"
  as_user=(runuser -u "$user" --)
fi

stop() {
  "${as_user[@]}" "$bin/pg_ctl" -D "$folder/data" stop -m fast >/dev/null 2>&1 || true
  rm -rf "$folder"
}
trap stop EXIT

"${as_user[@]}" "$bin/initdb" -D "$folder/data" --auth=trust -U "$user" >"$folder/initdb.log" 2>&1 || {
  cat "$folder/initdb.log"
  exit 1
}
"${as_user[@]}" "$bin/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w \
  -o "-c listen_addresses='' -k $folder -c fsync=off" start >/dev/null
"${as_user[@]}" "$bin/createdb" -h "$folder" -U "$user" velmora_station

export VELMORA_TEST_PG_URL="postgresql:///velmora_station?host=$folder&user=$user"
"$@"
