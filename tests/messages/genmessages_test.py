"""messages/genmessages.py: the built-in texts it writes into
kamessagetexts.h are, byte for byte, what gencat stores for the same table
and catgets (glibc, through ctypes) returns, quotes, escapes and non-ASCII
text included; the number header names every entry. Run with
/usr/bin/python3; arguments: the source tree and gencat."""
import codecs
import ctypes
import os
import re
import subprocess
import sys
import tempfile
import unittest

TABLE = r'''# a comment
1 PLAIN A plain text
2 QUOTED The token "%s1" is too long.
3 ESCAPES Line\nnext\tafter a tab, a back\\slash
4 ACCENTED Café, naïve, 東京
65535 LAST The highest number
'''

ENTRY = re.compile(r'^    \{(\d+), "((?:[^"\\]|\\.)*)"\},$')


class GeneratedTexts(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory(prefix="genmessages_test.")
        d = cls.dir.name
        with open(os.path.join(d, "messages.txt"), "w", encoding="utf-8") as f:
            f.write(TABLE)
        cls.paths = {name: os.path.join(d, name) for name in ("t.msg", "kamessages.h", "kamessagetexts.h", "t.mo")}
        subprocess.run([sys.executable, GENERATOR, os.path.join(d, "messages.txt"), cls.paths["t.msg"],
                        cls.paths["kamessages.h"], cls.paths["kamessagetexts.h"]], check=True)
        subprocess.run([GENCAT, cls.paths["t.mo"], cls.paths["t.msg"]], check=True)

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def built_in(self):
        texts = {}
        with open(self.paths["kamessagetexts.h"], encoding="ascii") as f:
            for line in f:
                m = ENTRY.match(line.rstrip("\n"))
                if m:
                    texts[int(m.group(1))] = codecs.escape_decode(m.group(2).encode("ascii"))[0]
        return texts

    def test_built_in_texts_are_what_catgets_returns(self):
        libc = ctypes.CDLL(None)
        libc.catopen.restype = ctypes.c_void_p
        libc.catopen.argtypes = [ctypes.c_char_p, ctypes.c_int]
        libc.catgets.restype = ctypes.c_char_p
        libc.catgets.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_char_p]
        libc.catclose.argtypes = [ctypes.c_void_p]
        cat = libc.catopen(self.paths["t.mo"].encode(), 0)
        self.assertNotEqual(cat, ctypes.c_void_p(-1).value)
        try:
            texts = self.built_in()
            self.assertEqual(sorted(texts), [1, 2, 3, 4, 65535])
            for number, text in texts.items():
                with self.subTest(number):
                    self.assertEqual(text, libc.catgets(cat, 1, number, b"(absent)"))
        finally:
            libc.catclose(cat)
        self.assertEqual(texts[3], b"Line\nnext\tafter a tab, a back\\slash")
        self.assertEqual(texts[4].decode("utf-8"), "Café, naïve, 東京")

    def test_the_number_header_names_every_entry(self):
        with open(self.paths["kamessages.h"], encoding="ascii") as f:
            header = f.read()
        for name, number in (("PLAIN", 1), ("QUOTED", 2), ("ESCAPES", 3), ("ACCENTED", 4), ("LAST", 65535)):
            self.assertIn("MSG_%s = %d," % (name, number), header)

    def test_a_table_fault_stops_the_generation(self):
        d = self.dir.name
        for bad in ("5 TWICE one\n5 TWICE other\n", "6 BAD a lone \\ backslash\n", "70000 BIG too high\n"):
            with self.subTest(bad):
                src = os.path.join(d, "bad.txt")
                with open(src, "w", encoding="utf-8") as f:
                    f.write(bad)
                run = subprocess.run([sys.executable, GENERATOR, src, os.path.join(d, "b.msg"),
                                      os.path.join(d, "b.h"), os.path.join(d, "bt.h")], capture_output=True)
                self.assertNotEqual(run.returncode, 0)
                self.assertIn(b"bad.txt:", run.stderr)


if __name__ == "__main__":
    GENERATOR = os.path.join(sys.argv.pop(1), "messages", "genmessages.py")
    GENCAT = sys.argv.pop(1)
    unittest.main(verbosity=1)
