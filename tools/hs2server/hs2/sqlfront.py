"""HiveQL in front of SQLite.

Hive's own statements (SHOW, DESCRIBE, USE, SET, DDL) are answered from the
catalog in the shape the posed server gives them. Queries are rewritten for
SQLite: table names become the physical tables, Hive literals and quoting
become SQLite's, and each result column gets its Hive name and type from the
select list where it names a table column.
"""

import datetime
import re
import sqlite3

from . import hivetypes as ht
from .catalog import Column, HiveError, Table
from .errors import Errors


# ---- tokens ---------------------------------------------------------------

class Tok:
    __slots__ = ("kind", "text", "value", "start", "end", "line", "col")

    def __init__(self, kind, text, value, start, end, line, col):
        self.kind = kind      # id, qid, str, num, op, eof
        self.text = text
        self.value = value    # identifier (lower case), string value or number text
        self.start = start
        self.end = end
        self.line = line
        self.col = col

    def is_kw(self, *words):
        return self.kind == "id" and self.value in words

    def __repr__(self):
        return "Tok(%s %r)" % (self.kind, self.text)


_ESCAPES = {"0": "\0", "'": "'", '"': '"', "b": "\b", "n": "\n", "r": "\r", "t": "\t",
            "Z": "\x1a", "\\": "\\", "%": "\\%", "_": "\\_"}
_OPS = ("<=>", "<=", ">=", "<>", "!=", "==", "||")


class Lexer:
    def __init__(self, errors):
        self.errors = errors

    def tokens(self, sql):
        out = []
        i, n, line, line_start = 0, len(sql), 1, 0
        while i < n:
            c = sql[i]
            if c == "\n":
                line += 1
                line_start = i + 1
                i += 1
                continue
            if c.isspace():
                i += 1
                continue
            if sql.startswith("--", i):
                while i < n and sql[i] != "\n":
                    i += 1
                continue
            col = i - line_start
            if c.isalpha() or c == "_":
                j = i + 1
                while j < n and (sql[j].isalnum() or sql[j] in "_$"):
                    j += 1
                out.append(Tok("id", sql[i:j], sql[i:j].lower(), i, j, line, col))
                i = j
            elif c == "`":
                j, buf = i + 1, []
                while True:
                    if j >= n:
                        raise self.errors.parse(line, col, ["'%s'" % sql[i:i + 20]])
                    if sql[j] == "`":
                        if j + 1 < n and sql[j + 1] == "`":
                            buf.append("`")
                            j += 2
                            continue
                        break
                    buf.append(sql[j])
                    j += 1
                out.append(Tok("qid", sql[i:j + 1], "".join(buf).lower(), i, j + 1, line, col))
                i = j + 1
            elif c in "'\"":
                j, buf = i + 1, []
                while True:
                    if j >= n:
                        raise self.errors.parse(line, col, ["'<EOF>'"])
                    ch = sql[j]
                    if ch == "\\" and j + 1 < n:
                        # Hive's unescapeSQLString: \uXXXX, then an octal
                        # byte \[01][0-7][0-7], then the one-letter escapes.
                        if sql[j + 1] == "u" and j + 5 < n and \
                                all(x in "0123456789abcdefABCDEF" for x in sql[j + 2:j + 6]):
                            buf.append(chr(int(sql[j + 2:j + 6], 16)))
                            j += 6
                            continue
                        if j + 3 < n and sql[j + 1] in "01" and sql[j + 2] in "01234567" and \
                                sql[j + 3] in "01234567":
                            buf.append(chr(int(sql[j + 1:j + 4], 8)))
                            j += 4
                            continue
                        buf.append(_ESCAPES.get(sql[j + 1], sql[j + 1]))
                        j += 2
                        continue
                    if ch == c:
                        break
                    if ch == "\n":
                        line += 1
                        line_start = j + 1
                    buf.append(ch)
                    j += 1
                prev = out[-1] if out else None
                if prev is not None and prev.kind == "str":
                    # Hive's StringLiteral and stringLiteralSequence (Spark's
                    # STRING+ alike): literals that follow each other are one
                    # string, so 'O''Brien' reads as OBrien.
                    prev.value += "".join(buf)
                    prev.text = sql[prev.start:j + 1]
                    prev.end = j + 1
                else:
                    out.append(Tok("str", sql[i:j + 1], "".join(buf), i, j + 1, line, col))
                i = j + 1
            elif c.isdigit() or (c == "." and i + 1 < n and sql[i + 1].isdigit()):
                m = re.compile(r"(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?(BD|bd|[LSYlsy])?").match(sql, i)
                out.append(Tok("num", m.group(0), m.group(0), i, m.end(), line, col))
                i = m.end()
            else:
                for op in _OPS:
                    if sql.startswith(op, i):
                        break
                else:
                    op = c
                out.append(Tok("op", op, op, i, i + len(op), line, col))
                i += len(op)
        out.append(Tok("eof", "", "<EOF>", n, n, line, n - line_start))
        return out


def _unhex(text):
    """Hive's unhex: the bytes of a text of hexadecimal digits, NULL when it
    holds anything else."""
    if text is None:
        return None
    if isinstance(text, bytes):
        text = text.decode("latin-1")
    try:
        return bytes.fromhex(text) if len(text) % 2 == 0 else bytes.fromhex("0" + text)
    except ValueError:
        return None


def near(toks, i):
    return ["'%s'" % (t.text if t.kind != "eof" else "<EOF>") for t in toks[i:i + 3]] + \
        ["'<EOF>'"] * max(0, 3 - len(toks[i:i + 3]))


def sqlite_string(value):
    if "\0" in value:
        # SQLite's text ends at a NUL: such a value travels as its bytes.
        return "CAST(X'%s' AS TEXT)" % value.encode("utf-8", "surrogatepass").hex()
    return "'" + value.replace("'", "''") + "'"


def sqlite_ident(value):
    return '"' + value.replace('"', '""') + '"'


