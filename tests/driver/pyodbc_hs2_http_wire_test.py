"""Several cursors of one connection sharing the wire over the HTTP
transport (TransportMode=1), where a reply is the body of an HTTP response
rather than a length-framed message: the wire-sharing cases of
pyodbc_hs2_params_test.py (cursors fetched alternately, in memory and
through spill files, a cursor closed while another holds the wire, every
closed cursor's operation closed) against the test server in HTTP mode,
column-wise and row-wise. Run with /usr/bin/python3; argument: the driver
library."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pyodbc_hs2_params_test as wire  # noqa: E402


class SharingTheWireOverHttp(wire.SharingTheWire):
    def each_setting(self, body):
        for identity in ("hive-2.3", "spark-3"):
            proc = subprocess.Popen(["/usr/bin/python3", wire.SERVER, "--port", "0", "--server", identity,
                                     "--synthetic-rows", "30000", "--transport", "http"],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            port = int(proc.stdout.readline())
            try:
                for protocol in wire.PROTOCOLS:
                    with self.subTest(identity=identity, protocol=protocol):
                        text = ("DRIVER={VYspark28};HOST=127.0.0.1;PORT=%d;UID=tester;PWD=secret;"
                                "TransportMode=1;HTTPPath=cliservice" % port)
                        if protocol is not None:
                            text += ";CSP=%d" % protocol
                        connection = pyodbc.connect(text, timeout=20, autocommit=True)
                        try:
                            body(connection)
                        finally:
                            connection.close()
            finally:
                proc.terminate()
                proc.wait(timeout=30)
                proc.stdout.close()


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    work = tempfile.TemporaryDirectory(prefix="pyodbc_hs2_http_wire_test.")
    inst = os.path.join(work.name, "odbcinst.ini")
    with open(inst, "w") as f:
        f.write("[VYspark28]\nDescription=Driver under test\nDriver=%s\n" % LIBRARY)
    with open(os.path.join(work.name, "odbc.ini"), "w") as f:
        f.write("")
    os.environ["ODBCSYSINI"] = work.name
    os.environ["ODBCINSTINI"] = "odbcinst.ini"
    os.environ["ODBCINST"] = inst
    os.environ["ODBCINI"] = os.path.join(work.name, "odbc.ini")
    import pyodbc  # noqa: E402  (after the ini files are in place)
    try:
        unittest.main()
    finally:
        work.cleanup()
