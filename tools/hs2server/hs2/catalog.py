"""The Hive-typed catalog over SQLite: databases, tables whose columns carry
Hive types, views, and the synthetic table that benchmarks read.

Every Hive table lives in one SQLite table named "db.table" (quoted), so that
table names of different databases never clash. One SQLite connection serves
all sessions; `Catalog.lock` serialises its use.
"""

import base64
import json
import os
import sqlite3
import threading
import time

from . import hivetypes as ht


class HiveError(Exception):
    """An error that travels to the client as an error status."""

    def __init__(self, message, sql_state=None, error_code=0):
        super().__init__(message)
        self.message = message
        self.sql_state = sql_state
        self.error_code = error_code


class Column:
    __slots__ = ("name", "htype", "comment")

    def __init__(self, name, htype, comment=None):
        self.name = name
        self.htype = htype
        self.comment = comment


class Table:
    def __init__(self, db, name, columns, table_type="MANAGED_TABLE", comment=None,
                 owner="hive", view_text=None, partition_columns=(), temporary=False,
                 synthetic=None):
        self.db = db
        self.name = name
        self.columns = columns
        self.table_type = table_type
        self.comment = comment
        self.owner = owner
        self.view_text = view_text
        self.partition_columns = tuple(partition_columns)
        self.temporary = temporary
        self.synthetic = synthetic
        self.create_time = int(time.time())

    # Set for a session's temporary view, whose SQLite name carries the session.
    physical_name = None

    @property
    def physical(self):
        return self.physical_name or '"%s.%s"' % (self.db, self.name)

    @property
    def is_view(self):
        return self.table_type == "VIRTUAL_VIEW"

    def column(self, name):
        lname = name.lower()
        for c in self.columns:
            if c.name == lname:
                return c
        return None


class Database:
    def __init__(self, name, comment=None, owner="hive"):
        self.name = name
        self.comment = comment
        self.owner = owner


def storage_value(value, htype):
    """Turns a fixture value (JSON-like, or bytes) into the SQLite storage form."""
    if value is None:
        return None
    t = htype.type_id
    if isinstance(value, dict):
        if "base64" in value:
            return base64.b64decode(value["base64"])
        if "hex" in value:
            return bytes.fromhex(value["hex"])
        raise ValueError("unknown value object %r" % value)
    if t == ht.BOOLEAN:
        return 1 if value else 0
    if t in ht.INTEGRAL:
        return int(value)
    if t in (ht.FLOAT, ht.DOUBLE):
        return float(value)
    if t == ht.BINARY:
        return bytes(value) if not isinstance(value, str) else value.encode("utf-8")
    return value if isinstance(value, str) else str(value)


class Catalog:
    def __init__(self):
        self.lock = threading.RLock()
        self.db = sqlite3.connect(":memory:", check_same_thread=False)
        self.db.create_collation(ht.DECIMAL_COLLATION, ht.compare_decimal_text)
        self.databases = {}
        self.tables = {}
        self.create_database("default", "Default Hive database")

    # -- databases ---------------------------------------------------------
    def create_database(self, name, comment=None, if_not_exists=False):
        name = name.lower()
        with self.lock:
            if name in self.databases:
                if if_not_exists:
                    return
                raise HiveError(
                    "Error while processing statement: FAILED: Execution Error, return code 1 "
                    "from org.apache.hadoop.hive.ql.exec.DDLTask. Database %s already exists" % name,
                    "08S01", 1)
            self.databases[name] = Database(name, comment)

    def drop_database(self, name, cascade=False):
        name = name.lower()
        with self.lock:
            tables = [t for (d, _), t in self.tables.items() if d == name]
            if tables and not cascade:
                raise HiveError(
                    "Error while processing statement: FAILED: Execution Error, return code 1 "
                    "from org.apache.hadoop.hive.ql.exec.DDLTask. InvalidOperationException"
                    "(message:Database %s is not empty. One or more tables exist.)" % name,
                    "08S01", 1)
            for t in tables:
                self.drop_table(t)
            del self.databases[name]

    # -- tables ------------------------------------------------------------
    def get_table(self, db, name):
        return self.tables.get((db.lower(), name.lower()))

    def tables_in(self, db):
        return sorted((t for (d, _), t in self.tables.items() if d == db), key=lambda t: t.name)

    def add_table(self, table, rows=()):
        with self.lock:
            key = (table.db, table.name)
            if table.db not in self.databases:
                raise ValueError("no database %s" % table.db)
            if key in self.tables:
                raise ValueError("table %s.%s exists" % key)
            if table.synthetic is None and not table.is_view:
                cols = ", ".join('"%s" %s' % (c.name, ht.sqlite_decl(c.htype)) for c in table.columns)
                self.db.execute("CREATE TABLE %s (%s)" % (table.physical, cols))
                self.insert_rows(table, rows)
            self.tables[key] = table

    def add_view(self, table, sqlite_select, register=True):
        with self.lock:
            self.db.execute("CREATE VIEW %s AS %s" % (table.physical, sqlite_select))
            if register:
                self.tables[(table.db, table.name)] = table

    def insert_rows(self, table, rows):
        if not rows:
            return 0
        marks = ", ".join("?" * len(table.columns))
        data = [tuple(storage_value(v, c.htype) for v, c in zip(row, table.columns)) for row in rows]
        with self.lock:
            self.db.executemany("INSERT INTO %s VALUES (%s)" % (table.physical, marks), data)
        return len(data)

    def drop_table(self, table):
        with self.lock:
            if table.synthetic is None:
                kind = "VIEW" if table.is_view else "TABLE"
                self.db.execute("DROP %s IF EXISTS %s" % (kind, table.physical))
            if self.tables.get((table.db, table.name)) is table:
                del self.tables[(table.db, table.name)]

    # -- loading -----------------------------------------------------------
    def load(self, spec, translate_view=None):
        """Loads databases and tables from a JSON-like description:
        {"database": name, "comment": text, "tables": [{"name", "columns":
        [[name, type, comment]], "rows": [[...]], "type", "comment",
        "partitioned_by": [names], "view": HiveQL}]}."""
        db = spec["database"].lower()
        if db not in self.databases:
            self.create_database(db, spec.get("comment"))
        for t in spec.get("tables", []):
            cols = [Column(c[0].lower(), ht.parse(c[1]), c[2] if len(c) > 2 else None)
                    for c in t["columns"]]
            table = Table(db, t["name"].lower(), cols, t.get("type", "MANAGED_TABLE"),
                          t.get("comment"), t.get("owner", "hive"), t.get("view"),
                          [p.lower() for p in t.get("partitioned_by", [])],
                          t.get("temporary", False), t.get("synthetic"))
            if table.view_text is not None:
                table.table_type = "VIRTUAL_VIEW"
                self.add_view(table, translate_view(table.view_text, db))
            else:
                self.add_table(table, t.get("rows", []))

    def load_dir(self, path, translate_view=None):
        for name in sorted(os.listdir(path)):
            if name.endswith(".json"):
                with open(os.path.join(path, name), encoding="utf-8") as f:
                    spec = json.load(f)
                for one in spec if isinstance(spec, list) else [spec]:
                    self.load(one, translate_view)
