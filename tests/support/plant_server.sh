#!/usr/bin/env bash
# A throw-away PostgreSQL server for the plant history's tests and benchmark:
#
#   plant_server.sh start INFO SQL   initdb into a temporary folder, start on a free port of
#                                    127.0.0.1, set up with SQL (history-server.sql) and write
#                                    what the tests need into the file INFO
#   plant_server.sh halt INFO        stop the server, keeping its data (a server gone away)
#   plant_server.sh resume INFO      start it again on the same port
#   plant_server.sh stop INFO        stop it and remove everything
#   plant_server.sh psql INFO DB SQL run the file SQL on the database DB as the superuser
#
# INFO holds KEY=VALUE lines: PP_PLANT_URI (a PC's login, insert and read), PP_PLANT_OTHER
# (another PC's login), PP_PLANT_READER (read only), PP_PLANT_ADMIN (the superuser), the login
# "it" of plant IT (paramporter_admin, its password in the password file), the approvers
# "ann" and "bob" (paramporter_approver; passwords ann-secret, bob-secret, typed in at each
# signing, in no password file) and "carl", who is no approver (carl-secret),
# PP_PLANT_BARE (a database without the tables), PP_PLANT_NEWER (tables of a newer version),
# PP_PLANT_HOST (host:port), PP_PLANT_PGPASS (a password file for the logins), PP_PLANT_PORT,
# PP_PLANT_DIR.
# Where no server can be started it holds PP_PLANT_SKIP=<why> instead, and the tests skip with
# that reason.
#
# initdb refuses to run as root: as root the server runs as the account "postgres" that
# Debian's package creates.
set -uo pipefail
action=${1:?start, halt, resume or stop}
info=$(realpath -m "${2:?the information file}")
sql=${3:+$(realpath -m "$3")}
file=${4:+$(realpath -m "$4")}
# The server's account may not enter the caller's folder.
cd "${TMPDIR:-/tmp}" || exit 1

as_owner() {
    if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

value() { sed -n "s/^$1=//p" "$info" 2>/dev/null | head -n 1; }

# PP_PLANT_REQUIRED=1 (the test scripts, which install the server) makes a skip a failure.
skip() {
    echo "PP_PLANT_SKIP=$*" >"$info"
    echo "plant server not started: $*"
    [ "${PP_PLANT_REQUIRED:-0}" = 1 ] && exit 1
    exit 0
}

pg_ctl_run() { # DIR PORT
    as_owner "$bin/pg_ctl" -D "$1/data" -l "$1/log" -w -t 60 \
        -o "-p $2 -k $1 -c listen_addresses=127.0.0.1 -c fsync=off -c full_page_writes=off" \
        start >/dev/null
}

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)

case $action in
start)
    [ -n "$sql" ] || { echo "start needs the schema file" >&2; exit 2; }
    rm -f "$info"
    [ -n "$bin" ] && [ -x "$bin/initdb" ] || skip "no PostgreSQL server installed (postgresql)"
    if [ "$(id -u)" = 0 ] && ! id postgres >/dev/null 2>&1; then
        skip "running as root and there is no postgres account to run initdb"
    fi
    dir=$(mktemp -d /tmp/pp-plant.XXXXXX) || skip "no temporary folder"
    [ "$(id -u)" = 0 ] && chown postgres "$dir"
    chmod 755 "$dir"
    if ! as_owner "$bin/initdb" -D "$dir/data" -U postgres -E UTF8 --locale=C \
        --auth-local=trust --auth-host=scram-sha-256 >"$dir/initdb.log" 2>&1; then
        skip "initdb failed: $(tail -n 1 "$dir/initdb.log")"
    fi
    cat >"$dir/data/pg_hba.conf" <<'EOF'
