"""Statements through pyodbc and unixODBC against the bundled HiveServer2
test server, whose operations stay RUNNING for a while under the session's
running fault: cursor.cancel() from a second thread ends a running execute
with HY008, once, at the server, and the cursor runs the next query; the
query time-out set on the connection (Connection.set_attr) reaches each new
cursor and ends a longer query with HYT00; SQL_ATTR_NOSCAN reads back as set
(cursor.noscan). Run with /usr/bin/python3;
arguments: the driver library, the source tree."""
import os
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from odbctestenv import ini_folder, start_server, stop_server  # noqa: E402

# How long each operation stays RUNNING (ms); a time-out of 1 s ends it.
RUNNING_MS = 3000
SQL_ATTR_QUERY_TIMEOUT = 0


class StatementsAgainstTheServer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.log = tempfile.NamedTemporaryFile(prefix="pyodbc_hs2_stmt_test.", suffix=".log")
        # A poll is answered after at most 100 ms, so a running execute polls
        # often and sees a cancel or its time-out soon.
        cls.proc, cls.port = start_server(SOURCE, "--synthetic-rows", "100", "--long-polling-timeout", "100",
                                          "--verbose", log=cls.log)
        cls.dir = ini_folder("pyodbc_hs2_stmt_test.",
                             "[VYspark28]\nDescription=Driver under test\nDriver=%s\n" % LIBRARY, "")
        global pyodbc
        import pyodbc

    @classmethod
    def tearDownClass(cls):
        stop_server(cls.proc)
        cls.log.close()
        cls.dir.cleanup()

    def connect(self, running=True):
        conn = pyodbc.connect("DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;UID=u;PWD=p;LT=20" % self.port,
                              timeout=20, autocommit=True)
        self.addCleanup(conn.close)
        if running:
            conn.execute("SET hs2server.fault.running=%d" % RUNNING_MS).close()
        return conn

    def logged(self, text):
        with open(self.log.name, encoding="utf-8", errors="replace") as f:
            return f.read().count(text)

    def await_logged(self, text, count):
        # The guard against a hang, not a measure of speed.
        for _ in range(600):
            if self.logged(text) >= count:
                return True
            time.sleep(0.05)
        return False

    def test_a_cancel_from_another_thread_ends_the_running_query_and_the_cursor_runs_again(self):
        cursor = self.connect().cursor()
        cancels = self.logged("CancelOperation")
        polls = self.logged("GetOperationStatus")
        outcome = {}

        def run():
            try:
                cursor.execute("SELECT id FROM people ORDER BY id")
                outcome["rows"] = cursor.fetchall()
            except pyodbc.Error as e:
                outcome["error"] = e

        runner = threading.Thread(target=run)
        runner.start()
        self.assertTrue(self.await_logged("GetOperationStatus", polls + 1), "the execute never polled")
        cursor.cancel()
        runner.join(timeout=60)
        self.assertFalse(runner.is_alive())
        self.assertNotIn("rows", outcome)
        self.assertIsInstance(outcome["error"], pyodbc.Error)
        self.assertEqual(outcome["error"].args[0], "HY008")
        self.assertIn("canceled", outcome["error"].args[1])
        self.assertEqual(self.logged("CancelOperation"), cancels + 1)
        # The same cursor runs the next query to its rows.
        cursor.execute("SELECT id FROM people WHERE id = 3")
        self.assertEqual([tuple(r) for r in cursor.fetchall()], [(3,)])

    def test_a_cancel_with_nothing_running_leaves_the_next_query_alone(self):
        cursor = self.connect(running=False).cursor()
        cancels = self.logged("CancelOperation")
        cursor.cancel()
        cursor.execute("SELECT name FROM people WHERE id = 1")
        self.assertEqual(cursor.fetchone()[0], "Ada")
        self.assertEqual(self.logged("CancelOperation"), cancels)

    def test_a_query_timeout_set_on_the_connection_ends_longer_queries_of_new_cursors(self):
        conn = self.connect()
        conn.set_attr(SQL_ATTR_QUERY_TIMEOUT, 1)
        for _ in range(2):
            cursor = conn.cursor()
            with self.assertRaises(pyodbc.OperationalError) as caught:
                cursor.execute("SELECT id FROM people WHERE id = 2")
            self.assertEqual(caught.exception.args[0], "HYT00")
            cursor.close()
        # Without a time-out the query runs to its end.
        conn.set_attr(SQL_ATTR_QUERY_TIMEOUT, 0)
        cursor = conn.cursor()
        cursor.execute("SELECT id FROM people WHERE id = 2")
        self.assertEqual([tuple(r) for r in cursor.fetchall()], [(2,)])

    def test_noscan_reads_back_as_set(self):
        # pyodbc reads SQL_ATTR_NOSCAN with SQLGetStmtAttr into an SQLULEN.
        cursor = self.connect(running=False).cursor()
        self.assertFalse(cursor.noscan)
        for value in (True, False, True):
            cursor.noscan = value
            self.assertEqual(cursor.noscan, value)
        cursor.execute("SELECT id FROM people WHERE id = 5")
        self.assertEqual([tuple(r) for r in cursor.fetchall()], [(5,)])

if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    SOURCE = sys.argv.pop(1)
    unittest.main(verbosity=2)
