"""The TCLIService calls: sessions, operations, result sets as Hive encodes
them, the metadata calls, and the faults that tests switch on.

`Service.process` reads one Thrift message from a protocol and returns the
reply bytes with the transport action that a fault asks for; the transports
(server.py) only move bytes.
"""

import collections
import os
import struct
import threading
import time
import traceback
import uuid

from thrift.Thrift import TApplicationException, TMessageType, TType
from thrift.protocol.TBinaryProtocol import TBinaryProtocol, TBinaryProtocolAccelerated
from thrift.transport.TTransport import TMemoryBuffer

from . import fixture
from . import hivetypes as ht
from .catalog import HiveError
from .identity import FINISHED, V6
from .sqlfront import Frontend, Result, jdbc_like

STRING_LIMIT = 64 * 1024 * 1024
CONTAINER_LIMIT = 16 * 1024 * 1024


class SafeBinaryProtocol(TBinaryProtocol):
    """The library's binary protocol with two repairs: skipping an unknown
    STRING field reads raw bytes (the library decodes them as UTF-8 and fails
    on binary handles), and text fields with bad UTF-8 are decoded with
    replacement characters, as Java's decoder does, instead of failing."""

    def __init__(self, trans):
        super().__init__(trans, strictRead=True, strictWrite=True,
                         string_length_limit=STRING_LIMIT, container_length_limit=CONTAINER_LIMIT)

    def readString(self):
        return self.readBinary().decode("utf-8", "replace")

    def skip(self, ttype):
        if ttype == TType.STRING:
            self.readBinary()
        else:
            super().skip(ttype)


# ---- faults ----------------------------------------------------------------

FAULT_NAMES = ("running", "pending", "error-state", "stall", "drop", "truncate", "oversize",
               "refuse", "refuse-tables")
MAX_FAULT_MS = 7 * 86400 * 1000     # a week: longer waits are read as a week


def parse_fault(spec):
    """NAME[=VALUE]: running=MS, pending=MS, error-state[=TEXT], stall=METHOD:MS,
    drop=METHOD[:N], truncate=METHOD[:N], oversize=METHOD[:N], refuse=METHOD[:N],
    refuse-tables=DB[,DB...]. METHOD is a
    TCLIService call name, "*" for any, or "sasl" for the SASL answer."""
    name, _, value = spec.partition("=")
    name = name.strip().lower().replace("_", "-")
    if name not in FAULT_NAMES:
        raise ValueError("unknown fault %r (known: %s)" % (name, ", ".join(FAULT_NAMES)))
    value = value.strip()
    if name in ("running", "pending"):
        return (name, None, min(max(int(value or "0"), 0), MAX_FAULT_MS))
    if name == "refuse-tables":
        # The databases whose SHOW TABLES the user may not run.
        names = tuple(n.strip() for n in value.split(",") if n.strip())
        if not names:
            raise ValueError("fault refuse-tables needs a database")
        return (name, None, names)
    if name == "error-state":
        # "on" (or no text) fails as Hive fails a job, with its SQLSTATE.
        return (name, None, None if value.lower() in ("", "on", "true") else value)
    method, _, arg = value.partition(":")
    if not method:
        raise ValueError("fault %s needs a method" % name)
    if name == "stall":
        return (name, method, min(max(int(arg or "0"), 0), MAX_FAULT_MS))
    return (name, method, int(arg) if arg else None)


class Faults:
    def __init__(self, entries=()):
        self.entries = list(entries)

    def copy(self):
        return Faults(self.entries)

    def set(self, name, value):
        name = name.lower().replace("_", "-")
        self.entries = [e for e in self.entries if e[0] != name]
        if value.strip().lower() not in ("", "off", "false", "none"):
            self.entries.append(parse_fault("%s=%s" % (name, value)))

    def value(self, name):
        for e in self.entries:
            if e[0] == name:
                return e[2]
        return None

    def has(self, name):
        return any(e[0] == name for e in self.entries)

    def action(self, method, counts):
        """The transport action for this call of method; counts the call."""
        counts[method] = counts.get(method, 0) + 1
        n = counts[method]
        act = None
        for name, target, arg in self.entries:
            if target not in (method, "*"):
                continue
            if name == "stall":
                act = act or ("stall", arg)
            elif arg is None or arg == n:
                return (name, None)
        return act


class Conn:
    """What the transport knows of one client connection."""

    def __init__(self, faults, peer=""):
        self.user = None
        self.faults = faults
        self.counts = {}
        self.peer = peer


# ---- sessions and operations ---------------------------------------------------

class Session:
    def __init__(self, user, protocol, faults):
        self.guid = uuid.uuid4().bytes
        self.secret = uuid.uuid4().bytes
        self.user = user
        self.protocol = protocol
        self.database = "default"
        self.conf = {}
        self.faults = faults
        self.counts = {}
        self.operations = {}
        self.temp_views = {}

    def set_conf(self, key, value):
        if key.startswith("hs2server.fault."):
            try:
                self.faults.set(key[len("hs2server.fault."):], value)
            except ValueError as e:
                raise HiveError("Invalid fault %s=%s: %s" % (key, value, e)) from None
        self.conf[key] = value


