"""pyodbc through unixODBC to the bundled HiveServer2 test server on its
HTTP transport (TransportMode=1), plain and under TLS with certificates
that openssl makes in a temporary folder: every request a POST to HTTPPath
with the Thrift headers, basic authentication until the server's session
cookie takes over, a 401 for a wrong password, 404 for a wrong path, and a
reply that stalls or a query that runs longer than its time-out ending with
HYT00, on both; isql on both. Run with /usr/bin/python3; arguments: the
driver library, the source tree."""
import base64
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest

from odbctestenv import ini_folder, stop_server

# The statements' time-out set on the connection: each new statement takes
# it (pyodbc's own timeout goes through the connection time-out, which the
# driver does not offer).
SQL_QUERY_TIMEOUT = 0


def start_logged_server(log, *options):
    """The test server with its call log in the file log: (process, port)."""
    tool = os.path.join(SOURCE, "tools", "hs2server", "hs2server")
    err = open(log, "w")
    proc = subprocess.Popen(["/usr/bin/python3", tool, "--port", "0", "--transport", "http",
                      "--synthetic-rows", "100", "--verbose"] + list(options),
                     stdout=subprocess.PIPE, stderr=err)
    err.close()
    return proc, int(proc.stdout.readline())


def log_lines(log, text):
    # The server logs after answering: give the last line a moment.
    time.sleep(0.2)
    with open(log) as f:
        return [line for line in f if text in line]


class ServerCases:
    """What both transports must do against the test server, which a class
    starts with cls.options, the user ann (password s3cret) and its call log
    in cls.log; its connect(extra, port) adds what the transport needs."""

    def test_queries_run_and_the_cookie_replaces_the_password(self):
        before = len(log_lines(self.log, "HTTP login by Basic as ann"))
        conn = self.connect("UID=ann;PWD=s3cret")
        cursor = conn.cursor()
        for _ in range(3):
            cursor.execute("SELECT id, s FROM bench.synthetic")
            self.assertEqual(len(cursor.fetchall()), 100)
        conn.close()
        # One request carried the password; every later one the cookie.
        self.assertEqual(len(log_lines(self.log, "HTTP login by Basic as ann")) - before, 1)
        self.assertGreater(len(log_lines(self.log, "HTTP login by cookie as ann")), 5)

    def test_without_cookies_every_request_carries_the_password(self):
        before_cookie = len(log_lines(self.log, "HTTP login by cookie"))
        before = len(log_lines(self.log, "HTTP login by Basic as ann"))
        conn = self.connect("UID=ann;PWD=s3cret;EnableCookieAuthentication=0")
        conn.cursor().execute("SELECT 1").fetchall()
        conn.close()
        self.assertGreater(len(log_lines(self.log, "HTTP login by Basic as ann")) - before, 3)
        self.assertEqual(len(log_lines(self.log, "HTTP login by cookie")), before_cookie)

    def test_a_wrong_password_is_08001_with_the_401(self):
        with self.assertRaises(pyodbc.Error) as caught:
            self.connect("UID=ann;PWD=wrong")
        state, message = caught.exception.args[0], caught.exception.args[1]
        self.assertEqual(state, "08001")
        self.assertIn("status 401", message)
        self.assertIn("credentials were refused", message)
        self.assertNotIn("wrong", message)

    def test_a_reply_that_stalls_past_the_connection_time_out_is_HYT00(self):
        # Between calls the socket waits under ConnectionTimeout: the read
        # of a stalled reply ends with it, not with the server.
        conn = self.connect("UID=ann;PWD=s3cret;ConnectionTimeout=2")
        conn.cursor().execute("SET hs2server.fault.stall=ExecuteStatement:8000")
        started = time.monotonic()
        with self.assertRaises(pyodbc.Error) as caught:
            conn.cursor().execute("SELECT 1")
        self.assertEqual(caught.exception.args[0], "HYT00")
        self.assertLess(time.monotonic() - started, 7)

    def timed_out(self, conn, sql, within):
        """Runs sql under a query time-out of one second: HYT00 within the
        given seconds; gives the message."""
        conn.set_attr(SQL_QUERY_TIMEOUT, 1)
        started = time.monotonic()
        with self.assertRaises(pyodbc.Error) as caught:
            conn.cursor().execute(sql)
        self.assertLess(time.monotonic() - started, within)
        self.assertEqual(caught.exception.args[0], "HYT00")
        return caught.exception.args[1]

    def goes_on(self, conn, fault):
        """The session still answers once the fault is off; closes it."""
        conn.set_attr(SQL_QUERY_TIMEOUT, 0)
        cursor = conn.cursor()
        cursor.execute("SET hs2server.fault.%s=off" % fault)
        self.assertEqual(cursor.execute("SELECT 7").fetchone()[0], 7)
        conn.close()

    def test_a_reply_that_stalls_past_the_query_time_out_is_HYT00_and_the_link_stays(self):
        # No ConnectionTimeout: only the statement's time-out ends the wait.
        conn = self.connect("UID=ann;PWD=s3cret")
        conn.cursor().execute("SET hs2server.fault.stall=ExecuteStatement:2500")
        message = self.timed_out(conn, "SELECT 1", 2)
        # The reply never named the operation, so nothing could be cancelled.
        self.assertIn("time-out of 1 seconds; it was cancelled here", message)
        # The next request is a transfer of its own: the session goes on.
        self.goes_on(conn, "stall")

    def test_a_query_that_runs_past_its_time_out_is_HYT00_and_cancelled_at_the_server(self):
        # Run asynchronously, against a server that holds the answer to a
        # status poll the whole long polling time-out (five seconds) while
        # the operation runs: the query's time-out cuts that wait short.
        log = os.path.join(self.tmp.name, "held-polls.log")
        proc, port = start_logged_server(log, "--server", "spark-3", *self.options)
        try:
            conn = self.connect("UID=ann;PWD=s3cret;UseAsyncExecute=1", port=port)
            message = self.timed_out(conn, "SET hs2server.fault.running=4000", 3)
            self.assertIn("time-out of 1 seconds and was cancelled at the server", message)
            self.assertEqual(len(log_lines(log, "CancelOperation")), 1)
            self.goes_on(conn, "running")
        finally:
            stop_server(proc)


