"""Hive column types: parsing of type texts, their TTypeId, the JDBC facts
that the metadata calls report, and how a stored value goes on the wire.

Values are kept in SQLite in a storage form (see catalog.py): integers for the
integral types and BOOLEAN, floats for FLOAT and DOUBLE, bytes for BINARY and
text for everything else, already written as Hive writes it except where the
server identity changes the text (TIMESTAMP, DECIMAL, CHAR).
"""

import decimal
import math
import struct

# TTypeId values of HiveServer2's IDL.
BOOLEAN, TINYINT, SMALLINT, INT, BIGINT, FLOAT, DOUBLE, STRING, TIMESTAMP, BINARY, \
    ARRAY, MAP, STRUCT, UNION, USER_DEFINED, DECIMAL, NULL, DATE, VARCHAR, CHAR, \
    INTERVAL_YEAR_MONTH, INTERVAL_DAY_TIME, TIMESTAMPLOCALTZ = range(23)

_NAME_TO_ID = {
    "boolean": BOOLEAN, "tinyint": TINYINT, "smallint": SMALLINT, "int": INT,
    "integer": INT, "bigint": BIGINT, "float": FLOAT, "double": DOUBLE,
    "double precision": DOUBLE, "real": DOUBLE, "string": STRING,
    "timestamp": TIMESTAMP, "binary": BINARY, "array": ARRAY, "map": MAP,
    "struct": STRUCT, "uniontype": UNION, "decimal": DECIMAL, "numeric": DECIMAL,
    "void": NULL, "date": DATE, "varchar": VARCHAR, "char": CHAR,
    "interval_year_month": INTERVAL_YEAR_MONTH, "interval_day_time": INTERVAL_DAY_TIME,
    "timestamp with local time zone": TIMESTAMPLOCALTZ,
}

# java.sql.Types of each TTypeId, as Hive's Type enum gives them.
_JDBC = {
    BOOLEAN: 16, TINYINT: -6, SMALLINT: 5, INT: 4, BIGINT: -5, FLOAT: 6, DOUBLE: 8,
    STRING: 12, TIMESTAMP: 93, BINARY: -2, ARRAY: 2003, MAP: 2000, STRUCT: 2002,
    UNION: 1111, USER_DEFINED: 1111, DECIMAL: 3, NULL: 0, DATE: 91, VARCHAR: 12,
    CHAR: 1, INTERVAL_YEAR_MONTH: 1111, INTERVAL_DAY_TIME: 1111, TIMESTAMPLOCALTZ: 1111,
}

# Upper-case names of Hive's Type enum (GetColumns TYPE_NAME, GetTypeInfo).
_UPPER = {
    BOOLEAN: "BOOLEAN", TINYINT: "TINYINT", SMALLINT: "SMALLINT", INT: "INT",
    BIGINT: "BIGINT", FLOAT: "FLOAT", DOUBLE: "DOUBLE", STRING: "STRING",
    TIMESTAMP: "TIMESTAMP", BINARY: "BINARY", ARRAY: "ARRAY", MAP: "MAP",
    STRUCT: "STRUCT", UNION: "UNIONTYPE", USER_DEFINED: "USER_DEFINED",
    DECIMAL: "DECIMAL", NULL: "VOID", DATE: "DATE", VARCHAR: "VARCHAR", CHAR: "CHAR",
    INTERVAL_YEAR_MONTH: "INTERVAL_YEAR_MONTH", INTERVAL_DAY_TIME: "INTERVAL_DAY_TIME",
    TIMESTAMPLOCALTZ: "TIMESTAMP WITH LOCAL TIME ZONE",
}

MAX_PRECISION = {TINYINT: 3, SMALLINT: 5, INT: 10, BIGINT: 19, FLOAT: 7, DOUBLE: 15,
                  DECIMAL: 38}
NUMERIC = frozenset(MAX_PRECISION)
INTEGRAL = frozenset((TINYINT, SMALLINT, INT, BIGINT))
COMPLEX = frozenset((ARRAY, MAP, STRUCT, UNION))

INT_MAX = 2147483647
DEFAULT_DECIMAL = (10, 0)


class TypeError_(ValueError):
    pass


