#!/usr/bin/python3
"""Tests of the HiveServer2 test server (tools/hs2server): the wire as Hive
writes it, the statements, the transports with their authentication and TLS,
and the faults. Each test class starts the servers it needs on free loopback
ports. Ends with the line "N passed, N failed"."""

import base64
import http.client
import os
import shutil
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from hs2client import (T, TCLIService, Client, QueryError, ServerProcess, column_member,  # noqa: E402
                       connect_socket, decode_rowset, is_null, recv_exact, sasl_message,
                       sasl_plain)
from hs2 import fixture  # noqa: E402
from thrift.Thrift import TApplicationException, TMessageType, TType  # noqa: E402
from thrift.protocol.TBinaryProtocol import TBinaryProtocol  # noqa: E402
from thrift.transport.TTransport import TMemoryBuffer  # noqa: E402

V5 = T.TProtocolVersion.HIVE_CLI_SERVICE_PROTOCOL_V5
V6 = T.TProtocolVersion.HIVE_CLI_SERVICE_PROTOCOL_V6
V8 = T.TProtocolVersion.HIVE_CLI_SERVICE_PROTOCOL_V8
V10 = T.TProtocolVersion.HIVE_CLI_SERVICE_PROTOCOL_V10
V11 = T.TProtocolVersion.HIVE_CLI_SERVICE_PROTOCOL_V11

# The newest protocol each identity's TCLIService.thrift knows.
NEWEST = {"hive-1.2": V8, "hive-2.3": V10, "hive-3.1": V11, "spark-3": V10}


