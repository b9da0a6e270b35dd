"""Kerberos logins (AuthenticationMethod=4, and 1) through pyodbc and isql
against a private MIT KDC that the test starts in a temporary folder, and
the bundled test server accepting GSSAPI under SASL on the binary transport
and "Negotiate" on HTTP: the target named by ServicePrincipalName, a
session cookie sparing the tokens on HTTP, and clear diagnostics for a
wrong principal, a missing or expired ticket, and a server that demands a
security layer. Run with /usr/bin/python3; arguments: the driver library,
the source tree."""
import os
import subprocess
import sys
import tempfile
import time
import unittest

from odbctestenv import ini_folder, stop_server

SPN = "hive/localhost@EXAMPLE.COM"


def start_kerberos_server(kdc, log, *options):
    tool = os.path.join(SOURCE, "tools", "hs2server", "hs2server")
    env = dict(os.environ, KRB5_CONFIG=kdc.conf, KRB5_KTNAME=kdc.keytab)
    with open(log, "w") as err:
        proc = subprocess.Popen(["/usr/bin/python3", tool, "--port", "0", "--auth", "kerberos",
                                 "--synthetic-rows", "50", "--verbose"] + list(options),
                                stdout=subprocess.PIPE, stderr=err, env=env)
    return proc, int(proc.stdout.readline())


def log_count(log, text):
    time.sleep(0.2)
    with open(log) as f:
        return sum(1 for line in f if text in line)


