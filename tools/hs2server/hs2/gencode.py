"""Generates the Python TCLIService code from HiveServer2's own IDL.

The IDL comes with the npm package hive-driver (see tools/hs2server/setup), so
the field ids and types that the server speaks are HiveServer2's. The code is
generated into a gitignored folder and swapped in atomically, so that servers
starting in parallel never see half a package.
"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL_DIR = os.path.dirname(HERE)
DEFAULT_IDL = os.path.join(TOOL_DIR, "node_modules", "hive-driver", "thrift", "TCLIService.thrift")
DEFAULT_OUT = os.path.join(TOOL_DIR, "gen")
STAMP = "idl.sha256"


def _digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def is_current(idl=DEFAULT_IDL, out=DEFAULT_OUT):
    try:
        with open(os.path.join(out, STAMP)) as f:
            return f.read().strip() == _digest(idl)
    except OSError:
        return False


def generate(idl=DEFAULT_IDL, out=DEFAULT_OUT):
    """Generates unless the code in out was made from this very IDL."""
    if not os.path.isfile(idl):
        raise FileNotFoundError(
            "%s is missing; run tools/hs2server/setup (it installs hive-driver)" % idl)
    if is_current(idl, out):
        return out
    parent = os.path.dirname(os.path.abspath(out))
    os.makedirs(parent, exist_ok=True)
    work = tempfile.mkdtemp(prefix=".gen-", dir=parent)
    try:
        proc = subprocess.run(["thrift", "--gen", "py", "-out", work, idl],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if proc.returncode != 0:
            raise RuntimeError("thrift failed on %s:\n%s" % (idl, proc.stdout))
        with open(os.path.join(work, STAMP), "w") as f:
            f.write(_digest(idl) + "\n")
        old = None
        if os.path.exists(out):
            old = tempfile.mkdtemp(prefix=".old-", dir=parent)
            os.rename(out, os.path.join(old, "gen"))
        try:
            os.rename(work, out)
        except OSError:
            # Another process won the race with the same IDL; its copy serves.
            if not is_current(idl, out):
                raise
        if old:
            shutil.rmtree(old, ignore_errors=True)
    finally:
        if os.path.exists(work):
            shutil.rmtree(work, ignore_errors=True)
    return out


def load(out=DEFAULT_OUT, idl=DEFAULT_IDL):
    """Imports the generated modules, generating them first when needed."""
    if not is_current(idl, out) and os.path.isfile(idl):
        generate(idl, out)
    if not os.path.isdir(os.path.join(out, "TCLIService")):
        raise FileNotFoundError(
            "generated TCLIService code missing in %s; run tools/hs2server/setup" % out)
    if out not in sys.path:
        sys.path.insert(0, out)
    from TCLIService import TCLIService, ttypes  # noqa: E402
    return TCLIService, ttypes


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--idl", default=DEFAULT_IDL)
    ap.add_argument("--out", default=DEFAULT_OUT)
    args = ap.parse_args()
    generate(args.idl, args.out)
    print("TCLIService code in %s" % args.out)


if __name__ == "__main__":
    main()