def hive_bitmap(values):
    """The bitmap Hive's BitSet gives for values (independent of the server)."""
    nulls = [i for i, v in enumerate(values) if v is None]
    size = 1 + ((nulls[-1] + 1) // 8 if nulls else 0)
    out = bytearray(size)
    for i in nulls:
        out[i // 8] |= 1 << (i % 8)
    return bytes(out)


def spark_bitmap(values):
    """java.util.BitSet.toByteArray of the NULL positions: no bytes without a
    NULL, else just enough bytes to hold the last one."""
    nulls = [i for i, v in enumerate(values) if v is None]
    out = bytearray(nulls[-1] // 8 + 1 if nulls else 0)
    for i in nulls:
        out[i // 8] |= 1 << (i % 8)
    return bytes(out)


def message(name, args_struct, seqid=0):
    buf = TMemoryBuffer()
    prot = TBinaryProtocol(buf)
    prot.writeMessageBegin(name, TMessageType.CALL, seqid)
    args_struct.write(prot)
    prot.writeMessageEnd()
    return buf.getvalue()


def read_frame(sock):
    (length,) = struct.unpack(">I", recv_exact(sock, 4))
    return length, recv_exact(sock, length)


def decode_reply(name, data):
    prot = TBinaryProtocol(TMemoryBuffer(data))
    mname, mtype, _ = prot.readMessageBegin()
    if mtype == TMessageType.EXCEPTION:
        exc = TApplicationException()
        exc.read(prot)
        return exc
    result = getattr(TCLIService, name + "_result")()
    result.read(prot)
    return result.success


class Servers:
    """Starts servers once per class and stops them afterwards."""
    running = []

    @classmethod
    def start(cls, *args):
        s = ServerProcess(*args)
        cls.running.append(s)
        return s

    @classmethod
    def stop_all(cls):
        while cls.running:
            s = cls.running.pop()
            s.__exit__(None, None, None)


def tearDownModule():
    Servers.stop_all()


class WireTest(unittest.TestCase):
    """Result sets as Hive encodes them."""

    @classmethod
    def setUpClass(cls):
        cls.srv = {k: Servers.start("--server", k, "--synthetic-rows", "30000")
                   for k in ("hive-1.2", "hive-2.3", "hive-3.1", "spark-3")}

    def client(self, key="hive-3.1", protocol=None):
        c = Client(self.srv[key].port, protocol=min(NEWEST[key], V10) if protocol is None else protocol)
        self.addCleanup(c.close)
        c.open()
        return c

    def test_an_older_client_gets_its_own_protocol(self):
        cases = [("hive-1.2", V8), ("hive-1.2", V5), ("hive-2.3", V10), ("hive-3.1", V11),
                 ("hive-3.1", V5), ("spark-3", V10), ("spark-3", 0)]
        for key, client in cases:
            with self.subTest(server=key, client=client):
                c = self.client(key, client)
                self.assertEqual(c.open_resp.status.statusCode, 0)
                self.assertEqual(c.open_resp.serverProtocolVersion, client)

    def test_a_protocol_the_server_does_not_know_fails_open_session(self):
        # The server's enum has no such constant: the field reads as unset and
        # the call fails in Thrift, before any session exists.
        cases = [("hive-1.2", V10), ("hive-2.3", V11), ("spark-3", V11), ("hive-3.1", V11 + 1),
                 ("hive-3.1", -1)]
        for key, client in cases:
            with self.subTest(server=key, client=client):
                c = Client(self.srv[key].port, protocol=client)
                self.addCleanup(c.close)
                with self.assertRaises(TApplicationException) as ctx:
                    c.client.OpenSession(T.TOpenSessionReq(client_protocol=client, username="ann",
                                                           configuration={"a": "1"}))
                self.assertEqual(ctx.exception.type, TApplicationException.PROTOCOL_ERROR)
                self.assertEqual(ctx.exception.message,
                                 "Required field 'client_protocol' is unset! Struct:TOpenSessionReq("
                                 "client_protocol:null, username:ann, configuration:{a=1})")
                # the connection stays usable for a version the server knows
                c.protocol = NEWEST[key]
                self.assertEqual(c.open().status.statusCode, 0)

    def test_column_wise_nulls_bitmap_and_placeholders(self):
        c = self.client()
        op = c.execute("SELECT * FROM all_types").operationHandle
        meta = c.metadata(op).schema.columns
        f = c.fetch(op, 16)
        self.assertEqual(f.results.rows, [])
        self.assertFalse(f.hasMoreRows)
        expected = fixture.all_types_rows()[:16]
        placeholders = {"boolVal": True, "byteVal": 0, "i16Val": 0, "i32Val": 0, "i64Val": 0,
                        "doubleVal": 0.0, "stringVal": "", "binaryVal": b""}
        for j, col in enumerate(f.results.columns):
            member, v = column_member(col)
            want = [r[j] for r in expected]
            with self.subTest(column=meta[j].columnName):
                self.assertEqual(v.nulls, hive_bitmap(want))
                for i, w in enumerate(want):
                    if w is None:
                        self.assertEqual(v.values[i], placeholders[member])

    def test_spark_bitmaps_are_bitset_bytes(self):
        c = self.client("spark-3")
        op = c.execute("SELECT * FROM all_types").operationHandle
        meta = c.metadata(op).schema.columns
        expected = fixture.all_types_rows()
        f = c.fetch(op, 100)
        lengths = set()
        for j, col in enumerate(f.results.columns):
            want = [r[j] for r in expected]
            with self.subTest(column=meta[j].columnName):
                self.assertEqual(column_member(col)[1].nulls, spark_bitmap(want))
                lengths.add(len(spark_bitmap(want)))
        self.assertIn(0, lengths)          # the id column has no NULL
        self.assertGreater(max(lengths), 0)
        # a block whose only NULL is its eighth row: one byte where Hive sends two
        sql = "SELECT c_int FROM all_types WHERE id >= 2 AND id < 10 ORDER BY id DESC"
        for key, want in (("spark-3", b"\x80"), ("hive-3.1", b"\x80\x00")):
            with self.subTest(server=key):
                other = self.client(key)
                op = other.execute(sql).operationHandle
                self.assertEqual(column_member(other.fetch(op, 100).results.columns[0])[1].nulls, want)

    def test_bitmap_length_follows_the_last_null(self):
        # id 2 is the all-NULL row: in a block of rows 2..17 (index 0) the
        # bitmap of a column without later NULLs has one byte; a column whose
        # last NULL sits at index 9 has two.
        c = self.client()
        op = c.execute("SELECT c_int, id FROM all_types WHERE id >= 2 AND id < 12").operationHandle
        f = c.fetch(op, 100)
        ints = [r[0] for r in decode_rowset(f.results)]
        member, v = column_member(f.results.columns[0])
        self.assertEqual(len(v.nulls), 1 + (max(i for i, x in enumerate(ints) if x is None) + 1) // 8)
        _, idv = column_member(f.results.columns[1])
        self.assertEqual(idv.nulls, b"\x00")

    def test_members_by_type(self):
        c = self.client()
        op = c.execute("SELECT * FROM all_types").operationHandle
        f = c.fetch(op, 3)
        members = [column_member(col)[0] for col in f.results.columns]
        self.assertEqual(members, ["i32Val", "boolVal", "byteVal", "i16Val", "i32Val", "i64Val",
                                   "doubleVal", "doubleVal"] + ["stringVal"] * 7 +
                         ["binaryVal"] + ["stringVal"] * 3)

    def test_row_wise_below_v6(self):
        c = self.client(protocol=V5)
        op = c.execute("SELECT id, c_boolean, c_int, c_double, c_binary FROM all_types").operationHandle
        f = c.fetch(op, 3)
        self.assertIsNone(f.results.columns)
        rows = f.results.rows
        self.assertEqual(len(rows), 3)
        null_row = rows[1].colVals
        self.assertIsNotNone(null_row[1].boolVal)
        self.assertIsNone(null_row[1].boolVal.value)
        self.assertIsNotNone(null_row[2].i32Val)
        self.assertIsNone(null_row[2].i32Val.value)
        self.assertIsNotNone(null_row[3].doubleVal)
        self.assertEqual(rows[0].colVals[4].stringVal.value, "\x00\x01\x02")

    def test_values_by_identity(self):
        cases = [
            ("hive-1.2", "c_decimal", 1, "1.5"), ("hive-2.3", "c_decimal", 1, "1.50"),
            ("hive-1.2", "c_decimal", 5, "0"), ("hive-3.1", "c_decimal_wide", 5, "0.0000000000"),
            ("spark-3", "c_decimal", 1, "1.50"), ("hive-1.2", "c_decimal_wide", 6, "-0.0000000001"),
            ("hive-1.2", "c_timestamp", 3, "1970-01-01 00:00:00.0"),
            ("hive-3.1", "c_timestamp", 3, "1970-01-01 00:00:00"),
            ("hive-2.3", "c_timestamp", 6, "1999-12-31 23:59:59.5"),
            ("hive-3.1", "c_char", 5, "a         "),
        ]
        for key, col, row_id, want in cases:
            with self.subTest(server=key, column=col, id=row_id):
                c = self.client(key)
                _, _, rows, _ = c.query("SELECT %s FROM all_types WHERE id = %d" % (col, row_id))
                self.assertEqual(rows, [[want]])

    def test_float_values(self):
        # Column-wise Hive sends Double(Float.toString(f)); row-wise it widens
        # the float. Spark sends the text both ways.
        cases = [
            ("hive-3.1", V10, 6, 0.1), ("hive-3.1", V5, 6, 0.10000000149011612),
            ("hive-1.2", V8, 3, -1.1), ("hive-1.2", V5, 3, -1.100000023841858),
            ("hive-2.3", V10, 4, 3.4028235e38), ("hive-2.3", V5, 4, 3.4028234663852886e38),
            ("spark-3", V10, 6, 0.1), ("spark-3", V5, 6, 0.1), ("spark-3", V5, 1, 1.5),
            ("hive-3.1", V10, 2, None),
        ]
        for key, protocol, row_id, want in cases:
            with self.subTest(server=key, protocol=protocol, id=row_id):
                c = self.client(key, protocol)
                _, _, rows, _ = c.query("SELECT c_float FROM all_types WHERE id = %d" % row_id)
                self.assertEqual(rows, [[want]])
                if want is not None:
                    self.assertEqual(repr(rows[0][0]), repr(want))

    def test_metadata_entries_and_qualifiers(self):
        c = self.client()
        op = c.execute("SELECT c_varchar, c_decimal, c_char, c_array, c_struct FROM all_types").operationHandle
        cols = c.metadata(op).schema.columns
        self.assertEqual([x.columnName for x in cols],
                         ["c_varchar", "c_decimal", "c_char", "c_array", "c_struct"])
        self.assertEqual([x.position for x in cols], [1, 2, 3, 4, 5])
        types = []
        for x in cols:
            self.assertEqual(len(x.typeDesc.types), 1)
            entry = x.typeDesc.types[0].primitiveEntry
            self.assertIsNotNone(entry)
            types.append(entry.type)
        self.assertEqual(types, [T.TTypeId.VARCHAR_TYPE, T.TTypeId.DECIMAL_TYPE, T.TTypeId.CHAR_TYPE,
                                 T.TTypeId.ARRAY_TYPE, T.TTypeId.STRUCT_TYPE])
        q = [x.typeDesc.types[0].primitiveEntry.typeQualifiers for x in cols]
        self.assertEqual(q[0].qualifiers["characterMaximumLength"].i32Value, 20)
        self.assertEqual(q[1].qualifiers["precision"].i32Value, 10)
        self.assertEqual(q[1].qualifiers["scale"].i32Value, 2)
        self.assertEqual(q[2].qualifiers["characterMaximumLength"].i32Value, 10)
        self.assertIsNone(q[3])

    def test_column_names(self):
        cases = [
            ("hive-3.1", "SELECT id, name AS n FROM people p", ["id", "n"]),
            ("hive-3.1", "SELECT p.id, p.name AS n, p.city x FROM people p", ["p.id", "n", "x"]),
            ("hive-1.2", "SELECT people.id, age FROM people", ["people.id", "age"]),
            ("hive-3.1", "SELECT * FROM sales.customers", ["customers.id", "customers.name", "customers.email"]),
            ("hive-2.3", "SELECT c.*, c.id AS k FROM sales.customers c", ["c.id", "c.name", "c.email", "k"]),
            ("hive-3.1", "SELECT s.id, n AS m, i FROM bench.synthetic s LIMIT 1", ["s.id", "m", "i"]),
            ("hive-3.1", "SELECT * FROM bench.synthetic LIMIT 1",
             ["synthetic." + c[0] for c in fixture.SYNTHETIC_COLUMNS]),
            ("spark-3", "SELECT * FROM sales.customers", ["id", "name", "email"]),
            ("spark-3", "SELECT p.id, name AS n FROM people p", ["id", "n"]),
            ("hive-3.1", "SELECT count(*), 1 FROM people", ["_c0", "_c1"]),
            ("hive-3.1", "SHOW DATABASES", ["database_name"]),
            ("spark-3", "SELECT id, name AS n FROM people p", ["id", "n"]),
            ("spark-3", "SHOW TABLES IN sales", ["database", "tableName", "isTemporary"]),
            ("hive-2.3", "SHOW TABLES IN sales", ["tab_name"]),
            ("hive-2.3", "DESCRIBE people", ["col_name", "data_type", "comment"]),
        ]
        for key, sql, want in cases:
            with self.subTest(server=key, sql=sql):
                names, _, _, _ = self.client(key).query(sql)
                self.assertEqual(names, want)

    def test_unique_column_names_can_be_turned_off(self):
        c = Client(self.srv["hive-3.1"].port)
        self.addCleanup(c.close)
        c.open({"set:hiveconf:hive.resultset.use.unique.column.names": "false"})
        self.assertEqual(c.query("SELECT *, c.id FROM sales.customers c")[0], ["id", "name", "email", "id"])
        c.execute("SET hive.resultset.use.unique.column.names=true")
        self.assertEqual(c.query("SELECT c.id FROM sales.customers c")[0], ["c.id"])

    def test_fetch_blocks_first_and_end(self):
        c = self.client()
        op = c.execute("SELECT id FROM all_types").operationHandle
        self.assertEqual([r[0] for r in decode_rowset(c.fetch(op, 15).results)], list(range(1, 16)))
        self.assertEqual([r[0] for r in decode_rowset(c.fetch(op, 15).results)], list(range(16, 31)))
        again = c.fetch(op, 4, orientation=T.TFetchOrientation.FETCH_FIRST)
        self.assertEqual([r[0] for r in decode_rowset(again.results)], [1, 2, 3, 4])
        rest = decode_rowset(c.fetch(op, 100).results)
        self.assertEqual(rest[0][0], 5)
        self.assertEqual(len(rest), 36)
        end = c.fetch(op, 100)
        self.assertEqual(end.status.statusCode, 0)
        self.assertEqual(decode_rowset(end.results), [])
        self.assertFalse(end.hasMoreRows)
        prior = c.fetch(op, 1, orientation=T.TFetchOrientation.FETCH_PRIOR)
        self.assertEqual(prior.status.statusCode, T.TStatusCode.ERROR_STATUS)
        self.assertEqual(prior.status.sqlState, "HY106")

    def test_synthetic_table_blocks(self):
        for key, protocol, limit, block in (("hive-3.1", V10, 25000, 10000), ("hive-3.1", V5, 2500, 1000),
                                            ("spark-3", V10, 12000, 5000)):
            with self.subTest(server=key, protocol=protocol):
                c = self.client(key, protocol=protocol)
                op = c.execute("SELECT * FROM bench.synthetic LIMIT %d" % limit).operationHandle
                c.metadata(op)
                seen = 0
                while True:
                    f = c.fetch(op, block)
                    rows = decode_rowset(f.results)
                    if not rows:
                        break
                    if key == "spark-3":
                        bitmap = column_member(f.results.columns[0])[1].nulls
                        self.assertEqual(bitmap, b"")
                    for j, row in enumerate(rows):
                        r = seen + j
                        want = list(fixture.synthetic_row(r))
                        self.assertEqual(row[0], r + 1)
                        self.assertEqual(row[1], want[1])
                        self.assertEqual(row[4], want[4])
                        self.assertEqual(row[7], want[7])
                    seen += len(rows)
                self.assertEqual(seen, limit)

    def test_hive_caps_the_block_size(self):
        for key, want in (("hive-3.1", 10000), ("hive-1.2", 20000)):
            with self.subTest(server=key):
                c = self.client(key)
                op = c.execute("SELECT id FROM bench.synthetic").operationHandle
                self.assertEqual(len(decode_rowset(c.fetch(op, 20000).results)), want)

    def test_interval_types(self):
        names, cols, rows, _ = self.client().query("SELECT iym, idt FROM intervals WHERE id = 1")
        self.assertEqual([x.typeDesc.types[0].primitiveEntry.type for x in cols],
                         [T.TTypeId.INTERVAL_YEAR_MONTH_TYPE, T.TTypeId.INTERVAL_DAY_TIME_TYPE])
        self.assertEqual(rows, [["1-2", "1 02:03:04.500000000"]])


class StatementTest(unittest.TestCase):
    """Hive's own statements and its errors."""

    @classmethod
    def setUpClass(cls):
        cls.srv = {k: Servers.start("--server", k) for k in ("hive-1.2", "hive-2.3", "hive-3.1", "spark-3")}

    def client(self, key="hive-3.1"):
        c = Client(self.srv[key].port, protocol=NEWEST[key])
        self.addCleanup(c.close)
        c.open()
        return c

    def error_of(self, c, sql):
        resp = c.execute(sql)
        self.assertEqual(resp.status.statusCode, T.TStatusCode.ERROR_STATUS, sql)
        self.assertIsNone(resp.operationHandle)
        return resp.status

    def test_show_databases_and_tables(self):
        c = self.client()
        self.assertEqual(c.query("SHOW DATABASES")[2], [["bench"], ["default"], ["sales"]])
        self.assertEqual(c.query("SHOW TABLES IN sales")[2], [["customers"], ["orders"]])
        self.assertEqual(c.query("SHOW TABLES IN default 'peo*|empty*'")[2], [["empty_table"], ["people"]])
        spark = self.client("spark-3")
        self.assertEqual(spark.query("SHOW TABLES IN sales")[2],
                         [["sales", "customers", False], ["sales", "orders", False]])
        self.assertEqual(spark.query("SHOW TABLES IN global_temp")[2],
                         [["global_temp", "gv_people", True]])

    def test_spark_temporary_views(self):
        c = self.client("spark-3")
        self.assertEqual(c.execute("CREATE TEMPORARY VIEW tv AS SELECT id FROM people WHERE id < 3").status.statusCode, 0)
        self.assertEqual(c.query("SHOW TABLES IN sales")[2],
                         [["sales", "customers", False], ["sales", "orders", False], ["", "tv", True]])
        self.assertEqual(c.query("DESCRIBE tv")[2], [["id", "int", None]])
        self.assertEqual(c.query("SELECT * FROM tv")[2], [[1], [2]])
        other = self.client("spark-3")
        self.assertEqual(other.execute("SELECT * FROM tv").status.errorCode, 0)
        self.assertIn("Table or view not found: tv", other.execute("SELECT * FROM tv").status.errorMessage)
        self.assertEqual(c.execute("DROP VIEW tv").status.statusCode, 0)
        self.assertEqual(len(c.query("SHOW TABLES IN sales")[2]), 2)

    ORDERS = [["order_id", "bigint", ""], ["customer_id", "int", ""], ["amount", "decimal(12,2)", ""],
              ["ordered_at", "timestamp", ""], ["status", "varchar(16)", ""]]
    DT = [["dt", "string", ""]]
    BLANK = [["", None, None]]
    PART = [["# Partition Information", None, None]]
    HEADER = [["# col_name", "data_type", "comment"]]
    PADDED = [["# col_name            ", "data_type           ", "comment             "], ["", None, None]]

    def test_describe(self):
        # Column rows are never padded over HiveServer2; the partition section
        # follows the identity's header shape.
        cases = [
            ("hive-3.1", self.ORDERS + self.DT + self.BLANK + self.PART + self.HEADER + self.DT),
            ("hive-2.3", self.ORDERS + self.DT + self.BLANK + self.PART + self.PADDED + self.DT),
            ("hive-1.2", self.ORDERS + self.DT + self.BLANK + self.PART + self.PADDED + self.DT),
            ("spark-3", [r[:2] + [None] for r in self.ORDERS + self.DT] +
             [["# Partition Information", "", ""]] + self.HEADER + [["dt", "string", None]]),
        ]
        for key, want in cases:
            with self.subTest(server=key):
                self.assertEqual(self.client(key).query("DESCRIBE sales.orders")[2], want)
        self.assertEqual(self.client("hive-1.2").query("DESCRIBE sales.customers")[2],
                         [["id", "int", ""], ["name", "string", ""],
                          ["email", "varchar(64)", "contact address"]])

    def test_describe_formatted_columns_and_partitions(self):
        cases = [
            # TextMetaDataFormatter of 3.1: unpadded header, columns at once
            ("hive-3.1", self.HEADER + self.ORDERS + self.BLANK + self.PART + self.HEADER + self.DT),
            # 1.2 and 2.3: padded header followed by an empty row
            ("hive-2.3", self.PADDED + self.ORDERS + self.BLANK + self.PART + self.PADDED + self.DT),
            ("hive-1.2", self.PADDED + self.ORDERS + self.BLANK + self.PART + self.PADDED + self.DT),
            ("spark-3", [r[:2] + [None] for r in self.ORDERS + self.DT] +
             [["# Partition Information", "", ""]] + self.HEADER + [["dt", "string", None]]),
        ]
        for key, want in cases:
            with self.subTest(server=key):
                rows = self.client(key).query("DESCRIBE FORMATTED sales.orders")[2]
                self.assertEqual(rows[:len(want)], want)
                self.assertEqual(rows[len(want) + 1][0], "# Detailed Table Information")
        spark = self.client("spark-3").query("DESCRIBE FORMATTED sales.orders")[2]
        self.assertIn(["Type", "EXTERNAL", ""], spark)

    def test_describe_formatted_view(self):
        cases = [
            ("hive-1.2", ["View Original Text:", "View Expanded Text:"]),
            ("hive-2.3", ["View Original Text:", "View Expanded Text:"]),
            ("hive-3.1", ["View Original Text:", "View Expanded Text:", "View Rewrite Enabled:"]),
        ]
        for key, keys in cases:
            with self.subTest(server=key):
                rows = self.client(key).query("DESCRIBE FORMATTED default.v_adults")[2]
                cells = {r[0].strip(): r for r in rows if r[0]}
                # key/value rows stay padded to 20 in every version
                self.assertEqual(cells["Table Type:"], ["Table Type:         ", "VIRTUAL_VIEW        ", None])
                self.assertEqual(cells["Database:"][1].strip(), "default")
                self.assertLess(rows.index(cells["age"]), rows.index(cells["# Detailed Table Information"]))
                view = rows.index(cells["# View Information"])
                self.assertEqual([r[0].strip() for r in rows[view + 1:]], keys)
                self.assertEqual(rows[view + 1][1].strip(), "SELECT id, name, age FROM people WHERE age >= 18")
                if len(keys) == 3:
                    self.assertEqual(rows[-1], ["View Rewrite Enabled:", "No                  ", None])

    def test_use_and_set(self):
        c = self.client()
        resp = c.execute("USE sales")
        self.assertEqual(resp.status.statusCode, 0)
        self.assertFalse(resp.operationHandle.hasResultSet)
        self.assertEqual(len(c.query("SELECT * FROM customers")[2]), 3)
        resp = c.execute("SET hive.exec.dynamic.partition=true")
        self.assertFalse(resp.operationHandle.hasResultSet)
        self.assertEqual(c.query("SET hive.exec.dynamic.partition")[2],
                         [["hive.exec.dynamic.partition=true"]])
        self.assertEqual(c.query("SELECT current_database()")[2], [["sales"]])

    def test_statement_without_result_set(self):
        c = self.client()
        op = c.execute("USE default").operationHandle
        self.assertEqual(c.status(op).operationState, T.TOperationState.FINISHED_STATE)
        self.assertEqual(c.metadata(op).schema.columns, [])
        f = c.fetch(op)
        self.assertEqual(f.status.statusCode, 0)
        self.assertEqual(decode_rowset(f.results), [])
        bad = c.execute("SET hs2server.fault.stall=FetchResults:soon")
        self.assertEqual(bad.status.statusCode, T.TStatusCode.ERROR_STATUS)
        self.assertIn("Invalid fault", bad.status.errorMessage)

    def test_decimals_compare_as_numbers(self):
        # The stored text keeps the column's scale ("1.50"); Hive compares the
        # value, so a literal of another scale, or an integer, still matches.
        for key in ("hive-1.2", "hive-3.1"):
            c = self.client(key)
            for cond, ids in (("c_decimal = 1.5", [["1"]]), ("c_decimal = 1.50", [["1"]]),
                              ("c_decimal IN (1.5, 2)", [["1"]]), ("c_decimal > 1.499 AND c_decimal < 1.51", [["1"]])):
                self.assertEqual(c.query("SELECT CAST(id AS STRING) FROM all_types WHERE %s" % cond)[2], ids,
                                 (key, cond))
        rows = self.client().query("SELECT c_decimal FROM all_types WHERE c_decimal IS NOT NULL ORDER BY c_decimal")[2]
        values = [r[0] for r in rows]
        import decimal
        self.assertEqual(values, sorted(values, key=decimal.Decimal))

    def test_version(self):
        self.assertEqual(self.client().query("SELECT version()")[2],
                         [["3.1.3 r4df4d75bf1e16fe0af75aad0b4179c34c07fc975"]])
        status = self.error_of(self.client("hive-1.2"), "SELECT version()")
        self.assertEqual((status.errorCode, status.sqlState), (10011, "42000"))
        self.assertIn("Invalid function 'version'", status.errorMessage)

    def test_errors(self):
        c = self.client()
        cases = [
            ("SELECT * FROM nosuch", 10001, "42S02", "Table not found 'nosuch'"),
            ("DESCRIBE nosuch", 10001, "42S02", "Table not found"),
            ("SELECT nocol FROM people", 10004, "42000", "Invalid table alias or column reference 'nocol'"),
            ("USE nosuchdb", 10072, "42000", "Database does not exist: nosuchdb"),
            ("SELEC 1", 40000, "42000", "ParseException line 1:0 cannot recognize input near 'SELEC' '1' '<EOF>'"),
            ("SELECT 1;", 40000, "42000", "ParseException"),
        ]
        for sql, code, state, text in cases:
            with self.subTest(sql=sql):
                status = self.error_of(c, sql)
                self.assertEqual(status.errorCode, code)
                self.assertEqual(status.sqlState, state)
                self.assertIn(text, status.errorMessage)
                self.assertTrue(status.infoMessages)

    def test_ddl_and_insert(self):
        c = self.client()
        for sql in ("CREATE DATABASE scratch", "CREATE TABLE scratch.t (a int, b string COMMENT 'bee', d decimal(5,2))",
                    "INSERT INTO scratch.t VALUES (1, 'x', 1.5), (2, NULL, NULL)",
                    "INSERT INTO TABLE scratch.t (a) VALUES (3)"):
            self.assertEqual(c.execute(sql).status.statusCode, 0, sql)
        names, _, rows, _ = c.query("SELECT * FROM scratch.t ORDER BY a")
        self.assertEqual(rows, [[1, "x", "1.50"], [2, None, None], [3, None, None]])
        self.assertEqual(c.query("DESCRIBE scratch.t")[2][1], ["b", "string", "bee"])
        self.assertEqual(c.execute("DROP DATABASE scratch CASCADE").status.statusCode, 0)
        self.assertNotIn(["scratch"], c.query("SHOW DATABASES")[2])

    def test_get_info(self):
        cases = [("hive-3.1", "Apache Hive", "3.1.3", "Hive"), ("hive-1.2", "Apache Hive", "1.2.1", "Hive"),
                 ("spark-3", "Spark SQL", "3.1.3", "Spark SQL")]
        for key, name, version, server in cases:
            with self.subTest(server=key):
                c = self.client(key)
                ask = lambda t: c.client.GetInfo(T.TGetInfoReq(sessionHandle=c.session, infoType=t))  # noqa: E731
                self.assertEqual(ask(T.TGetInfoType.CLI_DBMS_NAME).infoValue.stringValue, name)
                self.assertEqual(ask(T.TGetInfoType.CLI_DBMS_VER).infoValue.stringValue, version)
                self.assertEqual(ask(T.TGetInfoType.CLI_SERVER_NAME).infoValue.stringValue, server)
                for info in (T.TGetInfoType.CLI_MAX_COLUMN_NAME_LEN, T.TGetInfoType.CLI_MAX_SCHEMA_NAME_LEN,
                             T.TGetInfoType.CLI_MAX_TABLE_NAME_LEN):
                    self.assertEqual(ask(info).infoValue, T.TGetInfoValue(lenValue=128))
                other = ask(T.TGetInfoType.CLI_MAX_DRIVER_CONNECTIONS)
                self.assertEqual(other.status.statusCode, T.TStatusCode.ERROR_STATUS)
                self.assertEqual(other.status.errorMessage,
                                 "Unrecognized GetInfoType value: CLI_MAX_DRIVER_CONNECTIONS")

    def test_metadata_calls(self):
        c = self.client()
        cases = [
            (c.client.GetSchemas, T.TGetSchemasReq(sessionHandle=c.session, schemaName="s%"),
             [["sales", ""]]),
            (c.client.GetTables, T.TGetTablesReq(sessionHandle=c.session, schemaName="default",
                                                 tableName="%", tableTypes=["VIEW"]),
             [["", "default", "v_adults", "VIEW", None] + [None] * 5]),
            (c.client.GetTables, T.TGetTablesReq(sessionHandle=c.session, schemaName="sales",
                                                 tableName="ord_rs", tableTypes=["EXTERNAL_TABLE"]),
             [["", "sales", "orders", "TABLE", "orders by day"] + [None] * 5]),
        ]
        for call, req, want in cases:
            with self.subTest(req=type(req).__name__):
                op = call(req).operationHandle
                self.assertEqual(decode_rowset(c.fetch(op, 100).results), want)
        op = c.client.GetColumns(T.TGetColumnsReq(sessionHandle=c.session, schemaName="sales",
                                                  tableName="customers", columnName="e%")).operationHandle
        row = decode_rowset(c.fetch(op, 100).results)[0]
        self.assertEqual(row[:7], [None, "sales", "customers", "email", 12, "VARCHAR", 64])
        self.assertEqual(row[16], 3)

    def metadata_rows(self, key, call, req_cls, **fields):
        c = self.client(key)
        resp = getattr(c.client, call)(req_cls(sessionHandle=c.session, **fields))
        self.assertEqual(resp.status.statusCode, 0)
        return c.metadata(resp.operationHandle).schema.columns, decode_rowset(c.fetch(resp.operationHandle, 100).results)

    def test_get_type_info(self):
        base = ["VOID", "BOOLEAN", "TINYINT", "SMALLINT", "INT", "BIGINT", "FLOAT", "DOUBLE", "STRING",
                "CHAR", "VARCHAR", "DATE", "TIMESTAMP"]
        rest = ["INTERVAL_YEAR_MONTH", "INTERVAL_DAY_TIME", "BINARY", "DECIMAL", "ARRAY", "MAP", "STRUCT",
                "UNIONTYPE", "USER_DEFINED"]
        orders = {"hive-1.2": base + rest, "hive-3.1": base + ["TIMESTAMP WITH LOCAL TIME ZONE"] + rest,
                  "spark-3": base + rest}
        for key, want in orders.items():
            with self.subTest(server=key):
                _, rows = self.metadata_rows(key, "GetTypeInfo", T.TGetTypeInfoReq)
                self.assertEqual([r[0] for r in rows], want)
        cols, rows = self.metadata_rows("hive-3.1", "GetTypeInfo", T.TGetTypeInfoReq)
        index = {c.columnName: i for i, c in enumerate(cols)}
        by_name = {r[0]: r for r in rows}
        # (type, column, value) as Hive's Type enum gives them
        cases = [("STRING", "CASE_SENSITIVE", True), ("VARCHAR", "CASE_SENSITIVE", False),
                 ("CHAR", "CASE_SENSITIVE", False), ("ARRAY", "CASE_SENSITIVE", False),
                 ("INT", "UNSIGNED_ATTRIBUTE", False), ("DECIMAL", "UNSIGNED_ATTRIBUTE", False),
                 ("DATE", "UNSIGNED_ATTRIBUTE", True), ("VOID", "UNSIGNED_ATTRIBUTE", True),
                 ("MAP", "UNSIGNED_ATTRIBUTE", True),
                 ("DECIMAL", "MINIMUM_SCALE", 0), ("DECIMAL", "MAXIMUM_SCALE", 0), ("DECIMAL", "PRECISION", 38),
                 ("DOUBLE", "MAXIMUM_SCALE", 0), ("STRING", "MINIMUM_SCALE", 0),
                 ("DECIMAL", "NUM_PREC_RADIX", 10), ("DATE", "NUM_PREC_RADIX", None),
                 ("INTERVAL_DAY_TIME", "DATA_TYPE", 1111), ("INTERVAL_DAY_TIME", "SEARCHABLE", 3),
                 ("TIMESTAMP WITH LOCAL TIME ZONE", "DATA_TYPE", 1111), ("STRUCT", "SEARCHABLE", 0),
                 ("BIGINT", "PRECISION", 19), ("BOOLEAN", "NULLABLE", 1)]
        for name, column, want in cases:
            with self.subTest(type=name, column=column):
                self.assertEqual(by_name[name][index[column]], want)

    def test_get_table_types(self):
        cases = [("hive-1.2", ["TABLE", "TABLE", "VIEW", "INDEX_TABLE"]),
                 ("hive-2.3", ["TABLE", "TABLE", "VIEW", "INDEX_TABLE", "MATERIALIZED_VIEW"]),
                 ("hive-3.1", ["TABLE", "TABLE", "VIEW", "MATERIALIZED_VIEW"]),
                 ("spark-3", ["TABLE", "VIEW"])]
        for key, want in cases:
            with self.subTest(server=key):
                _, rows = self.metadata_rows(key, "GetTableTypes", T.TGetTableTypesReq)
                self.assertEqual(rows, [[t] for t in want])

    def test_get_functions_and_tables_shapes(self):
        cases = [("hive-3.1", "org.apache.hadoop.hive.ql.exec.FunctionInfo"),
                 ("hive-1.2", "org.apache.hadoop.hive.ql.exec.FunctionInfo"),
                 ("spark-3", "org.apache.spark.sql.catalyst.expressions.Upper")]
        for key, specific in cases:
            with self.subTest(server=key):
                _, rows = self.metadata_rows(key, "GetFunctions", T.TGetFunctionsReq, functionName="upper")
                self.assertEqual(rows, [[None, None, "upper", "", 1, specific]])
        for key, width in (("hive-1.2", 5), ("hive-2.3", 10)):
            with self.subTest(server=key):
                cols, _ = self.metadata_rows(key, "GetTables", T.TGetTablesReq, schemaName="sales")
                self.assertEqual(len(cols), width)

    def test_adjacent_string_literals_are_one_string(self):
        for key in ("hive-3.1", "spark-3"):
            with self.subTest(server=key):
                c = self.client(key)
                self.assertEqual(c.query("SELECT 'O''Brien', 'a' 'b', \"x\"'y', 'it''s' -- 'no'")[2],
                                 [["OBrien", "ab", "xy", "its"]])
                self.assertEqual(c.query("SELECT id FROM people WHERE name = 'Chlo'  'é'")[2], [[3]])
                self.assertEqual(c.query("SELECT count(*) FROM people WHERE name = 'O''Brien'")[2], [[0]])


class ProtocolTest(unittest.TestCase):
    """SASL, frames and malformed input on the binary transport."""

    @classmethod
    def setUpClass(cls):
        cls.srv = Servers.start("--user", "alice", "--password", "secret")
        cls.nosasl = Servers.start("--auth", "nosasl")
        cls.anyone = Servers.start()

    def test_sasl_plain(self):
        for final, password, want in ((2, "secret", 5), (5, "secret", 5), (2, "wrong", 3)):
            with self.subTest(status=final, password=password):
                sock = connect_socket(self.srv.port)
                self.addCleanup(sock.close)
                status, payload = sasl_plain(sock, "alice", password, final)
                self.assertEqual(status, want)
                if want == 3:
                    self.assertEqual(payload, b"Error validating the login")

    def test_sasl_plain_payload_forms(self):
        # Every refusal reads "Error validating the login": PlainSaslServer
        # wraps its own reasons (format, no user, no password) in it.
        cases = [(b"alice\0secret", 5), (b"boss\0alice\0secret", 5), (b"\0\0secret", 3),
                 (b"\0alice\0", 3), (b"alice", 3), (b"a\0b\0c\0d", 3), (b"alice\0", 3),
                 ("\0alice\0s\u00e9cret".encode(), 3)]
        for payload, want in cases:
            with self.subTest(payload=payload):
                sock = connect_socket(self.srv.port)
                self.addCleanup(sock.close)
                sock.sendall(sasl_message(1, b"PLAIN") + sasl_message(5, payload))
                status, length = struct.unpack(">BI", recv_exact(sock, 5))
                text = recv_exact(sock, length)
                self.assertEqual(status, want)
                if want == 3:
                    self.assertEqual(text, b"Error validating the login")

    def test_sasl_plain_session_user(self):
        # The session runs as the authentication id, whatever authzid says,
        # and each byte of it is one character (sign-extended above 0x7F).
        cases = [(self.srv.port, "alice", "boss", "alice"), (self.anyone.port, "j\u00fc", "", "j\uffc3\uffbc")]
        for port, user, authzid, want in cases:
            with self.subTest(user=user, authzid=authzid):
                c = Client(port, user=user, password="secret", authzid=authzid)
                self.addCleanup(c.close)
                c.open()
                self.assertEqual(c.query("SELECT current_user()")[2], [[want]])

    def test_sasl_refusals(self):
        for mech in (b"CRAM-MD5", b"plain"):
            with self.subTest(mechanism=mech):
                sock = connect_socket(self.srv.port)
                self.addCleanup(sock.close)
                sock.sendall(sasl_message(1, mech))
                status, length = struct.unpack(">BI", recv_exact(sock, 5))
                self.assertEqual(status, 3)
                self.assertEqual(recv_exact(sock, length), b"Unsupported mechanism type " + mech)
        sock2 = connect_socket(self.srv.port)
        self.addCleanup(sock2.close)
        sock2.sendall(sasl_message(2, b"PLAIN"))
        status, length = struct.unpack(">BI", recv_exact(sock2, 5))
        self.assertEqual(status, 4)

    def open_framed(self):
        sock = connect_socket(self.srv.port)
        self.addCleanup(sock.close)
        self.assertEqual(sasl_plain(sock, "alice", "secret")[0], 5)
        msg = message("OpenSession", TCLIService.OpenSession_args(
            req=T.TOpenSessionReq(client_protocol=V10)))
        sock.sendall(struct.pack(">I", len(msg)) + msg)
        length, data = read_frame(sock)
        self.assertEqual(length, len(data))
        return sock, decode_reply("OpenSession", data).sessionHandle

    def test_unknown_binary_field_is_skipped(self):
        sock, session = self.open_framed()
        # ExecuteStatementReq with an extra field 9 holding bytes that are not UTF-8.
        buf = TMemoryBuffer()
        prot = TBinaryProtocol(buf)
        prot.writeMessageBegin("ExecuteStatement", TMessageType.CALL, 3)
        prot.writeStructBegin("args")
        prot.writeFieldBegin("req", TType.STRUCT, 1)
        prot.writeStructBegin("req")
        prot.writeFieldBegin("sessionHandle", TType.STRUCT, 1)
        session.write(prot)
        prot.writeFieldBegin("statement", TType.STRING, 2)
        prot.writeBinary("SELECT 'caf\u00e9'".encode("utf-8"))
        prot.writeFieldBegin("x", TType.STRING, 9)
        prot.writeBinary(b"\xff\xfe\x80\x00")
        prot.writeFieldStop()
        prot.writeFieldBegin("runAsync", TType.BOOL, 4)
        prot.writeBool(True)
        prot.writeFieldStop()
        msg = buf.getvalue()
        sock.sendall(struct.pack(">I", len(msg)) + msg)
        resp = decode_reply("ExecuteStatement", read_frame(sock)[1])
        self.assertEqual(resp.status.statusCode, 0)
        self.assertTrue(resp.operationHandle.hasResultSet)

    def test_bad_utf8_statement_gets_an_answer(self):
        sock, session = self.open_framed()
        buf = TMemoryBuffer()
        prot = TBinaryProtocol(buf)
        prot.writeMessageBegin("ExecuteStatement", TMessageType.CALL, 0)
        prot.writeStructBegin("args")
        prot.writeFieldBegin("req", TType.STRUCT, 1)
        prot.writeFieldBegin("sessionHandle", TType.STRUCT, 1)
        session.write(prot)
        prot.writeFieldBegin("statement", TType.STRING, 2)
        prot.writeBinary(b"SELECT '\xff'")
        prot.writeFieldStop()
        prot.writeFieldStop()
        msg = buf.getvalue()
        sock.sendall(struct.pack(">I", len(msg)) + msg)
        self.assertEqual(decode_reply("ExecuteStatement", read_frame(sock)[1]).status.statusCode, 0)

    def test_unknown_method_is_an_exception(self):
        sock, _ = self.open_framed()
        msg = message("NoSuchCall", TCLIService.CloseSession_args(req=T.TCloseSessionReq()))
        sock.sendall(struct.pack(">I", len(msg)) + msg)
        exc = decode_reply("NoSuchCall", read_frame(sock)[1])
        self.assertIsInstance(exc, TApplicationException)
        self.assertEqual(exc.type, TApplicationException.UNKNOWN_METHOD)

    def test_oversized_frame_from_client_closes(self):
        sock = connect_socket(self.srv.port)
        self.addCleanup(sock.close)
        self.assertEqual(sasl_plain(sock, "alice", "secret")[0], 5)
        sock.sendall(struct.pack(">I", 0x7FFFFFF0) + b"\x80\x01")
        self.assertEqual(sock.recv(10), b"")   # closed without reading 2 GiB

    def test_invalid_handles(self):
        c = Client(self.srv.port, user="alice", password="secret")
        self.addCleanup(c.close)
        c.open()
        bogus = T.TSessionHandle(sessionId=T.THandleIdentifier(guid=b"\x01" * 16, secret=b"\x02" * 16))
        resp = c.client.ExecuteStatement(T.TExecuteStatementReq(sessionHandle=bogus, statement="SELECT 1"))
        self.assertEqual(resp.status.statusCode, T.TStatusCode.ERROR_STATUS)
        self.assertIn("Invalid SessionHandle", resp.status.errorMessage)
        op = c.execute("SELECT 1").operationHandle
        self.assertEqual(c.close_op(op).status.statusCode, 0)
        again = c.fetch(op)
        self.assertIn("Invalid OperationHandle", again.status.errorMessage)

    def test_nosasl_is_raw_thrift(self):
        c = Client(self.nosasl.port, auth="nosasl")
        self.addCleanup(c.close)
        c.open()
        self.assertEqual(c.query("SELECT count(*) FROM people")[2], [[8]])


class FaultTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.srv = Servers.start()
        cls.others = {k: Servers.start("--server", k) for k in ("hive-1.2", "spark-3")}

    def client(self, key="hive-3.1", configuration=None):
        srv = self.srv if key == "hive-3.1" else self.others[key]
        c = Client(srv.port, protocol=NEWEST[key])
        self.addCleanup(c.close)
        c.open(configuration)
        return c

    def test_running_then_finished(self):
        c = self.client()
        self.assertEqual(c.execute("SET hs2server.fault.running=1500").status.statusCode, 0)
        op = c.execute("SELECT id FROM people").operationHandle
        self.assertEqual(c.status(op).operationState, T.TOperationState.RUNNING_STATE)
        early = c.fetch(op)
        self.assertEqual(early.status.statusCode, T.TStatusCode.ERROR_STATUS)
        self.assertEqual(early.status.errorMessage, "Expected states: [FINISHED], but found RUNNING")
        while c.status(op).operationState == T.TOperationState.RUNNING_STATE:
            pass
        self.assertEqual(c.status(op).operationState, T.TOperationState.FINISHED_STATE)
        self.assertEqual(len(decode_rowset(c.fetch(op).results)), 8)

    def test_error_state(self):
        c = self.client()
        op = c.execute("SELECT 1", overlay={"hs2server.fault.error-state": "boom"}).operationHandle
        st = c.status(op)
        self.assertEqual(st.operationState, T.TOperationState.ERROR_STATE)
        self.assertEqual(st.errorMessage, "boom")
        self.assertIsNone(st.sqlState)
        self.assertEqual(c.fetch(op).status.errorMessage, "Expected states: [FINISHED], but found ERROR")
        # "on" fails as Hive fails a job, with the SQLSTATE and code it gives
        op = c.execute("SELECT 1", overlay={"hs2server.fault.error-state": "on"}).operationHandle
        st = c.status(op)
        self.assertEqual((st.operationState, st.sqlState, st.errorCode),
                         (T.TOperationState.ERROR_STATE, "08S01", 2))
        self.assertIn("MapRedTask", st.errorMessage)
        # the overlay was for that statement only
        op2 = c.execute("SELECT 1").operationHandle
        self.assertEqual(c.status(op2).operationState, T.TOperationState.FINISHED_STATE)

    def test_calls_on_an_unfinished_operation_by_identity(self):
        # Operation.assertState: its own text, no SQLSTATE; the query's error
        # is told by GetOperationStatus only.
        running = {"hs2server.fault.running": "60000"}
        failed = {"hs2server.fault.error-state": "boom"}
        cases = [
            ("hive-1.2", running, "fetch", "Expected state FINISHED, but found RUNNING"),
            ("hive-1.2", failed, "fetch", "Expected state FINISHED, but found ERROR"),
            ("hive-1.2", running, "metadata", "Expected state FINISHED, but found RUNNING"),
            ("hive-3.1", running, "fetch", "Expected states: [FINISHED], but found RUNNING"),
            ("hive-3.1", failed, "fetch", "Expected states: [FINISHED], but found ERROR"),
            ("hive-3.1", running, "metadata", None),
            ("hive-3.1", failed, "metadata", "Expected states: [RUNNING, FINISHED], but found ERROR"),
            ("spark-3", failed, "fetch", "Expected states: [FINISHED], but found ERROR"),
        ]
        for key, overlay, call, want in cases:
            with self.subTest(server=key, fault=overlay, call=call):
                c = self.client(key)
                op = c.execute("SELECT id FROM people", overlay=overlay).operationHandle
                status = (c.fetch(op) if call == "fetch" else c.metadata(op)).status
                if want is None:
                    self.assertEqual(status.statusCode, 0)
                    continue
                self.assertEqual(status.statusCode, T.TStatusCode.ERROR_STATUS)
                self.assertEqual((status.errorMessage, status.sqlState, status.errorCode), (want, None, 0))
                if overlay is failed:
                    self.assertEqual(c.status(op).errorMessage, "boom")

    def test_pending_before_an_asynchronous_run(self):
        c = self.client(configuration={"set:hiveconf:hive.server2.long.polling.timeout": "0ms"})
        fault = {"hs2server.fault.pending": "60000"}
        op = c.client.ExecuteStatement(T.TExecuteStatementReq(
            sessionHandle=c.session, statement="SELECT 1", confOverlay=fault, runAsync=True)).operationHandle
        self.assertEqual(c.status(op).operationState, T.TOperationState.PENDING_STATE)
        self.assertEqual(c.metadata(op).status.errorMessage,
                         "Expected states: [RUNNING, FINISHED], but found PENDING")
        self.assertEqual(c.client.CancelOperation(T.TCancelOperationReq(operationHandle=op)).status.statusCode, 0)
        self.assertEqual(c.status(op).operationState, T.TOperationState.CANCELED_STATE)
        # a synchronous run has no background thread to wait for
        sync = c.execute("SELECT 1", overlay=fault).operationHandle
        self.assertEqual(c.status(sync).operationState, T.TOperationState.FINISHED_STATE)

    def timed_status(self, c, op):
        began = time.monotonic()
        st = c.status(op)
        return st, time.monotonic() - began

    def run_async(self, c, running_ms):
        return c.client.ExecuteStatement(T.TExecuteStatementReq(
            sessionHandle=c.session, statement="SELECT 1", runAsync=True,
            confOverlay={"hs2server.fault.running": str(running_ms)})).operationHandle

    def test_long_polling(self):
        # hive-1.2 waits up to the whole timeout and so sees the end; 2.x and
        # later wait 500 ms in an operation's first ten seconds.
        conf = {"set:hiveconf:hive.server2.long.polling.timeout": "3s"}
        old = self.client("hive-1.2", conf)
        st, took = self.timed_status(old, self.run_async(old, 800))
        self.assertEqual(st.operationState, T.TOperationState.FINISHED_STATE)
        self.assertTrue(0.5 < took < 2.5, took)
        new = self.client("hive-3.1", conf)
        st, took = self.timed_status(new, self.run_async(new, 5000))
        self.assertEqual(st.operationState, T.TOperationState.RUNNING_STATE)
        self.assertTrue(0.35 < took < 2.0, took)
        # a synchronous operation is answered at once
        sync = new.execute("SELECT 1", overlay={"hs2server.fault.running": "5000"}).operationHandle
        st, took = self.timed_status(new, sync)
        self.assertEqual(st.operationState, T.TOperationState.RUNNING_STATE)
        self.assertLess(took, 0.3)

    def test_cancel_ends_a_long_poll(self):
        c = self.client("hive-1.2", {"set:hiveconf:hive.server2.long.polling.timeout": "20000"})
        op = self.run_async(c, 30000)
        other = self.client("hive-1.2")
        timer = threading.Timer(0.3, lambda: other.client.CancelOperation(
            T.TCancelOperationReq(operationHandle=op)))
        timer.start()
        self.addCleanup(timer.cancel)
        st, took = self.timed_status(c, op)
        self.assertEqual(st.operationState, T.TOperationState.CANCELED_STATE)
        self.assertLess(took, 5)

    def test_progress_update_by_identity(self):
        for key, present in (("hive-3.1", True), ("hive-1.2", False), ("spark-3", False)):
            with self.subTest(server=key):
                c = self.client(key)
                st = c.status(c.execute("SELECT 1").operationHandle)
                if not present:
                    self.assertIsNone(st.progressUpdateResponse)
                    continue
                self.assertEqual(st.progressUpdateResponse, T.TProgressUpdateResp(
                    headerNames=[], rows=[], progressedPercentage=0.0,
                    status=T.TJobExecutionStatus.NOT_AVAILABLE, footerSummary="", startTime=0))

    def test_drop_in_the_middle_of_a_fetch(self):
        c = self.client()
        c.execute("SET hs2server.fault.drop=FetchResults:2")
        op = c.execute("SELECT id FROM all_types").operationHandle
        self.assertEqual(len(decode_rowset(c.fetch(op, 10).results)), 10)
        with self.assertRaises(Exception):
            c.fetch(op, 10)

    def raw_session(self, fault):
        sock = connect_socket(self.srv.port)
        self.addCleanup(sock.close)
        self.assertEqual(sasl_plain(sock, "hive", "hive")[0], 5)
        msg = message("OpenSession", TCLIService.OpenSession_args(req=T.TOpenSessionReq(
            client_protocol=V10, configuration={"set:hiveconf:hs2server.fault." + fault[0]: fault[1]})))
        sock.sendall(struct.pack(">I", len(msg)) + msg)
        session = decode_reply("OpenSession", read_frame(sock)[1]).sessionHandle
        msg = message("GetInfo", TCLIService.GetInfo_args(req=T.TGetInfoReq(
            sessionHandle=session, infoType=T.TGetInfoType.CLI_DBMS_VER)))
        sock.sendall(struct.pack(">I", len(msg)) + msg)
        return sock

    def test_truncated_frame(self):
        sock = self.raw_session(("truncate", "GetInfo"))
        (length,) = struct.unpack(">I", recv_exact(sock, 4))
        data = b""
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                break
            data += chunk
        self.assertLess(len(data), length)

    def test_oversized_length_prefix(self):
        sock = self.raw_session(("oversize", "GetInfo"))
        self.assertEqual(struct.unpack(">I", recv_exact(sock, 4))[0], 0x7FFFFFF0)

    def test_stalled_reply(self):
        sock = self.raw_session(("stall", "GetInfo:3000"))
        sock.settimeout(0.3)
        with self.assertRaises(socket.timeout):
            sock.recv(4)
        sock.settimeout(30)
        length, data = read_frame(sock)
        self.assertEqual(decode_reply("GetInfo", data).infoValue.stringValue, "3.1.3")

    def test_command_line_fault(self):
        with ServerProcess("--fault", "error-state=down") as s:
            c = Client(s.port)
            self.addCleanup(c.close)
            c.open()
            op = c.execute("SELECT 1").operationHandle
            self.assertEqual(c.status(op).errorMessage, "down")


class HttpTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.srv = Servers.start("--transport", "http", "--user", "bob", "--password", "pw")

    def post(self, body, headers, path="/cliservice"):
        conn = http.client.HTTPConnection("127.0.0.1", self.srv.port, timeout=30)
        self.addCleanup(conn.close)
        conn.request("POST", path, body, dict({"Content-Type": "application/x-thrift"}, **headers))
        resp = conn.getresponse()
        return resp, resp.read()

    def open_msg(self):
        return message("OpenSession", TCLIService.OpenSession_args(
            req=T.TOpenSessionReq(client_protocol=V10)))

    def basic(self, user, password):
        return "Basic " + base64.b64encode(("%s:%s" % (user, password)).encode()).decode()

    def test_login_cookie_and_refusals(self):
        # ThriftHttpServlet: 401, no WWW-Authenticate without Kerberos, the
        # message println'd after "Authentication Error: ".
        refusals = [({}, "Authorization header received from the client is empty."),
                    ({"Authorization": self.basic("bob", "nope")},
                     "javax.security.sasl.AuthenticationException: Error validating the login")]
        for headers, text in refusals:
            with self.subTest(headers=headers):
                resp, body = self.post(self.open_msg(), headers)
                self.assertEqual(resp.status, 401)
                self.assertEqual(body, ("Authentication Error: %s\n" % text).encode())
                self.assertIsNone(resp.getheader("WWW-Authenticate"))
        resp, body = self.post(self.open_msg(), {"Authorization": self.basic("bob", "pw")})
        self.assertEqual(resp.status, 200)
        self.assertEqual(decode_reply("OpenSession", body).status.statusCode, 0)
        cookie = resp.getheader("Set-Cookie")
        self.assertTrue(cookie.startswith("hive.server2.auth="))
        value = cookie.split(";")[0]
        for header in (value, "other=1; " + value + "; Max-Age=86400; HttpOnly",
                       "hive.server2.auth=forged; " + value):
            with self.subTest(cookie=header):
                resp, body = self.post(self.open_msg(), {"Cookie": header}, "/cliservice/x")
                self.assertEqual(resp.status, 200)
                self.assertIsNone(resp.getheader("Set-Cookie"))
        resp, _ = self.post(self.open_msg(), {"Cookie": "hive.server2.auth=cu=bob&s=00"})
        self.assertEqual(resp.status, 401)
        resp, _ = self.post(self.open_msg(), {"Authorization": self.basic("bob", "pw")}, "/other")
        self.assertEqual(resp.status, 404)

    def test_thrift_client_over_http(self):
        c = Client(self.srv.port, transport="http", user="bob", password="pw")
        self.addCleanup(c.close)
        c.open()
        self.assertEqual(c.query("SELECT name FROM people WHERE id = 3")[2], [["Chlo\u00e9"]])


class TlsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="hs2tls-")
        d = cls.dir

        def run(*args):
            subprocess.run(["openssl"] + list(args), check=True, capture_output=True)
        run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=test CA",
            "-keyout", d + "/ca.key", "-out", d + "/ca.pem", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        for name, host in (("server", "localhost"), ("wrong", "wrong.example")):
            run("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + host,
                "-keyout", "%s/%s.key" % (d, name), "-out", "%s/%s.csr" % (d, name))
            with open("%s/%s.ext" % (d, name), "w") as f:
                f.write("subjectAltName=DNS:%s\n" % host)
            run("x509", "-req", "-in", "%s/%s.csr" % (d, name), "-CA", d + "/ca.pem", "-CAkey", d + "/ca.key",
                "-CAcreateserial", "-days", "2", "-out", "%s/%s.pem" % (d, name), "-extfile", "%s/%s.ext" % (d, name))
        cls.good = Servers.start("--tls-cert", d + "/server.pem", "--tls-key", d + "/server.key")
        cls.wrong = Servers.start("--tls-cert", d + "/wrong.pem", "--tls-key", d + "/wrong.key")
        cls.http = Servers.start("--transport", "http", "--tls-cert", d + "/server.pem",
                                 "--tls-key", d + "/server.key")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def test_binary_over_tls(self):
        c = Client(self.good.port, tls_ca=self.dir + "/ca.pem")
        self.addCleanup(c.close)
        c.open()
        self.assertEqual(c.query("SELECT count(*) FROM people")[2], [[8]])

    def test_wrong_host_name_is_refused(self):
        with self.assertRaises(ssl.SSLCertVerificationError):
            connect_socket(self.wrong.port, self.dir + "/ca.pem")

    def test_http_over_tls(self):
        c = Client(self.http.port, transport="http", tls_ca=self.dir + "/ca.pem")
        self.addCleanup(c.close)
        c.open()
        self.assertEqual(c.query("SELECT 1")[2], [[1]])


class DataDirTest(unittest.TestCase):
    def test_json_tables_and_views(self):
        d = tempfile.mkdtemp(prefix="hs2data-")
        self.addCleanup(shutil.rmtree, d, True)
        with open(os.path.join(d, "extra.json"), "w") as f:
            f.write('''{"database": "extra", "tables": [
              {"name": "t", "columns": [["k", "int"], ["b", "binary"], ["v", "varchar(5)", "vee"]],
               "rows": [[1, {"hex": "00ff"}, "x"], [2, {"base64": "AQI="}, null]]},
              {"name": "w", "view": "SELECT k FROM t WHERE k > 1", "columns": [["k", "int"]]}]}''')
        with ServerProcess("--data", d, "--no-builtin") as s:
            c = Client(s.port)
            self.addCleanup(c.close)
            c.open()
            self.assertEqual(c.query("SELECT * FROM extra.t")[2], [[1, b"\x00\xff", "x"], [2, b"\x01\x02", None]])
            self.assertEqual(c.query("SELECT * FROM extra.w")[2], [[2]])
            self.assertEqual(c.query("SHOW DATABASES")[2], [["default"], ["extra"]])


class LifecycleTest(unittest.TestCase):
    def test_sigterm_stops_cleanly(self):
        s = ServerProcess()
        c = Client(s.port)
        c.open()
        self.assertEqual(s.stop(), 0)
        c.close()
        s.proc.stdout.close()
        s.proc.stderr.close()


class CountingResult(unittest.TextTestResult):
    pass


if __name__ == "__main__":
    runner = unittest.TextTestRunner(verbosity=2, resultclass=CountingResult)
    program = unittest.main(testRunner=runner, exit=False)
    r = program.result
    bad = len(r.failures) + len(r.errors) + len(r.unexpectedSuccesses)
    print("%d passed, %d failed" % (r.testsRun - bad - len(r.skipped), bad))
    sys.exit(1 if bad or r.testsRun == 0 else 0)
