"""What the pyodbc suites share: ini files of the test's own in a temporary
folder, which unixODBC is pointed at, and the bundled HiveServer2 test server
on a free loopback port, stopped by its process."""
import os
import subprocess
import tempfile


class _ProcessFolder:
    """The process's ini folder as the callers hold it: unixODBC reads
    ODBCSYSINI once a process and keeps that folder, so a suite's later
    classes must write into the same one. It is removed when the process
    ends, not by a class's cleanup."""

    def __init__(self, name):
        self.name = name

    def cleanup(self):
        pass


_folder = None


def ini_folder(prefix, odbcinst, odbc, name_odbcinst=False):
    """Writes odbcinst.ini and odbc.ini into the process's temporary folder
    and points unixODBC at them (ODBCINST too when name_odbcinst)."""
    global _folder
    if _folder is None:
        _folder = tempfile.TemporaryDirectory(prefix=prefix)
    inst = os.path.join(_folder.name, "odbcinst.ini")
    with open(inst, "w") as f:
        f.write(odbcinst)
    with open(os.path.join(_folder.name, "odbc.ini"), "w") as f:
        f.write(odbc)
    os.environ["ODBCSYSINI"] = _folder.name
    os.environ["ODBCINSTINI"] = "odbcinst.ini"
    if name_odbcinst:
        os.environ["ODBCINST"] = inst
    os.environ["ODBCINI"] = os.path.join(_folder.name, "odbc.ini")
    return _ProcessFolder(_folder.name)


def start_server(source, *options, log=None):
    """The test server of the source tree on a free port: (process, port).
    With log, a file open for writing, the server's stderr goes there (its
    calls, under --verbose)."""
    tool = os.path.join(source, "tools", "hs2server", "hs2server")
    proc = subprocess.Popen(["/usr/bin/python3", tool, "--port", "0"] + list(options),
                            stdout=subprocess.PIPE, stderr=log if log is not None else subprocess.DEVNULL)
    port = int(proc.stdout.readline())
    return proc, port


def stop_server(proc):
    proc.terminate()
    proc.wait(timeout=30)
    proc.stdout.close()
