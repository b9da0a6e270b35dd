"""The driver's own connection pooling through unixODBC and pyodbc (the
driver manager's pooling off), against the bundled HiveServer2 test server
started with --verbose on a free loopback port: its log shows one
OpenSession for several logical connects, the sessions sixteen threads open
bounded by the pool's size, and the maintenance thread closing an idle
pooled session; a connection taken again with ConnectionReset is back in
the data source's database. Run with /usr/bin/python3; arguments: the
driver library, the source tree."""
import os
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from odbctestenv import ini_folder, stop_server

# How long the maintenance thread may take to close an idle session: its
# passes are ten seconds apart.
REAPER_WAIT_SECONDS = 40


def start_logging_server(log):
    tool = os.path.join(SOURCE, "tools", "hs2server", "hs2server")
    proc = subprocess.Popen(["/usr/bin/python3", tool, "--port", "0", "--verbose",
                             "--user", "ann", "--password", "pw"],
                            stdout=subprocess.PIPE, stderr=log)
    port = int(proc.stdout.readline())
    return proc, port


class DriverPooling(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.log = tempfile.NamedTemporaryFile(prefix="pyodbc_pool_test.", suffix=".log")
        cls.proc, cls.port = start_logging_server(cls.log)
        cls.dir = ini_folder("pyodbc_pool_test.",
                             "[VYspark28]\nDescription=Driver under test\nDriver=%s\n" % LIBRARY,
                             "[hs2]\nDriver=VYspark28\nHostName=127.0.0.1\nPortNumber=%d\n"
                             "Database=default\nLoginTimeout=20\n"
                             "[hs2pooled]\nDriver=VYspark28\nHostName=127.0.0.1\nPortNumber=%d\n"
                             "Database=default\nLoginTimeout=20\nPooling=1\n" % (cls.port, cls.port))
        global pyodbc
        import pyodbc
        # The driver manager's own pooling would hide the driver's.
        pyodbc.pooling = False
        # The driver manager unloads a driver whose last connection closes;
        # an application that pools keeps at least one open.
        cls.anchor = pyodbc.connect("DSN=hs2;UID=ann;PWD=pw", timeout=20, autocommit=True)
        # What one physical connect costs the server, measured on the
        # anchor: the sessions it opens, and those it closes again before
        # it returns.
        cls.opens_per_connect = cls.calls("OpenSession")
        cls.closes_per_connect = cls.calls("CloseSession")

    @classmethod
    def tearDownClass(cls):
        cls.anchor.close()
        stop_server(cls.proc)
        cls.dir.cleanup()
        cls.log.close()

    @classmethod
    def calls(cls, name):
        with open(cls.log.name) as f:
            return sum(1 for line in f if line.split()[1:2] == [name])

    def connect_and_query(self, text):
        conn = pyodbc.connect(text, timeout=20, autocommit=True)
        try:
            self.assertTrue(conn.getinfo(pyodbc.SQL_DBMS_NAME))
        finally:
            conn.close()

    def test_several_logical_connects_open_one_session(self):
        before = self.calls("OpenSession")
        for _ in range(4):
            self.connect_and_query("DSN=hs2;UID=ann;PWD=pw;POOL=1")
        self.assertEqual(self.calls("OpenSession") - before, self.opens_per_connect)

    def test_the_data_sources_pooling_setting_pools_too(self):
        before = self.calls("OpenSession")
        for _ in range(3):
            self.connect_and_query("DSN=hs2pooled;UID=ann;PWD=pw")
        self.assertEqual(self.calls("OpenSession") - before, self.opens_per_connect)

    def test_without_pooling_every_connect_opens_and_closes_its_session(self):
        opened = self.calls("OpenSession")
        closed = self.calls("CloseSession")
        for _ in range(3):
            self.connect_and_query("DSN=hs2pooled;UID=ann;PWD=pw;POOL=0")
        self.assertEqual(self.calls("OpenSession") - opened, 3 * self.opens_per_connect)
        self.assertEqual(self.calls("CloseSession") - closed, 3 * self.opens_per_connect)

    def test_a_connection_held_by_one_handle_is_not_handed_to_another(self):
        before = self.calls("OpenSession")
        text = "DSN=hs2;UID=ann;PWD=pw;POOL=1;MaxPoolSize=2;ConnectionTimeout=0"
        first = pyodbc.connect(text, timeout=20, autocommit=True)
        second = pyodbc.connect(text, timeout=20, autocommit=True)
        self.assertEqual(self.calls("OpenSession") - before, 2 * self.opens_per_connect)
        first.close()
        second.close()
        third = pyodbc.connect(text, timeout=20, autocommit=True)
        third.close()
        self.assertEqual(self.calls("OpenSession") - before, 2 * self.opens_per_connect)

    def test_sixteen_threads_share_a_pool_no_larger_than_its_maximum(self):
        threads_count, rounds, max_size = 16, 6, 16
        text = "DSN=hs2;UID=ann;PWD=pw;POOL=1;MaxPoolSize=%d" % max_size
        before = self.calls("OpenSession")
        failures = []
        start = threading.Barrier(threads_count)

        def work(number):
            try:
                start.wait(timeout=60)
                for _ in range(rounds):
                    conn = pyodbc.connect(text, timeout=20, autocommit=True)
                    try:
                        row = conn.cursor().execute("SELECT %d" % number).fetchone()
                        if row[0] != number:
                            failures.append("thread %d read %r" % (number, row[0]))
                    finally:
                        conn.close()
            except Exception as e:  # every failure is reported, none ends the run
                failures.append("thread %d: %s" % (number, e))

        workers = [threading.Thread(target=work, args=(n,)) for n in range(threads_count)]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join(timeout=120)
        self.assertFalse(any(worker.is_alive() for worker in workers))
        self.assertEqual(failures, [])
        opened = self.calls("OpenSession") - before
        # Without the pool every logical connect would open a session; with
        # it no more sessions than the pool holds, and reuse seen.
        self.assertGreaterEqual(opened, self.opens_per_connect)
        self.assertLessEqual(opened, max_size * self.opens_per_connect)
        self.assertLess(opened, threads_count * rounds * self.opens_per_connect)

    def test_a_reset_connection_is_back_in_the_data_sources_database(self):
        anchor = self.anchor.cursor()
        anchor.execute("CREATE DATABASE IF NOT EXISTS pool_other")
        # With ConnectionReset the next taker is switched back; without it
        # the connection comes as the last taker left it.
        for reset, expected in (("1", "default"), ("0", "pool_other")):
            with self.subTest(reset=reset):
                text = "DSN=hs2;UID=ann;PWD=pw;POOL=1;MaxPoolSize=1;ConnectionReset=%s" % reset
                before = self.calls("OpenSession")
                first = pyodbc.connect(text, timeout=20, autocommit=True)
                first.cursor().execute("USE pool_other")
                self.assertEqual(first.cursor().execute("SELECT current_database()").fetchone()[0],
                                 "pool_other")
                first.close()
                second = pyodbc.connect(text, timeout=20, autocommit=True)
                try:
                    self.assertEqual(second.cursor().execute("SELECT current_database()").fetchone()[0],
                                     expected)
                finally:
                    second.close()
                # The same pooled session served both.
                self.assertEqual(self.calls("OpenSession") - before, self.opens_per_connect)

    def test_the_maintenance_thread_closes_an_idle_connection(self):
        text = "DSN=hs2;UID=ann;PWD=pw;POOL=1;LoadBalanceTimeout=1"
        opened = self.calls("OpenSession")
        closed = self.calls("CloseSession")
        self.connect_and_query(text)
        self.assertEqual(self.calls("OpenSession") - opened, self.opens_per_connect)
        # Given back, the session stays open for the pool ...
        self.assertEqual(self.calls("CloseSession") - closed, self.closes_per_connect)
        # ... until a maintenance pass finds it idle too long.
        deadline = time.monotonic() + REAPER_WAIT_SECONDS
        while (self.calls("CloseSession") - closed == self.closes_per_connect
               and time.monotonic() < deadline):
            time.sleep(0.5)
        self.assertEqual(self.calls("CloseSession") - closed, self.closes_per_connect + 1)
        # The next connect of that key opens a new session.
        self.connect_and_query(text)
        self.assertEqual(self.calls("OpenSession") - opened, 2 * self.opens_per_connect)

    def test_pooled_sessions_are_closed_when_the_application_ends(self):
        opened = self.calls("OpenSession")
        closed = self.calls("CloseSession")
        # Another application: two handles connected at once leave two
        # sessions in its pool when it ends.
        child = ("import pyodbc\n"
                 "pyodbc.pooling = False\n"
                 "text = 'DSN=hs2;UID=ann;PWD=pw;POOL=1;MaxPoolSize=5'\n"
                 "a = pyodbc.connect(text, timeout=20, autocommit=True)\n"
                 "b = pyodbc.connect(text, timeout=20, autocommit=True)\n"
                 "a.close()\n"
                 "b.close()\n")
        subprocess.run(["/usr/bin/python3", "-c", child], check=True, timeout=120)
        self.assertEqual(self.calls("OpenSession") - opened, 2 * self.opens_per_connect)
        self.assertEqual(self.calls("CloseSession") - closed, 2 * self.opens_per_connect)


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    SOURCE = sys.argv.pop(1)
    unittest.main(verbosity=2)
