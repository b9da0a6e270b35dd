"""The emulated static cursor from Python against the bundled HiveServer2
test server. pyodbc's cursors take their cursor type from the connection
(Connection.set_attr with SQL_ATTR_CURSOR_TYPE); pyodbc itself only moves
forward (fetch, skip), so the scrolls in the other directions go through
unixODBC by ctypes on a static cursor of their own. Every row read either way
is compared with a forward-only read of the same query the same way. Run with
/usr/bin/python3; arguments: the driver library, the source tree."""
import ctypes
import ctypes.util
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from odbctestenv import ini_folder, start_server, stop_server  # noqa: E402

SQL_ATTR_CURSOR_TYPE = 6
SQL_CURSOR_FORWARD_ONLY = 0
SQL_CURSOR_STATIC = 3
ROWS = 1500
QUERY = "SELECT id, i, d, flag, s, dt, amount, n FROM bench.synthetic"

# unixODBC's entry points and constants for the scrolls pyodbc lacks.
SQL_HANDLE_ENV, SQL_HANDLE_DBC, SQL_HANDLE_STMT = 1, 2, 3
SQL_ATTR_ODBC_VERSION, SQL_OV_ODBC3 = 200, 3
SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_NO_DATA = 0, 1, 100
SQL_FETCH_NEXT, SQL_FETCH_FIRST, SQL_FETCH_LAST, SQL_FETCH_PRIOR = 1, 2, 3, 4
SQL_FETCH_ABSOLUTE, SQL_FETCH_RELATIVE = 5, 6
SQL_C_CHAR, SQL_NULL_DATA, SQL_NTS, SQL_DRIVER_NOPROMPT = 1, -1, -3, 0


class Odbc:
    """A static-cursor statement through unixODBC by ctypes."""

    def __init__(self, connection_string):
        self.lib = ctypes.CDLL(ctypes.util.find_library("odbc"))
        self.env = ctypes.c_void_p()
        self.dbc = ctypes.c_void_p()
        self.stmt = ctypes.c_void_p()
        self.check(self.lib.SQLAllocHandle(SQL_HANDLE_ENV, None, ctypes.byref(self.env)))
        self.check(self.lib.SQLSetEnvAttr(self.env, SQL_ATTR_ODBC_VERSION, ctypes.c_void_p(SQL_OV_ODBC3), 0))
        self.check(self.lib.SQLAllocHandle(SQL_HANDLE_DBC, self.env, ctypes.byref(self.dbc)))
        out = ctypes.create_string_buffer(1024)
        out_len = ctypes.c_short()
        self.check(self.lib.SQLDriverConnect(self.dbc, None, connection_string.encode(), SQL_NTS, out, 1024,
                                             ctypes.byref(out_len), SQL_DRIVER_NOPROMPT))
        self.check(self.lib.SQLAllocHandle(SQL_HANDLE_STMT, self.dbc, ctypes.byref(self.stmt)))

    def check(self, rc, allowed=(SQL_SUCCESS, SQL_SUCCESS_WITH_INFO)):
        if rc not in allowed:
            raise AssertionError("ODBC call returned %d" % rc)
        return rc

    def set_static(self):
        # SQL_SUCCESS, not SQL_SUCCESS_WITH_INFO: the type is not changed.
        self.check(self.lib.SQLSetStmtAttr(self.stmt, SQL_ATTR_CURSOR_TYPE, ctypes.c_void_p(SQL_CURSOR_STATIC), 0),
                   (SQL_SUCCESS,))
        value = ctypes.c_ulong()
        self.check(self.lib.SQLGetStmtAttr(self.stmt, SQL_ATTR_CURSOR_TYPE, ctypes.byref(value), 0, None))
        return value.value

    def execute(self, sql):
        self.check(self.lib.SQLExecDirect(self.stmt, sql.encode(), SQL_NTS))

    def scroll(self, orientation, offset=0):
        return self.check(self.lib.SQLFetchScroll(self.stmt, orientation, ctypes.c_long(offset)),
                          (SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_NO_DATA))

    def row(self, columns):
        values = []
        for c in range(1, columns + 1):
            buf = ctypes.create_string_buffer(256)
            ind = ctypes.c_long()
            self.check(self.lib.SQLGetData(self.stmt, c, SQL_C_CHAR, buf, 256, ctypes.byref(ind)), (SQL_SUCCESS,))
            values.append(None if ind.value == SQL_NULL_DATA else buf.raw[:ind.value].decode())
        return tuple(values)

    def close(self):
        self.lib.SQLFreeHandle(SQL_HANDLE_STMT, self.stmt)
        self.lib.SQLDisconnect(self.dbc)
        self.lib.SQLFreeHandle(SQL_HANDLE_DBC, self.dbc)
        self.lib.SQLFreeHandle(SQL_HANDLE_ENV, self.env)