class HiveType:
    """One Hive type: its TTypeId, qualifiers and the text Hive prints."""

    __slots__ = ("type_id", "name", "length", "precision", "scale")

    def __init__(self, type_id, name, length=None, precision=None, scale=None):
        self.type_id = type_id
        self.name = name
        self.length = length
        self.precision = precision
        self.scale = scale

    def __repr__(self):
        return "HiveType(%s)" % self.name

    def __eq__(self, other):
        return isinstance(other, HiveType) and self.name == other.name

    def __hash__(self):
        return hash(self.name)

    @property
    def upper_name(self):
        return _UPPER[self.type_id]

    @property
    def jdbc_type(self):
        return _JDBC[self.type_id]

    def qualifiers(self):
        """(characterMaximumLength, precision, scale) as GetResultSetMetadata
        sends them; None where the type has no such qualifier."""
        if self.type_id in (VARCHAR, CHAR):
            return {"characterMaximumLength": self.length}
        if self.type_id == DECIMAL:
            return {"precision": self.precision, "scale": self.scale}
        return None

    # JDBC facts of GetColumns, as Hive's TypeDescriptor computes them.
    def column_size(self):
        if self.type_id in NUMERIC:
            return self.precision if self.type_id == DECIMAL else MAX_PRECISION[self.type_id]
        if self.type_id in (STRING, BINARY):
            return INT_MAX
        if self.type_id in (CHAR, VARCHAR):
            return self.length
        if self.type_id == DATE:
            return 10
        if self.type_id == TIMESTAMP:
            return 29
        return None

    def decimal_digits(self):
        if self.type_id in INTEGRAL or self.type_id == BOOLEAN:
            return 0
        if self.type_id == FLOAT:
            return 7
        if self.type_id == DOUBLE:
            return 15
        if self.type_id == DECIMAL:
            return self.scale
        if self.type_id == TIMESTAMP:
            return 9
        return None

    def num_prec_radix(self):
        return 10 if self.type_id in NUMERIC else None


def _split_top(text, sep=","):
    parts, depth, cur = [], 0, []
    for ch in text:
        if ch in "<(":
            depth += 1
        elif ch in ">)":
            depth -= 1
        if ch == sep and depth == 0:
            parts.append("".join(cur))
            cur = []
        else:
            cur.append(ch)
    parts.append("".join(cur))
    return [p.strip() for p in parts]


def parse(text):
    """Parses a Hive type text such as "decimal(10,2)" or "map<string,int>"."""
    t = " ".join(text.strip().lower().split())
    if not t:
        raise TypeError_("empty type")
    for base in ("array", "map", "struct", "uniontype"):
        if t.startswith(base + "<") and t.endswith(">"):
            inner = t[len(base) + 1:-1]
            if base == "struct":
                fields = []
                for f in _split_top(inner):
                    name, _, ftype = f.partition(":")
                    if not ftype:
                        raise TypeError_("bad struct field %r" % f)
                    fields.append("%s:%s" % (name.strip(), parse(ftype).name))
                name = "struct<%s>" % ",".join(fields)
            else:
                members = [parse(m).name for m in _split_top(inner)]
                if (base == "array" and len(members) != 1) or (base == "map" and len(members) != 2):
                    raise TypeError_("bad %s type %r" % (base, text))
                name = "%s<%s>" % (base, ",".join(members))
            return HiveType(_NAME_TO_ID[base], name)
    base, _, args = t.partition("(")
    base = base.strip()
    params = []
    if args:
        if not args.endswith(")"):
            raise TypeError_("bad type %r" % text)
        try:
            params = [int(a) for a in args[:-1].split(",")]
        except ValueError:
            raise TypeError_("bad type parameters in %r" % text) from None
    if base not in _NAME_TO_ID:
        raise TypeError_("unknown type %r" % text)
    tid = _NAME_TO_ID[base]
    if tid in (VARCHAR, CHAR):
        if len(params) != 1 or params[0] < 1:
            raise TypeError_("%s needs a length" % base)
        return HiveType(tid, "%s(%d)" % (base, params[0]), length=params[0])
    if tid == DECIMAL:
        p, s = DEFAULT_DECIMAL
        if len(params) >= 1:
            p = params[0]
            s = params[1] if len(params) > 1 else 0
        if not (1 <= p <= 38 and 0 <= s <= p):
            raise TypeError_("bad decimal(%d,%d)" % (p, s))
        return HiveType(tid, "decimal(%d,%d)" % (p, s), precision=p, scale=s)
    if params:
        raise TypeError_("type %s takes no parameters" % base)
    canonical = {INT: "int", DOUBLE: "double", NULL: "void"}.get(tid, base)
    return HiveType(tid, canonical)


def sqlite_decl(htype):
    """The column type of the SQLite table that stores a Hive column; it
    decides SQLite's affinity, so that comparisons behave sensibly."""
    t = htype.type_id
    if t in INTEGRAL or t == BOOLEAN:
        return "INTEGER"
    if t in (FLOAT, DOUBLE):
        return "REAL"
    if t == BINARY:
        return "BLOB"
    if t == DECIMAL:
        # Stored as its text ("1.50") to keep every digit; compared as a
        # number, as Hive compares decimals, so that c_decimal = 1.5 holds.
        return "TEXT COLLATE %s" % DECIMAL_COLLATION
    return "TEXT"


DECIMAL_COLLATION = "HIVEDECIMAL"


