"""The built-in data: every Hive type with NULLs, empty strings, text beyond
the Basic Multilingual Plane, long strings and binaries, a few small tables
for demos and catalog calls, and the synthetic table for benchmarks.

Tests compare what clients receive with these very values (see
`expected_rows`), so changing a value here changes the expectation with it.
"""

import datetime

ALL_TYPES_COLUMNS = [
    ["id", "int", "row number"],
    ["c_boolean", "boolean"], ["c_tinyint", "tinyint"], ["c_smallint", "smallint"],
    ["c_int", "int"], ["c_bigint", "bigint"], ["c_float", "float"], ["c_double", "double"],
    ["c_decimal", "decimal(10,2)"], ["c_decimal_wide", "decimal(38,10)"],
    ["c_string", "string"], ["c_varchar", "varchar(20)"], ["c_char", "char(10)"],
    ["c_date", "date"], ["c_timestamp", "timestamp"], ["c_binary", "binary"],
    ["c_array", "array<int>"], ["c_map", "map<string,int>"],
    ["c_struct", "struct<a:int,b:string>"],
]

_SPECIAL_ROWS = [
    [1, True, 1, 1, 1, 1, 1.5, 1.5, "1.50", "1.5", "hello", "world", "abc",
     "2020-01-31", "2020-01-31 12:34:56.123", b"\x00\x01\x02", "[1,2,3]",
     '{"a":1,"b":2}', '{"a":1,"b":"x"}'],
    [2] + [None] * 18,
    [3, False, -128, -32768, -2147483648, -9223372036854775808, -1.1,
     -1.7976931348623157e308, "-99999999.99", "-9999999999999999999999999999.9999999999",
     "", "", "", "0001-01-01", "1970-01-01 00:00:00", b"", "[]", "{}",
     '{"a":null,"b":null}'],
    [4, True, 127, 32767, 2147483647, 9223372036854775807, 3.4028234663852886e38,
     1.7976931348623157e308, "99999999.99", "9999999999999999999999999999.9999999999",
     "\U0001F600\U0001D11E \u00fc", "\U0001D11Evarchar", "\u00fcmlaut", "9999-12-31",
     "9999-12-31 23:59:59.999999999", bytes(range(256)), "[null,-1]", '{"k":null}',
     '{"a":-1,"b":"\u00fc\U0001F600"}'],
    [5, False, 0, 0, 0, 0, 0.0, 0.0, "0", "0", " lead and trail ", "tab\there", "a",
     "2000-02-29", "2000-02-29 00:00:00.000001", b"\xff\xfe", "[0]", '{"":0}',
     '{"a":0,"b":""}'],
    [6, True, -1, -1, -1, -1, 0.1, 0.1, "0.01", "-0.0000000001",
     "quote's \"double\" \\ back\nslash", "line\nbreak", "x y", "1999-12-31",
     "1999-12-31 23:59:59.5", b"'\"\\\n", "[7]", '{"q\\"":7}', '{"a":7,"b":"q\\""}'],
]


def _generated_row(i):
    d = datetime.date(2001, 1, 1) + datetime.timedelta(days=i * 37)
    frac = "123456789"[:i % 10]
    row = [i, i % 2 == 0, (i * 37) % 256 - 128, (i * 1237) % 65536 - 32768,
           i * 100003 - 2000000, i * 1234567890123, i + 0.1, i / 7.0,
           "%d.%02d" % (i * 3, i % 100), "%d.%010d" % (i * 31, i * 7),
           "row %d %s" % (i, "\u00df" * (i % 5)), "v%d" % i, "c%d" % i, d.isoformat(),
           "2010-05-%02d %02d:%02d:%02d%s" % (i % 28 + 1, i % 24, i % 60, (i * 7) % 60,
                                              "." + frac if frac else ""),
           bytes([i % 256]) * (i % 7), "[%d,%d]" % (i, -i), '{"k%d":%d}' % (i, i),
           '{"a":%d,"b":"s%d"}' % (i, i)]
    # NULLs scattered so that each column's last NULL sits elsewhere.
    for j in range(1, len(row)):
        if (i * (j + 3)) % 11 == 0:
            row[j] = None
    return row


def all_types_rows():
    return [list(r) for r in _SPECIAL_ROWS] + [_generated_row(i) for i in range(7, 41)]


LONG_LENGTHS = [0, 1, 127, 128, 255, 256, 1000, 4095, 4096, 65535, 65536, 1000000]


