#!/bin/sh
# The demonstration script on the build's driver, without its package step
# and its own build: it must start the test server, query it through isql
# and show the rows the server holds, and leave no server behind.
# Usage: hs2_demo_test.sh <source root> <driver library>
set -u
root=$1
lib=$2
out=$("$root/tools/demo" --no-packages --driver "$lib" 2>&1)
rc=$?
printf '%s\n' "$out"
fail=0
if [ $rc -ne 0 ]; then
    echo "the demo failed ($rc)" >&2
    fail=1
fi
for row in '1|Ada|London|36|2015-03-01|91.5' '3|Chloé|Paris|29|2018-11-30|' '8|Hiro|Tokyo|28|2016-09-09|85.5' \
    '4|99999999.99|😀𝄞 ü|9999-12-31 23:59:59.999999999'; do
    case $out in
    *"$row"*) ;;
    *)
        echo "the demo did not show the row $row" >&2
        fail=1 ;;
    esac
done
case $out in
*AddressSanitizer*|*"runtime error"*)
    echo "the sanitizer reported a fault" >&2
    fail=1 ;;
esac
exit $fail
