"""isql through unixODBC against servers that are not what the connection
string expects: TLS against a plain server (silent, or answering in plain
text) ends within LoginTimeout, not after a fixed handshake wait; every
mismatch of encryption or transport says what is wrong and the keyword to
change; a host that does not resolve gives the resolver's reason; and a
certificate is checked against an address given as HOST by its IP entries,
on both transports. Certificates are made by openssl in a temporary folder.
Run with /usr/bin/python3; arguments: the driver library, the source tree."""
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from odbctestenv import ini_folder, start_server, stop_server


def isql(connection):
    """Connects with isql -k, the TLS library the build makes beside the
    driver named; (seconds taken, everything isql printed)."""
    lib = os.path.join(os.path.dirname(LIBRARY), "libVYtls28.so")
    started = time.monotonic()
    out = subprocess.run(["isql", "-v", "-k", "DRIVER=VYspark28;UID=ann;PWD=s3cret;SSLLibName=%s;CryptoLibName=%s;%s"
                          % (lib, lib, connection)],
                         input=b"", capture_output=True, timeout=120)
    return time.monotonic() - started, (out.stdout + out.stderr).decode(errors="replace")


# HYT00 as isql, an ODBC 2 application, sees it.
TIMED_OUT = ("[HYT00]", "[S1T00]")
UNABLE = ("[08001]",)


def first_record(text):
    """The first diagnostic record isql printed (the one pyodbc shows)."""
    for line in text.splitlines():
        if line.startswith("[") and "]" in line:
            return line
    return ""


class RawPeer:
    """A loopback listener that serves every connection in a thread of its
    own: reads what comes and, when reply is given, answers it once and
    closes; without reply it stays silent until the client goes."""

    def __init__(self, reply=None):
        self.reply = reply
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.open = []
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            self.open.append(conn)
            threading.Thread(target=self.answer, args=(conn,), daemon=True).start()

    def answer(self, conn):
        conn.settimeout(60)
        try:
            conn.recv(65536)
            if self.reply is not None:
                conn.sendall(self.reply)
                conn.close()
                return
            while conn.recv(65536):
                pass
        except OSError:
            pass

    def close(self):
        self.listener.close()
        for conn in self.open:
            conn.close()


def make_certificate(folder, name, alt):
    key = os.path.join(folder, name + ".key")
    cert = os.path.join(folder, name + ".pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=" + name, "-addext", "subjectAltName=" + alt],
                   check=True, capture_output=True)
    return cert, key


class Fixture(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="isql_connect_diag_test.")
        cls.dir = ini_folder("isql_connect_diag_test.ini.",
                             "[VYspark28]\nDescription=Driver under test\nDriver=%s\n" % LIBRARY, "")
        cls.cert, cls.key = make_certificate(cls.tmp.name, "localhost", "DNS:localhost")
        cls.servers = []

    @classmethod
    def tearDownClass(cls):
        for proc in cls.servers:
            stop_server(proc)
        cls.dir.cleanup()
        cls.tmp.cleanup()

    @classmethod
    def server(cls, *options):
        proc, port = start_server(SOURCE, "--synthetic-rows", "10", "--user", "ann", "--password", "s3cret",
                                  *options)
        cls.servers.append(proc)
        return port


