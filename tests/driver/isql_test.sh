#!/bin/sh
# isql loads the driver through unixODBC from ini files of the test's own;
# a connect attempt to a port where nothing listens ends with the driver's
# 08001 diagnostic, not a crash.
# Usage: isql_test.sh <driver library> [ASan runtime to preload]
set -u
lib=$1
asan=${2:-}
dir=$(mktemp -d "${TMPDIR:-/tmp}/isql_test.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
cat > "$dir/odbcinst.ini" <<INI
[VYspark28]
Description=Driver under test
Driver=$lib
INI
cat > "$dir/odbc.ini" <<INI
[spark]
Driver=VYspark28
HostName=127.0.0.1
PortNumber=1
INI
export ODBCSYSINI="$dir" ODBCINSTINI=odbcinst.ini ODBCINI="$dir/odbc.ini"
if [ -n "$asan" ]; then
    # The sanitized driver needs its runtime first in a process that is not.
    export LD_PRELOAD="$asan"
fi
out=$(echo "select 1" | timeout 60 isql -v spark user secret 2>&1)
rc=$?
printf '%s\n' "$out"
if [ $rc -ne 1 ]; then
    echo "isql ended with $rc, expected 1 (connect refused)" >&2
    exit 1
fi
case $out in
*AddressSanitizer*|*"runtime error"*)
    echo "the sanitizer reported a fault" >&2
    exit 1 ;;
esac
case $out in
*"[08001]"*"[Mirrowen][ODBC HiveServer2 driver]The connection to 127.0.0.1 on port 1 failed"*) ;;
*)
    echo "the driver's diagnostic did not reach isql" >&2
    exit 1 ;;
esac
exit 0
