#!/bin/sh
# isql and iusql run statements through unixODBC on the driver's test build
# (its statements answer from scripted results): a result is described and
# fetched into isql's table, and a statement without one reports its row
# count.
# Usage: isql_stmt_test.sh <test build of the driver library> [ASan runtime]
set -u
lib=$1
asan=${2:-}
dir=$(mktemp -d "${TMPDIR:-/tmp}/isql_stmt_test.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
cat > "$dir/odbcinst.ini" <<INI
[VYspark28test]
Description=Driver test build
Driver=$lib
INI
cat > "$dir/odbc.ini" <<INI
[stmttest]
Driver=VYspark28test
INI
export ODBCSYSINI="$dir" ODBCINSTINI=odbcinst.ini ODBCINI="$dir/odbc.ini" ODBCINST="$dir/odbcinst.ini"
if [ -n "$asan" ]; then
    export LD_PRELOAD="$asan"
    # iusql copies its own buffers onto themselves; that is not the driver's.
    export ASAN_OPTIONS=detect_leaks=0:replace_str=0:intercept_strlen=0:intercept_strchr=0:intercept_strndup=0
fi
fail=0
for tool in isql iusql; do
    out=$(printf 'select rows 3\ninsert into t values (1)\nfail now\n' | timeout 60 $tool -v -b stmttest user secret 2>&1)
    printf '%s: %s\n' "$tool" "$out"
    for want in "| id" "| name-3" "| 02FF007F" "3 rows fetched" "SQLRowCount returns 1" "scripted execution failed"; do
        case $out in
        *"$want"*) ;;
        *)
            echo "$tool: missing \"$want\"" >&2
            fail=1 ;;
        esac
    done
    case $out in
    *AddressSanitizer*|*"runtime error"*)
        echo "$tool: the sanitizer reported a fault" >&2
        fail=1 ;;
    esac
done
exit $fail
