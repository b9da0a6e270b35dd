"""Several cursors of one connection sharing the wire. Over the HTTP
transport (TransportMode=1), where a reply is the body of an HTTP response
rather than a length-framed message: the wire-sharing cases of
pyodbc_hs2_params_test.py (cursors fetched alternately, in memory and
through spill files, a cursor closed while another holds the wire, every
closed cursor's operation closed) against the test server in HTTP mode.
Over both transports: the closes queued while another cursor held the wire
are all sent although the server refuses the first. Column-wise and
row-wise. Run with /usr/bin/python3; argument: the driver
library."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pyodbc_hs2_params_test as wire  # noqa: E402
from odbctestenv import ini_folder  # noqa: E402


HTTP = ("--transport", "http")


class SharingTheWireOverHttp(wire.SharingTheWire):
    def each_setting(self, body):
        wire.each_server(self, body, HTTP)


class QueuedCloses(unittest.TestCase):
    """Cursors closed while another holds the wire have their operations
    closed when the wire is next taken; the server refuses the first of
    those closes."""

    def test_a_refused_close_leaves_the_other_queued_closes_to_be_sent(self):
        def body(connection):
            closed = []
            for _ in range(3):
                c = connection.cursor()
                c.execute("SELECT id FROM bench.synthetic")
                self.assertIsNotNone(c.fetchone())
                closed.append(c)
            holder = connection.cursor()
            holder.execute("SELECT id FROM bench.synthetic")
            self.assertIsNotNone(holder.fetchone())
            # The holder's reply is on the wire: these closes wait for it.
            for c in closed:
                c.close()
            self.assertEqual(len(holder.fetchall()), 29999)
            holder.execute("SELECT 1")
            holder.close()
            # Only the refused close's operation is left open.
            self.assertEqual(wire.SharingTheWire.open_operations(connection), 1)

        # The login closes two operations of its own: the third close of
        # the session is the first queued one.
        for transport in ((), HTTP):
            wire.each_server(self, body, ("--fault", "refuse=CloseOperation:3") + transport, identities=("spark-3",))


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    ini_folder("pyodbc_hs2_wire_test.", "[VYspark28]\nDescription=Driver under test\nDriver=%s\n" % LIBRARY, "",
               name_odbcinst=True)
    import pyodbc  # noqa: E402  (after the ini files are in place)
    wire.pyodbc = pyodbc  # the shared helpers connect through it
    unittest.main()