def hive_like(pattern):
    """SHOW ... LIKE patterns: '*' any text, '|' alternatives, no case."""
    alts = [re.escape(p.strip()).replace("\\*", ".*") for p in pattern.split("|")]
    return re.compile("^(?:%s)$" % "|".join(alts), re.IGNORECASE)


def jdbc_like(pattern):
    """Metadata-call patterns: '%' and '_' as in JDBC, no case; None matches all."""
    if pattern is None or pattern == "" or pattern == "*":
        return re.compile(".*", re.S)
    out = []
    i = 0
    while i < len(pattern):
        ch = pattern[i]
        if ch == "\\" and i + 1 < len(pattern):
            out.append(re.escape(pattern[i + 1]))
            i += 2
            continue
        out.append(".*" if ch in "%*" else "." if ch == "_" else re.escape(ch))
        i += 1
    return re.compile("^%s$" % "".join(out), re.IGNORECASE | re.S)


# ---- results --------------------------------------------------------------

class Result:
    """What a statement gives: columns as (name, HiveType, comment) and rows in
    storage form; `columns` None means no result set."""

    def __init__(self, columns=None, rows=None, synthetic=None):
        self.columns = columns
        self.rows = rows if rows is not None else []
        self.synthetic = synthetic   # (table, column indexes, row limit)


def string_result(names, rows):
    return Result([(n, ht.parse("string"), None) for n in names], rows)


_CLAUSE_END = {"where", "group", "order", "limit", "having", "union", "sort", "cluster",
               "distribute", "window", "lateral", "join", "on", "left", "right", "inner",
               "outer", "full", "cross", "semi", "anti", "as", "from", "select", "intersect",
               "except", "minus", "natural", "using", "tablesample"}
_NOT_ALIAS = {"end", "null", "true", "false", "distinct", "all", "from", "and", "or", "not",
              "is", "in", "like", "between", "then", "else", "when", "case"}
_SQLITE_TYPES = {"string": "TEXT", "varchar": "TEXT", "char": "TEXT", "int": "INTEGER",
                 "integer": "INTEGER", "bigint": "INTEGER", "smallint": "INTEGER",
                 "tinyint": "INTEGER", "boolean": "INTEGER", "double": "REAL", "float": "REAL",
                 "decimal": "NUMERIC", "date": "TEXT", "timestamp": "TEXT", "binary": "BLOB"}
_FUNC_RENAMES = {"nvl": "ifnull", "substring": "substr", "lcase": "lower", "ucase": "upper",
                 "if": "iif", "pmod": "hs2_pmod"}
_STRING_FUNCS = {"concat", "upper", "lower", "ucase", "lcase", "substr", "substring", "trim",
                 "ltrim", "rtrim", "version", "current_database", "current_user", "replace",
                 "concat_ws", "lpad", "rpad", "reverse"}


class SelectItem:
    def __init__(self, toks, index):
        self.toks = toks
        self.index = index
        self.alias = None
        self.star = None        # "" for *, alias for x.*
        self.column = None      # (qualifier or None, name)


def split_top(toks, a, b, sep=","):
    parts, depth, start = [], 0, a
    for i in range(a, b):
        t = toks[i]
        if t.kind == "op" and t.text == "(":
            depth += 1
        elif t.kind == "op" and t.text == ")":
            depth -= 1
        elif depth == 0 and t.kind == "op" and t.text == sep:
            parts.append((start, i))
            start = i + 1
    parts.append((start, b))
    return parts