class TlsAgainstPlainPeers(Fixture):
    """TLS on against a peer that does not speak it: the whole open keeps to
    LoginTimeout=3 (the handshake used to wait a fixed 30 s)."""

    def run_against(self, reply):
        peer = RawPeer(reply)
        try:
            return isql("HOST=127.0.0.1;PORT=%d;EncryptionMethod=1;ValidateServerCertificate=0;"
                        "LoginTimeout=3" % peer.port)
        finally:
            peer.close()

    def test_a_silent_peer_ends_within_the_login_time_out_and_says_so_first(self):
        taken, text = self.run_against(None)
        self.assertGreater(taken, 0)
        self.assertLess(taken, 15, text)
        self.assertTrue(first_record(text).startswith(TIMED_OUT), text)
        first = first_record(text)
        self.assertIn("login time-out of 3 seconds (LoginTimeout)", first)
        self.assertIn("SSL handshake", first)
        self.assertIn("EncryptionMethod", first)

    def test_a_peer_that_answers_plain_text_fails_at_once_naming_EncryptionMethod(self):
        taken, text = self.run_against(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n")
        self.assertLess(taken, 15, text)
        self.assertIn("08001", text)
        first = first_record(text)
        self.assertIn("did not answer with TLS", first)
        self.assertIn("EncryptionMethod", first)


class Mismatches(Fixture):
    """Each mismatch between the connection string and the server: the
    SQLSTATE, and what the first record must say."""

    def test_each_mismatch_names_the_setting_to_change(self):
        plain = self.server()
        tls = self.server("--tls-cert", self.cert, "--tls-key", self.key)
        http = self.server("--transport", "http")
        nosasl = self.server("--auth", "nosasl")
        cases = [
            # The binary test server waits for the rest of what it takes
            # for a login frame: to the driver a server that never answers.
            ("TLS on, plain binary server", plain, "EncryptionMethod=1;ValidateServerCertificate=0",
             TIMED_OUT, ["SSL handshake", "LoginTimeout", "EncryptionMethod"]),
            ("TLS off, TLS server", tls, "EncryptionMethod=0",
             UNABLE, ["expects TLS", "EncryptionMethod=1"]),
            ("TLS on, plain HTTP server", http,
             "TransportMode=1;EncryptionMethod=1;ValidateServerCertificate=0",
             UNABLE, ["did not answer with TLS", "EncryptionMethod", "not a certificate problem"]),
            ("TLS on and validating, plain HTTP server", http,
             "TransportMode=1;EncryptionMethod=1;TrustStore=%s" % self.cert,
             UNABLE, ["did not answer with TLS", "EncryptionMethod", "not a certificate problem"]),
            # An HTTP server waits for the end of a request line that the
            # login never sends.
            ("binary transport, HTTP server", http, "TransportMode=0",
             TIMED_OUT, ["login exchange", "LoginTimeout", "TransportMode"]),
            ("binary transport, server without SASL", nosasl, "TransportMode=0",
             UNABLE, ["TransportMode", "without SASL", "not supported"]),
            ("HTTP transport, binary server", plain, "TransportMode=1",
             UNABLE, ["does not speak HTTP", "TransportMode"]),
        ]
        for name, port, extra, states, words in cases:
            with self.subTest(name):
                taken, text = isql("HOST=127.0.0.1;PORT=%d;LoginTimeout=3;%s" % (port, extra))
                first = first_record(text)
                self.assertTrue(first.startswith(states), text)
                for word in words:
                    self.assertIn(word, first, text)
                self.assertNotIn("certificate was refused", text)
                self.assertLess(taken, 15, text)

    def test_a_host_that_does_not_resolve_gives_the_resolver_reason(self):
        for mode in ("0", "1"):
            with self.subTest(transport=mode):
                _, text = isql("HOST=no-such-host.invalid;PORT=10000;TransportMode=%s;LoginTimeout=20" % mode)
                self.assertIn("08001", text)
                self.assertIn("no-such-host.invalid", text)
                # The resolver's own reason, as the system gives it.
                with self.assertRaises(socket.gaierror) as caught:
                    socket.getaddrinfo("no-such-host.invalid", 10000, proto=socket.IPPROTO_TCP)
                self.assertIn(caught.exception.strerror, text)


class CertificatesByAddress(Fixture):
    """HOST=127.0.0.1 is checked against the certificate's IP entries on both
    transports; a DNS-name certificate is checked by its name."""

    def test_each_certificate_against_each_host_on_both_transports(self):
        by_ip = make_certificate(self.tmp.name, "byip", "IP:127.0.0.1")
        by_ip6 = make_certificate(self.tmp.name, "byip6", "IP:::1")
        wrong_ip = make_certificate(self.tmp.name, "wrongip", "IP:10.9.8.7")
        by_name = (self.cert, self.key)
        cases = [
            ("IP certificate, address", by_ip, "127.0.0.1", "", True),
            ("DNS certificate, its name", by_name, "127.0.0.1", "HostNameInCertificate=localhost", True),
            ("DNS certificate, address", by_name, "127.0.0.1", "", False),
            ("certificate for another address", wrong_ip, "127.0.0.1", "", False),
            ("IPv6 certificate, IPv4 address", by_ip6, "127.0.0.1", "", False),
        ]
        for transport in ("binary", "http"):
            for name, (cert, key), host, extra, accepted in cases:
                with self.subTest(transport=transport, case=name):
                    port = self.server("--transport", transport, "--tls-cert", cert, "--tls-key", key)
                    _, text = isql("HOST=%s;PORT=%d;TransportMode=%d;EncryptionMethod=1;TrustStore=%s;"
                                   "LoginTimeout=20;%s" % (host, port, transport == "http", cert, extra))
                    if accepted:
                        self.assertIn("Connected!", text)
                    else:
                        self.assertNotIn("Connected!", text)
                        self.assertIn("08001", text)
                        self.assertIn("not for the host", text)


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    SOURCE = sys.argv.pop(1)
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    unittest.main(verbosity=2)