local all all trust
host all postgres 127.0.0.1/32 trust
host all all 127.0.0.1/32 scram-sha-256
EOF
    port=
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        try=$((20000 + RANDOM % 40000))
        if pg_ctl_run "$dir" "$try"; then
            port=$try
            break
        fi
    done
    [ -n "$port" ] || skip "the server would not start: $(tail -n 1 "$dir/log")"
    psql=("$bin/psql" -q -X -v ON_ERROR_STOP=1 -h "$dir" -p "$port" -U postgres)
    if ! {
        "${psql[@]}" -d postgres -c "CREATE DATABASE plant" -c "CREATE DATABASE bare" \
            -c "CREATE DATABASE newer" &&
            "${psql[@]}" -d plant -f "$sql" &&
            "${psql[@]}" -d newer -f "$sql" &&
            "${psql[@]}" -d newer -c "UPDATE paramporter.schema_version SET version = version + 1" &&
            "${psql[@]}" -d postgres \
                -c "CREATE ROLE pc LOGIN PASSWORD 'pc-secret' IN ROLE paramporter_writer" \
                -c "CREATE ROLE pc2 LOGIN PASSWORD 'pc2-secret' IN ROLE paramporter_writer" \
                -c "CREATE ROLE quality LOGIN PASSWORD 'quality-secret' IN ROLE paramporter_reader" \
                -c "CREATE ROLE it LOGIN PASSWORD 'it-secret' IN ROLE paramporter_admin" \
                -c "CREATE ROLE ann LOGIN PASSWORD 'ann-secret' IN ROLE paramporter_approver" \
                -c "CREATE ROLE bob LOGIN PASSWORD 'bob-secret' IN ROLE paramporter_approver" \
                -c "CREATE ROLE carl LOGIN PASSWORD 'carl-secret'"
    } >"$dir/setup.log" 2>&1; then
        as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1
        rm -rf "$dir"
        echo "plant server set-up failed" >&2
        exit 1
    fi
    host="127.0.0.1:$port"
    printf '%s\n' "127.0.0.1:$port:*:pc:pc-secret" "127.0.0.1:$port:*:pc2:pc2-secret" \
        "127.0.0.1:$port:*:quality:quality-secret" "127.0.0.1:$port:*:it:it-secret" \
        >"$dir/pgpass"
    chmod 600 "$dir/pgpass"
    cat >"$info" <<EOF
PP_PLANT_URI=postgresql://pc:pc-secret@$host/plant
PP_PLANT_OTHER=postgresql://pc2:pc2-secret@$host/plant
PP_PLANT_READER=postgresql://quality:quality-secret@$host/plant
PP_PLANT_ADMIN=postgresql://postgres@$host/plant
PP_PLANT_BARE=postgresql://pc:pc-secret@$host/bare
PP_PLANT_NEWER=postgresql://pc:pc-secret@$host/newer
PP_PLANT_HOST=$host
PP_PLANT_PGPASS=$dir/pgpass
PP_PLANT_PORT=$port
PP_PLANT_DIR=$dir
EOF
    echo "plant server on $host ($dir)"
    ;;
psql)
    dir=$(value PP_PLANT_DIR)
    [ -n "$dir" ] && [ -d "$dir" ] || exit 2
    [ -n "$file" ] || exit 2
    "$bin/psql" -q -X -v ON_ERROR_STOP=1 -h "$dir" -p "$(value PP_PLANT_PORT)" \
        -U postgres -d "${3:?the database}" -f "$file" >/dev/null
    exit $?
    ;;
halt | resume | stop)
    dir=$(value PP_PLANT_DIR)
    [ -n "$dir" ] && [ -d "$dir" ] || exit 0
    if [ "$action" = resume ]; then
        pg_ctl_run "$dir" "$(value PP_PLANT_PORT)"
        exit $?
    fi
    as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1
    [ "$action" = stop ] && rm -rf "$dir" "$info"
    exit 0
    ;;
*)
    echo "unknown action $action" >&2
    exit 2
    ;;
esac
