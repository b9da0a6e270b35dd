"""Parameters through pyodbc and unixODBC against the bundled HiveServer2 test
server, whose SQL front end reads Hive's string literals as Hive does
(adjacent literals joined, backslash escapes): every Python type pyodbc binds
stored and read back equal; a table of hostile values that must arrive as the
value and never change the statement; long values sent at execution;
parameter arrays; several cursors of one connection fetched alternately.
Under every server identity, column-wise and row-wise. Run with
/usr/bin/python3; argument: the driver library."""
import datetime
import decimal
import os
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SERVER = os.path.join(ROOT, "tools", "hs2server", "hs2server")
IDENTITIES = ("hive-1.2", "hive-2.3", "hive-3.1", "spark-3")
# None asks for the newest protocol (column-wise results); 4 gives rows.
PROTOCOLS = (None, 4)

# Values that end a literal early, put it out of step with the quote fixer
# or smuggle an escape in, if the driver renders them carelessly.
HOSTILE = [
    "'",
    "''",
    "\\'",
    "\\\\'",
    "\\' OR 1=1 --",
    "' OR '1'='1",
    "x\\",
    "ends with two backslashes\\\\",
    "line one\nline two\r\n\ttabbed",
    "nul\0in the middle",
    "nul then digits \0" + "12",
    "\\012 is not octal here",
    "\\u0041 is not an escape here",
    "a \"double\" and a `back` quote",
    "non-BMP \U0001F600 and \u00e9",
    "?",
    "{fn UCASE('x')}",
    "; DROP TABLE h; --",
    "\x1a control-Z",
]


class Server:
    def __init__(self, identity):
        self.proc = subprocess.Popen(["/usr/bin/python3", SERVER, "--port", "0", "--server", identity],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.port = int(self.proc.stdout.readline())

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)
        self.proc.stdout.close()


