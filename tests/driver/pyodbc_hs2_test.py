"""pyodbc connects through unixODBC to the bundled HiveServer2 test server,
which the test starts on a free loopback port: by data source and by
DRIVER= string, under each server identity; a refused login and a port where
nothing listens end with 08001 and the driver's message. Run with
/usr/bin/python3; arguments: the driver library, the source tree."""
import sys
import unittest

from odbctestenv import ini_folder, start_server, stop_server


def start_server_rows(*options):
    return start_server(SOURCE, "--synthetic-rows", "100", *options)


class PyodbcReachesTheServer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.proc, cls.port = start_server_rows("--user", "ann", "--password", "pw;}x")
        cls.dir = ini_folder("pyodbc_hs2_test.",
                             "[VYspark28]\nDescription=Driver under test\nDriver=%s\n" % LIBRARY,
                             "[hs2]\nDriver=VYspark28\nHostName=127.0.0.1\nPortNumber=%d\n"
                             "Database=default\nLoginTimeout=20\n" % cls.port)
        global pyodbc
        import pyodbc

    @classmethod
    def tearDownClass(cls):
        stop_server(cls.proc)
        cls.dir.cleanup()

    def test_connect_by_data_source(self):
        conn = pyodbc.connect("DSN=hs2;UID=ann;PWD={pw;}}x}", timeout=20, autocommit=True)
        conn.close()

    def test_connect_by_driver_string_under_each_identity(self):
        for identity in ("hive-1.2", "hive-2.3", "hive-3.1", "spark-3"):
            with self.subTest(identity=identity):
                proc, port = start_server_rows("--server", identity)
                try:
                    conn = pyodbc.connect("DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;UID=bob;PWD=any"
                                          % port, timeout=20, autocommit=True)
                    conn.close()
                finally:
                    stop_server(proc)

    def test_a_refused_login_is_08001_with_the_servers_message(self):
        with self.assertRaises(pyodbc.Error) as caught:
            pyodbc.connect("DSN=hs2;UID=ann;PWD=wrong", timeout=20)
        state, message = caught.exception.args[0], caught.exception.args[1]
        self.assertEqual(state, "08001")
        self.assertIn("The server refused the login", message)
        self.assertNotIn("wrong", message)

    def test_a_port_where_nothing_listens_is_08001(self):
        with self.assertRaises(pyodbc.Error) as caught:
            pyodbc.connect("DRIVER={VYspark28};HOST=127.0.0.1;PORT=1;UID=a;PWD=b", timeout=20)
        self.assertEqual(caught.exception.args[0], "08001")
        self.assertIn("The connection to 127.0.0.1 on port 1 failed", caught.exception.args[1])


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    SOURCE = sys.argv.pop(1)
    unittest.main(verbosity=2)
