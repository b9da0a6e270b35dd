"""Apache Thrift's own Python library on the other side of the driver's
Thrift code: `decode METHOD` reads a call the driver wrote (stdin, framed)
and prints the decoded arguments; `reply CASE` writes a framed reply (with
unknown fields of every type mixed in) for the driver to read."""

import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "hs2server"))

from hs2 import gencode  # noqa: E402

TCLIService, T = gencode.load()

from thrift.protocol.TBinaryProtocol import TBinaryProtocol  # noqa: E402
from thrift.Thrift import TMessageType, TType, TApplicationException  # noqa: E402
from thrift.transport.TTransport import TMemoryBuffer  # noqa: E402

GUID = bytes(range(16))
SECRET = bytes(range(100, 116))


def proto():
    buf = TMemoryBuffer()
    return buf, TBinaryProtocol(buf, strictRead=True, strictWrite=True)


def unknown_fields():
    """A field of every type the protocol has, with ids no struct uses."""
    buf, p = proto()
    fid = 900

    def f(t):
        nonlocal fid
        fid += 1
        p.writeFieldBegin("x", t, fid)

    f(TType.BOOL); p.writeBool(True)
    f(TType.BYTE); p.writeByte(-3)
    f(TType.DOUBLE); p.writeDouble(2.5)
    f(TType.I16); p.writeI16(-2)
    f(TType.I32); p.writeI32(1 << 30)
    f(TType.I64); p.writeI64(-(1 << 40))
    f(TType.STRING); p.writeString("unknown text")
    f(TType.STRUCT)
    p.writeStructBegin("n")
    p.writeFieldBegin("m", TType.MAP, 1)
    p.writeMapBegin(TType.STRING, TType.LIST, 1)
    p.writeString("k")
    p.writeListBegin(TType.SET, 1)
    p.writeSetBegin(TType.I64, 2); p.writeI64(1); p.writeI64(2); p.writeSetEnd()
    p.writeListEnd()
    p.writeMapEnd()
    p.writeFieldEnd()
    p.writeFieldStop()
    p.writeStructEnd()
    f(TType.MAP); p.writeMapBegin(TType.I32, TType.STRUCT, 2)
    for i in range(2):
        p.writeI32(i)
        p.writeStructBegin("e"); p.writeFieldStop(); p.writeStructEnd()
    f(TType.MAP); p.writeMapBegin(TType.STRING, TType.STRING, 0)
    f(TType.SET); p.writeSetBegin(TType.STRING, 2); p.writeString("a"); p.writeString("b")
    f(TType.LIST); p.writeListBegin(TType.DOUBLE, 1); p.writeDouble(1.0)
    return buf.getvalue()


def struct_bytes(obj):
    buf, p = proto()
    obj.write(p)
    return buf.getvalue()


def with_unknown(obj):
    """The struct's bytes with unknown fields ahead of its own."""
    return unknown_fields() + struct_bytes(obj)


def reply(name, response, exception=None):
    buf, p = proto()
    if exception is not None:
        p.writeMessageBegin(name, TMessageType.EXCEPTION, 0)
        exception.write(p)
    else:
        p.writeMessageBegin(name, TMessageType.REPLY, 0)
        # The result struct: unknown fields, then field 0 with the response.
        buf.write(unknown_fields())
        p.writeFieldBegin("success", TType.STRUCT, 0)
        buf.write(response)
        p.writeFieldStop()
    body = buf.getvalue()
    return struct.pack(">i", len(body)) + body


def status(code=0, **kw):
    return T.TStatus(statusCode=code, **kw)


def op_handle(has_result=True):
    return T.TOperationHandle(
        operationId=T.THandleIdentifier(guid=GUID, secret=SECRET),
        operationType=T.TOperationType.EXECUTE_STATEMENT, hasResultSet=has_result)


def column(name, type_id, qualifiers=None):
    q = None
    if qualifiers:
        q = T.TTypeQualifiers(qualifiers={
            k: T.TTypeQualifierValue(i32Value=v) for k, v in qualifiers})
    entry = T.TTypeEntry(primitiveEntry=T.TPrimitiveTypeEntry(type=type_id, typeQualifiers=q))
    return T.TColumnDesc(columnName=name, typeDesc=T.TTypeDesc(types=[entry]), position=1)


