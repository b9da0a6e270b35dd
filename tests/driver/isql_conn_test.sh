#!/bin/sh
# isql and iusql connect through unixODBC to the driver's test build by a
# data source of the test's own ini files; a data source that asks the
# test connection to fail ends with the driver's diagnostic.
# Usage: isql_conn_test.sh <test build of the driver library> [ASan runtime]
set -u
lib=$1
asan=${2:-}
dir=$(mktemp -d "${TMPDIR:-/tmp}/isql_conn_test.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
cat > "$dir/odbcinst.ini" <<INI
[VYspark28test]
Description=Driver test build
Driver=$lib
INI
cat > "$dir/odbc.ini" <<INI
[conntest]
Driver=VYspark28test
HostName=127.0.0.1
PortNumber=10000
[failing]
Driver=VYspark28test
FAIL=1
INI
export ODBCSYSINI="$dir" ODBCINSTINI=odbcinst.ini ODBCINI="$dir/odbc.ini" ODBCINST="$dir/odbcinst.ini"
if [ -n "$asan" ]; then
    export LD_PRELOAD="$asan"
    # iusql copies its own buffers onto themselves; that is not the driver's.
    export ASAN_OPTIONS=detect_leaks=0:replace_str=0:intercept_strlen=0:intercept_strchr=0:intercept_strndup=0
fi
fail=0
for tool in isql iusql; do
    out=$(timeout 60 $tool -v -b conntest user secret </dev/null 2>&1)
    rc=$?
    printf '%s: %s\n' "$tool" "$out"
    if [ $rc -ne 0 ]; then
        echo "$tool could not connect by data source ($rc)" >&2
        fail=1
    fi
    out=$(timeout 60 $tool -v -b failing user secret </dev/null 2>&1)
    rc=$?
    printf '%s: %s\n' "$tool" "$out"
    case $out in
    *"[Mirrowen]"*"unable to establish connection"*) ;;
    *)
        echo "$tool did not report the driver's refusal ($rc)" >&2
        fail=1 ;;
    esac
    case $out in
    *AddressSanitizer*|*"runtime error"*)
        echo "the sanitizer reported a fault" >&2
        fail=1 ;;
    esac
done
exit $fail