class Operation:
    def __init__(self, session, op_type, result, metadata=False, run_async=False):
        self.guid = uuid.uuid4().bytes
        self.secret = uuid.uuid4().bytes
        self.session = session
        self.op_type = op_type
        self.result = result
        self.has_result_set = result.columns is not None
        self.metadata = metadata
        self.run_async = run_async
        self.pos = 0
        self.started = time.time()
        self.pending_until = self.started   # PENDING until then (asynchronous runs only)
        self.ready_at = self.started        # RUNNING until then
        self.error = None
        self.cancelled = False
        self.closed = False
        self.state_lock = threading.Lock()
        self.changed = threading.Event()    # wakes long polls on cancel and close

    @property
    def total(self):
        if self.result.synthetic is not None:
            return self.result.synthetic[2]
        return len(self.result.rows)

    def state(self):
        if self.cancelled:
            return 3
        now = time.time()
        if now < self.pending_until:
            return 7
        if now < self.ready_at:
            return 1
        return 5 if self.error is not None else 2

    def wait(self, deadline):
        """Blocks until the operation is done, cancelled or closed, or until
        deadline (a time.time() value), whichever comes first."""
        while not (self.cancelled or self.closed):
            remaining = min(deadline, self.ready_at) - time.time()
            if remaining <= 0:
                return
            self.changed.wait(remaining)


# ---- the service -------------------------------------------------------------

class RawReply:
    """A result struct already serialised (the synthetic table's blocks)."""

    def __init__(self, data):
        self.data = data


class ConnectionDrop(Exception):
    pass


class ProtocolError(Exception):
    """A request the server's Thrift layer cannot read: the reply is a
    TApplicationException PROTOCOL_ERROR, as Thrift's ProcessFunction sends
    when reading the arguments fails."""


_ORIENTATIONS = {0: "FETCH_NEXT", 1: "FETCH_PRIOR", 2: "FETCH_RELATIVE", 3: "FETCH_ABSOLUTE",
                 4: "FETCH_FIRST", 5: "FETCH_LAST"}
_OP_TYPE_NAMES = {0: "EXECUTE_STATEMENT", 1: "GET_TYPE_INFO", 2: "GET_CATALOGS", 3: "GET_SCHEMAS",
                  4: "GET_TABLES", 5: "GET_TABLE_TYPES", 6: "GET_COLUMNS", 7: "GET_FUNCTIONS"}

def _cols(spec):
    return [(n, ht.parse(t), None) for n, t in spec]


# hive.server2.long.polling.timeout's default, in milliseconds.
LONG_POLLING_TIMEOUT = 5000
_TIME_UNITS = {"": 1, "ms": 1, "msec": 1, "millis": 1, "milliseconds": 1, "s": 1000, "sec": 1000,
               "secs": 1000, "seconds": 1000, "m": 60000, "min": 60000, "mins": 60000,
               "minutes": 60000, "h": 3600000, "hours": 3600000, "d": 86400000, "days": 86400000,
               "us": 0.001, "usec": 0.001, "ns": 0.000001, "nsec": 0.000001}


def time_ms(text, default):
    """A HiveConf time value ("5000", "5000ms", "5s") in milliseconds; the
    default when the text cannot be read."""
    t = text.strip().lower()
    num = t.rstrip("abcdefghijklmnopqrstuvwxyz").strip()
    unit = t[len(num):].strip()
    try:
        value = float(num) * _TIME_UNITS[unit]
    except (ValueError, KeyError):
        return default
    return max(value, 0.0) if value == value else default


