"""executemany with fast_executemany through pyodbc and unixODBC against the
bundled HiveServer2 test server: ten thousand rows of several types go in
multi-row INSERT batches (the server's call log counts the statements) and
read back equal; a row whose value cannot be converted is reported while the
rows before it are inserted and the rows after it are not run. Run with
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
ROWS = 10000


class Server:
    def __init__(self, log):
        self.log = log
        with open(log, "w") as err:
            self.proc = subprocess.Popen(["/usr/bin/python3", SERVER, "--port", "0", "--server", "hive-3.1",
                                          "--verbose"],
                                         stdout=subprocess.PIPE, stderr=err, text=True)
        self.port = int(self.proc.stdout.readline())

    def inserts(self):
        with open(self.log, encoding="utf-8", errors="replace") as f:
            return sum(1 for line in f if " ExecuteStatement INSERT INTO" in line)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)
        self.proc.stdout.close()


def row(i):
    text = ("r%d O'Brien \\ \u00e9\U0001F600 '' \\' %s" % (i, "x" * (i % 50))) if i % 7 else None
    return (i,
            i * 1000003 - 5 * 10 ** 12,
            (i - 5000) / 8.0,
            text,
            decimal.Decimal("%d.%04d" % (i - 5000, i % 10000)),
            datetime.date(2000, 1, 1) + datetime.timedelta(days=i),
            datetime.datetime(2020, 2, 29, 12, 0, 0) + datetime.timedelta(seconds=i * 61, microseconds=i * 7))


class ArrayInsert(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server(os.path.join(WORK.name, "calls.log"))

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def connect(self, more=""):
        return pyodbc.connect("DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;UID=u;PWD=p;DB=default;%s"
                              % (self.server.port, more), timeout=20, autocommit=True)

    def test_ten_thousand_rows_of_several_types_go_in_batches_and_read_back_equal(self):
        rows = [row(i) for i in range(ROWS)]
        for settings, most in (("", 10), ("ArrayInsertSize=64", 200)):
            with self.subTest(settings=settings):
                connection = self.connect(settings)
                cursor = connection.cursor()
                cursor.execute("CREATE TABLE many (i int, b bigint, d double, s string, m decimal(12,4), "
                               "dt date, ts timestamp)")
                try:
                    cursor.fast_executemany = True
                    cursor.setinputsizes([(pyodbc.SQL_INTEGER, 0, 0), (pyodbc.SQL_BIGINT, 0, 0),
                                          (pyodbc.SQL_DOUBLE, 0, 0), (pyodbc.SQL_WVARCHAR, 200, 0),
                                          (pyodbc.SQL_DECIMAL, 12, 4), (pyodbc.SQL_TYPE_DATE, 10, 0),
                                          (pyodbc.SQL_TYPE_TIMESTAMP, 26, 6)])
                    before = self.server.inserts()
                    cursor.executemany("INSERT INTO many VALUES (?, ?, ?, ?, ?, ?, ?)", rows)
                    statements = self.server.inserts() - before
                    # Batches, not a statement per row.
                    self.assertGreaterEqual(statements, 1)
                    self.assertLessEqual(statements, most)
                    cursor.setinputsizes(None)
                    cursor.fast_executemany = False
                    cursor.execute("SELECT i, b, d, s, m, dt, ts FROM many ORDER BY i")
                    got = [tuple(r) for r in cursor.fetchall()]
                    self.assertEqual(len(got), ROWS)
                    for want, have in zip(rows, got):
                        self.assertEqual(have, want)
                finally:
                    cursor.execute("DROP TABLE many")
                    connection.close()

    def test_a_row_that_cannot_be_converted_is_reported_and_ends_the_array(self):
        connection = self.connect()
        cursor = connection.cursor()
        cursor.execute("CREATE TABLE bad (n int, s string)")
        try:
            cursor.fast_executemany = True
            cursor.setinputsizes([(pyodbc.SQL_INTEGER, 10, 0), (pyodbc.SQL_WVARCHAR, 20, 0)])
            # Numeric text for an INTEGER column, one entry of it malformed.
            values = [(str(i) if i != 700 else "70O", "v%d" % i) for i in range(1000)]
            before = self.server.inserts()
            # The driver answers SQL_SUCCESS_WITH_INFO with the row's status
            # SQL_PARAM_ERROR and the rows after it SQL_PARAM_UNUSED (the C++
            # suite reads the statuses); pyodbc shows neither.
            cursor.executemany("INSERT INTO bad VALUES (?, ?)", values)
            # The rows before the bad one went in one batch.
            self.assertEqual(self.server.inserts() - before, 1)
            cursor.setinputsizes(None)
            cursor.fast_executemany = False
            cursor.execute("SELECT n, s FROM bad ORDER BY n")
            self.assertEqual([tuple(r) for r in cursor.fetchall()], [(i, "v%d" % i) for i in range(700)])
        finally:
            cursor.execute("DROP TABLE bad")
            connection.close()


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    WORK = tempfile.TemporaryDirectory(prefix="pyodbc_hs2_arrayinsert_test.")
    inst = os.path.join(WORK.name, "odbcinst.ini")
    with open(inst, "w") as f:
        f.write("[VYspark28]\nDescription=Driver under test\nDriver=%s\n" % LIBRARY)
    with open(os.path.join(WORK.name, "odbc.ini"), "w") as f:
        f.write("")
    os.environ["ODBCSYSINI"] = WORK.name
    os.environ["ODBCINSTINI"] = "odbcinst.ini"
    os.environ["ODBCINST"] = inst
    os.environ["ODBCINI"] = os.path.join(WORK.name, "odbc.ini")
    import pyodbc  # noqa: E402  (after the ini files are in place)
    try:
        unittest.main()
    finally:
        WORK.cleanup()
