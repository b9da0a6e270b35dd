"""pyodbc's cursor.tables() and cursor.columns() through unixODBC against the
bundled HiveServer2 test server under each server identity: every table, view
and temporary view of the server's fixture, every column with its type, size,
nullability and comment, the table-type filter, the schema and table-type
enumerations, names with non-ASCII letters, quotes, backquotes and the pattern
characters, column names that begin with "#", a failing SHOW statement, and a
database whose tables the user may not list, and descriptions shaped as
other servers write them."""
import ctypes
import os
import subprocess
import sys
import unittest

import pyodbc

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from odbctestenv import ini_folder, start_server, stop_server  # noqa: E402

IDENTITIES = ("hive-1.2", "hive-2.3", "hive-3.1", "spark-3")

# What SQLColumns reports for the fixture's types: DATA_TYPE, COLUMN_SIZE,
# DECIMAL_DIGITS (None: NULL), CHAR_OCTET_LENGTH (None: NULL).
STRING_SIZE = 2147483647
TYPES = {
    "int": (4, 10, 0, None),
    "bigint": (-5, 19, 0, None),
    "tinyint": (-6, 3, 0, None),
    "smallint": (5, 5, 0, None),
    "boolean": (-7, 1, 0, None),
    "double": (8, 53, None, None),
    "float": (7, 24, None, None),
    "decimal(10,2)": (3, 10, 2, None),
    "decimal(12,2)": (3, 12, 2, None),
    "decimal(38,10)": (3, 38, 10, None),
    "string": (-9, STRING_SIZE, None, STRING_SIZE),
    "varchar(20)": (-9, 20, None, 20),
    "varchar(16)": (-9, 16, None, 16),
    "varchar(64)": (-9, 64, None, 64),
    "char(10)": (-8, 10, None, 10),
    "date": (91, 10, None, None),
    "timestamp": (93, 29, 9, None),
}


def fixture_databases(identity):
    sys.path.insert(0, os.path.join(SOURCE, "tools", "hs2server"))
    from hs2 import fixture, identity as identities
    ident = identities.make(identity)
    ident.synthetic_rows = 10
    return fixture.builtin(ident)


def table_type(table):
    if table.get("temporary"):
        return "TEMPORARY TABLE"
    return "VIEW" if table.get("type") == "VIRTUAL_VIEW" else "TABLE"


def type_name(hive_type):
    return hive_type if "<" in hive_type else hive_type.split("(")[0]


