"""SQLGetTypeInfo, SQLStatistics, SQLSpecialColumns, the key and the
procedure functions through pyodbc and unixODBC against the bundled
HiveServer2 test server under each server identity, which the test starts on
a free loopback port: the type table's rows and their derived columns, one
table-statistics row per matching table, the searchable columns that
ReturnSearchableSpecialColumns lists, and the empty results (with their
columns) of the functions the server has nothing for. Run with
/usr/bin/python3; arguments: the driver library, the source tree."""
import sys
import unittest

from odbctestenv import ini_folder, start_server, stop_server

IDENTITIES = ("hive-1.2", "hive-2.3", "hive-3.1", "spark-3")

TYPE_INFO_COLUMNS = ["TYPE_NAME", "DATA_TYPE", "COLUMN_SIZE", "LITERAL_PREFIX", "LITERAL_SUFFIX",
                     "CREATE_PARAMS", "NULLABLE", "CASE_SENSITIVE", "SEARCHABLE", "UNSIGNED_ATTRIBUTE",
                     "FIXED_PREC_SCALE", "AUTO_UNIQUE", "LOCAL_TYPE_NAME", "MINIMUM_SCALE", "MAXIMUM_SCALE",
                     "SQL_DATA_TYPE", "SQL_DATETIME_SUB", "NUM_PREC_RADIX", "INTERVAL_PRECISION"]
STATISTICS_COLUMNS = ["TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "NON_UNIQUE", "INDEX_QUALIFIER", "INDEX_NAME",
                      "TYPE", "ORDINAL_POSITION", "COLUMN_NAME", "ASC_OR_DESC", "CARDINALITY", "PAGES",
                      "FILTER_CONDITION"]
SPECIAL_COLUMNS = ["SCOPE", "COLUMN_NAME", "DATA_TYPE", "TYPE_NAME", "COLUMN_SIZE", "BUFFER_LENGTH",
                   "DECIMAL_DIGITS", "PSEUDO_COLUMN"]