class Parameters(unittest.TestCase):
    def connect(self, server, protocol):
        text = ("DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;UID=tester;PWD=secret;DB=default"
                % server.port)
        if protocol is not None:
            text += ";CSP=%d" % protocol
        return pyodbc.connect(text, timeout=20, autocommit=True)

    def each_setting(self, body, identities=IDENTITIES, protocols=PROTOCOLS):
        for identity in identities:
            server = Server(identity)
            try:
                for protocol in protocols:
                    with self.subTest(identity=identity, protocol=protocol):
                        connection = self.connect(server, protocol)
                        try:
                            body(connection, protocol is None)
                        finally:
                            connection.close()
            finally:
                server.stop()

    def test_every_python_type_is_stored_and_read_back_equal(self):
        # pyodbc binds timestamps at the size SQLGetTypeInfo gives, 19 (whole
        # seconds) without it.
        rows = [
            (1, 2.5, decimal.Decimal("123.450"), "plain", b"\x00\x01\xfe\xff bytes", datetime.date(2024, 2, 29),
             datetime.datetime(2024, 2, 29, 23, 59, 58)),
            (-9223372036854775808, -1e300, decimal.Decimal("-0.001"), "non-BMP \U0001F600 \u4e2d",
             b"", datetime.date(1, 1, 1), datetime.datetime(1970, 1, 1, 0, 0, 0)),
            (None, None, None, None, None, None, None),
        ]

        def body(connection, columnar):
            cursor = connection.cursor()
            cursor.execute("CREATE TABLE pt (k int, i bigint, f double, d decimal(10,3), s string, b binary, "
                           "dt date, ts timestamp)")
            try:
                for k, row in enumerate(rows):
                    cursor.execute("INSERT INTO pt VALUES (?, ?, ?, ?, ?, ?, ?, ?)", (k,) + row)
                for k, row in enumerate(rows):
                    cursor.execute("SELECT i, f, d, s, b, dt, ts FROM pt WHERE k = ?", k)
                    got = cursor.fetchall()
                    self.assertEqual(len(got), 1)
                    got = tuple(got[0])
                    want = row
                    if not columnar and row[4]:
                        # Before V6 the server sends binaries as text.
                        want = row[:4] + (row[4].decode("utf-8", "replace").encode("utf-8"),) + row[5:]
                    self.assertEqual(got, want)
                # The same values select their rows.
                cursor.execute("SELECT k FROM pt WHERE s = ? AND i = ? AND dt = ?", rows[1][3], rows[1][0],
                               rows[1][5])
                self.assertEqual([r[0] for r in cursor.fetchall()], [1])
            finally:
                cursor.execute("DROP TABLE pt")

        self.each_setting(body)

    def test_hostile_values_arrive_unchanged_and_change_nothing_else(self):
        def body(connection, columnar):
            cursor = connection.cursor()
            cursor.execute("CREATE TABLE h (id int, v string)")
            try:
                cursor.execute("INSERT INTO h VALUES (0, 'canary')")
                for n, value in enumerate(HOSTILE, 1):
                    cursor.execute("INSERT INTO h VALUES (?, ?)", n, value)
                    cursor.execute("SELECT v FROM h WHERE id = ?", n)
                    self.assertEqual([r[0] for r in cursor.fetchall()], [value], repr(value))
                    cursor.execute("SELECT id FROM h WHERE v = ?", value)
                    self.assertEqual([r[0] for r in cursor.fetchall()], [n], repr(value))
                    # The application's own literal after the value keeps its
                    # apostrophe: the quote fixer stays in step.
                    cursor.execute("SELECT ?, 'O''Brien', 'it\\'s' FROM h WHERE id = 0", value)
                    self.assertEqual(tuple(cursor.fetchone()), (value, "O'Brien", "it's"), repr(value))
                cursor.execute("SELECT id, v FROM h ORDER BY id")
                got = [tuple(r) for r in cursor.fetchall()]
                self.assertEqual(got, [(0, "canary")] + list(enumerate(HOSTILE, 1)))
            finally:
                cursor.execute("DROP TABLE h")

        self.each_setting(body)

    def test_long_values_sent_at_execution_arrive_whole(self):
        text = ("ab'c\\\U0001F600" * 20000)[:90001]
        blob = bytes(range(128)) * 800

        def body(connection, columnar):
            cursor = connection.cursor()
            cursor.execute("CREATE TABLE lv (id int, s string, b binary)")
            try:
                cursor.setinputsizes([(pyodbc.SQL_INTEGER, 0, 0), (pyodbc.SQL_WLONGVARCHAR, 0, 0),
                                      (pyodbc.SQL_LONGVARBINARY, 0, 0)])
                cursor.execute("INSERT INTO lv VALUES (?, ?, ?)", 1, text, blob)
                cursor.setinputsizes(None)
                cursor.execute("SELECT s, b FROM lv WHERE id = 1")
                s, b = cursor.fetchone()
                self.assertEqual(s, text)
                self.assertEqual(b, blob)
            finally:
                cursor.execute("DROP TABLE lv")

        self.each_setting(body, identities=("hive-3.1",))

    def test_parameter_arrays_insert_every_row(self):
        values = [(i, "row %d '\\" % i) for i in range(40)]

        def body(connection, columnar):
            cursor = connection.cursor()
            cursor.execute("CREATE TABLE pa (id int, v string)")
            try:
                cursor.fast_executemany = True
                cursor.executemany("INSERT INTO pa VALUES (?, ?)", values)
                cursor.fast_executemany = False
                cursor.executemany("INSERT INTO pa VALUES (?, ?)", [(100 + i, v) for i, v in values[:5]])
                cursor.execute("SELECT id, v FROM pa ORDER BY id")
                got = [tuple(r) for r in cursor.fetchall()]
                self.assertEqual(got, values + [(100 + i, v) for i, v in values[:5]])
            finally:
                cursor.execute("DROP TABLE pa")

        self.each_setting(body, identities=("hive-2.3", "spark-3"))

    def test_describe_param_reports_varchar(self):
        def body(connection, columnar):
            cursor = connection.cursor()
            # pyodbc asks the driver for the type of a None parameter.
            cursor.execute("SELECT count(*) FROM people WHERE name = ?", None)
            self.assertEqual(cursor.fetchone()[0], 0)

        self.each_setting(body, identities=("hive-3.1",), protocols=(None,))

    def test_nan_and_infinity_are_refused_as_numbers(self):
        # Their text is no number Hive reads: refused before the statement
        # goes out, while a text column takes it as text.
        def body(connection, columnar):
            cursor = connection.cursor()
            for value in (float("nan"), float("inf"), float("-inf")):
                for sql_type in (pyodbc.SQL_DOUBLE, pyodbc.SQL_FLOAT, pyodbc.SQL_REAL):
                    with self.subTest(value=value, sql_type=sql_type):
                        cursor.setinputsizes([(sql_type, 15, 0)])
                        with self.assertRaises(pyodbc.Error) as caught:
                            cursor.execute("SELECT ? FROM people WHERE id = 3", value)
                        self.assertEqual(caught.exception.args[0], "22018", caught.exception.args)
                cursor.setinputsizes([(pyodbc.SQL_VARCHAR, 20, 0)])
                cursor.execute("SELECT ? FROM people WHERE id = 3", value)
                self.assertIn("#", cursor.fetchone()[0])
            cursor.setinputsizes(None)
            cursor.execute("SELECT ? FROM people WHERE id = 3", 2.5)
            self.assertEqual(cursor.fetchone()[0], 2.5)

        self.each_setting(body, identities=("hive-3.1",), protocols=(None,))



