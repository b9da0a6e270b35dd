"""pyodbc on the driver library's test build (its connections connect without
a server, its statements answer from scripted results): cursors are made and
closed on a connected connection, a failing statement is refused with its
diagnostic, cursors left open go with the connection, and results are
described and fetched (rows, row arrays, long values in pieces). Run with
/usr/bin/python3; argument: the driver library."""
import sys
import unittest

from odbctestenv import ini_folder


class PyodbcCursors(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = ini_folder("pyodbc_stmt_test.",
                             "[VYspark28test]\nDescription=Driver test build\nDriver=%s\n" % LIBRARY,
                             "[sparktest]\nDriver=VYspark28test\n")
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

    def test_a_failing_statement_is_refused_with_its_diagnostic(self):
        connection = self.connect()
        cursor = connection.cursor()
        with self.assertRaises(pyodbc.Error) as caught:
            cursor.execute("fail now")
        self.assertEqual(caught.exception.args[0], "HY000")
        cursor.close()
        connection.close()

    def test_rows_are_described_and_fetched(self):
        connection = self.connect()
        cursor = connection.cursor()
        cursor.execute("select rows 3")
        self.assertEqual([d[0] for d in cursor.description], ["id", "name", "wide", "data", "note"])
        self.assertIs(cursor.description[0][1], int)
        rows = cursor.fetchall()
        self.assertEqual(len(rows), 3)
        self.assertEqual(rows[1].id, 2)
        self.assertEqual(rows[1].name, "name-2")
        self.assertEqual(rows[1].wide, "\u00fc-2")
        self.assertEqual(rows[1].data, bytes([2, 0xFF, 0, 0x7F]))
        self.assertIsNone(rows[1].note)
        self.assertEqual(rows[2].note, "odd")
        cursor.execute("insert into t values (1)")
        self.assertEqual(cursor.rowcount, 1)
        connection.close()

    def test_fetchmany_walks_a_result_with_a_row_array(self):
        connection = self.connect()
        cursor = connection.cursor()
        cursor.arraysize = 4
        cursor.execute("select rows 10")
        seen = []
        while True:
            batch = cursor.fetchmany()
            if not batch:
                break
            self.assertLessEqual(len(batch), 4)
            seen.extend(row.id for row in batch)
        self.assertEqual(seen, list(range(1, 11)))
        connection.close()

    def test_long_values_come_back_whole(self):
        connection = self.connect()
        cursor = connection.cursor()
        pieces = ["a", "\u00e9", "\u20ac", "\U0001F600"]
        for n in (1, 4095, 20000):
            cursor.execute("select long %d" % n)
            row = cursor.fetchone()
            self.assertEqual(row.text, "".join(pieces[i % 4] for i in range(n)))
            self.assertEqual(row.bin, bytes(i % 251 for i in range(n)))
        connection.close()

    def test_a_cursor_closed_midway_runs_again(self):
        connection = self.connect()
        cursor = connection.cursor()
        for _ in range(3):
            cursor.execute("select rows 5")
            self.assertEqual(cursor.fetchone().id, 1)
            cursor.close()
            cursor = connection.cursor()
        cursor.execute("select rows 2")
        self.assertEqual([row.id for row in cursor.fetchall()], [1, 2])
        # Nothing is running: the driver manager closes the cursor, the
        # driver has nothing to stop, and the cursor runs again.
        cursor.cancel()
        cursor.execute("select rows 1")
        self.assertEqual(cursor.fetchone().id, 1)
        connection.close()

    def test_cursors_left_open_go_with_the_connection(self):
        connection = self.connect()
        kept = [connection.cursor() for _ in range(3)]
        connection.close()
        self.assertEqual(len(kept), 3)


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