PRIMARY_KEY_COLUMNS = ["TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "COLUMN_NAME", "KEY_SEQ", "PK_NAME"]
FOREIGN_KEY_COLUMNS = ["PKTABLE_CAT", "PKTABLE_SCHEM", "PKTABLE_NAME", "PKCOLUMN_NAME", "FKTABLE_CAT",
                       "FKTABLE_SCHEM", "FKTABLE_NAME", "FKCOLUMN_NAME", "KEY_SEQ", "UPDATE_RULE", "DELETE_RULE",
                       "FK_NAME", "PK_NAME", "DEFERRABILITY"]
PROCEDURE_COLUMNS = ["PROCEDURE_CAT", "PROCEDURE_SCHEM", "PROCEDURE_NAME", "NUM_INPUT_PARAMS",
                     "NUM_OUTPUT_PARAMS", "NUM_RESULT_SETS", "REMARKS", "PROCEDURE_TYPE"]
PROCEDURE_COLUMN_COLUMNS = ["PROCEDURE_CAT", "PROCEDURE_SCHEM", "PROCEDURE_NAME", "COLUMN_NAME", "COLUMN_TYPE",
                            "DATA_TYPE", "TYPE_NAME", "COLUMN_SIZE", "BUFFER_LENGTH", "DECIMAL_DIGITS",
                            "NUM_PREC_RADIX", "NULLABLE", "REMARKS", "COLUMN_DEF", "SQL_DATA_TYPE",
                            "SQL_DATETIME_SUB", "CHAR_OCTET_LENGTH", "ORDINAL_POSITION", "IS_NULLABLE"]

# The rows every server gets, in the connection's table order: name, type.
FIXED_TYPES = [("double", 8), ("tinyint", -6), ("smallint", 5), ("int", 4), ("bigint", -5), ("boolean", -7),
               ("float", 7), ("string", -1), ("string", 1), ("string", -10), ("timestamp", 93)]


def names(cursor):
    # pyodbc hands the column names on in lower case.
    return [d[0].upper() for d in cursor.description]


class PyodbcCatalogFunctions(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = ini_folder("pyodbc_hs2_catalog2_test.",
                             "[VYspark28]\nDescription=Driver under test\nDriver=%s\n" % LIBRARY, "")
        global pyodbc
        import pyodbc

    def connect(self, port, extra=""):
        return pyodbc.connect("DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;UID=bob;PWD=any%s" % (port, extra),
                              timeout=20, autocommit=True)

    def each_identity(self, body, extra=""):
        for identity in IDENTITIES:
            with self.subTest(identity=identity):
                proc, port = start_server(SOURCE, "--server", identity)
                try:
                    conn = self.connect(port, extra)
                    try:
                        body(conn.cursor(), identity)
                    finally:
                        conn.close()
                finally:
                    stop_server(proc)

    def test_type_info_lists_the_type_table_by_data_type(self):
        def check(cur, identity):
            rows = cur.getTypeInfo().fetchall()
            self.assertEqual(names(cur), TYPE_INFO_COLUMNS)
            types = [r.data_type for r in rows]
            self.assertEqual(types, sorted(types), "ordered by DATA_TYPE")
            # Rows of one type keep the table's order: the fixed rows come
            # before the rows the server's capabilities add.
            pairs = [(r.type_name, r.data_type) for r in rows]
            for fixed in FIXED_TYPES:
                self.assertIn(fixed, pairs)
            by_name = {(r.type_name, r.data_type): r for r in rows}
            double = by_name[("double", 8)]
            self.assertEqual((double.column_size, double.num_prec_radix, double.local_type_name), (53, 2, "double"))
            self.assertEqual(double.minimum_scale, None)
            self.assertEqual(double.unsigned_attribute, 0)
            real = by_name[("float", 7)]
            self.assertEqual((real.column_size, real.num_prec_radix), (24, 2))
            ts = by_name[("timestamp", 93)]
            self.assertEqual((ts.literal_prefix, ts.literal_suffix), ("{ts '", "'}"))
            self.assertEqual((ts.sql_data_type, ts.sql_datetime_sub, ts.minimum_scale), (9, 3, 0))
            self.assertEqual(ts.searchable, 3)
            boolean = by_name[("boolean", -7)]
            self.assertEqual((boolean.unsigned_attribute, boolean.auto_unique, boolean.searchable), (None, None, 2))
            self.assertEqual(boolean.minimum_scale, 0)
            integer = by_name[("int", 4)]
            self.assertEqual((integer.minimum_scale, integer.num_prec_radix, integer.case_sensitive), (0, 10, 0))
            string = by_name[("string", -1)]
            self.assertEqual((string.literal_prefix, string.case_sensitive, string.num_prec_radix), ("'", 1, None))
            self.assertEqual((string.sql_data_type, string.sql_datetime_sub, string.interval_precision),
                             (-1, None, None))
            # One type: the string and varchar rows of VARCHAR, in table order.
            varchars = [r.type_name for r in cur.getTypeInfo(pyodbc.SQL_VARCHAR).fetchall()]
            self.assertEqual(varchars[0], "string")
            self.assertTrue(set(varchars) <= {"string", "varchar"})
            self.assertEqual(cur.getTypeInfo(pyodbc.SQL_TYPE_TIME).fetchall(), [])
            with self.assertRaises(pyodbc.Error) as caught:
                cur.getTypeInfo(50)
            self.assertEqual(caught.exception.args[0], "HY004")
            self.assertIn("50", caught.exception.args[1])
        self.each_identity(check)

    def test_type_info_options(self):
        def check(cur, identity):
            rows = {(r.type_name, r.data_type): r for r in cur.getTypeInfo().fetchall()}
            self.assertEqual(rows[("double", 8)].num_prec_radix, 10)
            self.assertEqual(rows[("timestamp", 93)].searchable, 0)
            ts = rows[("timestamp", 93)]
            self.assertEqual((ts.literal_prefix, ts.literal_suffix), ("{", "}"))
            self.assertEqual(rows[("string", -1)].literal_prefix, "'")
            # Rows of one type in the reverse of the table's order.
            varchars = [r.type_name for r in cur.getTypeInfo(pyodbc.SQL_VARCHAR).fetchall()]
            self.assertEqual(varchars[-1], "string")
        self.each_identity(check, ";REPORTBINARYPRECISION=0;TimestampIsSearchable=0;WORKAROUNDS2=516")

    def test_statistics_take_names_as_they_are(self):
        table = "w\u00ebird`q'uote%_x"
        decoy = "w\u00ebird`q'uoteaax"
        for identity in ("hive-2.3", "spark-3"):
            # A server of its own: the tables it creates stay out of the others' listings.
            proc, port = start_server(SOURCE, "--server", identity, "--synthetic-rows", "10")
            self.addCleanup(stop_server, proc)
            with self.subTest(identity=identity):
                with self.connect(port) as conn:
                    cur = conn.cursor()
                    cur.execute("CREATE DATABASE `odd db`")
                    for name in (table, decoy):
                        cur.execute("CREATE TABLE `odd db`.`%s` (a int)" % name.replace("`", "``"))
                    for name in (table, decoy):
                        rows = cur.statistics(name, schema="odd db").fetchall()
                        self.assertEqual([(r.table_schem, r.table_name, r.type) for r in rows],
                                         [("odd db", name, 0)])
                    # The schema matches without regard to case, as Hive's names do.
                    self.assertEqual(len(cur.statistics(table, schema="ODD DB").fetchall()), 1)
                    # Without a schema, one row for each database holding the
                    # table, by database.
                    cur.execute("CREATE TABLE `default`.`orders` (a int)")
                    self.assertEqual([(r.table_schem, r.table_name) for r in cur.statistics("orders").fetchall()],
                                     [("default", "orders"), ("sales", "orders")])

    def test_a_failing_listing_fails_statistics(self):
        proc, port = start_server(SOURCE, "--server", "hive-3.1")
        self.addCleanup(stop_server, proc)
        with self.connect(port) as conn:
            cur = conn.cursor()
            # The fault ends the SET's own operation too.
            with self.assertRaises(pyodbc.Error):
                cur.execute("SET hs2server.fault.error-state=listing refused")
            with self.assertRaises(pyodbc.Error) as caught:
                cur.statistics("people").fetchall()
            self.assertEqual(caught.exception.args[0], "HY000")

    def test_statistics_of_the_current_database(self):
        def check(cur, identity):
            self.assertEqual([(r.table_schem, r.table_name, r.type) for r in cur.statistics("people").fetchall()],
                             [("default", "people", 0)])
            self.assertEqual(cur.statistics("orders").fetchall(), [])
        self.each_identity(check, ";UseCurrentSchema=1")

    def test_statistics_gives_one_table_row_per_table(self):
        def check(cur, identity):
            rows = cur.statistics("people", schema="default").fetchall()
            self.assertEqual(names(cur), STATISTICS_COLUMNS)
            self.assertEqual([tuple(r) for r in rows],
                             [(None, "default", "people", None, None, None, 0, None, None, None, None, None, None)])
            unique = cur.statistics("orders", schema="sales", unique=True).fetchall()
            self.assertEqual([(r.table_schem, r.table_name, r.type) for r in unique], [("sales", "orders", 0)])
            self.assertEqual(cur.statistics("no_such_table", schema="default").fetchall(), [])
            # A plain name, not a pattern: _ matches only itself.
            self.assertEqual(cur.statistics("peopl_", schema="default").fetchall(), [])
            # Every database holding the table when no schema is given.
            everywhere = cur.statistics("orders").fetchall()
            self.assertEqual([(r.table_schem, r.table_name) for r in everywhere], [("sales", "orders")])
        self.each_identity(check)

    def test_functions_without_server_data_answer_empty_with_their_columns(self):
        def check(cur, identity):
            for call, columns in ((lambda: cur.primaryKeys("people", schema="default"), PRIMARY_KEY_COLUMNS),
                                  (lambda: cur.foreignKeys(table="people"), FOREIGN_KEY_COLUMNS),
                                  (lambda: cur.foreignKeys(foreignTable="orders", foreignSchema="sales"),
                                   FOREIGN_KEY_COLUMNS),
                                  (lambda: cur.procedures(), PROCEDURE_COLUMNS),
                                  (lambda: cur.procedures("%", schema="%"), PROCEDURE_COLUMNS),
                                  (lambda: cur.procedureColumns(), PROCEDURE_COLUMN_COLUMNS),
                                  (lambda: cur.rowIdColumns("people", schema="default"), SPECIAL_COLUMNS),
                                  (lambda: cur.rowVerColumns("people", schema="default"), SPECIAL_COLUMNS)):
                self.assertEqual(call().fetchall(), [])
                self.assertEqual(names(cur), columns)
            with self.assertRaises(pyodbc.Error) as caught:
                cur.primaryKeys("people", catalog="hive")
            self.assertEqual(caught.exception.args[0], "HY090")
            with self.assertRaises(pyodbc.Error) as caught:
                cur.procedures("p" * 200)
            self.assertEqual(caught.exception.args[0], "HY090")
        self.each_identity(check)

    def test_searchable_special_columns_need_the_current_row_scope(self):
        # pyodbc asks for columns that identify a row for a transaction: the
        # searchable columns identify it only while it is current.
        def check(cur, identity):
            self.assertEqual(cur.rowIdColumns("people", schema="default").fetchall(), [])
            self.assertEqual(names(cur), SPECIAL_COLUMNS)
        self.each_identity(check, ";ReturnSearchableSpecialColumns=1")


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    SOURCE = sys.argv.pop(1)
    unittest.main(verbosity=2)