class Frontend:
    def __init__(self, catalog, identity):
        self.catalog = catalog
        self.identity = identity
        self.errors = Errors(identity)
        self.lexer = Lexer(self.errors)
        self.session = None
        db = catalog.db
        db.create_function("version", 0, self._fn_version)
        db.create_function("current_database", 0, lambda: self.session.database if self.session else "default")
        db.create_function("current_user", 0, lambda: self.session.user if self.session else "anonymous")
        db.create_function("concat", -1, lambda *a: None if any(x is None for x in a)
                           else "".join(x.decode("utf-8", "replace") if isinstance(x, bytes)
                                        else str(x) for x in a))
        db.create_function("hs2_pmod", 2, lambda a, b: None if a is None or not b else a % b)
        db.create_function("unhex", 1, _unhex)
        # Test hook: the operations of the asking session the server still
        # holds open (the asking statement not counted).
        db.create_function("hs2_open_operations", 0,
                           lambda: len(self.session.operations) if self.session else 0)

    def _fn_version(self):
        return self.identity.version_fn

    # -- entry ---------------------------------------------------------------
    def execute(self, session, sql):
        """Runs one statement for a session; returns a Result or raises HiveError."""
        toks = self.lexer.tokens(sql)
        if toks[0].kind == "eof":
            raise self.errors.parse(1, 0, near(toks, 0))
        semi = [i for i, t in enumerate(toks) if t.kind == "op" and t.text == ";"]
        if semi:
            t = toks[semi[0]]
            raise self.errors.parse(t.line, t.col, near(toks, semi[0]))
        with self.catalog.lock:
            self.session = session
            try:
                return self._dispatch(session, sql, toks)
            finally:
                self.session = None

    def _dispatch(self, session, sql, toks):
        t0 = toks[0]
        if t0.is_kw("select", "with") or (t0.kind == "op" and t0.text == "("):
            return self.query(session, sql, toks)
        if t0.is_kw("show"):
            return self.show(session, toks)
        if t0.is_kw("describe", "desc"):
            return self.describe(session, toks)
        if t0.is_kw("use"):
            name = self._name(toks, 1)
            if toks[2].kind != "eof":
                raise self.errors.parse(toks[2].line, toks[2].col, near(toks, 2))
            if name not in self.catalog.databases:
                raise self.errors.database_not_found(name)
            session.database = name
            return Result()
        if t0.is_kw("set"):
            return self.set_stmt(session, sql, toks)
        if t0.is_kw("create"):
            return self.create(session, sql, toks)
        if t0.is_kw("drop"):
            return self.drop(session, toks)
        if t0.is_kw("insert"):
            return self.insert(session, sql, toks)
        if t0.is_kw("truncate"):
            i = 2 if toks[1].is_kw("table") else 1
            table, _ = self._table_at(session, toks, i)
            self.catalog.db.execute("DELETE FROM %s" % table.physical)
            return Result()
        raise self.errors.parse(t0.line, t0.col, near(toks, 0))

    def _name(self, toks, i):
        t = toks[i]
        if t.kind not in ("id", "qid"):
            raise self.errors.parse(t.line, t.col, near(toks, i))
        return t.value

    def _qualified(self, session, toks, i):
        """[db.]name at i; returns (db, name, next index)."""
        first = self._name(toks, i)
        if toks[i + 1].kind == "op" and toks[i + 1].text == ".":
            return first, self._name(toks, i + 2), i + 3
        return session.database, first, i + 1

    def _lookup(self, session, db, name, qualified):
        """A session's temporary view hides a table of the same unqualified name."""
        if not qualified:
            temp = getattr(session, "temp_views", {}).get(name)
            if temp is not None:
                return temp
        return self.catalog.get_table(db, name)

    def _table_at(self, session, toks, i):
        db, name, j = self._qualified(session, toks, i)
        table = self._lookup(session, db, name, j == i + 3)
        if table is None:
            shown = name if db == session.database else "%s.%s" % (db, name)
            raise self.errors.table_not_found(shown, toks[i].line, toks[i].col)
        return table, j

    # -- SET -------------------------------------------------------------------
    def set_stmt(self, session, sql, toks):
        rest = sql[toks[1].start:].strip() if toks[1].kind != "eof" else ""
        if not rest:
            return string_result(["set"], [("%s=%s" % kv,) for kv in sorted(session.conf.items())])
        key, eq, value = rest.partition("=")
        key = key.strip()
        if not eq:
            if key in session.conf:
                return string_result(["set"], [("%s=%s" % (key, session.conf[key]),)])
            return string_result(["set"], [("%s is undefined" % key,)])
        session.set_conf(key, value.strip())
        return Result()

    # -- SHOW ------------------------------------------------------------------
    def show(self, session, toks):
        t1 = toks[1]
        if t1.is_kw("databases", "schemas"):
            pattern = self._like(toks, 2)
            names = [d for d in sorted(self.catalog.databases) if d != "global_temp"
                     and (pattern is None or pattern.match(d))]
            col = "namespace" if self.identity.is_spark else "database_name"
            return string_result([col], [(n,) for n in names])
        if t1.is_kw("tables", "views"):
            db, i = session.database, 2
            if toks[2].is_kw("in", "from"):
                db, i = self._name(toks, 3), 4
            if db not in self.catalog.databases:
                raise self.errors.database_not_found(db)
            if db in (session.faults.value("refuse-tables") or ()):
                raise self.errors.other("Permission denied: user may not list the tables of %s" % db)
            pattern = self._like(toks, i)
            tables = [t for t in self.catalog.tables_in(db)
                      if (pattern is None or pattern.match(t.name))
                      and (not t1.is_kw("views") or t.is_view)]
            if self.identity.is_spark:
                temps = [t for n, t in sorted(session.temp_views.items())
                         if pattern is None or pattern.match(n)]
                return Result([("database", ht.parse("string"), None),
                               ("tableName", ht.parse("string"), None),
                               ("isTemporary", ht.parse("boolean"), None)],
                              [(t.db, t.name, 1 if t.temporary else 0) for t in tables + temps])
            return string_result(["tab_name"], [(t.name,) for t in tables])
        if t1.is_kw("columns"):
            i = 3 if toks[2].is_kw("in", "from") else 2
            table, _ = self._table_at(session, toks, i)
            return string_result(["field"], [(c.name,) for c in table.columns])
        raise self.errors.parse(t1.line, t1.col, near(toks, 1))

    def _like(self, toks, i):
        if toks[i].is_kw("like"):
            i += 1
        if toks[i].kind == "str":
            return hive_like(toks[i].value)
        if toks[i].kind != "eof":
            raise self.errors.parse(toks[i].line, toks[i].col, near(toks, i))
        return None

    # -- DESCRIBE --------------------------------------------------------------
    def describe(self, session, toks):
        i, formatted = 1, False
        if toks[1].is_kw("database", "schema"):
            name = self._name(toks, 2 + (1 if toks[2].is_kw("extended") else 0))
            db = self.catalog.databases.get(name)
            if db is None:
                raise self.errors.database_not_found(name)
            return string_result(
                ["db_name", "comment", "location", "owner_name", "owner_type", "parameters"],
                [(db.name, db.comment or "", "hdfs://localhost:9000/user/hive/warehouse/%s.db"
                  % db.name, db.owner, "USER", "")])
        if toks[1].is_kw("formatted", "extended"):
            formatted, i = True, 2
        table, j = self._table_at(session, toks, i)
        if toks[j].kind != "eof":
            raise self.errors.parse(toks[j].line, toks[j].col, near(toks, j))
        names = ("col_name", "data_type", "comment")
        rows = describe_rows(table, formatted, self.identity)
        return string_result(names, rows)

    # -- DDL and DML -------------------------------------------------------------
    def create(self, session, sql, toks):
        i = 1
        external = temporary = False
        while toks[i].is_kw("external", "temporary", "global", "or", "replace"):
            external |= toks[i].value == "external"
            temporary |= toks[i].value == "temporary"
            i += 1
        if toks[i].is_kw("database", "schema"):
            i += 1
            if_not = toks[i].is_kw("if")
            if if_not:
                i += 3
            name = self._name(toks, i)
            comment = toks[i + 2].value if toks[i + 1].is_kw("comment") and toks[i + 2].kind == "str" else None
            self.catalog.create_database(name, comment, if_not)
            return Result()
        kind = toks[i]
        if not kind.is_kw("table", "view"):
            raise self.errors.parse(kind.line, kind.col, near(toks, i))
        i += 1
        if_not = toks[i].is_kw("if")
        if if_not:
            i += 3
        db, name, i = self._qualified(session, toks, i)
        if temporary and kind.is_kw("view") and self.identity.is_spark:
            return self._temp_view(session, sql, toks, name, i)
        if db not in self.catalog.databases:
            raise self.errors.database_not_found(db)
        if self.catalog.get_table(db, name) is not None:
            if if_not:
                return Result()
            raise self.errors.already_exists("%s.%s" % (db, name))
        if kind.is_kw("view") or toks[i].is_kw("as"):
            if not toks[i].is_kw("as"):
                raise self.errors.parse(toks[i].line, toks[i].col, near(toks, i))
            select_sql = sql[toks[i + 1].start:]
            res = self.query(session, select_sql, self.lexer.tokens(select_sql))
            cols = [Column(n.split(".")[-1].lower(), t, None) for n, t, _ in res.columns]
            if kind.is_kw("view"):
                table = Table(db, name, cols, "VIRTUAL_VIEW", view_text=select_sql,
                              temporary=temporary)
                self.catalog.add_view(table, self.translate_view(select_sql, db))
            else:
                self.catalog.add_table(Table(db, name, cols))
                if res.rows:
                    marks = ",".join("?" * len(cols))
                    self.catalog.db.executemany(
                        "INSERT INTO %s VALUES (%s)" % (Table(db, name, cols).physical, marks),
                        res.rows)
            return Result()
        if not (toks[i].kind == "op" and toks[i].text == "("):
            raise self.errors.parse(toks[i].line, toks[i].col, near(toks, i))
        close = self._matching(toks, i)
        cols = []
        for a, b in split_top(toks, i + 1, close):
            if b <= a:
                raise self.errors.parse(toks[a].line, toks[a].col, near(toks, a))
            cname = self._name(toks, a)
            end = b
            comment = None
            for k in range(a + 1, b):
                if toks[k].is_kw("comment") and k + 1 < b and toks[k + 1].kind == "str":
                    end, comment = k, toks[k + 1].value
                    break
            type_text = sql[toks[a + 1].start:toks[end - 1].end]
            try:
                cols.append(Column(cname, ht.parse(type_text), comment))
            except ht.TypeError_:
                raise self.errors.parse(toks[a + 1].line, toks[a + 1].col, near(toks, a + 1)) from None
        comment = None
        for k in range(close + 1, len(toks) - 1):
            if toks[k].is_kw("comment") and toks[k + 1].kind == "str":
                comment = toks[k + 1].value
                break
        table = Table(db, name, cols, "EXTERNAL_TABLE" if external else "MANAGED_TABLE",
                      comment, owner=session.user, temporary=temporary)
        self.catalog.add_table(table)
        return Result()

    def _temp_view(self, session, sql, toks, name, i):
        """Spark's session-local temporary view: listed by SHOW TABLES under the
        database "" and found by its bare name."""
        if not toks[i].is_kw("as"):
            raise self.errors.parse(toks[i].line, toks[i].col, near(toks, i))
        select_sql = sql[toks[i + 1].start:]
        res = self.query(session, select_sql, self.lexer.tokens(select_sql))
        cols = [Column(n.split(".")[-1].lower(), t, None) for n, t, _ in res.columns]
        old = session.temp_views.pop(name, None)
        if old is not None:
            self.catalog.drop_table(old)
        table = Table("", name, cols, "VIRTUAL_VIEW", view_text=select_sql, temporary=True)
        table.physical_name = sqlite_ident("tmp.%s.%s" % (session.guid.hex(), name))
        self.catalog.add_view(table, self.translate_view(select_sql, session.database, session), False)
        session.temp_views[name] = table
        return Result()

    def drop(self, session, toks):
        kind = toks[1]
        i = 2
        if_exists = toks[i].is_kw("if")
        if if_exists:
            i += 2
        if kind.is_kw("database", "schema"):
            name = self._name(toks, i)
            if name not in self.catalog.databases:
                if if_exists:
                    return Result()
                raise self.errors.database_not_found(name)
            self.catalog.drop_database(name, toks[i + 1].is_kw("cascade"))
            return Result()
        if not kind.is_kw("table", "view"):
            raise self.errors.parse(kind.line, kind.col, near(toks, 1))
        db, name, j = self._qualified(session, toks, i)
        table = self._lookup(session, db, name, j == i + 3)
        if table is not None and table.db == "" and table.temporary:
            session.temp_views.pop(name, None)
        if table is None:
            if if_exists:
                return Result()
            raise self.errors.table_not_found(name, toks[i].line, toks[i].col)
        self.catalog.drop_table(table)
        return Result()

    def insert(self, session, sql, toks):
        i = 1
        overwrite = toks[i].is_kw("overwrite")
        if not toks[i].is_kw("into", "overwrite"):
            raise self.errors.parse(toks[i].line, toks[i].col, near(toks, i))
        i += 1
        if toks[i].is_kw("table"):
            i += 1
        table, i = self._table_at(session, toks, i)
        if table.is_view or table.synthetic is not None:
            raise self.errors.other("Line %d:%d Cannot insert into target table because it is "
                                    "a view or read-only: %s" % (toks[1].line, toks[1].col, table.name))
        target = list(table.columns)
        if toks[i].kind == "op" and toks[i].text == "(":
            close = self._matching(toks, i)
            names = [self._name(toks, a) for a, _ in split_top(toks, i + 1, close)]
            target = []
            for n in names:
                c = table.column(n)
                if c is None:
                    raise self.errors.column_not_found(n, toks[i].line, toks[i].col,
                                                       [x.name for x in table.columns])
                target.append(c)
            i = close + 1
        if toks[i].is_kw("values"):
            rows = []
            for a, b in split_top(toks, i + 1, len(toks) - 1):
                if not (toks[a].kind == "op" and toks[a].text == "(") or self._matching(toks, a) != b - 1:
                    raise self.errors.parse(toks[a].line, toks[a].col, near(toks, a))
                exprs = split_top(toks, a + 1, b - 1)
                if len(exprs) != len(target):
                    raise self.errors.semantic(
                        10044, "42000",
                        "Line %d:%d Cannot insert into target table because column number/types "
                        "are different '%s': Table insclause-0 has %d columns, but query has %d "
                        "columns." % (toks[1].line, toks[1].col, table.name, len(target), len(exprs)),
                        "Cannot write to '%s', not enough data columns" % table.name)
                rows.append("(%s)" % ", ".join(self._rewrite(session, sql, toks, x, y, {})[0]
                                               for x, y in exprs))
            select = "VALUES " + ", ".join(rows)
        else:
            sub = sql[toks[i].start:]
            select = self.translate_view(sub, session.database, session)
        cols = ", ".join(sqlite_ident(c.name) for c in target)
        try:
            if overwrite:
                self.catalog.db.execute("DELETE FROM %s" % table.physical)
            self.catalog.db.execute("INSERT INTO %s (%s) %s" % (table.physical, cols, select))
        except sqlite3.Error as e:
            raise self._sqlite_error(e, toks) from None
        return Result()

    def _matching(self, toks, i):
        depth = 0
        for k in range(i, len(toks)):
            t = toks[k]
            if t.kind == "op" and t.text == "(":
                depth += 1
            elif t.kind == "op" and t.text == ")":
                depth -= 1
                if depth == 0:
                    return k
        raise self.errors.parse(toks[-1].line, toks[-1].col, ["'<EOF>'"] * 3)

    # -- queries ---------------------------------------------------------------
    def translate_view(self, sql, database, session=None):
        """SQLite text of a HiveQL query, resolved against database."""
        class _S:
            temp_views = getattr(session, "temp_views", {})
        s = _S()
        s.database = database
        toks = self.lexer.tokens(sql)
        text, _ = self._rewrite(s, sql, toks, 0, len(toks) - 1, {})
        return text

    def _rewrite(self, session, sql, toks, a, b, refs):
        """SQLite text for toks[a:b]; fills refs {alias: table} for the table
        references met at the top level."""
        ctes = set()
        for k in range(a, b - 2):
            if toks[k].kind in ("id", "qid") and toks[k + 1].is_kw("as") and \
                    toks[k + 2].kind == "op" and toks[k + 2].text == "(" and \
                    (k == a + 1 or (toks[k - 1].kind == "op" and toks[k - 1].text == ",")):
                ctes.add(toks[k].value)
        out, pos = [], toks[a].start if a < len(toks) else len(sql)
        depth = 0
        cast_depths = []
        in_from = None
        k = a
        synthetic = []

        def emit(text, t_start, t_end):
            nonlocal pos
            out.append(sql[pos:t_start])
            out.append(text)
            pos = t_end

        while k < b:
            t = toks[k]
            if t.kind == "op" and t.text == "(":
                depth += 1
            elif t.kind == "op" and t.text == ")":
                if cast_depths and cast_depths[-1] == depth:
                    cast_depths.pop()
                depth -= 1
                if in_from is not None and depth < in_from:
                    in_from = None
            if t.is_kw("from", "join") or (in_from == depth and t.kind == "op" and t.text == ","):
                if t.is_kw("from"):
                    in_from = depth
                nt = toks[k + 1]
                if nt.kind in ("id", "qid") and not nt.is_kw("select"):
                    k = self._table_ref(session, sql, toks, k + 1, b, depth, refs, ctes, emit,
                                        synthetic)
                    continue
                k += 1
                continue
            if t.is_kw("where", "group", "order", "limit", "having", "union", "sort",
                       "cluster", "distribute", "window") and in_from == depth:
                in_from = None
            if t.is_kw("cast") and toks[k + 1].kind == "op" and toks[k + 1].text == "(":
                cast_depths.append(depth + 1)
            elif t.is_kw("as") and cast_depths and cast_depths[-1] == depth:
                # CAST(x AS hive_type): SQLite's affinity names
                end = k + 1
                while end < b and not (toks[end].kind == "op" and toks[end].text == ")" and
                                       self._depth_at(toks, k, end) == 0):
                    end += 1
                base = toks[k + 1].value
                emit("AS %s" % _SQLITE_TYPES.get(base, "TEXT"), t.start, toks[end - 1].end)
                k = end
                continue
            if t.kind == "qid":
                emit(sqlite_ident(t.value), t.start, t.end)
            elif t.kind == "str":
                emit(sqlite_string(t.value), t.start, t.end)
            elif t.kind == "num" and t.text[-1:].isalpha() and t.text[-1] not in "eE":
                emit(re.sub(r"(BD|bd|[LSYlsy])$", "", t.text), t.start, t.end)
            elif t.kind == "op" and t.text == "<=>":
                emit(" IS ", t.start, t.end)
            elif t.is_kw("div"):
                emit("/", t.start, t.end)
            elif t.kind == "id" and toks[k + 1].kind == "op" and toks[k + 1].text == "(" and \
                    t.value in _FUNC_RENAMES:
                emit(_FUNC_RENAMES[t.value], t.start, t.end)
            elif t.kind == "id" and t.value == "version" and toks[k + 1].kind == "op" and \
                    toks[k + 1].text == "(" and self.identity.version_fn is None:
                raise self.errors.function_not_found("version", t.line, t.col)
            k += 1
        end = toks[b].start if b < len(toks) else len(sql)
        out.append(sql[pos:end])
        if synthetic:
            refs["__synthetic__"] = synthetic
        return "".join(out), ctes

    @staticmethod
    def _depth_at(toks, a, b):
        d = 0
        for k in range(a, b):
            if toks[k].kind == "op" and toks[k].text == "(":
                d += 1
            elif toks[k].kind == "op" and toks[k].text == ")":
                d -= 1
        return d

    def _table_ref(self, session, sql, toks, k, b, depth, refs, ctes, emit, synthetic):
        first = toks[k]
        if toks[k + 1].kind == "op" and toks[k + 1].text == "." and toks[k + 2].kind in ("id", "qid"):
            db, name, nxt = first.value, toks[k + 2].value, k + 3
        elif first.value in ctes:
            alias, nxt = first.value, k + 1
            if toks[nxt].is_kw("as"):
                nxt += 1
            if toks[nxt].kind in ("id", "qid") and toks[nxt].value not in _CLAUSE_END:
                alias, nxt = toks[nxt].value, nxt + 1
            if depth == 0:
                refs[alias] = None
            return nxt
        else:
            db, name, nxt = session.database, first.value, k + 1
        table = self._lookup(session, db, name, nxt == k + 3)
        if table is None:
            shown = name if nxt == k + 1 else "%s.%s" % (db, name)
            raise self.errors.table_not_found(shown, first.line, first.col)
        alias = None
        j = nxt
        if toks[j].is_kw("as"):
            j += 1
        if toks[j].kind in ("id", "qid") and toks[j].value not in _CLAUSE_END:
            alias = toks[j].value
            j += 1
        elif j != nxt:
            raise self.errors.parse(toks[j].line, toks[j].col, near(toks, j))
        if table.synthetic is not None:
            synthetic.append((table, k, j))
        text = table.physical if alias else "%s AS %s" % (table.physical, sqlite_ident(name))
        emit(text, first.start, toks[nxt - 1].end)
        if depth == 0:
            refs[alias or name] = table
        return nxt

    def query(self, session, sql, toks):
        refs = {}
        text, ctes = self._rewrite(session, sql, toks, 0, len(toks) - 1, refs)
        items = self._select_items(toks)
        synthetic = refs.pop("__synthetic__", None)
        if synthetic:
            return self._synthetic_query(toks, items, refs, synthetic)
        try:
            cur = self.catalog.db.execute(text)
            rows = cur.fetchall()
        except sqlite3.Error as e:
            raise self._sqlite_error(e, toks, refs) from None
        except OverflowError:
            raise self.errors.other("Arithmetic overflow") from None
        names = [d[0] for d in cur.description]
        columns = self._describe_result(items, refs, names, rows)
        return Result(columns, rows)

    def _select_items(self, toks):
        """The top-level select list of a query, or None when it is not a
        plain SELECT ... FROM."""
        depth, sel = 0, None
        for k, t in enumerate(toks):
            if t.kind == "op" and t.text == "(":
                depth += 1
            elif t.kind == "op" and t.text == ")":
                depth -= 1
            elif depth == 0 and t.is_kw("select"):
                sel = k
                break
        if sel is None:
            return None
        a = sel + 1
        if toks[a].is_kw("distinct", "all"):
            a += 1
        b, depth = a, 0
        while toks[b].kind != "eof":
            t = toks[b]
            if t.kind == "op" and t.text == "(":
                depth += 1
            elif t.kind == "op" and t.text == ")":
                depth -= 1
            elif depth == 0 and t.is_kw("from", "where", "group", "order", "limit", "union",
                                        "having", "sort", "cluster", "distribute"):
                break
            b += 1
        items = []
        for n, (x, y) in enumerate(split_top(toks, a, b)):
            if y <= x:
                raise self.errors.parse(toks[x].line, toks[x].col, near(toks, x))
            item = SelectItem(toks[x:y], n)
            it = item.toks
            if len(it) >= 2 and it[-1].kind in ("id", "qid") and it[-1].value not in _NOT_ALIAS:
                prev = it[-2]
                if prev.is_kw("as"):
                    item.alias = it[-1].value
                    it = it[:-2]
                elif prev.kind in ("id", "qid", "num", "str") or (prev.kind == "op" and prev.text == ")"):
                    if not (prev.kind == "op" and prev.text == "."):
                        item.alias = it[-1].value
                        it = it[:-1]
            item.toks = it
            if len(it) == 1 and it[0].kind == "op" and it[0].text == "*":
                item.star = ""
            elif len(it) == 3 and it[0].kind in ("id", "qid") and it[1].text == "." and it[2].text == "*":
                item.star = it[0].value
            elif len(it) == 1 and it[0].kind in ("id", "qid"):
                item.column = (None, it[0].value)
            elif len(it) == 3 and it[0].kind in ("id", "qid") and it[1].text == "." and \
                    it[2].kind in ("id", "qid"):
                item.column = (it[0].value, it[2].value)
            items.append(item)
        return items

    def _unique_names(self):
        """hive.resultset.use.unique.column.names (true by default in Hive)."""
        if not self.identity.qualify_result_columns:
            return False
        conf = getattr(self.session, "conf", {})
        return conf.get("hive.resultset.use.unique.column.names", "true").strip().lower() != "false"

    def _result_name(self, qual, name, alias):
        """A result column's name as SemanticAnalyzer.getColAlias and
        convertRowSchemaToResultSetSchema give it: an alias as written, a
        bare column bare, "t.col" (and "*", qual then being the table alias)
        as "t.col" while unique column names are on."""
        if alias:
            return alias
        if qual and self._unique_names():
            return "%s.%s" % (qual, name)
        return name

    def _describe_result(self, items, refs, names, rows):
        """(name, HiveType, comment) for each result column."""
        spark = self.identity.is_spark
        planned = []
        if items is not None:
            for item in items:
                if item.star is not None:
                    for alias, table in refs.items():
                        if item.star and alias != item.star:
                            continue
                        if table is None:
                            planned = None
                            break
                        for c in table.columns:
                            planned.append((self._result_name(alias, c.name, None), c.htype))
                    if planned is None:
                        break
                    continue
                if item.column is not None:
                    qual, cname = item.column
                    hit = None
                    for alias, table in refs.items():
                        if (qual is None or qual == alias) and table is not None and table.column(cname):
                            hit = (alias, table.column(cname))
                            break
                    if hit is None and qual is None and cname in ("true", "false"):
                        planned.append((item.alias or "_c%d" % item.index, ht.parse("boolean")))
                        continue
                    if hit is not None:
                        planned.append((self._result_name(qual, cname, item.alias), hit[1].htype))
                        continue
                    if qual is not None and qual in refs:
                        planned.append((self._result_name(qual, cname, item.alias), None))
                        continue
                name = item.alias or ("".join(t.text for t in item.toks).lower() if spark
                                      else "_c%d" % item.index)
                planned.append((name, self._expr_type(item.toks, refs)))
        if planned is None or len(planned) != len(names):
            planned = [(n.lower(), None) for n in names]
        out = []
        for idx, (name, htype) in enumerate(planned):
            if htype is None:
                htype = ht.python_type_of([r[idx] for r in rows])
            out.append((name, htype, None))
        return out

    def _expr_type(self, it, refs):
        if not it:
            return None
        t0 = it[0]
        if t0.is_kw("cast") and len(it) > 3 and it[-1].text == ")":
            depth = 0
            for k, t in enumerate(it):
                if t.text == "(":
                    depth += 1
                elif t.text == ")":
                    depth -= 1
                elif depth == 1 and t.is_kw("as"):
                    try:
                        return ht.parse(" ".join(x.text for x in it[k + 1:-1]).replace(" ( ", "(")
                                        .replace(" , ", ",").replace(" )", ")"))
                    except ht.TypeError_:
                        return None
        if len(it) == 1:
            if t0.kind == "str":
                return ht.parse("string")
            if t0.is_kw("true", "false"):
                return ht.parse("boolean")
            if t0.is_kw("null"):
                return ht.parse("void")
            if t0.kind == "num":
                txt = t0.text.lower()
                if txt.endswith("l"):
                    return ht.parse("bigint")
                if txt.endswith("s"):
                    return ht.parse("smallint")
                if txt.endswith("y"):
                    return ht.parse("tinyint")
                if "." in txt or "e" in txt or txt.endswith("bd"):
                    digits = txt.rstrip("bd")
                    if "e" in digits or not self.identity.pad_decimal_literal():
                        return ht.parse("double")
                    whole, _, frac = digits.partition(".")
                    p = max(len(whole.lstrip("0")) + len(frac), 1)
                    return ht.parse("decimal(%d,%d)" % (max(p, len(frac)), len(frac)))
                return None
        if t0.kind == "id" and len(it) > 2 and it[1].text == "(":
            fn = t0.value
            if fn == "count":
                return ht.parse("bigint")
            if fn in _STRING_FUNCS:
                return ht.parse("string")
            if fn in ("min", "max") and len(it) in (4, 6):
                col = (None, it[2].value) if len(it) == 4 else (it[2].value, it[4].value)
                for alias, table in refs.items():
                    if table is not None and (col[0] is None or col[0] == alias) and table.column(col[1]):
                        return table.column(col[1]).htype
        return None

    def _synthetic_query(self, toks, items, refs, synthetic):
        table, a, j = synthetic[0]
        limit = None
        ok = len(synthetic) == 1 and len(refs) == 1 and items is not None
        if ok and toks[j].is_kw("limit") and toks[j + 1].kind == "num" and toks[j + 2].kind == "eof":
            limit = int(toks[j + 1].text)
        elif toks[j].kind != "eof":
            ok = False
        if not ok:
            raise self.errors.other("The synthetic table %s.%s answers only SELECT <columns> "
                                    "FROM it [LIMIT n]" % (table.db, table.name))
        indexes, names = [], []
        alias = next(iter(refs))
        for item in items:
            if item.star is not None:
                indexes.extend(range(len(table.columns)))
                names.extend(self._result_name(alias, c.name, None) for c in table.columns)
                continue
            c = table.column(item.column[1]) if item.column else None
            if c is None:
                t = item.toks[0]
                raise self.errors.column_not_found(t.value, t.line, t.col,
                                                   ["%s.%s" % (alias, x.name) for x in table.columns])
            indexes.append(table.columns.index(c))
            names.append(self._result_name(item.column[0], c.name, item.alias))
        cols = [(name, table.columns[k].htype, None) for name, k in zip(names, indexes)]
        total = table.synthetic["rows"]
        if limit is not None:
            total = min(total, limit)
        return Result(cols, synthetic=(table, indexes, total))

    def _sqlite_error(self, e, toks, refs=None):
        msg = str(e)
        m = re.match(r"no such column: (.+)", msg)
        if m:
            name = m.group(1).split(".")[-1].lower()
            where = next((t for t in toks if t.kind in ("id", "qid") and t.value == name), toks[0])
            cands = []
            for alias, table in (refs or {}).items():
                if table is not None:
                    cands.extend("%s.%s" % (alias, c.name) for c in table.columns)
            return self.errors.column_not_found(name, where.line, where.col, cands)
        m = re.match(r"no such function: (.+)", msg)
        if m:
            name = m.group(1).lower()
            for k, t in enumerate(toks):
                if t.value in (name, next((a for a, b in _FUNC_RENAMES.items() if b == name), None)):
                    return self.errors.function_not_found(t.value, t.line, t.col)
            return self.errors.function_not_found(name, 1, 0)
        m = re.match(r'near "(.*)": syntax error', msg)
        if m:
            for k, t in enumerate(toks):
                if t.text == m.group(1):
                    return self.errors.parse(t.line, t.col, near(toks, k))
            return self.errors.parse(1, 0, near(toks, 0))
        if "syntax error" in msg or "incomplete input" in msg:
            return self.errors.parse(toks[-1].line, toks[-1].col, ["'<EOF>'"] * 3)
        return self.errors.other(msg)


