"""docs/keywords.md against the driver's own option tables: every keyword
the driver reads (from the option readers in odbc/ and hive/) has a row
with its short name and default, and the reference names no keyword the
driver does not read. The installed odbc.ini template uses only keywords of
the reference. Run with /usr/bin/python3; argument: the source tree."""
import glob
import os
import re
import sys
import unittest

LITERAL = re.compile(r'^u"([^"]*)"$')
# reader.get(u"Long", u"Short" or nullptr, default[, decode])
READER_GET = re.compile(r'\.get\(\s*u"([^"]+)"\s*,\s*(nullptr|u"[^"]*")\s*,\s*(.+?)\s*(?:,\s*\d+\s*)?\)', re.S)
# getOptionValue / readCredentialOption (parser, short, long, default, ...)
DIRECT = re.compile(r'\b(?:getOptionValue|readCredentialOption)\(\s*\w+\s*,\s*(nullptr|strUnits\(u"[^"]*"\))\s*,'
                    r'\s*strUnits\(u"([^"]+)"\)\s*,\s*(nullptr|strUnits\([^()]*\))', re.S)
ANY_DIRECT = re.compile(r'\b(?:getOptionValue|readCredentialOption)\(\s*\w+\s*,\s*(?!(?:nullptr|strUnits\(u"))')
# Rows of keyword tables: {u"Keyword", u"Keyword", u"default", ...}; the
# shorter of the two names is the short one.
TABLE_ROW = re.compile(r'\{\s*u"([A-Za-z][A-Za-z0-9]*)"\s*,\s*u"([A-Za-z][A-Za-z0-9]*)"\s*,\s*u"([^"]*)"\s*[,}]')
# A helper that reads options whose keywords it is given:
#   auto name = [&](const char16_t* a, const char16_t* b, ...) { ... r.get(a, b, u"default") ... };
HELPER = re.compile(r'auto (\w+) = \[&\]\(((?:\s*const char16_t\* \w+\s*,)+)(.*?)\n    \};', re.S)
HELPER_GET = re.compile(r'\.get\((\w+), (\w+), u"([^"]*)"\)')
# The server keywords: NUL-separated lists, "*" marking an optional one.
HOST_LIST = re.compile(r'constexpr char16_t (kHostKeywords(?:Short)?)\[\] = u"([^"]*)";')


def literal(text):
    """The default a source expression gives: None for nullptr, the text of
    a literal, or ... for anything computed."""
    text = text.strip()
    if text == 'nullptr':
        return None
    m = LITERAL.match(text)
    if m:
        return m.group(1)
    m = re.match(r'^strUnits\(u"([^"]*)"\)$', text)
    if m:
        return m.group(1)
    return ...


def source_keywords(root):
    """{long keyword: (short or None, default)} of every option read."""
    found = {}
    problems = []
    server_keywords = []

    def add(long, short, default, where):
        # Keywords are matched without case; a reader may spell one its own way.
        for known in found:
            if known.lower() == long.lower():
                long = known
        if short is not None:
            short = short.upper()
        if long in found and found[long] != (short, default):
            problems.append(f'{where}: {long} read as {(short, default)} and as {found[long]}')
        found.setdefault(long, (short, default))

    files = sorted(glob.glob(os.path.join(root, 'odbc', '*.cpp')) + glob.glob(os.path.join(root, 'hive', '*.cpp')))
    for path in files:
        name = os.path.relpath(path, root)
        with open(path, encoding='utf-8') as f:
            src = f.read()
        gets = READER_GET.findall(src)
        if len(gets) != src.count('.get(u"'):
            problems.append(f'{name}: an option read of a shape this test does not know')
        # Reads through a table loop (f.longKey) are covered by TABLE_ROW;
        # reads through a helper by its calls; nothing else may read by a
        # keyword held in a variable.
        helper_gets = 0
        for helper, params, body in HELPER.findall(src):
            params = [p.split()[-1].rstrip(',') for p in params.split(',') if p.strip()]
            for long_param, short_param, default in HELPER_GET.findall(body):
                helper_gets += 1
                li, si = params.index(long_param), params.index(short_param)
                for call in re.finditer(r'\b' + helper + r'\(((?:\s*u"[^"]*"\s*,)+)', src):
                    args = re.findall(r'u"([^"]*)"', call.group(1))
                    add(args[li], args[si], default, name)
        loops = len(re.findall(r'\.get\(\w+\.longKey, \w+\.shortKey, \w+\.def\)', src))
        others = len(re.findall(r'\.get\(\w+,', src)) + len(re.findall(r'\.get\(\w+\.\w+,', src))
        if others != helper_gets + loops:
            problems.append(f'{name}: an option read through a variable this test does not follow')
        for long, short, default in gets:
            add(long, literal(short), literal(default), name)
        for short, long, default in DIRECT.findall(src):
            short = None if short == 'nullptr' else re.search(r'u"([^"]*)"', short).group(1)
            add(long, short, literal(default), name)
        for first, second, default in TABLE_ROW.findall(src):
            long, short = (first, second) if len(first) >= len(second) else (second, first)
            add(long, short, default, name)
        if name.startswith('hive'):
            lists = dict(HOST_LIST.findall(src))
            if lists:
                longs = [k.lstrip('*') for k in lists['kHostKeywords'].split('\\0') if k]
                shorts = [k for k in lists['kHostKeywordsShort'].split('\\0') if k]
                server_keywords.extend(zip(longs, shorts))
    # The server keywords name options the readers may also read with a
    # default; they add only what no reader has.
    for long, short in server_keywords:
        if not any(k.lower() == long.lower() for k in found):
            add(long, short, None, 'server keywords')
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
