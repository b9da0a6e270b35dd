"""docs/keywords.md against the driver's keyword tables: every keyword the
driver reads (a row of the framework's table in odbc/baseoptions.cpp or of
the Hive layer's in hive/hiveoptions.cpp) has a row here with its short name
and default, and the reference names no keyword the tables do not list. The installed odbc.ini template uses only keywords of
the reference. Run with /usr/bin/python3; argument: the source tree."""
import glob
import os
import re
import sys
import unittest

# The keyword tables: the framework's and the Hive layer's, each in the
# order its keywords are read.
TABLES = (('odbc/baseoptions.cpp', 'kBaseKeywords'), ('hive/hiveoptions.cpp', 'kHiveKeywords'))
# A row: {u"Long", u"SHORT" or nullptr, u"default" or nullptr or
# kBaseKwComputed, K::Kind, ...}, however it is broken over lines.
ROW = re.compile(r'\{\s*u"([A-Za-z][A-Za-z0-9]*)"\s*,\s*(?:u"([A-Za-z0-9]*)"|nullptr)\s*,'
                 r'\s*(?:u"([^"]*)"|(nullptr)|(kBaseKwComputed))\s*,\s*K::[A-Za-z0-9]+\s*[,}]')
ROW_START = re.compile(r'\{\s*u"')
# Option lookups outside the tables, by a keyword written out.
LOOKUP = re.compile(r'\b(?:getOptionValue|readCredentialOption|getOptionValueBest)\(([^;]*)')
# The server keywords: NUL-separated lists, "*" marking an optional one.
HOST_LIST = re.compile(r'constexpr char16_t kHostKeywords(?:Short)?\[\] = u"([^"]*)";')


def table_rows(src, table):
    """The rows of one keyword table, and the starts of rows of a shape this
    test does not know."""
    start = src.index(f' {table}[] = {{')
    body = src[src.index('{', start) + 1:src.index('\n};\n', start)]
    rows = ROW.findall(body)
    starts = [m.start() for m in ROW_START.finditer(body)]
    known = {m.start() for m in ROW.finditer(body)}
    odd = [' '.join(body[i:i + 60].split()) for i in starts if i not in known]
    return rows, odd


def source_keywords(root):
    """{long keyword: (short or None, default)} of every row of the keyword
    tables; the default is None when there is none and ... when computed."""
    found = {}
    problems = []
    for path, table in TABLES:
        with open(os.path.join(root, path), encoding='utf-8') as f:
            rows, odd = table_rows(f.read(), table)
        problems.extend(f'{path}: a row of a shape this test does not know: {line}' for line in odd)
        seen = set()
        for long, short, text, nullptr, computed in rows:
            default = ... if computed else None if nullptr else text
            short = short.upper() if short else None
            if long.lower() in seen:
                problems.append(f'{path}: {long} is listed twice')
            seen.add(long.lower())
            # Both layers may read a keyword (each for its own use), alike.
            for known in found:
                if known.lower() == long.lower() and found[known] != (short, default):
                    problems.append(f'{path}: {long} listed as {(short, default)} and as {found[known]}')
            found.setdefault(long, (short, default))
    # Lookups outside the tables may only name keywords the tables list.
    known = {k.lower() for k in found} | {s.lower() for s, _ in found.values() if s}
    files = sorted(glob.glob(os.path.join(root, 'odbc', '*.cpp')) + glob.glob(os.path.join(root, 'hive', '*.cpp')))
    for path in files:
        name = os.path.relpath(path, root)
        with open(path, encoding='utf-8') as f:
            src = f.read()
        if '.get(u"' in src:
            problems.append(f'{name}: an option read by a keyword outside the keyword tables')
        for call in LOOKUP.findall(src):
            for key in re.findall(r'strUnits\(u"([A-Za-z][A-Za-z0-9]*)"\)', call):
                if key.lower() not in known:
                    problems.append(f'{name}: {key} is read but not listed in a keyword table')
        for keys in HOST_LIST.findall(src):
            for key in keys.split('\\0'):
                if key and key.lstrip('*').lower() not in known:
                    problems.append(f'{name}: server keyword {key} is not listed in a keyword table')
    return found, problems


# | `Long` | `SHORT` or — | default | values | meaning |
DOC_ROW = re.compile(r'^\|\s*`([^`]+)`\s*\|\s*([^|]*?)\s*\|\s*([^|]*?)\s*\|\s*([^|]*?)\s*\|\s*([^|]*?)\s*\|\s*$')


def doc_keywords(path):
    rows = {}
    duplicates = []
    with open(path, encoding='utf-8') as f:
        lines = f.read().splitlines()
    for line in lines:
        m = DOC_ROW.match(line)
        if not m:
            continue
        long, short, default, values, meaning = m.groups()
        short = short.strip('`').upper() if short not in ('—', '') else None
        if default == 'none':
            default = None
        elif default.startswith('`') and default.endswith('`'):
            default = default[1:-1]
        else:
            default = ...
        if long in rows:
            duplicates.append(long)
        rows[long] = (short, default, values, meaning)
    return rows, duplicates


class KeywordReference(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.source, cls.problems = source_keywords(ROOT)
        cls.doc, cls.duplicates = doc_keywords(os.path.join(ROOT, 'docs', 'keywords.md'))

    def test_the_option_readers_are_understood(self):
        self.assertEqual(self.problems, [])
        # A reader the patterns miss would leave this far too small.
        self.assertGreater(len(self.source), 100)
        for name in ('HostName', 'PortNumber', 'LOGONID', 'PASSWORD', 'EncryptionMethod', 'TrustStore'):
            self.assertIn(name, self.source)

    def test_every_keyword_read_is_documented(self):
        self.assertEqual(sorted(set(self.source) - set(self.doc)), [])

    def test_no_keyword_is_documented_that_is_not_read(self):
        self.assertEqual(sorted(set(self.doc) - set(self.source)), [])
        self.assertEqual(self.duplicates, [])

    def test_short_names_and_defaults_match(self):
        for long, (short, default) in sorted(self.source.items()):
            if long not in self.doc:
                continue
            with self.subTest(long):
                doc_short, doc_default, values, meaning = self.doc[long]
                self.assertEqual(doc_short, short)
                if default is ...:
                    self.assertIsNotNone(doc_default, 'a computed default is described, not "none"')
                else:
                    self.assertEqual(doc_default, default)
                self.assertTrue(values and meaning, 'allowed values and meaning are given')

    def test_the_data_source_template_uses_documented_keywords(self):
        path = os.path.join(ROOT, 'packaging', 'odbc.ini.in')
        known = {k.lower() for k in self.doc}
        used = []
        with open(path, encoding='utf-8') as f:
            lines = f.read().splitlines()
        for line in lines:
            m = re.match(r'^;?([A-Za-z][A-Za-z0-9]*)=', line)
            if m and m.group(1) != 'Driver':
                used.append(m.group(1))
        self.assertGreater(len(used), 5)
        self.assertEqual([k for k in used if k.lower() not in known], [])


if __name__ == '__main__':
    ROOT = sys.argv.pop(1)
    unittest.main(verbosity=1)