# ---- DESCRIBE shapes ---------------------------------------------------------

def _pad(text, width=20):
    return text.ljust(width)


def _hive_date(ts):
    return datetime.datetime.utcfromtimestamp(ts).strftime("%a %b %d %H:%M:%S UTC %Y")


_HEADER = ("# col_name", "data_type", "comment")
# MetaDataFormatUtils.formatColumnsHeader of 1.2 and 2.3: "# " and each cell
# padded to 20 by formatOutput, whatever isOutputPadded says.
_PADDED_HEADER = ("# col_name            ", "data_type           ", "comment             ")


def describe_rows(table, formatted, identity):
    """DESCRIBE [FORMATTED] rows of (col_name, data_type, comment). The column
    rows are never padded: HiveServer2 turns isOutputPadded off."""
    spark = identity.is_spark
    parts = [c for c in table.columns if c.name in table.partition_columns]
    plain = [c for c in table.columns if c.name not in table.partition_columns]

    def col_row(c):
        comment = c.comment if c.comment is not None else (None if spark else "")
        return (c.name, c.htype.name, comment)

    if spark:
        # DescribeTableCommand: no header over the columns; the partition
        # section is "# Partition Information" and a header without empty rows.
        rows = [col_row(c) for c in table.columns]
        if parts:
            rows.append(("# Partition Information", "", ""))
            rows.append(_HEADER)
            rows.extend(col_row(c) for c in parts)
        return rows + _spark_details(table, identity) if formatted else rows

    blank = ("", None, None)
    if identity.describe_header == "padded":
        header = [_PADDED_HEADER, blank]      # formatColumnsHeader's empty line
    else:
        header = [_HEADER]                    # TextMetaDataTable row, unpadded
    rows = []
    if formatted:
        rows.extend(header)
    # DDLTask.describeTable adds the partition columns to the plain listing.
    rows.extend(col_row(c) for c in (plain if formatted else table.columns))
    if parts:
        rows += [blank, ("# Partition Information", None, None)] + header
        rows.extend(col_row(c) for c in parts)
    if not formatted:
        return rows
    return rows + _hive_details(table, identity)


