"""pyodbc connects through the data sources that install_test.sh registered
(unixODBC's files named by its environment): the installed driver and a
copy without its catalogue both answer with the SQLSTATE and English text
of their refusal and the driver's name. Run with /usr/bin/python3;
arguments: the data source names."""
import sys
import unittest

import pyodbc

REFUSAL = ("[Mirrowen][ODBC HiveServer2 driver]The connection could not be opened"
           " because no server connection is available")


class ThroughTheDataSource(unittest.TestCase):
    def test_each_data_source_reaches_the_driver(self):
        for dsn in DATA_SOURCES:
            with self.subTest(dsn):
                with self.assertRaises(pyodbc.Error) as caught:
                    pyodbc.connect("DSN=%s;UID=user;PWD=secret" % dsn, timeout=5)
                state, message = caught.exception.args
                self.assertEqual(state, "08001")
                self.assertIn(REFUSAL, message)

    def test_a_data_source_nobody_registered_is_refused_by_the_driver_manager(self):
        with self.assertRaises(pyodbc.Error) as caught:
            pyodbc.connect("DSN=nosuchsource", timeout=5)
        self.assertEqual(caught.exception.args[0], "IM002")


if __name__ == "__main__":
    DATA_SOURCES = sys.argv[1:]
    del sys.argv[1:]
    unittest.main(verbosity=2)