class Service:
    def __init__(self, catalog, identity, ttypes, tcli, max_fetch_size=None,
                 long_polling_timeout=LONG_POLLING_TIMEOUT):
        self.catalog = catalog
        self.identity = identity
        self.T = ttypes
        self.tcli = tcli
        self.front = Frontend(catalog, identity)
        self.max_fetch_size = max_fetch_size if max_fetch_size is not None else identity.max_fetch_size
        self.long_polling_timeout = long_polling_timeout
        self.sessions = {}
        self.lock = threading.Lock()
        self.blocks = SyntheticBlocks(self)
        self.log = None
        self.methods = {name: getattr(self, "_" + name) for name in (
            "OpenSession", "CloseSession", "GetInfo", "ExecuteStatement", "GetTypeInfo",
            "GetCatalogs", "GetSchemas", "GetTables", "GetTableTypes", "GetColumns",
            "GetFunctions", "GetOperationStatus", "CancelOperation", "CloseOperation",
            "GetResultSetMetadata", "FetchResults")}

    # -- message processing --------------------------------------------------------
    def process(self, iprot, conn):
        """Reads one call; returns (reply bytes or None, fault action or None)."""
        name, mtype, seqid = iprot.readMessageBegin()
        out = TMemoryBuffer()
        oprot = TBinaryProtocolAccelerated(out)
        fn = self.methods.get(name)
        if mtype not in (TMessageType.CALL, TMessageType.ONEWAY) or fn is None:
            iprot.skip(TType.STRUCT)
            iprot.readMessageEnd()
            if mtype not in (TMessageType.CALL, TMessageType.ONEWAY):
                exc = TApplicationException(TApplicationException.INVALID_MESSAGE_TYPE,
                                            "Unexpected message type %d" % mtype)
            else:
                exc = TApplicationException(TApplicationException.UNKNOWN_METHOD,
                                            "Invalid method name: '%s'" % name)
            oprot.writeMessageBegin(name, TMessageType.EXCEPTION, seqid)
            exc.write(oprot)
            oprot.writeMessageEnd()
            return out.getvalue(), None
        args = getattr(self.tcli, name + "_args")()
        args.read(iprot)
        iprot.readMessageEnd()
        req = args.req
        session = self._session_of(req)
        counts = session.counts if session is not None else conn.counts
        faults = session.faults if session is not None else conn.faults
        action = faults.action(name, counts)
        if action is not None and action[0] == "drop":
            return None, action
        if self.log is not None:
            self.log("%s %s %s" % (conn.peer, name, getattr(req, "statement", "") or ""))
        try:
            if action is not None and action[0] == "refuse":
                # Answered with an error status, the connection left usable.
                resp = getattr(self.T, "T%sResp" % name)(status=self.error(HiveError(
                    "Error operating %s: refused by the hs2server fault" % name, "HY000", 0)))
            else:
                resp = fn(req, conn)
        except ProtocolError as e:
            oprot.writeMessageBegin(name, TMessageType.EXCEPTION, seqid)
            TApplicationException(TApplicationException.PROTOCOL_ERROR, str(e)).write(oprot)
            oprot.writeMessageEnd()
            return out.getvalue(), action
        except Exception as e:
            # A fault of the server itself: the client gets an exception
            # reply and the connection stays usable.
            traceback.print_exc()
            oprot.writeMessageBegin(name, TMessageType.EXCEPTION, seqid)
            TApplicationException(TApplicationException.INTERNAL_ERROR,
                                  "%s: %s" % (type(e).__name__, e)).write(oprot)
            oprot.writeMessageEnd()
            return out.getvalue(), action
        oprot.writeMessageBegin(name, TMessageType.REPLY, seqid)
        if isinstance(resp, RawReply):
            oprot.writeMessageEnd()
            return out.getvalue() + resp.data, action
        result = getattr(self.tcli, name + "_result")(success=resp)
        result.write(oprot)
        oprot.writeMessageEnd()
        return out.getvalue(), action

    def _session_of(self, req):
        handle = getattr(req, "sessionHandle", None)
        if handle is None:
            op = getattr(req, "operationHandle", None)
            if op is not None and op.operationId is not None:
                with self.lock:
                    for s in self.sessions.values():
                        if op.operationId.guid in s.operations:
                            return s
            return None
        if handle.sessionId is None:
            return None
        with self.lock:
            s = self.sessions.get(handle.sessionId.guid)
        if s is not None and s.secret == handle.sessionId.secret:
            return s
        return None

    # -- statuses ------------------------------------------------------------------
    def ok(self):
        return self.T.TStatus(statusCode=self.T.TStatusCode.SUCCESS_STATUS)

    def error(self, exc):
        if not isinstance(exc, HiveError):
            exc = HiveError(str(exc))
        first = exc.message.replace("\n", " ")
        info = ["*org.apache.hive.service.cli.HiveSQLException:%s:27:26" % first,
                "org.apache.hive.service.cli.operation.Operation:toSQLException:Operation.java:335",
                "org.apache.hive.service.cli.operation.SQLOperation:prepare:SQLOperation.java:199"]
        return self.T.TStatus(statusCode=self.T.TStatusCode.ERROR_STATUS, infoMessages=info,
                              sqlState=exc.sql_state, errorCode=exc.error_code,
                              errorMessage=exc.message)

    def _need_session(self, handle):
        s = self._session_of(type("R", (), {"sessionHandle": handle})())
        if s is None:
            guid = handle.sessionId.guid if handle is not None and handle.sessionId else b""
            raise HiveError("Invalid SessionHandle: SessionHandle [%s]" % _uuid(guid))
        return s

    def _need_op(self, handle):
        op = None
        if handle is not None and handle.operationId is not None:
            with self.lock:
                for s in self.sessions.values():
                    cand = s.operations.get(handle.operationId.guid)
                    if cand is not None and cand.secret == handle.operationId.secret:
                        op = cand
                        break
        if op is None:
            guid = handle.operationId.guid if handle is not None and handle.operationId else b""
            kind = _OP_TYPE_NAMES.get(getattr(handle, "operationType", None), "EXECUTE_STATEMENT")
            raise HiveError("Invalid OperationHandle: OperationHandle [opType=%s, "
                            "getHandleIdentifier()=%s]" % (kind, _uuid(guid)))
        return op

    def _op_handle(self, op):
        T = self.T
        return T.TOperationHandle(
            operationId=T.THandleIdentifier(guid=op.guid, secret=op.secret),
            operationType=op.op_type, hasResultSet=op.has_result_set)

    # -- sessions ------------------------------------------------------------------
    def _OpenSession(self, req, conn):
        T = self.T
        client = req.client_protocol
        if client is None or not 0 <= client <= self.identity.protocol:
            # The server's Java enum has no constant for a newer version: the
            # field reads as null and TOpenSessionReq.validate() fails.
            raise ProtocolError(unset_protocol_text(req))
        # ThriftCLIService.getMinVersion: an older client gets its own version.
        protocol = client
        user = conn.user or req.username or "anonymous"
        session = Session(user, protocol, conn.faults.copy())
        config = {}
        try:
            for key, value in (req.configuration or {}).items():
                if key == "use:database":
                    if value not in self.catalog.databases:
                        raise self.front.errors.database_not_found(value)
                    session.database = value
                elif key == "hive.server2.proxy.user":
                    session.user = value
                    session.set_conf(key, value)
                elif key.startswith("set:hiveconf:") or key.startswith("set:hivevar:"):
                    session.set_conf(key.split(":", 2)[2], value)
                else:
                    session.set_conf(key, value)
        except HiveError as e:
            return T.TOpenSessionResp(status=self.error(e), serverProtocolVersion=protocol)
        if self.identity.max_fetch_size:
            config["hive.server2.thrift.resultset.default.fetch.size"] = "1000"
        with self.lock:
            self.sessions[session.guid] = session
        return T.TOpenSessionResp(
            status=self.ok(), serverProtocolVersion=protocol,
            sessionHandle=T.TSessionHandle(sessionId=T.THandleIdentifier(
                guid=session.guid, secret=session.secret)),
            configuration=config)

    def _CloseSession(self, req, conn):
        try:
            s = self._need_session(req.sessionHandle)
        except HiveError as e:
            return self.T.TCloseSessionResp(status=self.error(e))
        with self.lock:
            self.sessions.pop(s.guid, None)
        with self.catalog.lock:
            for view in s.temp_views.values():
                self.catalog.drop_table(view)
        return self.T.TCloseSessionResp(status=self.ok())

    def _GetInfo(self, req, conn):
        T = self.T
        try:
            self._need_session(req.sessionHandle)
            name = T.TGetInfoType._VALUES_TO_NAMES.get(req.infoType, str(req.infoType))
            answer = self.identity.info.get(name)
            if answer is None:
                raise HiveError("Unrecognized GetInfoType value: %s" % name)
            value = (T.TGetInfoValue(stringValue=answer) if isinstance(answer, str)
                     else T.TGetInfoValue(lenValue=answer))
            return T.TGetInfoResp(status=self.ok(), infoValue=value)
        except HiveError as e:
            return T.TGetInfoResp(status=self.error(e))

    # -- statements ----------------------------------------------------------------
    def _ExecuteStatement(self, req, conn):
        T = self.T
        try:
            session = self._need_session(req.sessionHandle)
            faults = session.faults
            overlay = req.confOverlay or {}
            if any(k.startswith("hs2server.fault.") for k in overlay):
                faults = faults.copy()
                for k, v in overlay.items():
                    if k.startswith("hs2server.fault."):
                        faults.set(k[len("hs2server.fault."):], v)
            result = self.front.execute(session, req.statement or "")
            op = Operation(session, T.TOperationType.EXECUTE_STATEMENT, result,
                           run_async=bool(req.runAsync))
            # Only an asynchronous run waits for a background thread: PENDING
            # until it starts, then RUNNING.
            pending = faults.value("pending") if op.run_async else None
            if pending:
                op.pending_until = op.started + pending / 1000.0
            op.ready_at = op.pending_until + (faults.value("running") or 0) / 1000.0
            if faults.has("error-state"):
                text = faults.value("error-state")
                op.error = HiveError(text, None, 0) if text else HiveError(
                    "Error while processing statement: FAILED: Execution Error, return code 2 "
                    "from org.apache.hadoop.hive.ql.exec.mr.MapRedTask", "08S01", 2)
            with self.lock:
                session.operations[op.guid] = op
            return T.TExecuteStatementResp(status=self.ok(), operationHandle=self._op_handle(op))
        except HiveError as e:
            return T.TExecuteStatementResp(status=self.error(e))

    def _metadata(self, req, op_type, build, resp_cls):
        try:
            session = self._need_session(req.sessionHandle)
            result = build(session)
            op = Operation(session, op_type, result, metadata=True)
            with self.lock:
                session.operations[op.guid] = op
            return resp_cls(status=self.ok(), operationHandle=self._op_handle(op))
        except HiveError as e:
            return resp_cls(status=self.error(e))

    def _GetTypeInfo(self, req, conn):
        T = self.T

        def build(session):
            cols = _cols([("TYPE_NAME", "string"), ("DATA_TYPE", "int"), ("PRECISION", "int"),
                          ("LITERAL_PREFIX", "string"), ("LITERAL_SUFFIX", "string"),
                          ("CREATE_PARAMS", "string"), ("NULLABLE", "smallint"),
                          ("CASE_SENSITIVE", "boolean"), ("SEARCHABLE", "smallint"),
                          ("UNSIGNED_ATTRIBUTE", "boolean"), ("FIXED_PREC_SCALE", "boolean"),
                          ("AUTO_INCREMENT", "boolean"), ("LOCAL_TYPE_NAME", "string"),
                          ("MINIMUM_SCALE", "smallint"), ("MAXIMUM_SCALE", "smallint"),
                          ("SQL_DATA_TYPE", "int"), ("SQL_DATETIME_SUB", "int"),
                          ("NUM_PREC_RADIX", "int")])
            return Result(cols, [type_info_row(t) for t in self.identity.type_info_order])
        return self._metadata(req, T.TOperationType.GET_TYPE_INFO, build, T.TGetTypeInfoResp)

    def _GetCatalogs(self, req, conn):
        T = self.T
        return self._metadata(req, T.TOperationType.GET_CATALOGS,
                              lambda s: Result(_cols([("TABLE_CAT", "string")]), []),
                              T.TGetCatalogsResp)

    def _GetTableTypes(self, req, conn):
        T = self.T
        return self._metadata(req, T.TOperationType.GET_TABLE_TYPES,
                              lambda s: Result(_cols([("TABLE_TYPE", "string")]),
                                               [(t,) for t in self.identity.table_types]),
                              T.TGetTableTypesResp)

    def _GetFunctions(self, req, conn):
        T = self.T

        def build(session):
            pat = jdbc_like(req.functionName)
            names = ["concat", "count", "current_database", "lower", "max", "min", "upper"]
            if self.identity.version_fn:
                names.append("version")
            return Result(_cols([("FUNCTION_CAT", "string"), ("FUNCTION_SCHEM", "string"),
                                 ("FUNCTION_NAME", "string"), ("REMARKS", "string"),
                                 ("FUNCTION_TYPE", "int"), ("SPECIFIC_NAME", "string")]),
                          [(None, None, n, "", 1, self.identity.function_class(n))
                           for n in sorted(names) if pat.match(n)])
        return self._metadata(req, T.TOperationType.GET_FUNCTIONS, build, T.TGetFunctionsResp)

    def _GetSchemas(self, req, conn):
        T = self.T

        def build(session):
            pat = jdbc_like(req.schemaName)
            rows = [(d, "") for d in sorted(self.catalog.databases)
                    if d != "global_temp" and pat.match(d)]
            return Result(_cols([("TABLE_SCHEM", "string"), ("TABLE_CATALOG", "string")]), rows)
        return self._metadata(req, T.TOperationType.GET_SCHEMAS, build, T.TGetSchemasResp)

    def _tables_matching(self, schema_pattern, table_pattern):
        spat, tpat = jdbc_like(schema_pattern), jdbc_like(table_pattern)
        with self.catalog.lock:
            for db in sorted(self.catalog.databases):
                if db == "global_temp" or not spat.match(db):
                    continue
                for t in self.catalog.tables_in(db):
                    if tpat.match(t.name):
                        yield t

    def _GetTables(self, req, conn):
        T = self.T
        client_type = {"MANAGED_TABLE": "TABLE", "EXTERNAL_TABLE": "TABLE", "VIRTUAL_VIEW": "VIEW"}
        hive_types = {"TABLE": ("MANAGED_TABLE", "EXTERNAL_TABLE"), "VIEW": ("VIRTUAL_VIEW",)}

        def build(session):
            wanted = None
            if req.tableTypes:
                wanted = set()
                for tt in req.tableTypes:
                    wanted.update(hive_types.get(tt.strip().upper(), (tt.strip().upper(),)))
            spec = [("TABLE_CAT", "string"), ("TABLE_SCHEM", "string"), ("TABLE_NAME", "string"),
                    ("TABLE_TYPE", "string"), ("REMARKS", "string")]
            if self.identity.get_tables_type_columns:
                spec += [("TYPE_CAT", "string"), ("TYPE_SCHEM", "string"), ("TYPE_NAME", "string"),
                         ("SELF_REFERENCING_COL_NAME", "string"), ("REF_GENERATION", "string")]
            rows = []
            for t in self._tables_matching(req.schemaName, req.tableName):
                if wanted is not None and t.table_type not in wanted:
                    continue
                row = ("", t.db, t.name, client_type[t.table_type], t.comment)
                rows.append(row + (None,) * (len(spec) - 5))
            return Result(_cols(spec), rows)
        return self._metadata(req, T.TOperationType.GET_TABLES, build, T.TGetTablesResp)

    def _GetColumns(self, req, conn):
        T = self.T

        def build(session):
            cpat = jdbc_like(req.columnName)
            spec = [("TABLE_CAT", "string"), ("TABLE_SCHEM", "string"), ("TABLE_NAME", "string"),
                    ("COLUMN_NAME", "string"), ("DATA_TYPE", "int"), ("TYPE_NAME", "string"),
                    ("COLUMN_SIZE", "int"), ("BUFFER_LENGTH", "tinyint"),
                    ("DECIMAL_DIGITS", "int"), ("NUM_PREC_RADIX", "int"), ("NULLABLE", "int"),
                    ("REMARKS", "string"), ("COLUMN_DEF", "string"), ("SQL_DATA_TYPE", "int"),
                    ("SQL_DATETIME_SUB", "int"), ("CHAR_OCTET_LENGTH", "int"),
                    ("ORDINAL_POSITION", "int"), ("IS_NULLABLE", "string"),
                    ("SCOPE_CATALOG", "string"), ("SCOPE_SCHEMA", "string"),
                    ("SCOPE_TABLE", "string"), ("SOURCE_DATA_TYPE", "smallint"),
                    ("IS_AUTO_INCREMENT", "string")]
            rows = []
            for t in self._tables_matching(req.schemaName, req.tableName):
                for pos, c in enumerate(t.columns, 1):
                    if not cpat.match(c.name):
                        continue
                    h = c.htype
                    type_name = h.name if h.type_id in ht.COMPLEX else h.upper_name
                    rows.append((None, t.db, t.name, c.name, h.jdbc_type, type_name,
                                 h.column_size(), None, h.decimal_digits(), h.num_prec_radix(),
                                 1, c.comment or "", None, None, None, None, pos, "YES",
                                 None, None, None, None, "NO"))
            return Result(_cols(spec), rows)
        return self._metadata(req, T.TOperationType.GET_COLUMNS, build, T.TGetColumnsResp)

    # -- operations ----------------------------------------------------------------
    def _GetOperationStatus(self, req, conn):
        T = self.T
        try:
            op = self._need_op(req.operationHandle)
        except HiveError as e:
            return T.TGetOperationStatusResp(status=self.error(e))
        if op.run_async:
            # CLIService.getOperationStatus: an asynchronous operation is
            # waited for up to the long polling timeout before the answer.
            now = time.time()
            timeout = self._long_polling_ms(op.session)
            if self.identity.long_poll_step:
                age = int((now - op.started) * 1000)
                timeout = min(timeout, (age // 10000 + 1) * 500)
            op.wait(now + timeout / 1000.0)
        state = op.state()
        resp = T.TGetOperationStatusResp(status=self.ok(), operationState=state)
        if state == T.TOperationState.ERROR_STATE:
            resp.sqlState = op.error.sql_state
            resp.errorCode = op.error.error_code
            resp.errorMessage = op.error.message
        if self.identity.status_times:
            resp.operationStarted = int(op.started * 1000)
            if state in (2, 3, 5):
                resp.operationCompleted = int(max(op.ready_at, op.started) * 1000)
            resp.hasResultSet = op.has_result_set
        if self.identity.progress_update:
            # No execution engine reports progress here: ProgressMonitor.NULL.
            resp.progressUpdateResponse = T.TProgressUpdateResp(
                headerNames=[], rows=[], progressedPercentage=0.0,
                status=T.TJobExecutionStatus.NOT_AVAILABLE, footerSummary="", startTime=0)
        return resp

    def _long_polling_ms(self, session):
        text = session.conf.get("hive.server2.long.polling.timeout")
        if text is None:
            return self.long_polling_timeout
        return time_ms(text, self.long_polling_timeout)

    def _CancelOperation(self, req, conn):
        T = self.T
        try:
            op = self._need_op(req.operationHandle)
        except HiveError as e:
            return T.TCancelOperationResp(status=self.error(e))
        if op.state() in (1, 7):
            op.cancelled = True
            op.changed.set()
        return T.TCancelOperationResp(status=self.ok())

    def _CloseOperation(self, req, conn):
        T = self.T
        try:
            op = self._need_op(req.operationHandle)
        except HiveError as e:
            return T.TCloseOperationResp(status=self.error(e))
        with self.lock:
            op.session.operations.pop(op.guid, None)
        op.closed = True
        op.changed.set()
        return T.TCloseOperationResp(status=self.ok())

    def _assert_state(self, op, expected):
        """Operation.assertState: a HiveSQLException without SQLSTATE; the
        query's own error is for GetOperationStatus to tell."""
        state = op.state()
        if state not in expected:
            raise HiveError(self.identity.state_error(expected, state))

    def _GetResultSetMetadata(self, req, conn):
        T = self.T
        try:
            op = self._need_op(req.operationHandle)
            self._assert_state(op, self.identity.metadata_states)
            descs = []
            for pos, (name, htype, comment) in enumerate(op.result.columns or [], 1):
                quals = htype.qualifiers()
                tq = None
                if quals:
                    tq = T.TTypeQualifiers(qualifiers={
                        k: T.TTypeQualifierValue(i32Value=v) for k, v in quals.items()})
                entry = T.TTypeEntry(primitiveEntry=T.TPrimitiveTypeEntry(
                    type=htype.type_id, typeQualifiers=tq))
                descs.append(T.TColumnDesc(columnName=name, typeDesc=T.TTypeDesc(types=[entry]),
                                           position=pos, comment=comment))
            return T.TGetResultSetMetadataResp(status=self.ok(),
                                               schema=T.TTableSchema(columns=descs))
        except HiveError as e:
            return T.TGetResultSetMetadataResp(status=self.error(e))

    def _FetchResults(self, req, conn):
        T = self.T
        try:
            op = self._need_op(req.operationHandle)
            protocol = op.session.protocol
            if req.fetchType == 1:
                return T.TFetchResultsResp(status=self.ok(), hasMoreRows=False,
                                           results=self.rowset([("operation_log", ht.parse("string"), None)],
                                                               [], protocol, 0))
            self._assert_state(op, (FINISHED,))
            if req.orientation not in (0, 4):
                raise HiveError("The fetch type %s is not supported for this resultset"
                                % _ORIENTATIONS.get(req.orientation, req.orientation), "HY106")
            count = max(int(req.maxRows or 0), 0)
            if self.max_fetch_size:
                count = min(count, self.max_fetch_size)
            with op.state_lock:
                if req.orientation == 4:
                    op.pos = 0
                start = op.pos
                count = max(min(count, op.total - start), 0)
                op.pos = start + count
            if op.result.synthetic is not None:
                return RawReply(self.blocks.reply(op, start, count, protocol))
            rows = op.result.rows[start:start + count]
            offset = start if op.metadata else 0
            return T.TFetchResultsResp(status=self.ok(), hasMoreRows=False,
                                       results=self.rowset(op.result.columns or [], rows, protocol,
                                                           offset))
        except HiveError as e:
            return T.TFetchResultsResp(status=self.error(e), hasMoreRows=False)

    # -- row sets --------------------------------------------------------------------
    def rowset(self, columns, rows, protocol, offset):
        T = self.T
        style = self.identity.style
        if protocol < V6:
            out = []
            for row in rows:
                vals = []
                for (name, htype, _), v in zip(columns, row):
                    vals.append(self._row_value(htype, ht.to_wire(v, htype, style, columnar=False)))
                out.append(T.TRow(colVals=vals))
            return T.TRowSet(startRowOffset=offset, rows=out)
        cols = []
        for j, (name, htype, _) in enumerate(columns):
            cols.append(self._column(htype, [ht.to_wire(r[j], htype, style, columnar=True)
                                             for r in rows]))
        return T.TRowSet(startRowOffset=offset, rows=[], columns=cols)

    def _row_value(self, htype, v):
        T = self.T
        t = htype.type_id
        if t == ht.BOOLEAN:
            return T.TColumnValue(boolVal=T.TBoolValue(value=v))
        if t == ht.TINYINT:
            return T.TColumnValue(byteVal=T.TByteValue(value=v))
        if t == ht.SMALLINT:
            return T.TColumnValue(i16Val=T.TI16Value(value=v))
        if t == ht.INT:
            return T.TColumnValue(i32Val=T.TI32Value(value=v))
        if t == ht.BIGINT:
            return T.TColumnValue(i64Val=T.TI64Value(value=v))
        if t in (ht.FLOAT, ht.DOUBLE):
            return T.TColumnValue(doubleVal=T.TDoubleValue(value=v))
        return T.TColumnValue(stringVal=T.TStringValue(value=v))

    def _column(self, htype, values):
        T = self.T
        t = htype.type_id
        nulls = null_bitmap(values, self.identity.style.null_bitmap)
        if t == ht.BOOLEAN:
            return T.TColumn(boolVal=T.TBoolColumn(values=[True if v is None else v for v in values], nulls=nulls))
        if t in ht.INTEGRAL:
            vals = [0 if v is None else v for v in values]
            if t == ht.TINYINT:
                return T.TColumn(byteVal=T.TByteColumn(values=vals, nulls=nulls))
            if t == ht.SMALLINT:
                return T.TColumn(i16Val=T.TI16Column(values=vals, nulls=nulls))
            if t == ht.INT:
                return T.TColumn(i32Val=T.TI32Column(values=vals, nulls=nulls))
            return T.TColumn(i64Val=T.TI64Column(values=vals, nulls=nulls))
        if t in (ht.FLOAT, ht.DOUBLE):
            return T.TColumn(doubleVal=T.TDoubleColumn(values=[0.0 if v is None else v for v in values], nulls=nulls))
        if t == ht.BINARY:
            return T.TColumn(binaryVal=T.TBinaryColumn(values=[b"" if v is None else v for v in values], nulls=nulls))
        return T.TColumn(stringVal=T.TStringColumn(values=["" if v is None else v for v in values], nulls=nulls))


def null_bitmap(values, kind="hive"):
    """The NULL bitmap of a column: bit i % 8 of byte i / 8 set for a NULL at
    row i. "hive" (ColumnBuffer.toTBinary) sends 1 + (index of the last NULL
    + 1) / 8 bytes, so at least one; "spark" (RowSetUtils, BitSet.toByteArray)
    sends ceil((index of the last NULL + 1) / 8), none without a NULL."""
    last = -1
    for i in range(len(values) - 1, -1, -1):
        if values[i] is None:
            last = i
            break
    size = 1 + (last + 1) // 8 if kind == "hive" else (last + 8) // 8
    out = bytearray(size)
    for i in range(last + 1):
        if values[i] is None:
            out[i >> 3] |= 1 << (i & 7)
    return bytes(out)


def type_info_row(type_id):
    """A GetTypeInfo row as GetTypeInfoOperation builds it from Hive's Type
    enum: CASE_SENSITIVE only for STRING, UNSIGNED_ATTRIBUTE for every
    non-numeric type, SEARCHABLE none for the complex types, MINIMUM_SCALE
    and MAXIMUM_SCALE 0 for all, DECIMAL included."""
    h = ht.HiveType(type_id, "")
    numeric = type_id in ht.NUMERIC
    searchable = 0 if type_id in ht.COMPLEX or type_id == ht.USER_DEFINED else 3
    return (h.upper_name, h.jdbc_type, ht.MAX_PRECISION.get(type_id), None, None, None, 1,
            type_id == ht.STRING, searchable, not numeric, False, False, None, 0, 0, None, None,
            10 if numeric else None)


def unset_protocol_text(req):
    """The TProtocolException text of TOpenSessionReq.validate(), with the
    request as the generated Java toString() prints it (it does print the
    password)."""
    parts = ["client_protocol:null"]
    if req.username is not None:
        parts.append("username:%s" % req.username)
    if req.password is not None:
        parts.append("password:%s" % req.password)
    if req.configuration is not None:
        parts.append("configuration:{%s}" % ", ".join(
            "%s=%s" % kv for kv in req.configuration.items()))
    return "Required field 'client_protocol' is unset! Struct:TOpenSessionReq(%s)" % ", ".join(parts)


def _uuid(guid):
    try:
        return str(uuid.UUID(bytes=guid))
    except ValueError:
        return guid.hex()


# ---- the synthetic table's blocks ------------------------------------------------

SENTINEL = 0x5A5A5A5A00000000


class SyntheticBlocks:
    """Serialised FetchResults replies of the synthetic table, reused for
    every block whose rows repeat; only the id column is patched in."""

    MAX_ENTRIES = 48

    def __init__(self, service):
        self.service = service
        self.cache = collections.OrderedDict()
        self.lock = threading.Lock()

    def reply(self, op, start, count, protocol):
        table, indexes, _ = op.result.synthetic
        columns = op.result.columns
        columnar = protocol >= V6
        key = (tuple(indexes), start % fixture.PERIOD, count, columnar)
        with self.lock:
            entry = self.cache.get(key)
            if entry is not None:
                self.cache.move_to_end(key)
        if entry is None:
            entry = self._build(columns, indexes, start, count, protocol, columnar)
            with self.lock:
                self.cache[key] = entry
                while len(self.cache) > self.MAX_ENTRIES:
                    self.cache.popitem(last=False)
        data, runs, positions = entry
        if not runs and not positions:
            return data
        buf = bytearray(data)
        if runs:
            ids = struct.pack(">%dq" % count, *range(start + 1, start + 1 + count))
            for pos in runs:
                buf[pos:pos + 8 * count] = ids
        for j, plist in enumerate(positions):
            for pos in plist:
                struct.pack_into(">q", buf, pos, start + 1 + j)
        return bytes(buf)

    def _build(self, columns, indexes, start, count, protocol, columnar):
        svc = self.service
        id_index = 0
        rows = []
        for j in range(count):
            full = list(fixture.synthetic_row(start + j))
            full[id_index] = SENTINEL + j
            rows.append(tuple(full[k] for k in indexes))
        resp = svc.T.TFetchResultsResp(status=svc.ok(), hasMoreRows=False,
                                       results=svc.rowset(columns, rows, protocol, 0))
        out = TMemoryBuffer()
        svc.tcli.FetchResults_result(success=resp).write(TBinaryProtocolAccelerated(out))
        data = out.getvalue()
        occurrences = indexes.count(id_index)
        runs, positions = [], []
        if occurrences and count:
            if columnar:
                seq = struct.pack(">%dq" % count, *range(SENTINEL, SENTINEL + count))
                pos = 0
                for _ in range(occurrences):
                    pos = data.index(seq, pos)
                    runs.append(pos)
                    pos += len(seq)
            else:
                pos = 0
                for j in range(count):
                    plist = []
                    needle = struct.pack(">q", SENTINEL + j)
                    for _ in range(occurrences):
                        pos = data.index(needle, pos)
                        plist.append(pos)
                        pos += 8
                    positions.append(plist)
        return data, runs, positions


def random_token():
    return os.urandom(16).hex()
