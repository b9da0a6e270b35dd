"""The bundled HiveServer2 test server, except that its descriptions are
shaped as other servers write them: the columns of a table whose name starts
with "raw" come with upper-case names and DECIMAL without its precision, and
the formatted description of a table whose name starts with "bare" ends
without its details section. Takes the test server's own options."""
import importlib.machinery
import importlib.util
import os
import sys

ROOT = sys.argv.pop(1)
TOOL = os.path.join(ROOT, "tools", "hs2server", "hs2server")
sys.path.insert(0, os.path.dirname(TOOL))

from hs2 import sqlfront  # noqa: E402

_describe_rows = sqlfront.describe_rows


def describe_rows(table, formatted, identity):
    rows = _describe_rows(table, formatted, identity)
    if table.name.startswith("raw") and not formatted:
        rows = [(name.upper(), "decimal" if str(kind).startswith("decimal") else kind, comment)
                if name and not name.startswith("#") else (name, kind, comment)
                for name, kind, comment in rows]
    if table.name.startswith("bare") and formatted:
        cut = [i for i, r in enumerate(rows) if str(r[0]).startswith("# Detailed Table Information")]
        if cut:
            rows = rows[:cut[0]]
    return rows


sqlfront.describe_rows = describe_rows

loader = importlib.machinery.SourceFileLoader("hs2server_main", TOOL)
spec = importlib.util.spec_from_loader("hs2server_main", loader)
main = importlib.util.module_from_spec(spec)
loader.exec_module(main)
sys.exit(main.main(sys.argv[1:]))