class StaticCursorAgainstTheServer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Under --verbose the server logs its calls: the fetches show when
        # the driver reads the result.
        cls.log = tempfile.NamedTemporaryFile(prefix="pyodbc_hs2_static_test.", suffix=".log")
        cls.proc, cls.port = start_server(SOURCE, "--synthetic-rows", str(ROWS), "--verbose", log=cls.log)
        cls.dir = ini_folder("pyodbc_hs2_static_test.",
                             "[VYspark28]\nDescription=Driver under test\nDriver=%s\n" % LIBRARY,
                             "[ODBC]\nIANAAppCodePage=106\n")
        global pyodbc
        import pyodbc
        cls.dsn = "DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;UID=u;PWD=p;LT=20" % cls.port
        forward = pyodbc.connect(cls.dsn, timeout=20, autocommit=True)
        try:
            cls.expected = [tuple(row) for row in forward.execute(QUERY).fetchall()]
        finally:
            forward.close()
        # The same rows as the driver's text, read forward-only by ctypes.
        odbc = Odbc(cls.dsn)
        try:
            odbc.execute(QUERY)
            cls.expected_text = []
            while odbc.scroll(SQL_FETCH_NEXT) != SQL_NO_DATA:
                cls.expected_text.append(odbc.row(8))
        finally:
            odbc.close()

    @classmethod
    def tearDownClass(cls):
        stop_server(cls.proc)
        cls.log.close()
        cls.dir.cleanup()

    def server_fetches(self):
        with open(self.log.name, encoding="utf-8", errors="replace") as f:
            return f.read().count("FetchResults")

    def test_a_static_connection_reads_every_row_in_order(self):
        self.assertEqual(ROWS, len(self.expected))
        self.assertEqual(ROWS, len(self.expected_text))
        conn = pyodbc.connect(self.dsn, timeout=20, autocommit=True)
        self.addCleanup(conn.close)
        conn.set_attr(SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC)
        cur = conn.cursor()
        before = self.server_fetches()
        cur.execute(QUERY)
        # The static cursor read the whole result at execution; reading it
        # asks the server nothing more.
        read_at_execute = self.server_fetches()
        self.assertGreater(read_at_execute, before)
        first = [tuple(row) for row in cur.fetchmany(333)]
        cur.skip(500)
        rest = [tuple(row) for row in cur.fetchall()]
        self.assertEqual(self.expected[:333], first)
        self.assertEqual(self.expected[833:], rest)
        self.assertEqual(read_at_execute, self.server_fetches())

    def test_scrolling_a_static_cursor_every_way_reads_the_forward_rows(self):
        odbc = Odbc(self.dsn)
        self.addCleanup(odbc.close)
        self.assertEqual(SQL_CURSOR_STATIC, odbc.set_static())
        odbc.execute(QUERY)
        n = len(self.expected_text)

        def at(row):
            self.assertEqual(self.expected_text[row - 1], odbc.row(8), "row %d" % row)

        steps = [
            (SQL_FETCH_LAST, 0, n), (SQL_FETCH_NEXT, 0, None), (SQL_FETCH_PRIOR, 0, n),
            (SQL_FETCH_ABSOLUTE, -n, 1), (SQL_FETCH_PRIOR, 0, None), (SQL_FETCH_NEXT, 0, 1),
            (SQL_FETCH_RELATIVE, 1000, 1001), (SQL_FETCH_RELATIVE, -999, 2), (SQL_FETCH_ABSOLUTE, 1234, 1234),
            (SQL_FETCH_ABSOLUTE, n + 1, None), (SQL_FETCH_FIRST, 0, 1), (SQL_FETCH_ABSOLUTE, -2, n - 1),
        ]
        for orientation, offset, row in steps:
            with self.subTest(orientation=orientation, offset=offset):
                rc = odbc.scroll(orientation, offset)
                if row is None:
                    self.assertEqual(SQL_NO_DATA, rc)
                else:
                    self.assertEqual(SQL_SUCCESS, rc)
                    at(row)
        # Backwards over the whole result.
        self.assertEqual(SQL_SUCCESS, odbc.scroll(SQL_FETCH_LAST))
        for row in range(n, 0, -1):
            at(row)
            self.assertEqual(SQL_SUCCESS if row > 1 else SQL_NO_DATA, odbc.scroll(SQL_FETCH_PRIOR))


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    SOURCE = sys.argv.pop(1)
    unittest.main()
