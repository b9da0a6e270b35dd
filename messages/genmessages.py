#!/usr/bin/env python3
"""Turns the message table into the gencat source of the driver's catalogue
and the C++ header of message numbers, so that code and catalogue share one
list of numbers."""
import re
import sys

LINE = re.compile(r'^(\d+)\s+([A-Z][A-Z0-9_]*)\s+(.*)$')


def main(src, msg_out, header_out):
    entries = {}
    names = {}
    with open(src, encoding='utf-8') as f:
        for lineno, raw in enumerate(f, 1):
            line = raw.rstrip('\n')
            if not line.strip() or line.lstrip().startswith('#'):
                continue
            m = LINE.match(line)
            if not m:
                sys.exit(f'{src}:{lineno}: expected "NUMBER NAME text"')
            number, name, text = int(m.group(1)), m.group(2), m.group(3)
            if number in entries and entries[number][1] != text:
                sys.exit(f'{src}:{lineno}: message {number} defined twice with different texts')
            if name in names and names[name] != number:
                sys.exit(f'{src}:{lineno}: name {name} already stands for {names[name]}')
            if '\\' in text and not re.fullmatch(r'(\\[nt\\]|[^\\])*', text):
                sys.exit(f'{src}:{lineno}: only \\n, \\t and \\\\ escapes are allowed')
            entries[number] = (name, text)
            names[name] = number
    with open(msg_out, 'w', encoding='utf-8') as out:
        out.write('$set 1\n')
        for number in sorted(entries):
            out.write(f'{number} {entries[number][1]}\n')
    with open(header_out, 'w', encoding='utf-8') as out:
        out.write('// Generated from messages/messages.txt: the driver\'s message numbers.\n')
        out.write('#pragma once\n#include <cstdint>\n\nenum KaMessage : uint16_t {\n')
        for number in sorted(entries):
            out.write(f'    MSG_{entries[number][0]} = {number},\n')
        out.write('};\n')


if __name__ == '__main__':
    main(*sys.argv[1:4])
