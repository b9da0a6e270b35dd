"""pyodbc loads the driver through unixODBC: a connect attempt to a port
where nothing listens ends with the driver's own 08001 diagnostic, with attributes given before connecting, and
again on a fresh attempt. Run with /usr/bin/python3; argument: the driver
library."""
import sys
import unittest

from odbctestenv import ini_folder

REFUSAL = ("[Mirrowen][ODBC HiveServer2 driver]The connection to 127.0.0.1 on "
           "port 1 failed")


class PyodbcLoadsTheDriver(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = ini_folder("pyodbc_test.",
                             "[VYspark28]\nDescription=Driver under test\nDriver=%s\n" % LIBRARY,
                             "[spark]\nDriver=VYspark28\nHostName=127.0.0.1\nPortNumber=1\n")
        global pyodbc
        import pyodbc

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def assertRefused(self, error):
        state, message = error.args[0], error.args[1]
        self.assertEqual(state, "08001")
        self.assertIn(REFUSAL, message)

    def test_the_driver_is_registered(self):
        self.assertIn("VYspark28", pyodbc.drivers())

    def test_connect_by_data_source_is_refused_by_the_driver(self):
        with self.assertRaises(pyodbc.Error) as caught:
            pyodbc.connect("DSN=spark;UID=user;PWD=secret", timeout=5)
        self.assertRefused(caught.exception)

    def test_connect_by_driver_with_attributes_before_is_refused_by_the_driver(self):
        SQL_ATTR_LOGIN_TIMEOUT = 103
        SQL_ATTR_AUTOCOMMIT = 102
        for _ in range(2):
            with self.assertRaises(pyodbc.Error) as caught:
                pyodbc.connect("DRIVER={VYspark28};HOST=127.0.0.1;PORT=1;UID=u;PWD=p",
                               attrs_before={SQL_ATTR_LOGIN_TIMEOUT: 7,
                                             SQL_ATTR_AUTOCOMMIT: 0})
            self.assertRefused(caught.exception)


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
