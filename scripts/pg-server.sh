#!/usr/bin/env bash
# A throwaway PostgreSQL server for the tests: data and socket in a folder of its own, a superuser
# "qrb" trusted on that socket, nothing written outside the folder. For the test of encrypted
# connections it also listens on 127.0.0.1 (a free port, trusted as well) with TLS, on a certificate
# for "localhost" that it makes itself (DIR/server.crt; the server tells its path: SHOW ssl_cert_file).
#
#   bash scripts/pg-server.sh start DIR   makes DIR/data, starts the server, prints the connection
#                                         string (host=DIR/socket port=PORT user=qrb dbname=postgres)
#   bash scripts/pg-server.sh stop DIR    stops it (DIR itself is left to the caller)
#
# As root the server runs as the system user "postgres" (PostgreSQL refuses to run as root);
# otherwise as the calling user.
set -euo pipefail
source "$(dirname "$0")/steps.sh"

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
        echo "pg-server: initdb failed (its messages are above); give an empty folder that the server's user may write" >&2
        exit 1
    }
    openssl req -new -x509 -days 30 -nodes -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 \
        -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost" \
        -keyout "$dir/server.key" -out "$dir/server.crt" >"$dir/openssl.log" 2>&1 || {
        cat "$dir/openssl.log" >&2
        echo "pg-server: could not make the certificate (openssl's messages are above); check that openssl is installed" >&2
        exit 1
    }
    chmod 600 "$dir/server.key"
    chmod 644 "$dir/server.crt"
    if [ "$(id -u)" -eq 0 ]; then
        chown postgres: "$dir/server.key" "$dir/server.crt"
    fi
    # Durability is pointless for a server that lives as long as one test run; without it every test
    # database is made in a fraction of the time. Several servers run side by side (one per helper or
    # CI job), so the TCP port is one found free, tried again should another take it meanwhile.
    started=""
    for _ in 1 2 3 4 5; do
        port=$((20000 + RANDOM % 40000))
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            continue
        fi
        if as_server "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
            -o "-k $dir/socket -p $port -c listen_addresses=127.0.0.1 -c ssl=on -c ssl_cert_file=$dir/server.crt -c ssl_key_file=$dir/server.key -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=200" \
            start >/dev/null; then
            started=yes
            break
        fi
    done
    if [ -z "$started" ]; then
        cat "$dir/server.log" >&2 || true
        echo "pg-server: the server did not start (its log is above); look for another server on the same folder, or try again" >&2
        exit 1
    fi
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
