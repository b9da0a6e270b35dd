"""Reads an exported bulk file set back and compares it with the rows the
driver fetched through the driver manager.

Usage: bulk_files_check.py DATAFILE EXPECTED

EXPECTED is written by hs2_bulk_test.cpp: a line with the column count,
one line per column ("name<TAB>SQL type"), then for every value a line
"-" for NULL or the hexadecimal bytes of the value (character data in
UTF-8, binary data raw). The data file is parsed by the format's rules
here, independently of the driver's own reader, and the description with
xml.etree.
"""

import os
import sys
import xml.etree.ElementTree as ET

CHAR_TYPES = {1, 12, -1, -8, -9, -10}
BINARY_TYPES = {-2, -3, -4}
WORDS = {1: "CHAR", 12: "VARCHAR", -1: "LONGVARCHAR", -8: "UNICODE_CHAR", -9: "UNICODE_VARCHAR",
         -10: "UNICODE_LONGVARCHAR", -2: "BINARY", -3: "VARBINARY", -4: "LONGVARBINARY", -7: "BIT",
         4: "INTEGER", 5: "SMALLINT", -6: "TINYINT", -5: "BIGINT", 2: "DECIMAL", 3: "DECIMAL",
         6: "SINGLE_PRECISION", 7: "SINGLE_PRECISION", 8: "DOUBLE_PRECISION", 91: "DATE", 92: "TIME",
         93: "DATETIME"}


def fail(message):
    print(message)
    sys.exit(1)


def read_expected(path):
    with open(path, "rb") as f:
        lines = f.read().decode("utf-8").split("\n")
    count = int(lines[0])
    columns = [tuple(lines[1 + i].split("\t")) for i in range(count)]
    columns = [(name, int(t)) for name, t in columns]
    values = lines[1 + count:]
    if values and values[-1] == "":
        values.pop()
    rows = []
    for r in range(0, len(values), count):
        rows.append([None if v == "-" else bytes.fromhex(v) for v in values[r:r + count]])
    return columns, rows


def parse_data(data, base_dir):
    """Fields of every record: bytes, None for NULL, ('lob', name) for LOBs."""
    if not data.startswith(b"\xef\xbb\xbf"):
        fail("no UTF-8 byte-order mark")
    text = data[3:]
    lines = text.split(b"\n", 2)
    if len(lines) < 3 or not lines[0].startswith(b"// ") or len(lines[0]) != 22:
        fail("first comment line wrong: %r" % lines[:1])
    if not lines[1].startswith(b"// SELECT * FROM "):
        fail("second comment line wrong: %r" % lines[1])
    body = lines[2]
    records = []
    fields = []
    i = 0
    n = len(body)
    while i < n:
        if body[i:i + 1] == b'"':
            j = i + 1
            value = bytearray()
            while True:
                if j >= n:
                    fail("unclosed quote at %d" % i)
                if body[j:j + 1] == b'"':
                    if body[j + 1:j + 2] == b'"':
                        value += b'"'
                        j += 2
                        continue
                    j += 1
                    break
                value += body[j:j + 1]
                j += 1
            fields.append(bytes(value))
            i = j
        else:
            j = i
            while j < n and body[j:j + 1] not in (b",", b"\n"):
                j += 1
            raw = body[i:j]
            if raw == b"":
                fields.append(None)
            elif raw.startswith(b'{TW LOBFILE "'):
                name = raw[len(b'{TW LOBFILE "'):-2].decode()
                if raw[-2:] != b'"}' or "/" in name:
                    fail("bad LOB reference %r" % raw)
                with open(os.path.join(base_dir, name), "rb") as f:
                    fields.append(("lob", f.read()))
            else:
                fields.append(raw)
            i = j
        sep = body[i:i + 1]
        i += 1
        if sep == b"\n":
            records.append(fields)
            fields = []
        elif sep != b",":
            fail("bad separator %r at %d" % (sep, i))
    if fields:
        fail("last record without its delimiter")
    return records


def check_description(path, columns):
    with open(path, "rb") as f:
        raw = f.read()
    head = b'\xef\xbb\xbf<?xml version="1.0" encoding="utf-8"?>\n'
    if not raw.startswith(head) or len(head) != 42:
        fail("description does not start with its declaration")
    root = ET.fromstring(raw[3:])
    if root.tag != "table" or root.get("codepage") != "UTF-8":
        fail("document element %s %r" % (root.tag, root.attrib))
    rows = list(root)
    if len(rows) != 1 or rows[0].tag != "row":
        fail("table must hold one row")
    described = list(rows[0])
    if len(described) != len(columns):
        fail("%d described columns for %d" % (len(described), len(columns)))
    for element, (name, sql_type) in zip(described, columns):
        if element.text != name:
            fail("column name %r, expected %r" % (element.text, name))
        word = WORDS.get(sql_type, "UNKNOWN")
        if element.get("datatype") != word:
            fail("column %s: datatype %r, expected %r" % (name, element.get("datatype"), word))
        if sql_type in (1, 12, -8, -9, -2, -3) and element.get("length") is None:
            fail("column %s has no length" % name)
        if sql_type in (2, 3) and (element.get("precision") is None or element.get("scale") is None):
            fail("decimal column %s without precision and scale" % name)
    lines = raw.split(b"\n")
    if lines[2] != b"  <row>" or lines[-3] != b"  </row>" or lines[-2] != b"</table>" or lines[-1] != b"":
        fail("description lines out of their places")


def main():
    data_path, expected_path = sys.argv[1], sys.argv[2]
    columns, rows = read_expected(expected_path)
    base = data_path[:data_path.rfind(".")] if "." in os.path.basename(data_path) else data_path
    check_description(base + ".xml", columns)
    with open(data_path, "rb") as f:
        records = parse_data(f.read(), os.path.dirname(data_path))
    if len(records) != len(rows):
        fail("%d records for %d rows" % (len(records), len(rows)))
    for r, (record, row) in enumerate(zip(records, rows), 1):
        if len(record) != len(columns):
            fail("record %d has %d fields" % (r, len(record)))
        for (name, sql_type), field, value in zip(columns, record, row):
            if value is None:
                if field is not None:
                    fail("record %d column %s: %r for NULL" % (r, name, field))
                continue
            if isinstance(field, tuple):
                got = field[1]
            elif sql_type in BINARY_TYPES:
                if field is None or not field.startswith(b"0x"):
                    fail("record %d column %s: binary field %r" % (r, name, field))
                got = bytes.fromhex(field[2:].decode())
            else:
                got = field if field is not None else None
            want = value
            if sql_type in (1, -8):
                want = want.rstrip(b" ")
            if sql_type == -2:
                want = want.rstrip(b"\x00")
            if got != want:
                fail("record %d column %s: %d bytes %r..., expected %d bytes %r..." %
                     (r, name, len(got), got[:80], len(want), want[:80]))
    print("checked %d records" % len(records))


main()
