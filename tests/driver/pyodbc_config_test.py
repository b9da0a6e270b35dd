"""pyodbc connects through unixODBC to the bundled HiveServer2 test server
with data sources that only the system's odbc.ini (ODBCSYSINI) holds, as
`odbcinst -i -s -l` installs them; what is missing for a connect is named,
and the refusals of autocommit off and of connection.timeout say what to do
instead. Run with /usr/bin/python3; arguments: the driver library, the
source tree."""
import os
import shutil
import sys
import tempfile
import unittest

from odbctestenv import start_server, stop_server


class SystemDataSources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.proc, cls.port = start_server(SOURCE, "--user", "ann", "--password", "pw")
        cls.dir = tempfile.mkdtemp(prefix="pyodbc_config_test.")
        system = os.path.join(cls.dir, "sys")
        os.mkdir(system)
        with open(os.path.join(system, "odbcinst.ini"), "w") as f:
            f.write("[VYspark28]\nDescription=Driver under test\nDriver=%s\n" % LIBRARY)
        with open(os.path.join(system, "odbc.ini"), "w") as f:
            f.write("[hs2sys]\nDriver=VYspark28\nHostName=127.0.0.1\nPortNumber=%d\nLoginTimeout=20\n\n"
                    "[noport]\nDriver=VYspark28\nHostName=127.0.0.1\n" % cls.port)
        # The user's file exists and holds another data source only.
        user = os.path.join(cls.dir, "user.ini")
        with open(user, "w") as f:
            f.write("[elsewhere]\nDriver=VYspark28\nHostName=127.0.0.1\nPortNumber=1\n")
        for name in ("ODBCINSTINI", "ODBCINST", "ODBC_INI"):
            os.environ.pop(name, None)
        os.environ["ODBCSYSINI"] = system
        os.environ["ODBCINI"] = user
        global pyodbc
        import pyodbc

    @classmethod
    def tearDownClass(cls):
        stop_server(cls.proc)
        shutil.rmtree(cls.dir, ignore_errors=True)

    def failure(self, text, **options):
        with self.assertRaises(pyodbc.Error) as caught:
            pyodbc.connect(text, timeout=20, **options)
        return caught.exception.args[0], caught.exception.args[1]

    def test_a_data_source_of_the_system_file_connects(self):
        conn = pyodbc.connect("DSN=hs2sys;UID=ann;PWD=pw", timeout=20, autocommit=True)
        try:
            row = conn.cursor().execute("SELECT ?, ?", "Chloé", "😀").fetchone()
            self.assertEqual(tuple(row), ("Chloé", "😀"))
        finally:
            conn.close()

    def test_narrow_text_is_in_the_locales_code_page(self):
        # Parameters sent as SQL_C_CHAR and results fetched as SQL_C_CHAR, in
        # UTF-8 as the locale (C.UTF-8, or C coerced to it) has it; no
        # IANAAppCodePage anywhere. The server counts the characters it got.
        conn = pyodbc.connect("DSN=hs2sys;UID=ann;PWD=pw", timeout=20, autocommit=True)
        try:
            conn.setencoding(encoding="utf-8", ctype=pyodbc.SQL_CHAR)
            conn.setdecoding(pyodbc.SQL_WCHAR, encoding="utf-8", ctype=pyodbc.SQL_CHAR)
            conn.setdecoding(pyodbc.SQL_CHAR, encoding="utf-8", ctype=pyodbc.SQL_CHAR)
            for text in ("Chloé", "Ω", "😀"):
                with self.subTest(text=text):
                    row = conn.cursor().execute("SELECT ?, length(?)", text, text).fetchone()
                    self.assertEqual(tuple(row), (text, len(text)))
        finally:
            conn.close()

    def test_what_is_missing_is_named(self):
        cases = [
            ("DSN=noport;UID=ann;PWD=pw", "08001", "port number (PORT)"),
            ("DSN=hs2sys;UID=ann", "28000", "password (PWD)"),
            ("DSN=hs2sys;PWD=pw", "28000", "user id (UID)"),
        ]
        for text, state, words in cases:
            with self.subTest(text=text):
                got_state, message = self.failure(text)
                self.assertEqual(got_state, state, message)
                self.assertIn("Not enough information to connect", message)
                self.assertIn(words, message)

    def test_autocommit_off_is_refused_with_what_to_do(self):
        state, message = self.failure("DSN=hs2sys;UID=ann;PWD=pw", autocommit=False)
        self.assertEqual(state, "HYC00", message)
        self.assertIn("Hive has no transactions", message)
        self.assertIn("autocommit=True", message)
        self.assertIn("TransactionMode=1", message)
        # The keyword it names does what it says.
        conn = pyodbc.connect("DSN=hs2sys;UID=ann;PWD=pw;TransactionMode=1", timeout=20, autocommit=False)
        conn.commit()
        conn.close()

    def test_connection_timeout_is_refused_with_the_keyword_to_use(self):
        conn = pyodbc.connect("DSN=hs2sys;UID=ann;PWD=pw", timeout=20, autocommit=True)
        try:
            with self.assertRaises(pyodbc.Error) as caught:
                conn.timeout = 5
            state, message = caught.exception.args[0], caught.exception.args[1]
            self.assertEqual(state, "HYC00", message)
            self.assertIn("ConnectionTimeout (CT)", message)
        finally:
            conn.close()


if __name__ == "__main__":
    LIBRARY = sys.argv[1]
    SOURCE = sys.argv[2]
    del sys.argv[1:3]
    unittest.main()