def long_values_rows():
    rows = []
    pattern = "0123456789abcdefghij\u00e9\u20ac"
    for n, length in enumerate(LONG_LENGTHS, 1):
        text = (pattern * (length // len(pattern) + 1))[:length]
        rows.append([n, text, bytes(i % 256 for i in range(length))])
    rows.append([len(rows) + 1, "\U0001F600" * 70000, b"\x00" * 70000])
    rows.append([len(rows) + 1, None, None])
    return rows


def builtin(identity):
    """The databases of the built-in data, as Catalog.load takes them."""
    default = {
        "database": "default",
        "comment": "Default Hive database",
        "tables": [
            {"name": "all_types", "comment": "one column of every type",
             "columns": ALL_TYPES_COLUMNS, "rows": all_types_rows()},
            {"name": "long_values", "columns": [["id", "int"], ["s", "string"], ["b", "binary"]],
             "rows": long_values_rows()},
            {"name": "intervals",
             "columns": [["id", "int"], ["iym", "interval_year_month"],
                         ["idt", "interval_day_time"]],
             "rows": [[1, "1-2", "1 02:03:04.500000000"],
                      [2, "-0-3", "-0 00:00:00.000000001"],
                      [3, None, None],
                      [4, "100-11", "99 23:59:59.999999999"]]},
            {"name": "people", "comment": "demo people",
             "columns": [["id", "int"], ["name", "string", "full name"], ["city", "string"],
                         ["age", "int"], ["joined", "date"], ["score", "double"]],
             "rows": [[1, "Ada", "London", 36, "2015-03-01", 91.5],
                      [2, "Brian", "Berlin", 17, "2019-07-15", 78.25],
                      [3, "Chloé", "Paris", 29, "2018-11-30", None],
                      [4, "Dmitri", None, 44, "2012-01-09", 66.0],
                      [5, "Eun-ji", "Seoul", 15, None, 88.75],
                      [6, "Farid", "Cairo", 52, "2010-06-21", 70.0],
                      [7, "Gró", "Reykjavík", 33, "2021-02-14", 99.0],
                      [8, "Hiro", "Tokyo", 28, "2016-09-09", 85.5]]},
            {"name": "empty_table", "columns": [["id", "int"], ["s", "string"]], "rows": []},
            {"name": "v_adults", "type": "VIRTUAL_VIEW",
             "columns": [["id", "int"], ["name", "string"], ["age", "int"]],
             "view": "SELECT id, name, age FROM people WHERE age >= 18"},
        ],
    }
    sales = {
        "database": "sales",
        "comment": "orders and customers",
        "tables": [
            {"name": "customers",
             "columns": [["id", "int"], ["name", "string"],
                         ["email", "varchar(64)", "contact address"]],
             "rows": [[1, "Acme", "ops@acme.example"], [2, "Globex", None],
                      [3, "Initech", "it@initech.example"]]},
            {"name": "orders", "type": "EXTERNAL_TABLE", "comment": "orders by day",
             "columns": [["order_id", "bigint"], ["customer_id", "int"],
                         ["amount", "decimal(12,2)"], ["ordered_at", "timestamp"],
                         ["status", "varchar(16)"], ["dt", "string"]],
             "partitioned_by": ["dt"],
             "rows": [[1001, 1, "250.00", "2023-04-01 09:30:00", "shipped", "2023-04-01"],
                      [1002, 2, "19.99", "2023-04-01 17:05:11.25", "open", "2023-04-01"],
                      [1003, 1, "1200.5", "2023-04-02 08:00:00", "cancelled", "2023-04-02"]]},
        ],
    }
    bench = {
        "database": "bench",
        "comment": "synthetic data for benchmarks",
        "tables": [{"name": "synthetic", "columns": SYNTHETIC_COLUMNS,
                    "synthetic": {"rows": identity.synthetic_rows}}],
    }
    specs = [default, sales, bench]
    if identity.is_spark:
        specs.append({"database": "global_temp", "tables": [
            {"name": "gv_people", "temporary": True,
             "columns": [["id", "int"], ["name", "string"]],
             "view": "SELECT id, name FROM default.people"}]})
    return specs


# ---- the synthetic table --------------------------------------------------
# Row r (0-based) has id r + 1; every other value depends on r % PERIOD only,
# so that fetch blocks repeat and can be serialised once and reused.

PERIOD = 10000

SYNTHETIC_COLUMNS = [
    ["id", "bigint"], ["i", "int"], ["d", "double"], ["flag", "boolean"],
    ["s", "string"], ["dt", "date"], ["amount", "decimal(12,2)"], ["n", "int"],
]

_EPOCH = datetime.date(2000, 1, 1)


def synthetic_row(r):
    """Row r in storage form (what SQLite would hold)."""
    k = r % PERIOD
    return (r + 1, (k * 7) % 100000 - 50000, k * 0.25, 1 if k % 3 == 0 else 0,
            "text-%d" % k, (_EPOCH + datetime.timedelta(days=k)).isoformat(),
            "%d.%02d" % ((k * 13) % 100000, k % 100), None if k % 10 == 9 else k)
