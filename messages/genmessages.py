#!/usr/bin/env python3
"""Turns the message table into the gencat source of the driver's catalogue,
the C++ header of message numbers, so that code and catalogue share one
list of numbers, and the header of the built-in English texts that stand in
for the catalogue when its file cannot be opened.

    genmessages.py messages.txt VYspark28.msg kamessages.h kamessagetexts.h

Lines are "NUMBER NAME text"; blank lines and lines starting with "#" are
skipped. A number may appear twice only with the same text (each name
then names it), a name only one number. Outputs are rewritten only when their content changes, so
that a new text does not recompile the code that uses the header."""
import os
import re
import sys

LINE = re.compile(r'^(\d+)\s+([A-Z][A-Z0-9_]*)\s+(.*)$')
# Numbered placeholders: %s1..%s9, %sx10 and up (the same with d).
PLACEHOLDER = re.compile(r'%([sd])(x?)(\d+)')


def fail(where, why):
    sys.exit(f'{where}: {why}')


def check_placeholders(where, text):
    for m in PLACEHOLDER.finditer(text):
        kind, x, digits = m.groups()
        number = int(digits)
        if digits.startswith('0') or number == 0:
            fail(where, f'placeholder "{m.group(0)}": parameters count from 1')
        if number >= 10 and not x:
            fail(where, f'placeholder "{m.group(0)}": from the tenth on write %{kind}x{number}')
        if number < 10 and x:
            fail(where, f'placeholder "{m.group(0)}": below ten write %{kind}{number}')


def parse(src):
    entries = {}
    names = {}
    with open(src, encoding='utf-8') as f:
        for lineno, raw in enumerate(f, 1):
            line = raw.rstrip('\n')
            where = f'{src}:{lineno}'
            if not line.strip() or line.lstrip().startswith('#'):
                continue
            m = LINE.match(line)
            if not m:
                fail(where, 'expected "NUMBER NAME text"')
            number, name, text = int(m.group(1)), m.group(2), m.group(3).rstrip()
            if not 1 <= number <= 65535:
                fail(where, f'message number {number} is outside 1..65535')
            if not text:
                fail(where, f'message {number} has no text')
            if number in entries and entries[number][1] != text:
                fail(where, f'message {number} defined twice with different texts')
            if name in names and names[name] != number:
                fail(where, f'name {name} already stands for {names[name]}')
            if '\\' in text and not re.fullmatch(r'(\\[nt\\]|[^\\])*', text):
                fail(where, 'only \\n, \\t and \\\\ escapes are allowed')
            check_placeholders(where, text)
            entries[number] = (name, text)
            names[name] = number
    return entries, names


def write_if_changed(path, content):
    try:
        with open(path, encoding='utf-8') as f:
            if f.read() == content:
                return
    except FileNotFoundError:
        pass
    tmp = path + '.tmp'
    with open(tmp, 'w', encoding='utf-8') as out:
        out.write(content)
    os.replace(tmp, path)


def c_literal(text):
    """The text as a C++ string literal with the same bytes that gencat
    stores: its \\n, \\t and \\\\ escapes mean the same in C++."""
    out = []
    for byte in text.encode('utf-8'):
        ch = chr(byte)
        if ch == '"':
            out.append('\\"')
        elif 0x20 <= byte < 0x7f:
            out.append(ch)
        else:
            out.append(f'\\{byte:03o}')
    return '"' + ''.join(out) + '"'


def main(src, msg_out, header_out, texts_out):
    entries, names = parse(src)
    msg = ['$set 1\n']
    for number in sorted(entries):
        msg.append(f'{number} {entries[number][1]}\n')
    header = [
        "// Generated from messages/messages.txt: the driver's message numbers.\n",
        '#pragma once\n#include <cstdint>\n\nenum KaMessage : uint16_t {\n',
    ]
    for name, number in sorted(names.items(), key=lambda item: (item[1], item[0])):
        header.append(f'    MSG_{name} = {number},\n')
    header.append('};\n')
    texts = [
        "// Generated from messages/messages.txt: the driver's English message texts,\n",
        '// sorted by number, for lookups when the catalogue file cannot be opened.\n',
        '// Included by the catalogue layer only.\n',
        '#pragma once\n#include <cstdint>\n\n',
        'struct KaBuiltInMessage {\n    uint16_t number;\n    const char* text;\n};\n\n',
        'inline constexpr KaBuiltInMessage kKaBuiltInMessages[] = {\n',
    ]
    for number in sorted(entries):
        texts.append(f'    {{{number}, {c_literal(entries[number][1])}}},\n')
    texts.append('};\n')
    write_if_changed(msg_out, ''.join(msg))
    write_if_changed(header_out, ''.join(header))
    write_if_changed(texts_out, ''.join(texts))


if __name__ == '__main__':
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    main(*sys.argv[1:5])
