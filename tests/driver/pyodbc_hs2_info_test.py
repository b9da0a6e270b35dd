"""pyodbc's getinfo and connection attributes through unixODBC against the
bundled HiveServer2 test server, which the test starts on a free loopback
port: the answers the driver gives without the server, those it learned
from the server at the open under each identity, autocommit refused without
transactions and accepted with TransactionMode=1, and a dead link after the
server stops. Run with /usr/bin/python3; arguments: the driver library, the
source tree."""
import sys
import unittest

from odbctestenv import ini_folder, start_server, stop_server


class PyodbcInfoFromTheServer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = ini_folder("pyodbc_hs2_info_test.",
                             "[VYspark28]\nDescription=Driver under test\nDriver=%s\n" % LIBRARY, "")
        global pyodbc
        import pyodbc

    def connect(self, port, extra="", autocommit=True):
        return pyodbc.connect("DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;UID=bob;PWD=any%s" % (port, extra),
                              timeout=20, autocommit=autocommit)

    def test_answers_without_and_from_the_server_under_each_identity(self):
        identities = (("hive-1.2", "Apache Hive", "01.02.0001"), ("hive-3.1", "Apache Hive", "03.01.0003"),
                      ("spark-3", "Spark SQL", "03.01.0003"))
        for identity, name, version in identities:
            with self.subTest(identity=identity):
                proc, port = start_server(SOURCE, "--server", identity)
                try:
                    conn = self.connect(port)
                    try:
                        self.assertEqual(conn.getinfo(pyodbc.SQL_DBMS_NAME), name)
                        self.assertEqual(conn.getinfo(pyodbc.SQL_DBMS_VER), version)
                        self.assertEqual(conn.getinfo(pyodbc.SQL_SERVER_NAME), "127.0.0.1")
                        self.assertEqual(conn.getinfo(pyodbc.SQL_DATABASE_NAME), "default")
                        self.assertEqual(conn.getinfo(pyodbc.SQL_IDENTIFIER_QUOTE_CHAR), "`")
                        self.assertEqual(conn.getinfo(pyodbc.SQL_SCHEMA_TERM), "Database")
                        self.assertEqual(conn.getinfo(pyodbc.SQL_DRIVER_NAME), "VYspark28.so")
                        self.assertRegex(conn.getinfo(pyodbc.SQL_DRIVER_VER), r"^\d\d\.\d\d\.\d{4} \(")
                        self.assertTrue(conn.getinfo(pyodbc.SQL_KEYWORDS).startswith("ABSOLUTE,ACTION,"))
                        self.assertEqual(conn.getinfo(pyodbc.SQL_TXN_CAPABLE), 0)
                        self.assertEqual(conn.getinfo(pyodbc.SQL_MAX_COLUMN_NAME_LEN), 128)
                        self.assertEqual(conn.getinfo(pyodbc.SQL_MAX_CATALOG_NAME_LEN), 0)
                        self.assertEqual(conn.getinfo(pyodbc.SQL_GETDATA_EXTENSIONS), 11)
                        self.assertFalse(conn.getinfo(pyodbc.SQL_CATALOG_NAME))
                        self.assertFalse(conn.getinfo(pyodbc.SQL_DESCRIBE_PARAMETER))
                    finally:
                        conn.close()
                finally:
                    stop_server(proc)

    def test_autocommit_follows_the_transaction_mode(self):
        proc, port = start_server(SOURCE)
        try:
            # No transactions: switching autocommit off is refused, as
            # pyodbc does by default when it connects.
            with self.assertRaises(pyodbc.Error) as caught:
                self.connect(port, autocommit=False)
            self.assertEqual(caught.exception.args[0], "HYC00")
            conn = self.connect(port, ";TransactionMode=1", autocommit=False)
            try:
                self.assertEqual(conn.getinfo(pyodbc.SQL_TXN_CAPABLE), 2)
                conn.commit()
                conn.autocommit = True
            finally:
                conn.close()
        finally:
            stop_server(proc)


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    SOURCE = sys.argv.pop(1)
    unittest.main(verbosity=2)
