"""Queries through unixODBC and pyodbc against the bundled HiveServer2 test
server: every Hive type of the all_types table compared value by value with
what the server itself says it sends, descriptions, a result larger than
one block, row counts of DML and a server error as a diagnostic; under every server identity, with the default
protocol setting (column-wise results) and an old protocol (row-wise).
Run with /usr/bin/python3; argument: the driver library."""
import base64
import datetime
import decimal
import json
import os
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SERVER = os.path.join(ROOT, "tools", "hs2server", "hs2server")
IDENTITIES = ("hive-1.2", "hive-2.3", "hive-3.1", "spark-3")
# The default asks for the newest protocol (column-wise results); 4 is V5,
# whose results are row-wise.
PROTOCOLS = (None, 4)


def expected_rows(table):
    out = subprocess.run(["/usr/bin/python3", SERVER, "--print-rows", table],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def as_python(hive_type, value, columnar):
    """The value pyodbc gives for what the server sends."""
    if value is None:
        return None
    if hive_type.startswith("decimal"):
        return decimal.Decimal(value)
    if hive_type == "bigint":
        return int(value)
    if hive_type == "date":
        return datetime.date.fromisoformat(value)
    if hive_type == "timestamp":
        day, _, rest = value.partition(" ")
        clock, _, frac = rest.partition(".")
        micros = int((frac + "000000")[:6]) if frac else 0
        base = datetime.datetime.fromisoformat(day + " " + clock)
        return base.replace(microsecond=micros)
    if hive_type == "binary":
        data = base64.b64decode(value["base64"])
        # Before V6 the server sends binary values as text, bad UTF-8 replaced.
        return data if columnar else data.decode("utf-8", "replace").encode("utf-8")
    return value


class Server:
    def __init__(self, identity):
        self.proc = subprocess.Popen(["/usr/bin/python3", SERVER, "--port", "0", "--server", identity,
                                      "--synthetic-rows", "25000"],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.port = int(self.proc.stdout.readline())

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)


class HiveQueries(unittest.TestCase):
    def connect(self, server, protocol, more=""):
        text = ("DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;UID=tester;PWD=secret;DB=default"
                % server.port)
        if protocol is not None:
            text += ";CSP=%d" % protocol
        return pyodbc.connect(text + more, timeout=20, autocommit=True)

    def each_setting(self, body, extras=("",)):
        """body(connection, columnar) under every identity and layout, and
        with each of extras added to the connection string."""
        for identity in IDENTITIES:
            server = Server(identity)
            try:
                for protocol in PROTOCOLS:
                    for more in extras:
                        with self.subTest(identity=identity, protocol=protocol, more=more):
                            connection = self.connect(server, protocol, more)
                            try:
                                body(connection, protocol is None)
                            finally:
                                connection.close()
            finally:
                server.stop()

    def test_every_hive_type_arrives_as_the_server_sent_it(self):
        expected = expected_rows("default.all_types")
        types = [c[1] for c in expected["columns"]]

        def body(connection, columnar):
            cursor = connection.cursor()
            cursor.execute("SELECT * FROM all_types ORDER BY id")
            self.assertEqual([d[0] for d in cursor.description], [c[0] for c in expected["columns"]])
            got = cursor.fetchall()
            self.assertEqual(len(got), len(expected["rows"]))
            for row, want in zip(got, expected["rows"]):
                for value, hive_type, sent in zip(row, types, want):
                    wanted = as_python(hive_type, sent, columnar)
                    if hive_type == "float" and wanted is not None:
                        self.assertAlmostEqual(value, wanted, delta=abs(wanted) * 1e-6,
                                               msg="row %s" % row[0])
                    else:
                        self.assertEqual(value, wanted, "row %s column %s" % (row[0], hive_type))

        self.each_setting(body)

    def test_description_gives_names_types_and_sizes(self):
        def body(connection, columnar):
            cursor = connection.cursor()
            cursor.execute("SELECT id, name, joined, score FROM people")
            d = cursor.description
            self.assertEqual([c[0] for c in d], ["id", "name", "joined", "score"])
            self.assertEqual([c[1] for c in d], [int, str, datetime.date, float])
            self.assertEqual(d[0][3], 10)
            self.assertEqual(d[2][3], 10)
            cursor.fetchall()
            # Timestamps come with nanoseconds from every server, in both layouts.
            cursor.execute("SELECT c_timestamp FROM all_types")
            d = cursor.description
            self.assertEqual((d[0][1], d[0][3], d[0][5]), (datetime.datetime, 29, 9))
            cursor.fetchall()

        self.each_setting(body)

    def test_a_result_larger_than_one_block(self):
        # Every value is compared with the row the server built for its id.
        # With a 64 KB long-data cache a column-wise block of short strings
        # spills to its temporary file, and the values that straddle one of
        # its blocks are copied out whole.
        def body(connection, columnar):
            cursor = connection.cursor()
            cursor.execute("SELECT id, s, n FROM bench.synthetic")
            total = 0
            ids = set()
            while True:
                rows = cursor.fetchmany(4000)
                if not rows:
                    break
                total += len(rows)
                for r in rows:
                    k = (r[0] - 1) % 10000
                    ids.add(r[0])
                    self.assertEqual((r[1], r[2]), ("text-%d" % k, None if k % 10 == 9 else k),
                                     "row %d" % r[0])
            self.assertEqual(total, 25000)
            self.assertEqual(len(ids), 25000)

        self.each_setting(body, ("", ";LDCS=64"))

    def test_dml_gives_its_row_count(self):
        def body(connection, columnar):
            cursor = connection.cursor()
            cursor.execute("CREATE TABLE IF NOT EXISTS t_dml (a int, b string)")
            cursor.execute("INSERT INTO t_dml VALUES (1, 'x'), (2, 'y'), (3, 'z')")
            self.assertIn(cursor.rowcount, (3, -1))
            cursor.execute("SELECT count(*) FROM t_dml")
            self.assertGreaterEqual(cursor.fetchone()[0], 3)
            cursor.execute("DROP TABLE t_dml")

        self.each_setting(body)

    def test_a_server_error_is_a_diagnostic_with_the_servers_text(self):
        def body(connection, columnar):
            cursor = connection.cursor()
            with self.assertRaises(pyodbc.Error) as caught:
                cursor.execute("SELECT nosuchcolumn FROM people")
            state, text = caught.exception.args[0], caught.exception.args[1]
            self.assertEqual(len(state), 5)
            self.assertNotEqual(state, "HY000", text)
            self.assertIn("nosuchcolumn", text)
            self.assertIn("[Mirrowen]", text)
            # The connection goes on working.
            cursor.execute("SELECT count(*) FROM people")
            self.assertEqual(cursor.fetchone()[0], 8)

        self.each_setting(body)


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    work = tempfile.TemporaryDirectory(prefix="hs2_query_test.")
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
