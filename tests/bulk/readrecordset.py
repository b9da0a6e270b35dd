"""Reads an XML record set back and compares it with what was written.

Usage: readrecordset.py DATA EXPECTED_JSON [SCHEMA]
EXPECTED_JSON holds {"columns": [[name, minOccurs, type], ...],
"records": [[[kind, value] or null, ...], ...]}: kind "s" compares the text,
"f" the number (NaN, INF and -INF included). A record set with a separate
schema names its SCHEMA file. Prints OK or what differs.
"""
import json
import math
import sys
import xml.etree.ElementTree as ET

XS = "{http://www.w3.org/1999/XMLSchema}"
RS = "{urn:ka-driver:xmlrecordset}"


def column_info(element, ns):
    name = element.get("name")
    minimum = element.get("minOccurs")
    kind = element.get("type")
    if kind is None:
        simple = element.find(ns + "simpleType")
        facets = [(f.tag[len(ns):], f.get("value")) for f in simple]
        kind = simple.get("base") + "".join("|%s=%s" % f for f in facets)
    return [name, minimum, kind]


def number_equal(text, expected):
    got = float(text)
    want = float(expected)
    if math.isnan(want):
        return math.isnan(got)
    if math.isinf(want) or want == 0:
        return got == want
    return abs(got - want) <= abs(want) * 1e-6


def main():
    data, expected_path = sys.argv[1], sys.argv[2]
    expected = json.load(open(expected_path, encoding="utf-8"))
    root = ET.parse(data).getroot()
    if len(sys.argv) > 3:
        schema = ET.parse(sys.argv[3]).getroot()
        if schema.tag != XS + "schema" or root.tag != RS + "table":
            return "unexpected roots %s %s" % (root.tag, schema.tag)
        record_type = [c for c in schema if c.get("name") == "recordType"][0]
        records = root.findall(RS + "record")
        value_ns = RS
    else:
        if root.tag != XS + "table":
            return "unexpected root %s" % root.tag
        schema = root.find(XS + "schema")
        record_type = [c for c in schema if c.get("name") == "recordType"][0]
        records = root.find(XS + "data").findall(XS + "record")
        value_ns = XS
    columns = [column_info(e, XS) for e in record_type]
    if columns != expected["columns"]:
        return "columns %r != %r" % (columns, expected["columns"])
    if len(records) != len(expected["records"]):
        return "%d records, expected %d" % (len(records), len(expected["records"]))
    names = [c[0] for c in columns]
    for i, (record, want) in enumerate(zip(records, expected["records"])):
        got = {}
        for value in record:
            got[value.tag[len(value_ns):]] = value.text or ""
        for name, cell in zip(names, want):
            if cell is None:
                if name in got:
                    return "record %d: %s should be absent" % (i, name)
                continue
            if name not in got:
                return "record %d: %s missing" % (i, name)
            kind, text = cell
            ok = number_equal(got[name], text) if kind == "f" else got[name] == text
            if not ok:
                return "record %d: %s is %r, expected %r" % (i, name, got[name], text)
    return "OK"


if __name__ == "__main__":
    print(main())