class KerberosLogins(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        from localkdc import LocalKdc, missing_tools
        missing = missing_tools()
        if missing:
            raise unittest.SkipTest("the MIT Kerberos programs %s are not installed "
                                    "(krb5-kdc, krb5-admin-server, krb5-user)" % ", ".join(missing))
        try:
            import gssapi  # noqa: F401  the test server's GSSAPI
        except ImportError:
            raise unittest.SkipTest("python3-gssapi is not installed") from None
        cls.tmp = tempfile.TemporaryDirectory(prefix="pyodbc_kerberos_test.")
        cls.kdc = LocalKdc(cls.tmp.name)
        cls.kdc.start()
        cls.kdc.kinit()
        # The driver's GSSAPI library reads both in this process.
        os.environ["KRB5_CONFIG"] = cls.kdc.conf
        os.environ["KRB5CCNAME"] = "FILE:" + cls.kdc.cache
        cls.servers = {}
        for transport in ("binary", "http"):
            log = os.path.join(cls.tmp.name, transport + ".log")
            proc, port = start_kerberos_server(cls.kdc, log, "--transport", transport)
            cls.servers[transport] = (proc, port, log)
        cls.dir = ini_folder(
            "pyodbc_kerberos_test.ini.",
            "[VYspark28]\nDescription=Driver under test\nDriver=%s\n" % LIBRARY,
            "".join("[krb_%s]\nDriver=VYspark28\nHostName=127.0.0.1\nPortNumber=%d\n"
                    "TransportMode=%d\nAuthenticationMethod=4\nServicePrincipalName=%s\n"
                    "LoginTimeout=20\n" % (t, cls.servers[t][1], t == "http", SPN)
                    for t in ("binary", "http")))
        global pyodbc
        import pyodbc

    @classmethod
    def tearDownClass(cls):
        for proc, _, _ in cls.servers.values():
            stop_server(proc)
        cls.kdc.stop()
        cls.dir.cleanup()
        cls.tmp.cleanup()

    def connect(self, transport, extra="AuthenticationMethod=4;ServicePrincipalName=" + SPN, port=None):
        return pyodbc.connect("DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;TransportMode=%d;%s"
                              % (port or self.servers[transport][1], transport == "http", extra),
                              timeout=20, autocommit=True)

    def refused(self, transport, extra, port=None):
        with self.assertRaises(pyodbc.Error) as caught:
            self.connect(transport, extra, port)
        return caught.exception.args

    def test_both_transports_log_in_with_either_method_value(self):
        for transport in ("binary", "http"):
            for method in (4, 1):
                with self.subTest(transport=transport, method=method):
                    conn = self.connect(transport, "AuthenticationMethod=%d;ServicePrincipalName=%s"
                                        % (method, SPN))
                    rows = conn.cursor().execute("SELECT id FROM bench.synthetic").fetchall()
                    self.assertEqual(len(rows), 50)
                    conn.close()
        self.assertGreater(log_count(self.servers["binary"][2], "ExecuteStatement SELECT id"), 1)

    def test_on_http_the_cookie_spares_the_tokens(self):
        log = self.servers["http"][2]
        before = log_count(log, "HTTP login by Negotiate as alice")
        conn = self.connect("http")
        for _ in range(3):
            conn.cursor().execute("SELECT 1").fetchall()
        conn.close()
        self.assertEqual(log_count(log, "HTTP login by Negotiate as alice") - before, 1)

    def test_on_http_without_cookies_every_request_has_its_token(self):
        log = self.servers["http"][2]
        before = log_count(log, "HTTP login by Negotiate as alice")
        conn = self.connect("http", "AuthenticationMethod=4;ServicePrincipalName=%s;"
                                    "EnableCookieAuthentication=0" % SPN)
        conn.cursor().execute("SELECT 1").fetchall()
        conn.close()
        self.assertGreater(log_count(log, "HTTP login by Negotiate as alice") - before, 4)

    def test_isql_runs_a_query_on_both_transports(self):
        for transport in ("binary", "http"):
            with self.subTest(transport=transport):
                out = subprocess.run(["isql", "-b", "-v", "krb_" + transport], input=b"SELECT 42\n",
                                     capture_output=True, timeout=60)
                self.assertEqual(out.returncode, 0, out.stdout + out.stderr)
                self.assertIn(b"42", out.stdout)

    def test_a_principal_the_kdc_does_not_know_is_named_in_the_diagnostic(self):
        for transport in ("binary", "http"):
            with self.subTest(transport=transport):
                state, message = self.refused(
                    transport, "AuthenticationMethod=4;ServicePrincipalName=hive/nowhere@EXAMPLE.COM")
                self.assertEqual(state, "08001")
                self.assertIn("Server not found in Kerberos database", message)

    def test_without_a_service_principal_name_the_login_says_so(self):
        state, message = self.refused("binary", "AuthenticationMethod=4")
        self.assertEqual(state, "08001")
        self.assertIn("ServicePrincipalName", message)

    def test_without_a_ticket_the_login_says_so(self):
        os.environ["KRB5CCNAME"] = "FILE:" + os.path.join(self.tmp.name, "no-such-cache")
        try:
            for transport in ("binary", "http"):
                with self.subTest(transport=transport):
                    state, message = self.refused(transport,
                                                  "AuthenticationMethod=4;ServicePrincipalName=" + SPN)
                    self.assertEqual(state, "08001")
                    self.assertIn("kinit", message)
        finally:
            os.environ["KRB5CCNAME"] = "FILE:" + self.kdc.cache

    def test_an_expired_ticket_is_refused_as_expired(self):
        cache = os.path.join(self.tmp.name, "short-cache")
        env = dict(self.kdc.env, KRB5CCNAME="FILE:" + cache)
        subprocess.run(["kinit", "-l", "2s", "-kt", self.kdc.user_keytab, "alice"], env=env,
                       check=True, capture_output=True, timeout=60)
        time.sleep(3)
        os.environ["KRB5CCNAME"] = "FILE:" + cache
        try:
            state, message = self.refused("binary", "AuthenticationMethod=4;ServicePrincipalName=" + SPN)
            self.assertEqual(state, "08001")
            self.assertIn("expired", message.lower())
        finally:
            os.environ["KRB5CCNAME"] = "FILE:" + self.kdc.cache

    def test_a_server_that_demands_a_security_layer_is_refused_clearly(self):
        log = os.path.join(self.tmp.name, "qop.log")
        proc, port = start_kerberos_server(self.kdc, log, "--kerberos-qop", "auth-conf")
        try:
            state, message = self.refused("binary", "AuthenticationMethod=4;ServicePrincipalName=" + SPN,
                                          port=port)
            self.assertEqual(state, "08001")
            self.assertIn("security layer", message)
        finally:
            stop_server(proc)

    def test_a_server_token_longer_than_the_buffer_is_refused(self):
        # A peer that answers the first GSSAPI token with a 70000-byte one.
        peer = subprocess.Popen(["/usr/bin/python3", "-c", LONG_TOKEN_PEER], stdout=subprocess.PIPE)
        try:
            port = int(peer.stdout.readline())
            state, message = self.refused("binary", "AuthenticationMethod=4;ServicePrincipalName=" + SPN,
                                          port=port)
            self.assertEqual(state, "08001")
            self.assertIn("70000 bytes is longer than the 65535 bytes", message)
        finally:
            peer.kill()
            peer.wait()
            peer.stdout.close()


LONG_TOKEN_PEER = """
import socket, struct
s = socket.create_server(("127.0.0.1", 0))
print(s.getsockname()[1], flush=True)
while True:
    c, _ = s.accept()
    try:
        f = c.makefile("rb")
        for _ in range(2):
            status, n = struct.unpack(">BI", f.read(5))
            f.read(n)
        c.sendall(struct.pack(">BI", 2, 70000) + bytes(70000))
        c.recv(1)
    except OSError:
        pass
    c.close()
"""


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    SOURCE = sys.argv.pop(1)
    sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
    unittest.main(verbosity=2)
