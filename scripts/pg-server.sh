#!/usr/bin/env bash
# A throwaway PostgreSQL server for the tests: data and socket in a folder of its own, no TCP port,
# a superuser "qrb" trusted on that socket, nothing written outside the folder.
#
#   bash scripts/pg-server.sh start DIR   makes DIR/data, starts the server, prints the connection
#                                         string (host=DIR/socket port=5439 user=qrb dbname=postgres)
#   bash scripts/pg-server.sh stop DIR    stops it (DIR itself is left to the caller)
#
# As root the server runs as the system user "postgres" (PostgreSQL refuses to run as root);
# otherwise as the calling user.
set -euo pipefail

port=5439

usage() {
    echo "usage: $0 start|stop DIR" >&2
    exit 2
}

[ $# -eq 2 ] || usage
action=$1
dir=$2

bindir=""
for candidate in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
    if [ -x "$candidate/initdb" ] && [ -x "$candidate/pg_ctl" ]; then
        bindir=$candidate
        break
    fi
done
if [ -z "$bindir" ]; then
    echo "pg-server: PostgreSQL server programs not found (apt-get install postgresql)" >&2
    exit 1
fi

as_server() {
    if [ "$(id -u)" -eq 0 ]; then
        # From / : the postgres user may not enter the caller's folder.
        (cd / && runuser -u postgres -- "$@")
    else
        "$@"
    fi
}

case "$action" in
start)
    mkdir -p "$dir/data" "$dir/socket"
    if [ "$(id -u)" -eq 0 ]; then
        chown postgres: "$dir" "$dir/data" "$dir/socket"
    fi
    chmod 700 "$dir/data"
    as_server "$bindir/initdb" -D "$dir/data" -U qrb -A trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 || {
        cat "$dir/initdb.log" >&2
        echo "pg-server: initdb failed" >&2
        exit 1
    }
    # Durability is pointless for a server that lives as long as one test run; without it every test
    # database is made in a fraction of the time.
    as_server "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
        -o "-k $dir/socket -p $port -c listen_addresses='' -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=200" \
        start >/dev/null || {
        cat "$dir/server.log" >&2 || true
        echo "pg-server: the server did not start" >&2
        exit 1
    }
    echo "host=$dir/socket port=$port user=qrb dbname=postgres"
    ;;
stop)
    if [ -f "$dir/data/postmaster.pid" ]; then
        as_server "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null
    fi
    ;;
*)
    usage
    ;;
esac
