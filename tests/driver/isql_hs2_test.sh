#!/bin/sh
# isql connects through unixODBC to the bundled HiveServer2 test server,
# which the script starts on a free loopback port, by data source and by
# DRIVER= string; a refused login ends with 08001 and the server's message.
# Usage: isql_hs2_test.sh <driver library> <source tree> [ASan runtime to preload]
set -u
lib=$1
src=$2
asan=${3:-}
dir=$(mktemp -d "${TMPDIR:-/tmp}/isql_hs2_test.XXXXXX") || exit 1
/usr/bin/python3 "$src/tools/hs2server/hs2server" --port 0 --synthetic-rows 100 \
    --user ann --password pw > "$dir/port" 2>/dev/null &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -rf "$dir"' EXIT
tries=0
while [ ! -s "$dir/port" ] && [ $tries -lt 300 ]; do
    sleep 0.1
    tries=$((tries + 1))
done
port=$(head -n 1 "$dir/port")
[ -n "$port" ] || { echo "the test server did not start" >&2; exit 1; }
cat > "$dir/odbcinst.ini" <<INI
[VYspark28]
Description=Driver under test
Driver=$lib
INI
cat > "$dir/odbc.ini" <<INI
[hs2]
Driver=VYspark28
HostName=127.0.0.1
PortNumber=$port
LoginTimeout=20
INI
export ODBCSYSINI="$dir" ODBCINSTINI=odbcinst.ini ODBCINI="$dir/odbc.ini"
if [ -n "$asan" ]; then
    # The sanitized driver needs its runtime first in a process that is not.
    export LD_PRELOAD="$asan"
fi
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
out=$(echo "" | timeout 60 isql -v hs2 ann pw 2>&1)
check "by data source" "Connected!" "$out"
out=$(echo "" | timeout 60 isql -v -k "DRIVER=VYspark28;HOST=127.0.0.1;PORT=$port;UID=ann;PWD=pw" 2>&1)
check "by driver string" "Connected!" "$out"
out=$(echo "" | timeout 60 isql -v hs2 ann wrong 2>&1)
check "refused login" "[08001]" "$out"
check "refused login" "[Mirrowen][ODBC HiveServer2 driver]The server refused the login: Error validating the login" "$out"
exit $fail
