"""Results through unixODBC and pyodbc compared value by value with what the
pinned hive-driver Node client fetches from the same test server for the
same query: every column of default.all_types and a few hundred rows of
bench.synthetic, under every server identity, with column-wise results
(the default protocol) and row-wise ones (CSP=4, V5; the Node client then
asks for V5 too). Each difference is reported with its row, column and both
values.

Differences accepted, each for a stated reason:
- float columns: row-wise the server sends a FLOAT as the double nearest
  the float, column-wise as the float's shortest text; both name one 32-bit
  value, so they compare at 32-bit precision.
- binary columns below V6 travel as text (bad UTF-8 replaced): the Node
  client shows that text, the driver gives its UTF-8 bytes.
Timestamps are read as the driver's timestamp structure (nanoseconds
included), not as Python's datetime, which would drop the last three digits.

Run with /usr/bin/python3; argument: the driver library."""
import base64
import datetime
import decimal
import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SERVER = os.path.join(ROOT, "tools", "hs2server", "hs2server")
NODE_FETCH = os.path.join(HERE, "hs2_node_fetch.js")
IDENTITIES = ("hive-1.2", "hive-2.3", "hive-3.1", "spark-3")
# (driver's CSP setting, the Node session's protocol number): the default
# asks for the newest protocol (column-wise); 4 is V5 (row-wise). The Node
# client does not step down by itself: it asks for the newest the identity
# knows (V8, number 7, for hive-1.2; V10, number 9, for the others).
LAYOUTS = ((None, None), (4, 4))
NEWEST = {"hive-1.2": 7}
QUERIES = ("SELECT * FROM all_types ORDER BY id",
           "SELECT * FROM bench.synthetic LIMIT 300")
SQL_TYPE_TIMESTAMP = 93


def timestamp_text(raw):
    """The driver's SQL_TIMESTAMP_STRUCT as text with nine fraction digits."""
    if raw is None:
        return None
    year, month, day, hour, minute, second, fraction = struct.unpack("<hHHHHHI", raw[:16])
    return "%04d-%02d-%02d %02d:%02d:%02d.%09d" % (year, month, day, hour, minute, second, fraction)


def as_float32(value):
    try:
        return struct.unpack("<f", struct.pack("<f", value))[0]
    except OverflowError:
        return None


def same(got, sent, columnar):
    """Whether the driver's value names what the Node client fetched; the
    second result says why a difference was accepted."""
    if got is None or sent is None:
        return got is None and sent is None, ""
    if isinstance(got, bool):
        return got == sent, ""
    if isinstance(got, int):
        return got == int(sent), ""
    if isinstance(got, float):
        if got == float(sent):
            return True, ""
        f = as_float32(float(sent))
        return f is not None and f == as_float32(got), "float compared at 32-bit precision"
    if isinstance(got, decimal.Decimal):
        return got == decimal.Decimal(sent), ""
    if isinstance(got, datetime.date):
        return got.isoformat() == sent, ""
    if isinstance(got, bytes):
        if columnar:
            return got == base64.b64decode(sent["base64"]), ""
        return got == sent.encode("utf-8"), "binary below V6 travels as text"
    if isinstance(got, str) and len(got) == 29 and sent and isinstance(sent, str) and got[4:5] == "-" \
            and got[10:11] == " ":
        # A timestamp read through the structure: pad what was sent to nine digits.
        whole, _, frac = sent.partition(".")
        return got == whole + "." + (frac + "000000000")[:9], ""
    return got == sent, ""


class Server:
    def __init__(self, identity):
        self.proc = subprocess.Popen(["/usr/bin/python3", SERVER, "--port", "0", "--server", identity,
                                      "--synthetic-rows", "1000"],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.port = int(self.proc.stdout.readline())

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)
        self.proc.stdout.close()


def node_rows(port, protocol, query):
    out = subprocess.run(["node", NODE_FETCH, str(port), str(protocol), query], check=True,
                         capture_output=True, text=True, timeout=120).stdout
    return json.loads(out)


class NodeCompare(unittest.TestCase):
    def test_driver_and_node_client_fetch_the_same_values(self):
        accepted = set()
        for identity in IDENTITIES:
            server = Server(identity)
            try:
                for csp, protocol in LAYOUTS:
                    text = ("DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;UID=tester;PWD=secret;DB=default"
                            % server.port)
                    if csp is not None:
                        text += ";CSP=%d" % csp
                    connection = pyodbc.connect(text, timeout=20, autocommit=True)
                    connection.add_output_converter(SQL_TYPE_TIMESTAMP, timestamp_text)
                    try:
                        for query in QUERIES:
                            with self.subTest(identity=identity, csp=csp, query=query):
                                reference = node_rows(server.port, protocol or NEWEST.get(identity, 9), query)
                                cursor = connection.cursor()
                                cursor.execute(query)
                                names = [d[0] for d in cursor.description]
                                got = cursor.fetchall()
                                self.assertEqual(names, [n.rpartition(".")[2] for n in reference["columns"]])
                                self.assertGreater(len(got), 1)
                                self.assertEqual(len(got), len(reference["rows"]))
                                wrong = []
                                for row, sent in zip(got, reference["rows"]):
                                    for name, value, want in zip(names, row, sent):
                                        ok, why = same(value, want, csp is None)
                                        if not ok:
                                            wrong.append("row id=%r column %s: driver %r, Node client %r"
                                                         % (row[0], name, value, want))
                                        elif why:
                                            accepted.add(why)
                                self.assertEqual([], wrong, "\n".join(wrong[:20]))
                    finally:
                        connection.close()
            finally:
                server.stop()
        if accepted:
            print("accepted differences: " + "; ".join(sorted(accepted)), file=sys.stderr)


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    work = tempfile.TemporaryDirectory(prefix="hs2_node_compare_test.")
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
