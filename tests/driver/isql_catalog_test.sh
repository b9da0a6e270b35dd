#!/bin/sh
# isql's "help" (SQLTables) and "help TABLE" (SQLColumns) through unixODBC
# against the bundled HiveServer2 test server under each server identity,
# which the script starts on a free loopback port.
# Usage: isql_catalog_test.sh <driver library> <source tree> [ASan runtime to preload]
set -u
lib=$1
src=$2
asan=${3:-}
dir=$(mktemp -d "${TMPDIR:-/tmp}/isql_catalog_test.XXXXXX") || exit 1
server=
trap 'if [ -n "$server" ]; then kill $server 2>/dev/null; wait $server 2>/dev/null; fi; rm -rf "$dir"' EXIT
cat > "$dir/odbcinst.ini" <<INI
[VYspark28]
Description=Driver under test
Driver=$lib
INI
: > "$dir/odbc.ini"
export ODBCSYSINI="$dir" ODBCINSTINI=odbcinst.ini ODBCINI="$dir/odbc.ini"
fail=0
check() {
    # $1 what, $2 expected text, $3 output
    case $3 in
    *AddressSanitizer*|*"runtime error"*)
        echo "$1: the sanitizer reported a fault" >&2
        fail=1 ;;
    *"$2"*) ;;
    *)
        printf '%s: expected "%s" in:\n%s\n' "$1" "$2" "$3" >&2
        fail=1 ;;
    esac
}
for identity in hive-1.2 hive-2.3 hive-3.1 spark-3; do
    rm -f "$dir/port"
    /usr/bin/python3 "$src/tools/hs2server/hs2server" --port 0 --synthetic-rows 10 \
        --server "$identity" > "$dir/port" 2>/dev/null &
    server=$!
    tries=0
    while [ ! -s "$dir/port" ] && [ $tries -lt 300 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    port=$(head -n 1 "$dir/port")
    [ -n "$port" ] || { echo "the test server did not start" >&2; exit 1; }
    if [ -n "$asan" ]; then
        # The sanitized driver needs its runtime first in a process that is
        # not; isql's line reader keeps the lines it read, which is no leak of ours.
        out=$(printf 'help\nhelp orders\n' | LD_PRELOAD="$asan" ASAN_OPTIONS=detect_leaks=0 timeout 60 \
            isql -v -d, -k "DRIVER=VYspark28;HOST=127.0.0.1;PORT=$port;UID=u;PWD=p" 2>&1)
    else
        out=$(printf 'help\nhelp orders\n' | timeout 60 \
            isql -v -d, -k "DRIVER=VYspark28;HOST=127.0.0.1;PORT=$port;UID=u;PWD=p" 2>&1)
    fi
    check "$identity: help" ",default,people,TABLE,demo people" "$out"
    check "$identity: help" ",default,v_adults,VIEW," "$out"
    check "$identity: help" ",sales,orders,TABLE,orders by day" "$out"
    check "$identity: help orders" ",sales,orders,amount,3,decimal,12,14,2,10,1,,,3,,,3,YES" "$out"
    check "$identity: help orders" ",sales,orders,status,-9,varchar,16,16,,,1,,,-9,,16,5,YES" "$out"
    case $out in
    *"[ISQL]ERROR"*|*"[HY"*|*"[08"*)
        printf '%s: isql reported an error:\n%s\n' "$identity" "$out" >&2
        fail=1 ;;
    esac
    kill $server 2>/dev/null
    wait $server 2>/dev/null
    server=
done
exit $fail
