"""pyodbc through the data sources that install_test.sh registered
(unixODBC's files named by its environment): the installed driver connects
to the test server and names itself and its version; a copy without its catalogue refuses a
port nothing listens on with the SQLSTATE and English text of the refusal.
Run with /usr/bin/python3; arguments: the installed data source, the
copy's data source, its closed port and the driver's version (##.##.####)."""
import sys
import unittest

import pyodbc


class ThroughTheDataSource(unittest.TestCase):
    def test_the_installed_data_source_connects(self):
        # Hive has no transactions: autocommit stays on (the driver refuses
        # pyodbc's default switch to manual commit with HYC00).
        connection = pyodbc.connect("DSN=%s;UID=user;PWD=secret" % INSTALLED, timeout=30, autocommit=True)
        try:
            self.assertEqual(connection.getinfo(pyodbc.SQL_DRIVER_NAME), "VYspark28.so")
            # The name the server gives for itself (GetInfo), learned at connect.
            self.assertEqual(connection.getinfo(pyodbc.SQL_DBMS_NAME), "Apache Hive")
            # The version the CMake project carries.
            self.assertTrue(connection.getinfo(pyodbc.SQL_DRIVER_VER).startswith(VERSION))
        finally:
            connection.close()

    def test_without_its_catalogue_the_driver_refuses_with_state_and_text(self):
        with self.assertRaises(pyodbc.Error) as caught:
            pyodbc.connect("DSN=%s;UID=user;PWD=secret" % BARE, timeout=30)
        state, message = caught.exception.args
        self.assertEqual(state, "08001")
        self.assertIn("[Mirrowen][ODBC HiveServer2 driver]The connection to 127.0.0.1 on port %s failed" % CLOSED,
                      message)

    def test_a_data_source_nobody_registered_is_refused_by_the_driver_manager(self):
        with self.assertRaises(pyodbc.Error) as caught:
            pyodbc.connect("DSN=nosuchsource", timeout=5)
        self.assertEqual(caught.exception.args[0], "IM002")


if __name__ == "__main__":
    INSTALLED, BARE, CLOSED, VERSION = sys.argv[1:5]
    del sys.argv[1:]
    unittest.main(verbosity=2)