def each_server(test, body, server_options=(), identities=("hive-2.3", "spark-3")):
    """body(connection) on a fresh connection for every identity and
    layout, against a server of 30000 synthetic rows started with
    server_options; over HTTP when they ask for it."""
    http = "http" in server_options
    for identity in identities:
        proc = subprocess.Popen(["/usr/bin/python3", SERVER, "--port", "0", "--server", identity,
                                 "--synthetic-rows", "30000"] + list(server_options),
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        port = int(proc.stdout.readline())
        try:
            for protocol in PROTOCOLS:
                with test.subTest(identity=identity, protocol=protocol, http=http):
                    text = "DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;UID=tester;PWD=secret" % port
                    if http:
                        text += ";TransportMode=1;HTTPPath=cliservice"
                    if protocol is not None:
                        text += ";CSP=%d" % protocol
                    connection = pyodbc.connect(text, timeout=20, autocommit=True)
                    try:
                        body(connection)
                    finally:
                        connection.close()
        finally:
            proc.terminate()
            proc.wait(timeout=30)
            proc.stdout.close()


class SharingTheWire(unittest.TestCase):
    """Several cursors of one connection: the server's count of open
    operations (the test server's hs2_open_operations()) shows that every
    closed cursor's operation is closed."""

    def each_setting(self, body):
        each_server(self, body)

    @staticmethod
    def open_operations(connection):
        counter = connection.cursor()
        counter.execute("SELECT hs2_open_operations()")
        n = counter.fetchone()[0]
        counter.close()
        return n

    @staticmethod
    def fetch_alternately(cursors, after_each=None):
        """Every cursor's rows, fetched 997 at a time in turn."""
        got = [[] for _ in cursors]
        done = [False] * len(cursors)
        while not all(done):
            for k, c in enumerate(cursors):
                if done[k]:
                    continue
                rows = c.fetchmany(997)
                if not rows:
                    done[k] = True
                got[k].extend(tuple(r) for r in rows)
                if after_each is not None:
                    after_each()
        return got

    def test_a_cursor_closed_while_another_holds_the_wire_closes_its_operation(self):
        def body(connection):
            a = connection.cursor()
            a.execute("SELECT id FROM bench.synthetic")
            self.assertIsNotNone(a.fetchone())
            b = connection.cursor()
            b.execute("SELECT id FROM bench.synthetic")
            first = [r[0] for r in b.fetchmany(5)]
            # b's reply (or its read-ahead) is on the wire now: a's close
            # waits for the wire instead of reading b's reply as its own.
            a.close()
            rest = [r[0] for r in b.fetchall()]
            self.assertEqual(len(first) + len(rest), 30000)
            self.assertEqual(len(set(first + rest)), 30000)
            b.execute("SELECT 1")  # closes b's finished operation
            b.close()
            self.assertEqual(self.open_operations(connection), 0)

        self.each_setting(body)

    def test_every_closed_cursor_leaves_no_operation_open(self):
        def body(connection):
            cursors = []
            for k in range(3):
                c = connection.cursor()
                c.execute("SELECT id FROM bench.synthetic LIMIT %d" % (100 + k))
                c.fetchone()
                cursors.append(c)
            for c in cursors:
                c.close()
            self.assertEqual(self.open_operations(connection), 0)

        self.each_setting(body)

    def test_cursors_fetched_alternately_give_their_whole_results(self):
        def body(connection):
            queries = [("SELECT id FROM bench.synthetic LIMIT 25000", 25000),
                       ("SELECT id, s FROM bench.synthetic", 30000),
                       ("SELECT id FROM bench.synthetic LIMIT 700", 700)]
            alone = []
            for q, _ in queries:
                c = connection.cursor()
                c.execute(q)
                alone.append([tuple(r) for r in c.fetchall()])
                c.close()
            for count in (2, 3):
                cursors = []
                for q, _ in queries[:count]:
                    c = connection.cursor()
                    c.execute(q)
                    cursors.append(c)
                got = self.fetch_alternately(cursors)
                for k in range(count):
                    self.assertEqual(got[k], alone[k])
                    self.assertEqual(len(got[k]), queries[k][1])
                for c in cursors:
                    c.close()
            self.assertEqual(self.open_operations(connection), 0)

        self.each_setting(body)

    def test_cursors_fetched_alternately_past_the_memory_limit_read_back_from_files(self):
        # A lowered limit sends nearly every parked reply into a file in a
        # directory of the test's own, where the files can be counted.
        spill = tempfile.TemporaryDirectory(prefix="pyodbc_hs2_park.")
        saved = {k: os.environ.get(k) for k in ("KA_TMPDIR", "KA_HIVE_PARK_MEMORY")}
        os.environ["KA_TMPDIR"] = spill.name
        os.environ["KA_HIVE_PARK_MEMORY"] = "1000"

        def body(connection):
            query = "SELECT * FROM bench.synthetic"
            c = connection.cursor()
            c.execute(query)
            alone = [tuple(r) for r in c.fetchall()]
            c.close()
            self.assertEqual(len(alone), 30000)
            cursors = []
            for _ in range(2):
                c = connection.cursor()
                c.execute(query)
                cursors.append(c)
            most_files = [0]

            def count_files():
                most_files[0] = max(most_files[0], len(os.listdir(spill.name)))

            got = self.fetch_alternately(cursors, count_files)
            self.assertEqual(got[0], alone)
            self.assertEqual(got[1], alone)
            self.assertGreater(most_files[0], 0)
            for c in cursors:
                c.close()
            self.assertEqual(os.listdir(spill.name), [])
            self.assertEqual(self.open_operations(connection), 0)

        try:
            self.each_setting(body)
        finally:
            for k, v in saved.items():
                if v is None:
                    os.environ.pop(k, None)
                else:
                    os.environ[k] = v
            spill.cleanup()


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    work = tempfile.TemporaryDirectory(prefix="pyodbc_hs2_params_test.")
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
