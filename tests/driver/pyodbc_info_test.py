"""pyodbc's getinfo and connection attributes through unixODBC against the
driver's test build: texts and numbers of a table of information types as
an application reads them, autocommit switched both ways, the login
time-out given at connect, and the connection time-out refused. Run with
/usr/bin/python3; argument: the test build."""
import re
import sys
import unittest

from odbctestenv import ini_folder


class PyodbcInfo(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = ini_folder("pyodbc_info_test.",
                             "[VYspark28test]\nDescription=Driver test build\nDriver=%s\n" % LIBRARY,
                             "[infotest]\nDriver=VYspark28test\n", name_odbcinst=True)
        global pyodbc
        import pyodbc

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def setUp(self):
        self.cnxn = pyodbc.connect("DSN=infotest;UID=someone;PWD=p", autocommit=True, timeout=7)

    def tearDown(self):
        self.cnxn.close()

    def test_information_types_as_an_application_reads_them(self):
        cases = [
            # Texts.
            ("SQL_DRIVER_ODBC_VER", "03.52"),
            ("SQL_SEARCH_PATTERN_ESCAPE", "\\"),
            ("SQL_XOPEN_CLI_YEAR", "1995"),
            ("SQL_TABLE_TERM", "table"),
            ("SQL_USER_NAME", "someone"),
            ("SQL_DATA_SOURCE_NAME", "infotest"),
            ("SQL_CATALOG_TERM", ""),
            ("SQL_DRIVER_NAME", "VYspark28.so"),
            # Y/N texts, which pyodbc reads as flags.
            ("SQL_ROW_UPDATES", False),
            ("SQL_MULT_RESULT_SETS", False),
            ("SQL_ORDER_BY_COLUMNS_IN_SELECT", True),
            ("SQL_CATALOG_NAME", False),
            # Numbers of 16 and 32 bits.
            ("SQL_TXN_CAPABLE", 1),
            ("SQL_CURSOR_COMMIT_BEHAVIOR", 2),
            ("SQL_NULL_COLLATION", 1),
            ("SQL_MAX_CURSOR_NAME_LEN", 26),
            ("SQL_GETDATA_EXTENSIONS", 11),
            # Forward-only and the emulated static cursor.
            ("SQL_SCROLL_OPTIONS", 17),
            ("SQL_AGGREGATE_FUNCTIONS", 64),
            ("SQL_OJ_CAPABILITIES", 41),
            ("SQL_MAX_ROW_SIZE", 0),
        ]
        for name, expected in cases:
            with self.subTest(name):
                self.assertEqual(self.cnxn.getinfo(getattr(pyodbc, name)), expected)
        version = self.cnxn.getinfo(pyodbc.SQL_DRIVER_VER)
        self.assertRegex(version, r"^\d\d\.\d\d\.\d{4} \(B\d{4}, U\d{4}\)$")

    def test_autocommit_switches_both_ways_and_transactions_end(self):
        self.cnxn.autocommit = False
        self.assertFalse(self.cnxn.autocommit)
        self.cnxn.commit()
        self.cnxn.rollback()
        self.cnxn.autocommit = True
        self.assertTrue(self.cnxn.autocommit)

    def test_the_connection_time_out_is_not_offered(self):
        with self.assertRaises(pyodbc.Error) as caught:
            self.cnxn.timeout = 3
        self.assertEqual(caught.exception.args[0], "HYC00")
        # The refusal names the keyword that sets the time-out.
        self.assertIn("set the keyword ConnectionTimeout (CT)", caught.exception.args[1])
        # The connection goes on.
        self.assertEqual(self.cnxn.getinfo(pyodbc.SQL_DRIVER_ODBC_VER), "03.52")

    def test_attributes_the_driver_refuses_reach_the_application(self):
        # Read-only pool statistics, and the login time-out after the open.
        for attribute, state in ((1070, "HY011"), (pyodbc.SQL_ATTR_LOGIN_TIMEOUT, "HY011")):
            with self.subTest(attribute):
                with self.assertRaises(pyodbc.Error) as caught:
                    self.cnxn.set_attr(attribute, 1)
                self.assertEqual(caught.exception.args[0], state)


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