def _hive_details(table, identity):
    def kv(k, v):
        return (_pad(k), _pad(v), None)

    def param(k, v):
        return ("", _pad(k), _pad(v))

    blank = ("", None, None)
    rows = [blank, ("# Detailed Table Information", None, None), kv("Database:", table.db)]
    if identity.owner_type:
        rows.append(kv("OwnerType:", "USER"))
    rows += [kv("Owner:", table.owner), kv("CreateTime:", _hive_date(table.create_time)),
             kv("LastAccessTime:", "UNKNOWN")]
    if identity.protect_mode:
        rows.append(kv("Protect Mode:", "None"))
    rows.append(kv("Retention:", "0"))
    if not table.is_view:
        rows.append(kv("Location:", "hdfs://localhost:9000/user/hive/warehouse/%s%s"
                       % ("" if table.db == "default" else table.db + ".db/", table.name)))
    rows.append(kv("Table Type:", table.table_type))
    rows.append(("Table Parameters:", None, None))
    if table.comment:
        rows.append(param("comment", table.comment))
    if table.table_type == "EXTERNAL_TABLE":
        rows.append(param("EXTERNAL", "TRUE"))
    rows.append(param("transient_lastDdlTime", str(table.create_time)))
    rows += [blank, ("# Storage Information", None, None)]
    if table.is_view:
        rows += [kv("SerDe Library:", "null"), kv("InputFormat:", "org.apache.hadoop.mapred."
                                                             "SequenceFileInputFormat")]
    else:
        rows += [kv("SerDe Library:", "org.apache.hadoop.hive.serde2.lazy.LazySimpleSerDe"),
                 kv("InputFormat:", "org.apache.hadoop.mapred.TextInputFormat")]
    rows += [kv("OutputFormat:", "org.apache.hadoop.hive.ql.io.HiveIgnoreKeyTextOutputFormat"),
             kv("Compressed:", "No"), kv("Num Buckets:", "-1"), kv("Bucket Columns:", "[]"),
             kv("Sort Columns:", "[]")]
    if not table.is_view:
        rows += [("Storage Desc Params:", None, None), param("serialization.format", "1")]
    if table.is_view:
        # MetaDataFormatUtils.getViewInfo: original and expanded text, and from
        # 3.x whether rewriting is enabled.
        values = (table.view_text, table.view_text, "No")
        rows += [blank, ("# View Information", None, None)]
        rows += [kv(k, v) for k, v in zip(identity.view_keys, values)]
    return rows


