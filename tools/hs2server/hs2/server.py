"""Transports: binary (SASL-framed or raw NOSASL) and HTTP, each optionally
under TLS, one thread per client connection.

The SASL negotiation is the one of Thrift's SASL server transport: messages
of one status byte, a 4-byte big-endian length and the payload; afterwards
every Thrift message travels in frames of a 4-byte big-endian length and the
payload.
"""

import http.server
import socket
import ssl
import struct
import threading
import time

from thrift.Thrift import TApplicationException, TMessageType
from thrift.protocol.TBinaryProtocol import TBinaryProtocol
from thrift.transport.TTransport import TMemoryBuffer, TTransportBase, TTransportException

from . import auth
from .service import Conn, SafeBinaryProtocol

START, OK, BAD, ERROR, COMPLETE = 1, 2, 3, 4, 5
MAX_SASL_PAYLOAD = 104857600
MAX_FRAME = 104857600
OVERSIZE = 0x7FFFFFF0
HANDSHAKE_TIMEOUT = 30


class Closed(Exception):
    pass


def read_exact(rfile, n):
    data = rfile.read(n)
    if data is None or len(data) < n:
        raise Closed()
    return data


class FramedReader(TTransportBase):
    """Reads the payloads of length-prefixed frames as one byte stream."""

    def __init__(self, rfile):
        self.rfile = rfile
        self.buf = b""
        self.pos = 0

    def isOpen(self):
        return True

    def read(self, sz):
        if self.pos >= len(self.buf):
            (length,) = struct.unpack(">i", read_exact(self.rfile, 4))
            if length < 0 or length > MAX_FRAME:
                raise TTransportException(TTransportException.SIZE_LIMIT,
                                          "Invalid frame size %d" % length)
            self.buf = read_exact(self.rfile, length)
            self.pos = 0
        chunk = self.buf[self.pos:self.pos + sz]
        self.pos += len(chunk)
        return chunk


class StreamReader(TTransportBase):
    def __init__(self, rfile):
        self.rfile = rfile

    def isOpen(self):
        return True

    def read(self, sz):
        data = self.rfile.read(sz)
        if not data:
            raise Closed()
        return data


class Options:
    def __init__(self, host="127.0.0.1", port=0, transport="binary", auth_mode="plain",
                 credentials=None, tls_cert=None, tls_key=None, faults=None, kerberos_qop=1):
        self.host = host
        self.port = port
        self.transport = transport
        self.auth_mode = auth_mode
        self.credentials = credentials or auth.Credentials()
        self.tls_cert = tls_cert
        self.tls_key = tls_key
        self.faults = faults
        self.kerberos_qop = kerberos_qop


