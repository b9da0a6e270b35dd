"""Queries through unixODBC and pyodbc against the bundled HiveServer2 test
server as a real peer: over TLS (certificates this test makes with openssl,
EncryptionMethod=1 with a TrustStore), without authentication
(AuthenticationMethod=-1), and with the server's faults on demand during a
query: the connection dropped mid-fetch, a truncated and an oversized reply
frame, an operation that ends in error, and an operation slower than the
login time-out. Every identity and both result layouts where the case
differs by them.
Run with /usr/bin/python3; argument: the driver library."""
import os
import subprocess
import sys
import tempfile
import threading
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SERVER = os.path.join(ROOT, "tools", "hs2server", "hs2server")
IDENTITIES = ("hive-1.2", "hive-2.3", "hive-3.1", "spark-3")
# The default asks for the newest protocol (column-wise results); 4 is V5,
# whose results are row-wise.
PROTOCOLS = (None, 4)
SYNTHETIC_ROWS = 1000
# Small blocks, so that a fault on the second fetch lands mid-result.
BLOCK = 100


class Server:
    def __init__(self, *args):
        self.proc = subprocess.Popen(["/usr/bin/python3", SERVER, "--port", "0", "--synthetic-rows",
                                      str(SYNTHETIC_ROWS)] + list(args),
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.port = int(self.proc.stdout.readline())

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)
        self.proc.stdout.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def make_certificates(folder):
    """A CA and a server certificate for localhost signed by it."""
    def run(command):
        subprocess.run(command, shell=True, check=True, cwd=folder, capture_output=True)
    run("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ca.key")
    run("openssl req -x509 -new -key ca.key -subj '/CN=Query Test CA' -days 2 -out ca.pem "
        "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign")
    run("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out server.key")
    run("openssl req -new -key server.key -subj /CN=localhost -out server.csr")
    run("printf 'subjectAltName=DNS:localhost\\nbasicConstraints=CA:FALSE\\n' > server.ext")
    run("openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 "
        "-extfile server.ext -out server.pem")


def connection_text(port, protocol, more=""):
    text = "DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;UID=tester;PWD=secret;DB=default;LT=20" % port
    if protocol is not None:
        text += ";CSP=%d" % protocol
    return text + (";" + more if more else "")


def fetch_ids_until_error(cursor):
    """Every id fetched one row at a time, and the error that ended the
    fetch (None if it ended normally)."""
    ids = []
    while True:
        try:
            row = cursor.fetchone()
        except pyodbc.Error as e:
            return ids, e
        if row is None:
            return ids, None
        ids.append(row[0])


def in_time(test, seconds, body):
    """Runs body in a thread and fails the test, rather than hanging, when it
    has not returned in generous time."""
    outcome = {}

    def run():
        try:
            outcome["value"] = body()
        except BaseException as e:  # reported in the test's thread
            outcome["error"] = e

    worker = threading.Thread(target=run, daemon=True)
    worker.start()
    worker.join(seconds)
    test.assertFalse(worker.is_alive(), "no answer after %d s: the driver hangs" % seconds)
    if "error" in outcome:
        raise outcome["error"]
    return outcome.get("value")


