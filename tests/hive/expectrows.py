"""The rows the test server holds for a table, as the data reader tests
expect them rendered as SQL_C_CHAR text: one line per cell, "row<TAB>column
<TAB>text", with backslash, tab and line breaks escaped; NULL as NULL,
booleans as 1 and 0, binaries in upper-case hex. Reads --print-rows output
on stdin."""

import base64
import json
import sys


def text(v):
    if v is None:
        return "NULL"
    if isinstance(v, bool):
        return "1" if v else "0"
    if isinstance(v, dict):
        return base64.b64decode(v["base64"]).hex().upper()
    if isinstance(v, float):
        return repr(v)
    return str(v)


def escape(s):
    return s.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")


data = json.loads(sys.stdin.read())
for r, row in enumerate(data["rows"]):
    for c, v in enumerate(row):
        print("%d\t%d\t%s" % (r, c, escape(text(v))))
