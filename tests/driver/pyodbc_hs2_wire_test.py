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
from odbctestenv import ini_folder, start_server, stop_server  # noqa: E402

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


HTTP = ("--transport", "http")


def each_server(test, body, server_options=(), identities=("hive-2.3", "spark-3")):
    """body(connection) on a fresh connection for every identity and
    layout, against a server started with server_options; over HTTP when
    they ask for it."""
    http = "http" in server_options
    for identity in identities:
        proc, port = start_server(SOURCE, "--server", identity, "--synthetic-rows", "30000", *server_options)
        try:
            for protocol in wire.PROTOCOLS:
                with test.subTest(identity=identity, protocol=protocol, http=http):
                    text = "DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;UID=tester;PWD=secret" % port
                    if http:
                        text += ";TransportMode=1;HTTPPath=cliservice"
                    if protocol is not None:
                        text += ";CSP=%d" % protocol
                    connection = pyodbc.connect(text, timeout=20, autocommit=True)
                    try:
                        body(connection)
                    finally:
                        connection.close()
        finally:
            stop_server(proc)


class SharingTheWireOverHttp(wire.SharingTheWire):
    def each_setting(self, body):
        each_server(self, body, HTTP)


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
            each_server(self, body, ("--fault", "refuse=CloseOperation:3") + transport, identities=("spark-3",))


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    ini_folder("pyodbc_hs2_wire_test.", "[VYspark28]\nDescription=Driver under test\nDriver=%s\n" % LIBRARY, "",
               name_odbcinst=True)
    import pyodbc  # noqa: E402  (after the ini files are in place)
    unittest.main()