class QueriesOverTls(unittest.TestCase):
    def test_every_identity_and_layout_queries_over_tls(self):
        with tempfile.TemporaryDirectory(prefix="hs2_query_peers_tls.") as folder:
            make_certificates(folder)
            lib = os.path.join(os.path.dirname(LIBRARY), "libVYtls28.so")
            tls = ("EncryptionMethod=1;TrustStore=%s;SSLLibName=%s;CryptoLibName=%s"
                   % (os.path.join(folder, "ca.pem"), lib, lib))
            for identity in IDENTITIES:
                with Server("--server", identity, "--tls-cert", os.path.join(folder, "server.pem"),
                            "--tls-key", os.path.join(folder, "server.key")) as server:
                    for protocol in PROTOCOLS:
                        with self.subTest(identity=identity, protocol=protocol):
                            text = connection_text(server.port, protocol, tls).replace("127.0.0.1", "localhost")
                            connection = pyodbc.connect(text, autocommit=True)
                            try:
                                cursor = connection.cursor()
                                cursor.execute("SELECT id, s FROM bench.synthetic")
                                ids = [r[0] for r in cursor.fetchall()]
                                self.assertEqual(len(ids), SYNTHETIC_ROWS)
                                self.assertEqual(len(set(ids)), SYNTHETIC_ROWS)
                                cursor.execute("SELECT c_string FROM all_types WHERE id = 4")
                                self.assertEqual(cursor.fetchone()[0], "\U0001F600\U0001D11E \u00fc")
                            finally:
                                connection.close()
                    # Plain text to the TLS server is refused with a diagnostic.
                    with self.subTest(identity=identity, case="plain to TLS"):
                        with self.assertRaises(pyodbc.Error) as caught:
                            pyodbc.connect(connection_text(server.port, None, "EncryptionMethod=0"))
                        self.assertEqual(caught.exception.args[0], "08001", caught.exception.args[1])


class QueriesWithoutAuthentication(unittest.TestCase):
    def test_authentication_method_none_queries_as_the_fixed_identity(self):
        for identity in IDENTITIES:
            with Server("--server", identity, "--user", "VELTRANOX", "--password", "VELTRANOX") as server:
                for protocol in PROTOCOLS:
                    with self.subTest(identity=identity, protocol=protocol):
                        text = "DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;LT=20;AuthenticationMethod=-1" % server.port
                        if protocol is not None:
                            text += ";CSP=%d" % protocol
                        connection = pyodbc.connect(text, autocommit=True)
                        try:
                            cursor = connection.cursor()
                            cursor.execute("SELECT count(*) FROM people")
                            self.assertEqual(cursor.fetchone()[0], 8)
                            cursor.execute("SELECT id FROM bench.synthetic")
                            self.assertEqual(len(cursor.fetchall()), SYNTHETIC_ROWS)
                        finally:
                            connection.close()


