"""pyodbc on the driver library's test build (its connections connect without
a server): cursors are made and closed on a connected connection, a statement
the driver cannot run yet is refused with its diagnostic, and cursors left
open go with the connection. Run with /usr/bin/python3; argument: the
driver library."""
import os
import sys
import tempfile
import unittest


class PyodbcCursors(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory(prefix="pyodbc_stmt_test.")
        with open(os.path.join(cls.dir.name, "odbcinst.ini"), "w") as f:
            f.write("[VYspark28test]\nDescription=Driver test build\nDriver=%s\n" % LIBRARY)
        with open(os.path.join(cls.dir.name, "odbc.ini"), "w") as f:
            f.write("[sparktest]\nDriver=VYspark28test\n")
        os.environ["ODBCSYSINI"] = cls.dir.name
        os.environ["ODBCINSTINI"] = "odbcinst.ini"
        os.environ["ODBCINI"] = os.path.join(cls.dir.name, "odbc.ini")
        global pyodbc
        import pyodbc

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def connect(self):
        return pyodbc.connect("DRIVER={VYspark28test};UID=u;PWD=p", autocommit=True)

    def test_cursors_are_made_and_closed(self):
        connection = self.connect()
        cursors = [connection.cursor() for _ in range(5)]
        for cursor in cursors:
            cursor.close()
        with connection.cursor() as cursor:
            self.assertIsNotNone(cursor)
        connection.close()

    def test_a_statement_the_driver_cannot_run_is_refused(self):
        connection = self.connect()
        cursor = connection.cursor()
        with self.assertRaises(pyodbc.Error) as caught:
            cursor.execute("select 1")
        self.assertEqual(caught.exception.args[0], "HYC00")
        cursor.close()
        connection.close()

    def test_cursors_left_open_go_with_the_connection(self):
        connection = self.connect()
        kept = [connection.cursor() for _ in range(3)]
        connection.close()
        self.assertEqual(len(kept), 3)


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