class HttpTransport(ServerCases, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="pyodbc_http_test.")
        cls.log = os.path.join(cls.tmp.name, "server.log")
        cls.options = ["--user", "ann", "--password", "s3cret"]
        cls.proc, cls.port = start_logged_server(cls.log, *cls.options)
        cls.dir = ini_folder("pyodbc_http_test.ini.",
                             "[VYspark28]\nDescription=Driver under test\nDriver=%s\n" % LIBRARY,
                             "[http]\nDriver=VYspark28\nHostName=127.0.0.1\nPortNumber=%d\n"
                             "TransportMode=1\nHTTPPath=/cliservice\nLoginTimeout=20\n" % cls.port)
        global pyodbc
        import pyodbc

    @classmethod
    def tearDownClass(cls):
        stop_server(cls.proc)
        cls.dir.cleanup()
        cls.tmp.cleanup()

    def connect(self, extra="", port=None, timeout=20):
        return pyodbc.connect("DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;TransportMode=1;%s"
                              % (port or self.port, extra), timeout=timeout, autocommit=True)

    def test_isql_runs_a_query_over_http(self):
        out = subprocess.run(["isql", "-b", "-v", "http", "ann", "s3cret"], input=b"SELECT 42\n",
                             capture_output=True, timeout=60)
        self.assertEqual(out.returncode, 0, out.stdout + out.stderr)
        self.assertIn(b"42", out.stdout)
        out = subprocess.run(["isql", "-b", "-v", "http", "ann", "wrong"], input=b"SELECT 42\n",
                             capture_output=True, timeout=60)
        self.assertNotEqual(out.returncode, 0)
        self.assertIn(b"status 401", out.stdout + out.stderr)

    def test_each_request_is_a_thrift_post_with_the_fixed_headers(self):
        record = os.path.join(self.tmp.name, "requests.jsonl")
        peer = subprocess.Popen(["/usr/bin/python3", os.path.join(SOURCE, "tests", "transport", "httppeer.py"),
                                 "64", "--record", record], stdout=subprocess.PIPE)
        try:
            port = int(peer.stdout.readline())
            # The peer's answer is no Thrift reply: the login fails after
            # the first request, which is the one looked at.
            with self.assertRaises(pyodbc.Error):
                self.connect("UID=ann;PWD=s3cret;HTTPPath=cliservice", port=port)
        finally:
            stop_server(peer)
        with open(record) as f:
            request = json.loads(f.readline())
        headers = {}
        for name, value in request["headers"]:
            headers.setdefault(name.lower(), []).append(value)
        self.assertEqual((request["method"], request["path"]), ("POST", "/cliservice"))
        self.assertEqual(headers["accept"], ["application/x-thrift"])
        self.assertEqual(headers["content-type"], ["application/x-thrift"])
        self.assertEqual(headers["x-xsrf-header"], ["true"])
        self.assertEqual(headers["user-agent"], ["VYspark28 ODBC driver"])
        self.assertEqual(headers["accept-encoding"], ["gzip,deflate"])
        self.assertEqual(headers["authorization"], ["Basic " + base64.b64encode(b"ann:s3cret").decode()])
        self.assertEqual(headers["content-length"], [str(request["length"])])
        self.assertGreater(request["length"], 0)

    def test_a_wrong_path_names_the_option(self):
        for path in ("nothere", "/nothere"):
            with self.subTest(path=path):
                with self.assertRaises(pyodbc.Error) as caught:
                    self.connect("UID=ann;PWD=s3cret;HTTPPath=%s" % path)
                self.assertIn("status 404", caught.exception.args[1])
                self.assertIn("HTTPPath", caught.exception.args[1])

    def test_a_path_with_or_without_its_slash_reaches_the_server(self):
        for path in ("cliservice", "/cliservice"):
            with self.subTest(path=path):
                self.connect("UID=ann;PWD=s3cret;HTTPPath=%s" % path).close()

    def test_a_login_that_stalls_past_the_login_time_out_is_HYT00(self):
        proc, port = start_logged_server(os.path.join(self.tmp.name, "stall.log"),
                                         "--fault", "stall=OpenSession:60000")
        try:
            with self.assertRaises(pyodbc.Error) as caught:
                self.connect("UID=ann;PWD=s3cret", port=port, timeout=2)
            self.assertEqual(caught.exception.args[0], "HYT00")
            self.assertIn("login time-out of 2 seconds (LoginTimeout)", caught.exception.args[1])
        finally:
            stop_server(proc)

    def test_without_authentication_and_without_a_password_basic_still_logs_in(self):
        log = os.path.join(self.tmp.name, "anyone.log")
        proc, port = start_logged_server(log)
        try:
            self.connect("AuthenticationMethod=-1", port=port).close()
            self.assertGreater(len(log_lines(log, "HTTP login by Basic as veltranox")), 0)
            # No password stored: the one-character placeholder goes instead.
            self.connect("UID=carl;PWD=", port=port).close()
            self.assertGreater(len(log_lines(log, "HTTP login by Basic as carl")), 0)
        finally:
            stop_server(proc)

    def test_a_server_that_is_not_there_is_08001(self):
        with self.assertRaises(pyodbc.Error) as caught:
            self.connect("UID=ann;PWD=s3cret", port=1)
        self.assertEqual(caught.exception.args[0], "08001")
        self.assertIn("127.0.0.1", caught.exception.args[1])