class ServerFaultsDuringAQuery(unittest.TestCase):
    def fetch_with_fault(self, fault, protocol):
        """The ids fetched from bench.synthetic before the fault ended the
        fetch, and the error."""
        with Server("--max-fetch-size", str(BLOCK), "--fault", fault) as server:
            connection = pyodbc.connect(connection_text(server.port, protocol), autocommit=True)
            try:
                cursor = connection.cursor()

                def body():
                    cursor.execute("SELECT id FROM bench.synthetic")
                    return fetch_ids_until_error(cursor)

                return in_time(self, 120, body)
            finally:
                try:
                    connection.close()
                except pyodbc.Error:
                    pass

    def test_a_broken_reply_ends_the_result_with_a_diagnostic_and_loses_no_row_before_it(self):
        # (fault, which fetch, fewest and most rows before the diagnostic):
        # a dropped reply brings nothing of its block; a truncated one may
        # bring the rows of its first half (row-wise replies are read row by
        # row as they arrive); an oversized length prefix frames a whole
        # reply that ends long before its frame does: a column-wise block is
        # refused whole, a row-wise one has handed out its rows as they came
        # when the end of the message shows the fault.
        cases = (
            ("drop", 1, 0, 0), ("drop", 2, BLOCK, BLOCK), ("drop", 3, 2 * BLOCK, 2 * BLOCK),
            ("truncate", 1, 0, BLOCK - 1), ("truncate", 2, BLOCK, 2 * BLOCK - 1),
            ("oversize", 1, 0, BLOCK), ("oversize", 2, BLOCK, 2 * BLOCK),
        )
        for kind, call, fewest, most in cases:
            for protocol in PROTOCOLS:
                with self.subTest(fault=kind, call=call, protocol=protocol):
                    ids, error = self.fetch_with_fault("%s=FetchResults:%d" % (kind, call), protocol)
                    self.assertIsNotNone(error, "the fetch ended as if the result were complete after %d rows"
                                         % len(ids))
                    self.assertEqual(error.args[0], "08S01", error.args[1])
                    self.assertGreaterEqual(len(ids), fewest)
                    self.assertLessEqual(len(ids), most)
                    # What arrived, arrived whole and in order from the first row.
                    self.assertEqual(ids, list(range(1, len(ids) + 1)))

    def test_an_operation_that_ends_in_error_is_an_error_with_the_servers_text(self):
        for identity in IDENTITIES:
            with Server("--server", identity) as server:
                for protocol in PROTOCOLS:
                    with self.subTest(identity=identity, protocol=protocol):
                        connection = pyodbc.connect(connection_text(server.port, protocol), autocommit=True)
                        try:
                            cursor = connection.cursor()
                            # For this session only: the login's own statements must succeed.
                            # The fault holds from the SET's own operation on.
                            def failed_query(fault):
                                with self.assertRaises(pyodbc.Error):
                                    cursor.execute("SET hs2server.fault.error-state=" + fault)
                                with self.assertRaises(pyodbc.Error) as caught:
                                    in_time(self, 120, lambda: cursor.execute("SELECT id FROM people"))
                                return caught.exception.args[0], caught.exception.args[1]

                            state, text = failed_query("the warehouse is on fire")
                            # No SQLSTATE from the server: the one its text suggests.
                            self.assertEqual(state, "HY000", text)
                            # The operation's own error, read from its status,
                            # not the metadata call's complaint about the state.
                            self.assertIn("the warehouse is on fire", text)
                            self.assertNotIn("found ERROR", text)
                            # A failed job as Hive reports it: the server's own
                            # SQLSTATE and error code.
                            state, text = failed_query("on")
                            self.assertEqual(state, "08S01", text)
                            self.assertIn("MapRedTask", text)
                            self.assertIn("(2)", text)
                            # The session serves the next query.
                            cursor.execute("SET hs2server.fault.error-state=off")
                            self.assertEqual(cursor.execute("SELECT id FROM people WHERE id = 3").fetchall()[0][0], 3)
                        finally:
                            connection.close()

    def test_a_query_slower_than_the_login_timeout_succeeds(self):
        with Server() as server:
            for protocol in PROTOCOLS:
                with self.subTest(protocol=protocol):
                    text = connection_text(server.port, protocol).replace("LT=20", "LT=1")
                    connection = pyodbc.connect(text, timeout=1, autocommit=True)
                    try:
                        cursor = connection.cursor()
                        cursor.execute("SET hs2server.fault.running=3000")
                        # ExecuteStatement answers at once while the operation
                        # runs on for three seconds, longer than the login
                        # time-out: the execute polls until it ends, and every
                        # row comes.
                        rows = in_time(self, 120,
                                       lambda: cursor.execute("SELECT id FROM people ORDER BY id").fetchall())
                        self.assertEqual([r[0] for r in rows], list(range(1, 9)))
                        description = cursor.description
                        self.assertEqual(description[0][0], "id")
                    finally:
                        connection.close()


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    work = tempfile.TemporaryDirectory(prefix="hs2_query_peers_test.")
    inst = os.path.join(work.name, "odbcinst.ini")
    with open(inst, "w") as f:
        f.write("[VYspark28]\nDescription=Driver under test\nDriver=%s\n" % LIBRARY)
    with open(os.path.join(work.name, "odbc.ini"), "w") as f:
        f.write("")
    os.environ["ODBCSYSINI"] = work.name
    os.environ["ODBCINSTINI"] = "odbcinst.ini"
    os.environ["ODBCINST"] = inst
    os.environ["ODBCINI"] = os.path.join(work.name, "odbc.ini")
    import pyodbc  # noqa: E402  (after the ini files are in place)
    try:
        unittest.main()
    finally:
        work.cleanup()