def _decimal_key(text):
    try:
        v = decimal.Decimal(text)
        if v.is_finite():
            return (0, v, "")
    except decimal.InvalidOperation:
        pass
    return (1, 0, text)


def compare_decimal_text(a, b):
    """SQLite collation over decimal texts: by value, and texts that are not
    numbers after all numbers, by their characters."""
    x, y = _decimal_key(a), _decimal_key(b)
    return (x > y) - (x < y)


# ---- wire values ---------------------------------------------------------

def float32(v):
    """A FLOAT travels as the double that Java's float widening gives."""
    try:
        return struct.unpack("<f", struct.pack("<f", v))[0]
    except OverflowError:
        return math.copysign(math.inf, v)


def float_as_text(v):
    """A FLOAT sent as Double.valueOf(Float.toString(f)): the double nearest
    to the shortest decimal that reads back as the same float, so 0.1f
    arrives as 0.1 rather than 0.10000000149011612."""
    f = float32(v)
    if f == 0.0 or math.isinf(f) or math.isnan(f):
        return f
    # Outside [1e-3, 1e7) Java writes d.dddE±n with at least one digit after
    # the point, so at least two significant digits (1.4E-45, not 1E-45).
    first = 2 if abs(f) < 1e-3 or abs(f) >= 1e7 else 1
    for digits in range(first, 10):
        text = "%.*e" % (digits - 1, f)
        if float32(float(text)) == f:
            return float(text)
    return f


def _trim_fraction(frac, min_digits):
    frac = frac.rstrip("0")
    if len(frac) < min_digits:
        frac = frac + "0" * (min_digits - len(frac))
    return frac


def format_timestamp(text, style):
    """style "java": java.sql.Timestamp.toString (at least one fraction
    digit, ".0" for whole seconds); "hive3": no fraction for whole seconds."""
    date_time, dot, frac = text.partition(".")
    frac = _trim_fraction(frac[:9], 1 if style == "java" else 0)
    return date_time + ("." + frac if frac else "")


def format_decimal(text, scale, pad):
    """Hive 2.1 and later pad a decimal to its column's scale; older
    servers print it with trailing zeros removed."""
    neg = text.startswith("-")
    digits = text[1:] if neg else text
    whole, _, frac = digits.partition(".")
    whole = whole.lstrip("0") or "0"
    if pad:
        frac = (frac + "0" * scale)[:max(scale, 0)] if scale is not None else frac
    else:
        frac = frac.rstrip("0")
    out = whole + ("." + frac if frac else "")
    if neg and out.strip("0.") != "":
        out = "-" + out
    return out


class WireStyle:
    """How one server identity writes the values whose text differs: the
    TIMESTAMP text, DECIMAL padding, whether FLOAT goes as its text in
    row-wise results too (column-wise it always does), and the NULL bitmap
    ("hive" or "spark", see service.null_bitmap)."""

    def __init__(self, timestamp_style="java", pad_decimal=True, float_text_rows=False,
                 null_bitmap="hive"):
        self.timestamp_style = timestamp_style
        self.pad_decimal = pad_decimal
        self.float_text_rows = float_text_rows
        self.null_bitmap = null_bitmap


def to_wire(value, htype, style, columnar=True):
    """Turns a stored value into what the wire member holds, column-wise (V6
    and later) or row-wise; None stays None."""
    if value is None:
        return None
    t = htype.type_id
    if t == BOOLEAN:
        return bool(value)
    if t in INTEGRAL:
        return int(value)
    if t == FLOAT:
        if columnar or style.float_text_rows:
            return float_as_text(float(value))
        return float32(float(value))
    if t == DOUBLE:
        return float(value)
    if t == BINARY:
        data = bytes(value) if not isinstance(value, str) else value.encode("utf-8")
        # Before V6 Hive turns the bytes into a Java String (bad UTF-8 replaced).
        return data if columnar else data.decode("utf-8", "replace")
    if isinstance(value, bytes):
        value = value.decode("utf-8", "replace")
    value = str(value) if not isinstance(value, str) else value
    if t == CHAR:
        return value.ljust(htype.length)
    if t == TIMESTAMP:
        return format_timestamp(value, style.timestamp_style)
    if t == DECIMAL:
        return format_decimal(value, htype.scale, style.pad_decimal)
    return value


def python_type_of(values):
    """A Hive type for the values of an expression column that no table
    declares, as SQLite hands them back."""
    kinds = set(type(v) for v in values if v is not None)
    if not kinds:
        return parse("string")
    if kinds <= {int, bool}:
        ints = [v for v in values if v is not None]
        if all(-2147483648 <= v <= 2147483647 for v in ints):
            return parse("int")
        return parse("bigint")
    if kinds <= {int, float}:
        return parse("double")
    if kinds == {bytes}:
        return parse("binary")
    return parse("string")