class Server:
    def __init__(self, service, options):
        self.service = service
        self.options = options
        self.stopping = threading.Event()
        self.cookies = auth.CookieSigner()
        self.tls = None
        if options.tls_cert:
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.load_cert_chain(options.tls_cert, options.tls_key)
            self.tls = ctx
        self.listener = socket.create_server((options.host, options.port), reuse_port=False)
        self.port = self.listener.getsockname()[1]

    def serve_forever(self):
        self.listener.settimeout(0.2)
        while not self.stopping.is_set():
            try:
                sock, addr = self.listener.accept()
            except socket.timeout:
                continue
            except OSError:
                break
            sock.settimeout(None)
            threading.Thread(target=self._connection, args=(sock, addr), daemon=True).start()
        self.listener.close()

    def stop(self):
        self.stopping.set()

    def _connection(self, sock, addr):
        try:
            if self.tls is not None:
                sock.settimeout(HANDSHAKE_TIMEOUT)
                sock = self.tls.wrap_socket(sock, server_side=True)
                sock.settimeout(None)
            if self.options.transport == "http":
                HttpHandler(sock, addr, self)
            else:
                self._binary(sock, addr)
        except (OSError, ssl.SSLError, Closed):
            pass
        finally:
            try:
                sock.close()
            except OSError:
                pass

    # -- binary -------------------------------------------------------------------
    def _binary(self, sock, addr):
        conn = Conn(self.options.faults.copy(), "%s:%s" % addr[:2])
        rfile = sock.makefile("rb")
        framed = self.options.auth_mode != "nosasl"
        if framed:
            if not self._sasl(sock, rfile, conn):
                return
            reader = FramedReader(rfile)
        else:
            reader = StreamReader(rfile)
        while not self.stopping.is_set():
            iprot = SafeBinaryProtocol(reader)
            try:
                reply, action = self.service.process(iprot, conn)
            except (Closed, EOFError, ConnectionError, TTransportException):
                return
            except Exception as e:  # a message that cannot be decoded ends the connection
                self._send(sock, self._exception(str(e)), framed, None)
                return
            if not self._send(sock, reply, framed, action):
                return

    def _exception(self, text):
        out = TMemoryBuffer()
        prot = TBinaryProtocol(out)
        prot.writeMessageBegin("", TMessageType.EXCEPTION, 0)
        TApplicationException(TApplicationException.PROTOCOL_ERROR, text).write(prot)
        prot.writeMessageEnd()
        return out.getvalue()

    def _send(self, sock, reply, framed, action):
        """Sends a reply as the fault asks; False when the connection ends."""
        kind = action[0] if action else None
        if kind == "stall":
            time.sleep(action[1] / 1000.0)
        if kind == "drop" or reply is None:
            sock.shutdown(socket.SHUT_RDWR)
            return False
        if kind == "oversize":
            if framed:
                sock.sendall(struct.pack(">I", OVERSIZE) + reply)
            else:
                # no frame: the method name's length prefix carries the lie
                sock.sendall(reply[:4] + struct.pack(">I", OVERSIZE) + reply[8:])
            sock.shutdown(socket.SHUT_RDWR)
            return False
        data = struct.pack(">I", len(reply)) + reply if framed else reply
        if kind == "truncate":
            sock.sendall(data[:max(len(data) // 2, 5 if framed else 1)])
            sock.shutdown(socket.SHUT_RDWR)
            return False
        sock.sendall(data)
        return True

    def _sasl(self, sock, rfile, conn):
        def send(status, payload):
            sock.sendall(struct.pack(">BI", status, len(payload)) + payload)

        def receive():
            status, length = struct.unpack(">BI", read_exact(rfile, 5))
            if length > MAX_SASL_PAYLOAD:
                send(ERROR, b"Invalid payload header length: %d" % length)
                raise Closed()
            return status, read_exact(rfile, length)

        status, payload = receive()
        if status != START:
            send(ERROR, b"Expecting START status, received %d" % status)
            return False
        name = payload.decode("utf-8", "replace")
        # TSaslServerTransport looks the name up as sent: "plain" is unknown.
        kerberos = self.options.auth_mode == "kerberos"
        mech_cls = (auth.KERBEROS_MECHANISMS if kerberos else auth.MECHANISMS).get(name)
        if mech_cls is None:
            send(BAD, ("Unsupported mechanism type %s" % name).encode("utf-8"))
            return False
        if kerberos:
            mech = mech_cls(self.options.credentials, self.options.kerberos_qop)
        else:
            mech = mech_cls(self.options.credentials)
        action = conn.faults.action("sasl", conn.counts)
        while True:
            status, payload = receive()
            if status not in (OK, COMPLETE):
                if status in (BAD, ERROR):
                    return False
                send(ERROR, b"Invalid status %d" % status)
                return False
            try:
                done, challenge = mech.step(payload)
            except auth.AuthFailure as e:
                if self.service.log is not None:
                    self.service.log("%s SASL refused: %s" % (conn.peer, e.cause))
                send(BAD, str(e).encode("utf-8"))
                return False
            if action is not None and action[0] == "stall":
                time.sleep(action[1] / 1000.0)
            elif action is not None and action[0] == "drop":
                return False
            if done:
                conn.user = mech.user
                send(COMPLETE, challenge)
                return True
            send(OK, challenge)


class HttpHandler(http.server.BaseHTTPRequestHandler):
    """POST /cliservice with one unframed Thrift message per body."""

    protocol_version = "HTTP/1.1"
    # The reply goes out in two writes (head, body): without this each small
    # query waits for the peer's delayed acknowledgement.
    disable_nagle_algorithm = True
    server_version = "Jetty"
    sys_version = ""

    def __init__(self, sock, addr, owner):
        self.owner = owner
        self.conn = Conn(owner.options.faults.copy(), "%s:%s" % addr[:2])
        super().__init__(sock, addr, owner)

    def log_message(self, *args):
        pass

    def _body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            parts = []
            total = 0
            while True:
                line = self.rfile.readline(1024)
                try:
                    size = int(line.split(b";")[0].strip(), 16)
                except ValueError:
                    raise Closed() from None
                if size == 0:
                    while self.rfile.readline(1024) not in (b"\r\n", b"\n", b""):
                        pass
                    break
                total += size
                if total > MAX_FRAME:
                    raise Closed()
                parts.append(read_exact(self.rfile, size))
                self.rfile.readline(8)
            return b"".join(parts)
        try:
            length = int(self.headers.get("Content-Length", "0"))
        except ValueError:
            raise Closed() from None
        if length < 0 or length > MAX_FRAME:
            raise Closed()
        return read_exact(self.rfile, length)

    def _reply(self, code, body, ctype="application/x-thrift", extra=()):
        self.send_response(code)
        if ctype is not None:
            self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        for k, v in extra:
            self.send_header(k, v)
        self.end_headers()
        self.wfile.write(body)

    def _authenticate(self):
        """(user, cookie to set or None); raises AuthFailure."""
        owner = self.owner
        for value in auth.cookie_values(self.headers.get("Cookie", ""), auth.COOKIE_NAME):
            user = owner.cookies.verify(value)
            if user is not None:
                if owner.service.log is not None:
                    owner.service.log("%s HTTP login by cookie as %s" % (self.conn.peer, user))
                return user, None
        header = self.headers.get("Authorization", "")
        scheme, _, token = header.strip().partition(" ")
        if owner.options.auth_mode == "nosasl":
            user = "anonymous"
            if scheme.lower() == "basic":
                try:
                    user = auth.BasicScheme(auth.Credentials()).authenticate(token.strip())
                except auth.AuthFailure:
                    pass
            return user, None
        if not header:
            raise auth.AuthFailure("Authorization header received from the client is empty.")
        schemes = auth.KERBEROS_SCHEMES if owner.options.auth_mode == "kerberos" else auth.SCHEMES
        handler_cls = schemes.get(scheme.lower())
        if handler_cls is None:
            raise auth.AuthFailure("Unsupported authentication scheme %s" % scheme)
        scheme_obj = handler_cls(owner.options.credentials)
        user = scheme_obj.authenticate(token.strip())
        if owner.service.log is not None:
            owner.service.log("%s HTTP login by %s as %s" % (self.conn.peer, scheme_obj.name, user))
        # multi-step schemes (Negotiate) hand back their own reply headers
        self.auth_headers = list(getattr(scheme_obj, "response_headers", ()))
        return user, owner.cookies.make(user)

    def do_POST(self):
        try:
            body = self._body()
        except Closed:
            self.close_connection = True
            return
        path = self.path.split("?", 1)[0]
        if not (path == "/cliservice" or path.startswith("/cliservice/")):
            self._reply(404, b"Not Found", "text/plain")
            return
        try:
            user, cookie = self._authenticate()
        except auth.AuthFailure as e:
            # ThriftHttpServlet.doPost: 401, the text println'd, no content
            # type, and WWW-Authenticate: Negotiate only under Kerberos.
            self._reply(401, ("Authentication Error: %s\n" % e).encode("utf-8"), None,
                        list(getattr(e, "headers", ())))
            return
        self.conn.user = user
        try:
            reply, action = self.owner.service.process(
                SafeBinaryProtocol(TMemoryBuffer(body)), self.conn)
        except Exception as e:
            reply, action = self.owner._exception(str(e)), None
        extra = list(getattr(self, "auth_headers", ()))
        self.auth_headers = ()
        if cookie is not None:
            secure = "; Secure" if self.owner.tls is not None else ""
            extra.append(("Set-Cookie", "%s=%s; Max-Age=%d; HttpOnly%s"
                          % (auth.COOKIE_NAME, cookie, self.owner.cookies.max_age, secure)))
        kind = action[0] if action else None
        if kind == "stall":
            time.sleep(action[1] / 1000.0)
        if kind == "drop" or reply is None:
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if kind in ("truncate", "oversize"):
            self.send_response(200)
            self.send_header("Content-Type", "application/x-thrift")
            self.send_header("Content-Length", str(OVERSIZE if kind == "oversize" else len(reply)))
            for k, v in extra:
                self.send_header(k, v)
            self.end_headers()
            self.wfile.write(reply if kind == "oversize" else reply[:max(len(reply) // 2, 1)])
            self.wfile.flush()
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        self._reply(200, reply, extra=extra)

    def do_GET(self):
        self._reply(405, b"HTTP method GET is not supported by this URL", "text/plain")
