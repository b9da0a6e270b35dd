"""The bundled HiveServer2 test server, except that it refuses to describe
any table whose name starts with "secret", as a server refuses a table the
user may not read. Takes the test server's own options."""
import importlib.machinery
import importlib.util
import os
import sys

ROOT = sys.argv.pop(1)
TOOL = os.path.join(ROOT, "tools", "hs2server", "hs2server")
sys.path.insert(0, os.path.dirname(TOOL))

from hs2 import sqlfront  # noqa: E402

_describe = sqlfront.Frontend.describe


def describe(self, session, toks):
    for t in toks:
        if getattr(t, "kind", None) != "eof" and str(getattr(t, "value", "")).startswith("secret"):
            raise self.errors.other("Permission denied: user may not read %s" % t.value)
    return _describe(self, session, toks)


sqlfront.Frontend.describe = describe

loader = importlib.machinery.SourceFileLoader("hs2server_main", TOOL)
spec = importlib.util.spec_from_loader("hs2server_main", loader)
main = importlib.util.module_from_spec(spec)
loader.exec_module(main)
sys.exit(main.main(sys.argv[1:]))
