#!/bin/sh
# The installation as a user makes it: the build's install rules put the
# driver into a temporary prefix, odbcinst registers the installed template
# into a private ODBCSYSINI and a data source from the installed odbc.ini
# template, and isql and pyodbc connect through that data source to the
# test server. A copy of the driver with no catalogue beside it still
# reports a refused connection with its SQLSTATE and English text, and its
# trace says where the catalogue was looked for. TLS works with the
# template's settings and the installed TLS library.
# Usage: install_test.sh <build dir> <source dir> <version ##.##.####> [ASan runtime to preload]
set -u
build=$1
source=$2
version=$3
asan=${4:-}
dir=$(mktemp -d "${TMPDIR:-/tmp}/install_test.XXXXXX") || exit 1
server=""
tlsserver=""
cleanup() {
    for pid in $server $tlsserver; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    rm -rf "$dir"
}
trap cleanup EXIT
fail=0
complain() {
    echo "$*" >&2
    fail=1
}

prefix="$dir/prefix"
share="$prefix/share/VYspark28"
if ! cmake --install "$build" --prefix "$prefix" >"$dir/install.log" 2>&1; then
    cat "$dir/install.log"
    echo "the install failed" >&2
    exit 1
fi
for f in lib/VYspark28.so lib/libVYtls28.so lib/libVYcurl28.so locale/en_US/LC_MESSAGES/VYspark28.mo \
         share/VYspark28/odbcinst.ini share/VYspark28/odbc.ini share/doc/VYspark28/keywords.md; do
    [ -f "$prefix/$f" ] || complain "the install did not write $f"
done
grep -qx "Driver=$prefix/lib/VYspark28.so" "$share/odbcinst.ini" ||
    complain "the odbcinst.ini template does not name the installed driver"
# odbcinst -i -d -f registers every section of the file as a driver.
[ "$(grep -c '^\[' "$share/odbcinst.ini")" -eq 1 ] ||
    complain "the odbcinst.ini template holds more than the driver's section"

# Only the test's own configuration: unixODBC's system files in etc/, the
# user's data sources in odbc.ini (ODBCINI), and a home of its own.
mkdir -p "$dir/etc" "$dir/home"
: >"$dir/etc/odbcinst.ini"
: >"$dir/etc/odbc.ini"
unset ODBCINST ODBCINSTINI ODBC_INI KA_DEBUGGING TW_INSTALLDIR
export ODBCSYSINI="$dir/etc" ODBCINI="$dir/odbc.ini" HOME="$dir/home"

# The test server on a free port; its first line is the port.
mkfifo "$dir/port"
/usr/bin/python3 "$source/tools/hs2server/hs2server" --port 0 --verbose >"$dir/port" 2>"$dir/server.log" &
server=$!
read -r port <"$dir/port"
case $port in
''|*[!0-9]*) echo "the test server did not start: $(cat "$dir/server.log")" >&2; exit 1 ;;
esac

odbcinst -i -d -f "$share/odbcinst.ini" >/dev/null || complain "odbcinst could not register the driver"
# The data source as the template has it, pointed at the test server.
sed -e "s/^HostName=.*/HostName=127.0.0.1/" -e "s/^PortNumber=.*/PortNumber=$port/" \
    "$share/odbc.ini" >"$dir/dsn.ini"
odbcinst -i -s -f "$dir/dsn.ini" >/dev/null || complain "odbcinst could not add the data source"
odbcinst -q -d -n VYspark28 | grep -qx "Driver=$prefix/lib/VYspark28.so" ||
    complain "the registered driver does not name the installed library"
[ "$(odbcinst -q -d)" = "[VYspark28]" ] || complain "the template registered more than the driver: $(odbcinst -q -d)"
grep -q "^PortNumber=$port\$" "$ODBCINI" || complain "the data source did not land in ODBCINI"

# A copy of the driver in a folder with no catalogue, registered apart,
# and a data source of it whose port nothing listens on.
mkdir -p "$dir/bare"
cp "$prefix/lib/VYspark28.so" "$prefix/lib/libVYtls28.so" "$dir/bare/"
printf '[VYspark28bare]\nDriver=%s\n' "$dir/bare/VYspark28.so" | odbcinst -i -d -r >/dev/null
closed=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sed -e "s/^\[HiveServer2\]/[bare]/" -e "s/^Driver=.*/Driver=VYspark28bare/" -e "s/^PortNumber=.*/PortNumber=$closed/" \
    "$dir/dsn.ini" >"$dir/bare.ini"
odbcinst -i -s -f "$dir/bare.ini" >/dev/null

if [ -n "$asan" ]; then
    # The sanitized driver needs its runtime first in a process that is not.
    export LD_PRELOAD="$asan"
    export ASAN_OPTIONS=detect_leaks=0
fi

has() {
    printf '%s' "$out" | grep -qF -- "$1"
}
sanitizer_quiet() {
    case $out in
    *AddressSanitizer*|*"runtime error"*) complain "$1: the sanitizer reported a fault" ;;
    esac
}

# isql connects through the installed data source and disconnects; the
# server saw the session. Its catalogue was found.
out=$(KA_DEBUGGING=8 timeout 60 isql -v -b HiveServer2 user secret </dev/null 2>&1)
rc=$?
printf 'HiveServer2: %s\n' "$out" | grep -v '^LoadStringFromOpenFile'
sanitizer_quiet HiveServer2
[ $rc -eq 0 ] || complain "isql could not connect through the installed data source ($rc)"
grep -q OpenSession "$dir/server.log" || complain "the test server saw no session"
grep -q CloseSession "$dir/server.log" || complain "the session was not closed"
has "catalogue not found" && complain "the installed driver did not find its catalogue"

