"""pyodbc connects through unixODBC to the driver's test build, by data
source and by DRIVER= string; the test connection tells through its DBMS
name what its open was asked, so that the option lookup is seen from an
application. Run with /usr/bin/python3; argument: the test build."""
import sys
import unittest

from odbctestenv import ini_folder


class PyodbcConnects(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = ini_folder("pyodbc_conn_test.",
                             "[VYspark28test]\nDescription=Driver test build\nDriver=%s\n"
                             "PortNumber=77\n" % LIBRARY,
                             "[conntest]\nDriver=VYspark28test\nHostName=dsnhost\nLOGONID=dsnuser\n",
                             name_odbcinst=True)
        global pyodbc
        import pyodbc

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def asked(self, connection_string):
        connection = pyodbc.connect(connection_string, timeout=5)
        try:
            return connection.getinfo(pyodbc.SQL_DBMS_NAME)
        finally:
            connection.close()

    def test_options_come_from_string_data_source_and_driver_section(self):
        cases = [
            ("DSN=conntest", "host=dsnhost;port=77;user=dsnuser"),
            ("DSN=conntest;HOST=given;UID=me;PWD=pw", "host=given;port=77;user=me"),
            ("DRIVER={VYspark28test};HOST=h2;PORT=5;UID=u;PWD=p", "host=h2;port=5;user=u"),
        ]
        for connection_string, expected in cases:
            with self.subTest(connection_string):
                self.assertEqual(self.asked(connection_string), expected)

    def test_a_password_with_separators_stays_one_attribute(self):
        self.assertEqual(self.asked("DSN=conntest;UID=me;PWD={a;HOST=evil}"),
                         "host=dsnhost;port=77;user=me")

    def test_a_failed_open_reaches_the_application(self):
        with self.assertRaises(pyodbc.Error) as caught:
            pyodbc.connect("DSN=conntest;FAIL=1", timeout=5)
        self.assertEqual(caught.exception.args[0], "08001")


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