def _spark_details(table, identity):
    def kv(k, v):
        return (k, v, "")

    kind = {"MANAGED_TABLE": "MANAGED", "EXTERNAL_TABLE": "EXTERNAL",
            "VIRTUAL_VIEW": "VIEW"}[table.table_type]
    rows = [("", "", ""), ("# Detailed Table Information", "", ""), kv("Database", table.db),
            kv("Table", table.name), kv("Owner", table.owner),
            kv("Created Time", _hive_date(table.create_time)), kv("Last Access", "UNKNOWN"),
            kv("Created By", "Spark %s" % identity.version), kv("Type", kind)]
    if table.is_view:
        rows += [kv("View Text", table.view_text), kv("View Original Text", table.view_text)]
    else:
        rows.append(kv("Provider", "hive"))
    if table.comment:
        rows.append(kv("Comment", table.comment))
    rows.append(kv("Table Properties", "[transient_lastDdlTime=%d]" % table.create_time))
    if not table.is_view:
        rows += [kv("Location", "file:/user/hive/warehouse/%s%s"
                    % ("" if table.db == "default" else table.db + ".db/", table.name)),
                 kv("Serde Library", "org.apache.hadoop.hive.serde2.lazy.LazySimpleSerDe"),
                 kv("InputFormat", "org.apache.hadoop.mapred.TextInputFormat"),
                 kv("OutputFormat", "org.apache.hadoop.hive.ql.io.HiveIgnoreKeyTextOutputFormat"),
                 kv("Storage Properties", "[serialization.format=1]")]
        if table.partition_columns:
            rows.append(kv("Partition Provider", "Catalog"))
    return rows
