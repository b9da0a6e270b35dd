#!/bin/sh
# isql, a narrow-text application, against the bundled HiveServer2 test
# server, with a data source that only the system's odbc.ini (ODBCSYSINI)
# holds and no IANAAppCodePage anywhere: the connect finds the data source
# where unixODBC found it, and text outside Latin-1 comes back in the
# locale's code page. A Latin-1 locale keeps Latin-1.
# Usage: isql_locale_test.sh <driver library> <source tree> [ASan runtime to preload]
set -u
lib=$1
src=$2
asan=${3:-}
dir=$(mktemp -d "${TMPDIR:-/tmp}/isql_locale_test.XXXXXX") || exit 1
/usr/bin/python3 "$src/tools/hs2server/hs2server" --port 0 --user ann --password pw > "$dir/port" 2>/dev/null &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -rf "$dir"' EXIT
tries=0
while [ ! -s "$dir/port" ] && [ $tries -lt 300 ]; do
    sleep 0.1
    tries=$((tries + 1))
done
port=$(head -n 1 "$dir/port")
[ -n "$port" ] || { echo "the test server did not start" >&2; exit 1; }
mkdir "$dir/sys"
cat > "$dir/sys/odbcinst.ini" <<INI
[VYspark28]
Description=Driver under test
Driver=$lib
INI
cat > "$dir/sys/odbc.ini" <<INI
[hs2sys]
Driver=VYspark28
HostName=127.0.0.1
PortNumber=$port
LoginTimeout=20
INI
# The user's file exists but holds another data source only.
cat > "$dir/user.ini" <<INI
[elsewhere]
Driver=VYspark28
HostName=127.0.0.1
PortNumber=1
INI
unset LC_ALL LC_CTYPE LANGUAGE ODBCINSTINI ODBC_INI ODBCINST
export ODBCSYSINI="$dir/sys" ODBCINI="$dir/user.ini"
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
# unixODBC hands a narrow statement's text to the driver widened byte by
# byte, so the statement stays ASCII: the server makes the characters, and
# the driver converts the fetched text into the application's code page.
query="SELECT char(67, 104, 108, 111, 233), char(937), char(128512)"
for lang in C.UTF-8 C; do
    out=$(echo "$query" | LANG=$lang timeout 60 isql -v -b -d'|' hs2sys ann pw 2>&1)
    check "system data source, LANG=$lang" "Chloé|Ω|😀" "$out"
done

# A Latin-1 locale, generated for the test when the machine can (localedef
# runs without the sanitizer's runtime).
mkdir "$dir/loc"
if env -u LD_PRELOAD localedef -i en_US -f ISO-8859-1 "$dir/loc/en_US.ISO-8859-1" >/dev/null 2>&1; then
    latin=$(printf 'Chlo\351|')
    out=$(echo "$query" | LOCPATH="$dir/loc" LANG=en_US.ISO-8859-1 timeout 60 isql -v -b -d'|' hs2sys ann pw 2>&1)
    check "Latin-1 locale" "$latin" "$out"
else
    echo "no Latin-1 locale could be generated; the mapping is covered by the unit tests" >&2
fi
exit $fail
