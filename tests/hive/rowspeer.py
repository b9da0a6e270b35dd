"""FetchResults replies written by Apache Thrift's own Python library for the
data reader tests: `rowspeer.py < SPEC` prints the framed reply for the JSON
SPEC {"style": "row"|"column", "columns": [{"type": T, "values": [...]}],
"bitmaps": "full"|"short"|"none"|"long"}. Binary values are given in hex;
null is JSON null. Type "smallint32" sends a SMALLINT as 32-bit integers."""

import json
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "hs2server"))

from hs2 import gencode  # noqa: E402

TCLIService, T = gencode.load()

from thrift.protocol.TBinaryProtocol import TBinaryProtocol  # noqa: E402
from thrift.Thrift import TMessageType  # noqa: E402
from thrift.transport.TTransport import TMemoryBuffer  # noqa: E402


def value_of(t, v):
    if v is None:
        return None
    if t == "binary":
        return bytes.fromhex(v)
    return v


def row_value(t, v):
    v = value_of(t, v)
    if t == "boolean":
        return T.TColumnValue(boolVal=T.TBoolValue(value=v))
    if t == "tinyint":
        return T.TColumnValue(byteVal=T.TByteValue(value=v))
    if t == "smallint":
        return T.TColumnValue(i16Val=T.TI16Value(value=v))
    if t in ("int", "smallint32"):
        return T.TColumnValue(i32Val=T.TI32Value(value=v))
    if t == "bigint":
        return T.TColumnValue(i64Val=T.TI64Value(value=v))
    if t in ("float", "double"):
        return T.TColumnValue(doubleVal=T.TDoubleValue(value=v))
    return T.TColumnValue(stringVal=T.TStringValue(value=v))


def bitmap(values, how):
    bits = bytearray((len(values) + 7) // 8)
    for i, v in enumerate(values):
        if v is None:
            bits[i // 8] |= 1 << (i % 8)
    if how == "short":
        # As spark-3 sends it: no bytes past the last marked row.
        while bits and bits[-1] == 0:
            bits.pop()
    elif how == "none":
        bits = bytearray()
    elif how == "long":
        bits += bytes(2000)
    return bytes(bits)


def column(t, values, how):
    nulls = bitmap(values, how)
    vals = [value_of(t, v) for v in values]
    if t == "boolean":
        return T.TColumn(boolVal=T.TBoolColumn(values=[bool(v) for v in vals], nulls=nulls))
    if t == "tinyint":
        return T.TColumn(byteVal=T.TByteColumn(values=[v or 0 for v in vals], nulls=nulls))
    if t == "smallint":
        return T.TColumn(i16Val=T.TI16Column(values=[v or 0 for v in vals], nulls=nulls))
    if t in ("int", "smallint32"):
        return T.TColumn(i32Val=T.TI32Column(values=[v or 0 for v in vals], nulls=nulls))
    if t == "bigint":
        return T.TColumn(i64Val=T.TI64Column(values=[v or 0 for v in vals], nulls=nulls))
    if t in ("float", "double"):
        return T.TColumn(doubleVal=T.TDoubleColumn(values=[v or 0.0 for v in vals], nulls=nulls))
    if t == "binary":
        return T.TColumn(binaryVal=T.TBinaryColumn(values=[v or b"" for v in vals], nulls=nulls))
    return T.TColumn(stringVal=T.TStringColumn(values=[v or "" for v in vals], nulls=nulls))


def reply(spec):
    cols = spec["columns"]
    how = spec.get("bitmaps", "full")
    if spec["style"] == "row":
        n = len(cols[0]["values"]) if cols else 0
        rows = [T.TRow(colVals=[row_value(c["type"], c["values"][r]) for c in cols]) for r in range(n)]
        rowset = T.TRowSet(startRowOffset=0, rows=rows)
    else:
        rowset = T.TRowSet(startRowOffset=0, rows=[],
                           columns=[column(c["type"], c["values"], how) for c in cols])
    resp = T.TFetchResultsResp(status=T.TStatus(statusCode=0), hasMoreRows=False, results=rowset)
    buf = TMemoryBuffer()
    p = TBinaryProtocol(buf, strictRead=True, strictWrite=True)
    # Row-wise binary values travel as TStringValue holding raw bytes.
    write_string = p.writeString
    p.writeString = lambda v: p.writeBinary(v) if isinstance(v, bytes) else write_string(v)
    p.writeMessageBegin("FetchResults", TMessageType.REPLY, 0)
    result = TCLIService.FetchResults_result(success=resp)
    result.write(p)
    p.writeMessageEnd()
    body = buf.getvalue()
    return struct.pack(">i", len(body)) + body


if __name__ == "__main__":
    sys.stdout.buffer.write(reply(json.loads(sys.stdin.read())))