def make_certificate(folder, name, host):
    key = os.path.join(folder, name + ".key")
    cert = os.path.join(folder, name + ".pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=" + host,
                    "-addext", "subjectAltName=DNS:%s,IP:127.0.0.1" % host],
                   check=True, capture_output=True)
    return cert, key


class HttpsTransport(ServerCases, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="pyodbc_https_test.")
        cls.cert, key = make_certificate(cls.tmp.name, "server", "localhost")
        cls.other, _ = make_certificate(cls.tmp.name, "other", "localhost")
        cls.log = os.path.join(cls.tmp.name, "server.log")
        cls.options = ["--tls-cert", cls.cert, "--tls-key", key, "--user", "ann", "--password", "s3cret"]
        cls.proc, cls.port = start_logged_server(cls.log, *cls.options)
        cls.dir = ini_folder("pyodbc_https_test.ini.",
                             "[VYspark28]\nDescription=Driver under test\nDriver=%s\n" % LIBRARY,
                             "[https]\nDriver=VYspark28\nHostName=127.0.0.1\nPortNumber=%d\n"
                             "TransportMode=1\nEncryptionMethod=1\nTrustStore=%s\n"
                             "HostNameInCertificate=localhost\nLoginTimeout=20\n" % (cls.port, cls.cert))
        global pyodbc
        import pyodbc

    @classmethod
    def tearDownClass(cls):
        stop_server(cls.proc)
        cls.dir.cleanup()
        cls.tmp.cleanup()

    def connect(self, extra="", port=None, trust=None):
        if trust is None:
            trust = "TrustStore=%s;HostNameInCertificate=localhost" % self.cert
        return pyodbc.connect("DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;TransportMode=1;"
                              "EncryptionMethod=1;LoginTimeout=20;%s;%s" % (port or self.port, trust, extra),
                              timeout=20, autocommit=True)

    def trusting(self, trust):
        return self.connect("UID=ann;PWD=s3cret", trust=trust)

    def test_a_trusted_certificate_carries_queries(self):
        conn = self.trusting("TrustStore=%s;HostNameInCertificate=localhost" % self.cert)
        rows = conn.cursor().execute("SELECT id FROM bench.synthetic").fetchall()
        self.assertEqual(len(rows), 100)
        conn.close()

    def test_isql_runs_a_query_over_https(self):
        out = subprocess.run(["isql", "-b", "-v", "https", "ann", "s3cret"], input=b"SELECT 42\n",
                             capture_output=True, timeout=60)
        self.assertEqual(out.returncode, 0, out.stdout + out.stderr)
        self.assertIn(b"42", out.stdout)

    def test_a_certificate_the_trust_store_does_not_hold_is_refused(self):
        with self.assertRaises(pyodbc.Error) as caught:
            self.trusting("TrustStore=%s;HostNameInCertificate=localhost" % self.other)
        self.assertEqual(caught.exception.args[0], "08001")
        self.assertIn("certificate was refused", caught.exception.args[1])

    def test_a_host_name_the_certificate_does_not_name_is_refused(self):
        with self.assertRaises(pyodbc.Error) as caught:
            self.trusting("TrustStore=%s;HostNameInCertificate=elsewhere.example" % self.cert)
        self.assertIn("certificate is not for the host elsewhere.example", caught.exception.args[1])

    def test_without_validation_any_certificate_is_accepted(self):
        self.trusting("TrustStore=%s;ValidateServerCertificate=0" % self.other).close()

    def test_a_trust_store_that_is_no_certificate_file_says_so(self):
        junk = os.path.join(self.tmp.name, "junk.pem")
        with open(junk, "w") as f:
            f.write("not a certificate\n")
        with self.assertRaises(pyodbc.Error) as caught:
            self.trusting("TrustStore=%s" % junk)
        self.assertIn("trust store", caught.exception.args[1])


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    SOURCE = sys.argv.pop(1)
    unittest.main(verbosity=2)
