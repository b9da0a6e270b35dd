"""A small HiveServer2 client for the test server's own tests, built from the
same generated TCLIService code: it starts a server, opens sessions over the
binary (SASL or NOSASL) or HTTP transport, and speaks raw bytes when a test
needs to see them."""

import base64
import os
import signal
import socket
import ssl
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
TOOL = os.path.join(ROOT, "tools", "hs2server")
sys.path.insert(0, TOOL)

from hs2 import gencode  # noqa: E402

TCLIService, T = gencode.load()

from thrift.protocol.TBinaryProtocol import TBinaryProtocol  # noqa: E402
from thrift.transport import THttpClient, TTransport  # noqa: E402
from thrift.transport.TTransport import TTransportBase  # noqa: E402

PYTHON = "/usr/bin/python3"


class ServerProcess:
    """Runs tools/hs2server/hs2server with the given options."""

    def __init__(self, *args):
        self.args = list(args)
        self.proc = subprocess.Popen([PYTHON, os.path.join(TOOL, "hs2server"), "--port", "0"]
                                     + self.args, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if not line.strip().isdigit():
            err = self.proc.stderr.read()
            self.proc.kill()
            raise RuntimeError("server did not start: %r %s" % (line, err))
        self.port = int(line)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                return self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        return self.proc.returncode

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
        self.proc.stdout.close()
        self.proc.stderr.close()


class SocketTransport(TTransportBase):
    def __init__(self, sock):
        self.sock = sock

    def isOpen(self):
        return True

    def read(self, sz):
        return self.sock.recv(sz)

    def write(self, buf):
        self.sock.sendall(buf)

    def flush(self):
        pass

    def close(self):
        self.sock.close()


def sasl_message(status, payload):
    return struct.pack(">BI", status, len(payload)) + payload


def recv_exact(sock, n):
    out = b""
    while len(out) < n:
        chunk = sock.recv(n - len(out))
        if not chunk:
            raise EOFError("connection closed after %d of %d bytes" % (len(out), n))
        out += chunk
    return out


def connect_socket(port, tls_ca=None, server_hostname="localhost", timeout=30):
    sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    if tls_ca:
        ctx = ssl.create_default_context(cafile=tls_ca)
        sock = ctx.wrap_socket(sock, server_hostname=server_hostname)
    return sock


def sasl_plain(sock, user, password, final_status=2, authzid=""):
    sock.sendall(sasl_message(1, b"PLAIN"))
    sock.sendall(sasl_message(final_status, authzid.encode() + b"\0" + user.encode() + b"\0"
                              + password.encode()))
    status, length = struct.unpack(">BI", recv_exact(sock, 5))
    return status, recv_exact(sock, length)


class Client:
    """A TCLIService client over one transport."""

    def __init__(self, port, transport="binary", auth="plain", user="hive", password="hive",
                 tls_ca=None, protocol=T.TProtocolVersion.HIVE_CLI_SERVICE_PROTOCOL_V10,
                 path="/cliservice", authzid=""):
        self.transport_kind = transport
        if transport == "http":
            scheme = "https" if tls_ca else "http"
            ctx = ssl.create_default_context(cafile=tls_ca) if tls_ca else None
            self.trans = THttpClient.THttpClient("%s://localhost:%d%s" % (scheme, port, path),
                                                 ssl_context=ctx)
            self.trans.setCustomHeaders({"Authorization": "Basic " + base64.b64encode(
                ("%s:%s" % (user, password)).encode()).decode()})
        else:
            self.sock = connect_socket(port, tls_ca)
            raw = SocketTransport(self.sock)
            if auth == "plain":
                status, payload = sasl_plain(self.sock, user, password, authzid=authzid)
                if status != 5:
                    raise PermissionError(payload.decode("utf-8", "replace"))
                self.trans = TTransport.TFramedTransport(raw)
            else:
                self.trans = TTransport.TBufferedTransport(raw)
        self.client = TCLIService.Client(TBinaryProtocol(self.trans))
        self.session = None
        self.protocol = protocol

    def open(self, configuration=None):
        resp = self.client.OpenSession(T.TOpenSessionReq(client_protocol=self.protocol,
                                                         configuration=configuration))
        self.open_resp = resp
        self.session = resp.sessionHandle
        return resp

    def close(self):
        if self.session is not None:
            try:
                self.client.CloseSession(T.TCloseSessionReq(sessionHandle=self.session))
            except Exception:
                pass
        try:
            self.trans.close()
        except Exception:
            pass

    def execute(self, sql, overlay=None, run_async=False):
        return self.client.ExecuteStatement(T.TExecuteStatementReq(
            sessionHandle=self.session, statement=sql, confOverlay=overlay, runAsync=run_async))

    def metadata(self, op):
        return self.client.GetResultSetMetadata(T.TGetResultSetMetadataReq(operationHandle=op))

    def fetch(self, op, max_rows=1000, orientation=0):
        return self.client.FetchResults(T.TFetchResultsReq(operationHandle=op,
                                                           orientation=orientation,
                                                           maxRows=max_rows))

    def status(self, op):
        return self.client.GetOperationStatus(T.TGetOperationStatusReq(operationHandle=op))

    def close_op(self, op):
        return self.client.CloseOperation(T.TCloseOperationReq(operationHandle=op))

    def query(self, sql, max_rows=1000):
        """(column names, TColumnDesc list, rows as Python values, fetch responses)."""
        resp = self.execute(sql)
        if resp.status.statusCode != 0:
            raise QueryError(resp.status)
        op = resp.operationHandle
        meta = self.metadata(op)
        names = [c.columnName for c in meta.schema.columns]
        rows, blocks = [], []
        while True:
            f = self.fetch(op, max_rows)
            if f.status.statusCode != 0:
                raise QueryError(f.status)
            blocks.append(f)
            block = decode_rowset(f.results)
            if not block:
                break
            rows.extend(block)
        self.close_op(op)
        return names, meta.schema.columns, rows, blocks


class QueryError(Exception):
    def __init__(self, status):
        super().__init__(status.errorMessage)
        self.status = status


_MEMBERS = ("boolVal", "byteVal", "i16Val", "i32Val", "i64Val", "doubleVal", "stringVal",
            "binaryVal")


def column_member(col):
    for m in _MEMBERS:
        v = getattr(col, m)
        if v is not None:
            return m, v
    raise ValueError("empty TColumn")


def is_null(bitmap, i):
    return i // 8 < len(bitmap) and bool(bitmap[i // 8] & (1 << (i % 8)))


def decode_rowset(rs):
    """Rows of Python values (None for NULL) from a row-wise or column-wise TRowSet."""
    if rs.columns:
        cols = []
        for c in rs.columns:
            _, v = column_member(c)
            cols.append([None if is_null(v.nulls, i) else x for i, x in enumerate(v.values)])
        return [list(r) for r in zip(*cols)]
    rows = []
    for r in rs.rows:
        row = []
        for cv in r.colVals:
            _, v = column_member(cv)
            row.append(v.value)
        rows.append(row)
    return rows