class CatalogFunctions(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = ini_folder("pyodbc_catalog_test.", "[VYspark28]\nDriver=%s\n" % LIBRARY, "")
        cls.servers = {}
        for identity in IDENTITIES:
            cls.servers[identity] = start_server(SOURCE, "--server", identity, "--synthetic-rows", "10")

    @classmethod
    def tearDownClass(cls):
        for proc, _ in cls.servers.values():
            stop_server(proc)
        cls.dir.cleanup()

    def connect(self, identity, extra=""):
        port = self.servers[identity][1]
        return pyodbc.connect("DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;UID=u;PWD=p;%s" % (port, extra),
                              timeout=20, autocommit=True)

    def own_server(self, identity):
        # A server of its own: the tables a test creates stay out of the
        # others' listings.
        proc, port = start_server(SOURCE, "--server", identity, "--synthetic-rows", "10")
        self.addCleanup(stop_server, proc)
        return pyodbc.connect("DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;UID=u;PWD=p" % port, timeout=20,
                              autocommit=True)

    def test_tables_list_every_table_and_view_of_the_fixture_in_odbc_order(self):
        for identity in IDENTITIES:
            with self.subTest(identity=identity):
                expected = []
                for db in fixture_databases(identity):
                    for t in db["tables"]:
                        temporary = t.get("temporary", False)
                        remarks = None if temporary else t.get("comment") or ""
                        expected.append((None, db["database"], t["name"], table_type(t), remarks))
                expected.sort(key=lambda r: (r[3], r[1], r[2]))
                with self.connect(identity) as conn:
                    got = [tuple(r) for r in conn.cursor().tables()]
                self.assertEqual(got, expected)

    def test_columns_give_every_column_with_type_size_nullability_and_comment(self):
        for identity in IDENTITIES:
            with self.subTest(identity=identity):
                expected = []
                for db in fixture_databases(identity):
                    for t in sorted(db["tables"], key=lambda t: t["name"]):
                        for n, col in enumerate(t["columns"], 1):
                            comment = col[2] if len(col) > 2 else None
                            expected.append((db["database"], t["name"], col[0], type_name(col[1]), comment, n))
                expected.sort(key=lambda r: (r[0], r[1], r[5]))
                with self.connect(identity) as conn:
                    rows = conn.cursor().columns().fetchall()
                got = [(r.table_schem, r.table_name, r.column_name, r.type_name, r.remarks, r.ordinal_position)
                       for r in rows]
                self.assertEqual(got, expected)
                hive_types = {}
                for db in fixture_databases(identity):
                    for t in db["tables"]:
                        for col in t["columns"]:
                            hive_types[(db["database"], t["name"], col[0])] = col[1]
                for r in rows:
                    hive_type = hive_types[(r.table_schem, r.table_name, r.column_name)]
                    self.assertEqual((r.nullable, r.is_nullable, r.table_cat), (1, "YES", None))
                    if hive_type in TYPES:
                        self.assertEqual((r.data_type, r.column_size, r.decimal_digits, r.char_octet_length),
                                         TYPES[hive_type], (r.table_name, r.column_name, hive_type))

    def test_the_table_type_filter_takes_the_types_odbc_names(self):
        cases = [
            ("VIEW", {"VIEW"}),
            ("'TABLE', 'VIEW'", {"TABLE", "VIEW"}),
            ("TABLE,VIEW,GLOBAL TEMPORARY", {"TABLE", "VIEW"}),
            ("table", set()),
        ]
        with self.connect("hive-3.1") as conn:
            for types, wanted in cases:
                with self.subTest(types=types):
                    got = {r.table_type for r in conn.cursor().tables(tableType=types)}
                    self.assertEqual(got, wanted)

    def test_temporary_views_pass_only_the_temporary_types(self):
        with self.connect("spark-3") as conn:
            for types, listed in (("LOCAL TEMPORARY", True), ("TABLE", False), (None, True)):
                with self.subTest(types=types):
                    rows = conn.cursor().tables(table="gv_people", tableType=types).fetchall()
                    self.assertEqual([tuple(r) for r in rows],
                                     [(None, "global_temp", "gv_people", "TEMPORARY TABLE", None)] if listed else [])

    def test_schema_and_table_type_enumerations(self):
        for identity in ("hive-2.3", "spark-3"):
            with self.subTest(identity=identity):
                names = sorted(db["database"] for db in fixture_databases(identity))
                with self.connect(identity) as conn:
                    schemas = [tuple(r) for r in conn.cursor().tables(catalog="", schema="%", table="")]
                    types = [r.table_type for r in conn.cursor().tables(catalog="", schema="", table="",
                                                                        tableType="%")]
                self.assertEqual(schemas, [(None, n, None, None, None) for n in names])
                self.assertEqual(types, ["SYSTEM TABLE", "TABLE", "VIEW"])

    def test_a_catalog_argument_is_refused_where_the_source_has_no_catalogs(self):
        with self.connect("hive-3.1") as conn:
            with self.assertRaises(pyodbc.Error) as caught:
                conn.cursor().tables(catalog="%", schema="", table="").fetchall()
            self.assertEqual(caught.exception.args[0], "HYC00")
            with self.assertRaises(pyodbc.Error) as caught:
                conn.cursor().tables(catalog="x").fetchall()
            self.assertEqual(caught.exception.args[0], "HY090")

    def test_odd_names_are_quoted_in_the_statements_and_matched_with_escapes(self):
        table = "w\u00ebird`q'uote%_x"
        decoy = "w\u00ebird`q'uoteaax"
        comment = "long " * 900 + "end"
        for identity in ("hive-2.3", "spark-3"):
            with self.subTest(identity=identity):
                with self.own_server(identity) as conn:
                    cur = conn.cursor()
                    cur.execute("CREATE DATABASE `odd db`")
                    cur.execute("CREATE TABLE `odd db`.`%s` (`\u00e7\u00f6l` string COMMENT '%s', b int)"
                                % (table.replace("`", "``"), comment))
                    cur.execute("CREATE TABLE `odd db`.`%s` (a int)" % decoy.replace("`", "``"))
                    listed = [r.table_name for r in cur.tables(schema="odd db")]
                    self.assertEqual(listed, [table, decoy])
                    # The escaped pattern characters match only themselves.
                    matched = [r.table_name for r in cur.tables(table="w_ird`q'uote\\%\\_x")]
                    self.assertEqual(matched, [table])
                    cols = cur.columns(schema="odd db", table="w_ird`q'uote\\%\\_x").fetchall()
                    self.assertEqual([(c.column_name, c.type_name) for c in cols],
                                     [("\u00e7\u00f6l", "string"), ("b", "int")])
                    self.assertEqual(cols[0].remarks, comment)

    def test_a_failing_show_statement_fails_the_call(self):
        for identity in ("hive-2.3", "spark-3"):
            with self.subTest(identity=identity):
                with self.connect(identity) as conn:
                    cur = conn.cursor()
                    # The fault ends the SET's own operation too.
                    with self.assertRaises(pyodbc.Error):
                        cur.execute("SET hs2server.fault.error-state=listing refused")
                    for call in (lambda: cur.tables().fetchall(), lambda: cur.columns().fetchall()):
                        with self.assertRaises(pyodbc.Error) as caught:
                            call()
                        self.assertEqual(caught.exception.args[0], "HY000")

    def test_a_connection_lost_while_a_table_is_described_fails_the_call(self):
        # The session's fourth statement, after the SET, SHOW DATABASES and
        # SHOW TABLES IN, is the first DESCRIBE: the server drops the link there.
        proc, port = start_server(SOURCE, "--synthetic-rows", "10")
        self.addCleanup(stop_server, proc)
        with pyodbc.connect("DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;UID=u;PWD=p" % port, timeout=20,
                            autocommit=True) as conn:
            cur = conn.cursor()
            cur.execute("SET hs2server.fault.drop=ExecuteStatement:4")
            with self.assertRaises(pyodbc.Error) as caught:
                cur.tables().fetchall()
            self.assertEqual(caught.exception.args[0], "08S01")

    def test_columns_named_with_a_hash_keep_their_place(self):
        # Only a "#" name without a type is a section header of the description.
        for identity in ("hive-1.2", "hive-3.1", "spark-3"):
            with self.subTest(identity=identity):
                with self.own_server(identity) as conn:
                    cur = conn.cursor()
                    cur.execute("CREATE TABLE h1 (`#a` int, b int, `#c` string, d int)")
                    got = [(c.column_name, c.type_name, c.ordinal_position)
                           for c in cur.columns(schema="default", table="h1")]
                    self.assertEqual(got, [("#a", "int", 1), ("b", "int", 2), ("#c", "string", 3), ("d", "int", 4)])

    def test_a_database_whose_tables_are_refused_gives_no_rows(self):
        refused = "SET hs2server.fault.refuse-tables=sales"
        for identity in ("hive-2.3", "spark-3"):
            with self.subTest(identity=identity):
                with self.connect(identity) as conn:
                    everything = sorted((r.table_schem, r.table_name) for r in conn.cursor().tables())
                    people = [tuple(r) for r in conn.cursor().columns(table="people")]
                    cur = conn.cursor()
                    cur.execute(refused)
                    got = sorted((r.table_schem, r.table_name) for r in cur.tables())
                    self.assertEqual(got, [t for t in everything if t[0] != "sales"])
                    self.assertEqual([tuple(r) for r in cur.columns(table="people")], people)
                    self.assertEqual(cur.tables(schema="sales").fetchall(), [])
                    self.assertEqual(cur.columns(schema="sales").fetchall(), [])
                    self.assertNotIn("sales", {r.table_schem for r in cur.columns()})
                with self.connect(identity, "ReturnNativeErrorsFromCatalogFunctions=1") as conn:
                    cur = conn.cursor()
                    cur.execute(refused)
                    for call in (lambda: cur.tables().fetchall(), lambda: cur.columns(table="people").fetchall()):
                        with self.assertRaises(pyodbc.Error) as caught:
                            call()
                        self.assertIn("may not list the tables of sales", caught.exception.args[1])

    def test_use_current_schema_limits_the_listing_to_the_current_database(self):
        with self.connect("hive-3.1", "UseCurrentSchema=1;Database=sales") as conn:
            got = {r.table_schem for r in conn.cursor().tables()}
            self.assertEqual(got, {"sales"})
            got = {r.table_schem for r in conn.cursor().columns()}
            self.assertEqual(got, {"sales"})
            schemas = {r.table_schem for r in conn.cursor().tables(catalog="", schema="%", table="")}
            self.assertIn("default", schemas)


class PeerCatalog(unittest.TestCase):
    """The suites against a changed test server: PEER, a script beside this
    one, started with the server's OPTIONS; SETUP statements run once."""
    PEER = None
    OPTIONS = ()
    SETUP = ()

    @classmethod
    def setUpClass(cls):
        cls.dir = ini_folder("pyodbc_catalog_test.", "[VYspark28]\nDriver=%s\n" % LIBRARY, "")
        peer = os.path.join(os.path.dirname(os.path.abspath(__file__)), cls.PEER)
        cls.proc = subprocess.Popen(["/usr/bin/python3", peer, SOURCE, "--port", "0", "--synthetic-rows", "10"]
                                    + list(cls.OPTIONS), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        cls.port = int(cls.proc.stdout.readline())
        with cls.connect("") as conn:
            for statement in cls.SETUP:
                conn.cursor().execute(statement)

    @classmethod
    def tearDownClass(cls):
        stop_server(cls.proc)
        cls.dir.cleanup()

    @classmethod
    def connect(cls, extra):
        return pyodbc.connect("DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;UID=u;PWD=p;%s" % (cls.port, extra),
                              timeout=20, autocommit=True)


class RefusedDescriptions(PeerCatalog):
    """A server that refuses to describe one table, as it refuses a table the
    user may not read: the listing leaves that table out with a warning, or
    fails with the server's error when the connection asks for native errors."""
    PEER = "hs2_refusing_peer.py"
    SETUP = ("CREATE TABLE sales.secret_pay (a int)",)

    def test_the_refused_table_is_left_out_and_the_rest_listed(self):
        with self.connect("") as conn:
            self.assertEqual([r.table_name for r in conn.cursor().tables(schema="sales")], ["customers", "orders"])
            self.assertEqual(sorted({r.table_name for r in conn.cursor().columns(schema="sales")}),
                             ["customers", "orders"])

    def test_native_errors_fail_the_call_with_the_servers_message(self):
        with self.connect("ReturnNativeErrorsFromCatalogFunctions=1") as conn:
            for call in (lambda c: c.tables(schema="sales"), lambda c: c.columns(schema="sales")):
                with self.assertRaises(pyodbc.Error) as caught:
                    call(conn.cursor()).fetchall()
                self.assertIn("Permission denied: user may not read secret_pay", caught.exception.args[1])

    def test_the_call_succeeds_with_a_warning_that_names_the_table(self):
        # pyodbc keeps no diagnostics of a catalog call: the driver manager's
        # own functions show the warning.
        odbc = ctypes.CDLL("libodbc.so.2")
        env, dbc, stmt = ctypes.c_void_p(), ctypes.c_void_p(), ctypes.c_void_p()
        self.assertEqual(odbc.SQLAllocHandle(1, None, ctypes.byref(env)), 0)
        self.addCleanup(odbc.SQLFreeHandle, 1, env)
        self.assertEqual(odbc.SQLSetEnvAttr(env, 200, ctypes.c_void_p(3), 0), 0)
        self.assertEqual(odbc.SQLAllocHandle(2, env, ctypes.byref(dbc)), 0)
        self.addCleanup(odbc.SQLFreeHandle, 2, dbc)
        def wide(text):
            # SQLWCHAR is UTF-16 under unixODBC, whatever wchar_t is.
            return ctypes.create_string_buffer(text.encode("utf-16-le") + b"\0\0")

        text = "DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;UID=u;PWD=p;LT=20" % self.port
        self.assertIn(odbc.SQLDriverConnectW(dbc, None, wide(text), -3, None, 0, None, 0), (0, 1))
        self.addCleanup(odbc.SQLDisconnect, dbc)
        self.assertEqual(odbc.SQLAllocHandle(3, dbc, ctypes.byref(stmt)), 0)
        for function in ("SQLTablesW", "SQLColumnsW"):
            with self.subTest(function=function):
                self.assertEqual(getattr(odbc, function)(stmt, None, 0, wide("sales"), -3, None, 0, None, 0), 1)
                state = ctypes.create_string_buffer(12)
                message = ctypes.create_string_buffer(2048)
                native, length = ctypes.c_int(), ctypes.c_short()
                self.assertEqual(odbc.SQLGetDiagRecW(3, stmt, 1, state, ctypes.byref(native), message, 1024,
                                                     ctypes.byref(length)), 0)
                self.assertEqual(state.raw[:10].decode("utf-16-le"), "01000")
                text = message.raw[:length.value * 2].decode("utf-16-le")
                self.assertIn("sales.secret_pay", text)
                self.assertIn("Permission denied", text)
                self.assertEqual(odbc.SQLFreeStmt(stmt, 0), 0)
        odbc.SQLFreeHandle(3, stmt)


class OtherDescriptionShapes(PeerCatalog):
    """Descriptions as other servers write them: the listing lower-cases
    column names, gives a DECIMAL without precision the connection's limits
    and a string the connection's MaxStringSize, and leaves out of SQLTables a
    table whose formatted description has no details section."""
    PEER = "hs2_raw_describe_peer.py"
    OPTIONS = ("--server", "hive-3.1")
    SETUP = ("CREATE DATABASE shapes", "CREATE TABLE shapes.raw_cols (MiXed int, d decimal, s string)",
             "CREATE TABLE shapes.bare_t (a int)", "CREATE TABLE shapes.full_t (a int)")

    def test_column_values_follow_the_connection(self):
        cases = [
            ("", [("mixed", 10, 0), ("d", 38, 6), ("s", STRING_SIZE, None)]),
            ("MaxNumericPrecision=20;MaxNumericScale=4;MaxStringSize=1000",
             [("mixed", 10, 0), ("d", 20, 4), ("s", 1000, None)]),
            ("MaxNumericPrecision=38;MaxNumericScale=10", [("mixed", 10, 0), ("d", 38, 10), ("s", STRING_SIZE, None)]),
        ]
        for extra, want in cases:
            with self.subTest(extra=extra):
                with self.connect(extra) as conn:
                    cols = conn.cursor().columns(schema="shapes", table="raw_cols").fetchall()
                self.assertEqual([(c.column_name, c.column_size, c.decimal_digits) for c in cols], want)
                self.assertEqual(cols[2].char_octet_length, want[2][1])

    def test_a_table_without_details_is_left_out_of_tables_only(self):
        with self.connect("") as conn:
            cur = conn.cursor()
            self.assertEqual([r.table_name for r in cur.tables(schema="shapes")], ["full_t", "raw_cols"])
            self.assertEqual([c.column_name for c in cur.columns(schema="shapes", table="bare_t")], ["a"])


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    SOURCE = sys.argv.pop(1)
    unittest.main(verbosity=2)