# The copy without a catalogue: the refused connection keeps its SQLSTATE
# and English text, with the driver's name.
refusal="[Mirrowen][ODBC HiveServer2 driver]The connection to 127.0.0.1 on port $closed failed"
# An empty odbcinst.ini of the driver's own (ODBCINST) hides the system's,
# whose InstallDir, once set, would lead the copy to the installed catalogue.
: >"$dir/noinst.ini"
isql_refused() {
    out=$(ODBCINST="$dir/noinst.ini" KA_DEBUGGING=$1 timeout 60 isql -v -b bare user secret </dev/null 2>&1)
    printf 'bare: %s\n' "$out" | grep -v '^LoadStringFromOpenFile'
    sanitizer_quiet bare
    if ! has "[08001]" || ! has "$refusal"; then
        complain "bare: isql did not get the refusal with its SQLSTATE and text"
    fi
}
isql_refused 8
has " or $dir/bare/locale/en_US/LC_MESSAGES/VYspark28.mo; using the built-in English texts" ||
    complain "the trace does not say where the catalogue was looked for"
isql_refused 0
has OpenStrings && complain "the catalogue was traced without being asked"
# Without a file of the user's, the driver reads InstallDir from the
# system's odbcinst.ini (ODBCSYSINI's).
printf '[ODBC]\nInstallDir=%s\n' "$prefix" >>"$dir/etc/odbcinst.ini"
out=$(KA_DEBUGGING=8 timeout 60 isql -v -b bare user secret </dev/null 2>&1)
has "catalogue not found" && complain "InstallDir of the system's odbcinst.ini did not lead to the catalogue"
# The install directory named by the environment, or by the [ODBC] section
# of odbc.ini, leads the copy to the installed catalogue.
out=$(TW_INSTALLDIR="$prefix" KA_DEBUGGING=8 timeout 60 isql -v -b bare user secret </dev/null 2>&1)
has "catalogue not found" && complain "TW_INSTALLDIR did not lead to the catalogue"
printf '[ODBC]\nInstallDir=%s\n' "$prefix" >>"$ODBCINI"
out=$(KA_DEBUGGING=8 timeout 60 isql -v -b bare user secret </dev/null 2>&1)
has "catalogue not found" && complain "InstallDir of odbc.ini did not lead to the catalogue"
has "$refusal" || complain "bare: no refusal with the install directory of odbc.ini"

# TLS through the installed data source: EncryptionMethod and TrustStore as
# the template has them, the server's certificate from a CA of the test's
# own; a trust store without that CA refuses the server.
tls="$dir/tls"
mkdir "$tls"
(
    cd "$tls" &&
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ca.key &&
    openssl req -x509 -new -key ca.key -subj '/CN=Install Test CA' -days 2 -out ca.pem \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign &&
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out server.key &&
    openssl req -new -key server.key -subj /CN=localhost -out server.csr &&
    printf 'subjectAltName=DNS:localhost\n' >ext &&
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile ext -out server.pem &&
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout other.key -subj /CN=other \
        -days 2 -out other.pem
) >"$tls/openssl.log" 2>&1 || { cat "$tls/openssl.log"; complain "openssl could not make the certificates"; }
mkfifo "$dir/tlsport"
/usr/bin/python3 "$source/tools/hs2server/hs2server" --port 0 --tls-cert "$tls/server.pem" --tls-key "$tls/server.key" \
    >"$dir/tlsport" 2>"$dir/tlsserver.log" &
tlsserver=$!
read -r tlsport <"$dir/tlsport"
# The driver loads libVYtls28.so from beside itself through its run path;
# under the sanitizer, whose dlopen stands between, it is named instead.
tlslib=""
[ -z "$asan" ] || tlslib="SSLLibName=$prefix/lib/libVYtls28.so\nCryptoLibName=$prefix/lib/libVYtls28.so\n"
for trust in ca other; do
    sed -e "s/^\[HiveServer2\]/[tls$trust]/" -e "s/^HostName=.*/HostName=localhost/" -e "s/^PortNumber=.*/PortNumber=$tlsport/" \
        -e "s/^EncryptionMethod=.*/EncryptionMethod=1/" -e "s|^;TrustStore=.*|TrustStore=$tls/$trust.pem|" \
        -e "s|^LoginTimeout=.*|&\n$tlslib|" "$share/odbc.ini" >"$dir/tls$trust.ini"
    odbcinst -i -s -f "$dir/tls$trust.ini" >/dev/null
done
out=$(timeout 60 isql -v -b tlsca user secret </dev/null 2>&1)
rc=$?
printf 'tlsca: %s\n' "$out"
sanitizer_quiet tlsca
[ $rc -eq 0 ] || complain "isql could not connect over TLS through the installed data source ($rc)"
out=$(timeout 60 isql -v -b tlsother user secret </dev/null 2>&1)
printf 'tlsother: %s\n' "$out"
sanitizer_quiet tlsother
has "[08001]" && has "The server's certificate was refused" ||
    complain "a trust store without the server's CA did not refuse the server"
kill "$tlsserver" 2>/dev/null && wait "$tlsserver" 2>/dev/null
tlsserver=""

if [ -n "$asan" ]; then
    # Python's own allocations are not the driver's to account for.
    export ASAN_OPTIONS=detect_leaks=0
fi
/usr/bin/python3 "$source/tests/driver/install_pyodbc_test.py" HiveServer2 bare "$closed" "$version" ||
    complain "pyodbc through the data sources failed"
exit $fail