def case(name):
    if name == "opensession":
        resp = T.TOpenSessionResp(
            status=status(), serverProtocolVersion=T.TProtocolVersion.HIVE_CLI_SERVICE_PROTOCOL_V8,
            sessionHandle=T.TSessionHandle(sessionId=T.THandleIdentifier(guid=GUID, secret=SECRET)),
            configuration={"a": "b", "c": "d"})
        return reply("OpenSession", with_unknown(resp))
    if name == "opensession-error":
        resp = T.TOpenSessionResp(status=status(3, sqlState="28000", errorCode=10001,
                                                errorMessage="Table not found: nope"),
                                  serverProtocolVersion=1)
        return reply("OpenSession", struct_bytes(resp))
    if name == "closesession":
        return reply("CloseSession", struct_bytes(T.TCloseSessionResp(status=status())))
    if name == "execute":
        # Unknown fields inside the status record too.
        resp = unknown_fields() + b"\x0c\x00\x01" + with_unknown(
            status(1, errorMessage="ParseException warning")) + struct_bytes(
            T.TExecuteStatementResp(operationHandle=op_handle()))
        return reply("ExecuteStatement", resp)
    if name == "execute-error":
        return reply("ExecuteStatement", struct_bytes(T.TExecuteStatementResp(
            status=status(3, sqlState="42000", errorCode=40000,
                          errorMessage="Error while compiling: parseexception line 1"))))
    if name == "execute-rowcount":
        h = op_handle(False)
        h.modifiedRowCount = 7.0
        return reply("ExecuteStatement", struct_bytes(T.TExecuteStatementResp(
            status=status(), operationHandle=h)))
    if name == "metadata":
        cols = [column("t.Col", T.TTypeId.INT_TYPE),
                column("price", T.TTypeId.DECIMAL_TYPE, [("scale", 2), ("precision", 10)]),
                column("iv", 21)]
        return reply("GetResultSetMetadata", with_unknown(T.TGetResultSetMetadataResp(
            status=status(), schema=T.TTableSchema(columns=cols))))
    if name == "metadata-empty":
        return reply("GetResultSetMetadata", struct_bytes(T.TGetResultSetMetadataResp(
            status=status(), schema=T.TTableSchema(columns=[]))))
    if name == "fetch-empty":
        return reply("FetchResults", with_unknown(T.TFetchResultsResp(
            status=status(), hasMoreRows=False,
            results=T.TRowSet(startRowOffset=0, rows=[]))))
    if name == "fetch-rows":
        rows = [T.TRow(colVals=[T.TColumnValue(i32Val=T.TI32Value(value=i)),
                                T.TColumnValue(stringVal=T.TStringValue(value="r%d" % i))])
                for i in range(3)]
        return reply("FetchResults", struct_bytes(T.TFetchResultsResp(
            status=status(), hasMoreRows=False, results=T.TRowSet(startRowOffset=0, rows=rows))))
    if name == "getinfo":
        return reply("GetInfo", with_unknown(T.TGetInfoResp(
            status=status(), infoValue=T.TGetInfoValue(stringValue="Apache Hive"))))
    if name == "opstatus":
        return reply("GetOperationStatus", with_unknown(T.TGetOperationStatusResp(
            status=status(), operationState=T.TOperationState.RUNNING_STATE)))
    if name == "closeop":
        return reply("CloseOperation", with_unknown(T.TCloseOperationResp(status=status())))
    if name == "exception":
        return reply("ExecuteStatement", None, TApplicationException(
            TApplicationException.INTERNAL_ERROR, "Table not found in catalog"))
    raise SystemExit("unknown case " + name)


def decode(method):
    data = sys.stdin.buffer.read()
    (length,) = struct.unpack(">i", data[:4])
    assert length == len(data) - 4, (length, len(data))
    buf = TMemoryBuffer(data[4:])
    p = TBinaryProtocol(buf, strictRead=True)
    name, mtype, seqid = p.readMessageBegin()
    args = getattr(TCLIService, method + "_args")()
    args.read(p)
    p.readMessageEnd()
    rest = len(data) - 4 - buf._buffer.tell()
    print("name=%s type=%d seqid=%d rest=%d" % (name, mtype, seqid, rest))
    print(repr(args.req))


if __name__ == "__main__":
    if sys.argv[1] == "decode":
        decode(sys.argv[2])
    else:
        sys.stdout.buffer.write(case(sys.argv[2]))
