// The operator table shared by both tokenizers.
#include "sql/kascan.h"

const uint32_t kaOperatorTable[kaOperatorCount] = {
    '?',
    ',',
    '(',
    ')',
    '.',
    '=',
    kaOperatorPair('=', '='),
    kaOperatorPair('=', '*'),
    kaOperatorPair('=', '<'),
    kaOperatorPair('=', '>'),
    '+',
    kaOperatorPair('+', '+'),
    '&',
    kaOperatorPair('&', '&'),
    '|',
    kaOperatorPair('|', '|'),
    '-',
    kaOperatorPair('-', '-'),
    '/',
    kaOperatorPair('/', '/'),
    '*',
    kaOperatorPair('*', '*'),
    kaOperatorPair('*', '='),
    '>',
    kaOperatorPair('>', '='),
    '<',
    kaOperatorPair('<', '='),
    kaOperatorPair('<', '>'),
    '!',
    kaOperatorPair('!', '='),
    kaOperatorPair('!', '<'),
    kaOperatorPair('!', '>'),
    ';',
    ':',
    '{',
    '}',
    '$',
    '#',
    '%',
    '@',
    '"',
    '\'',
    '`',
    0,
};

uint32_t kaOperatorLookup(uint32_t ch, uint32_t next, int* width) noexcept
{
    *width = 1;
    for (uint16_t i = 0; i < kaOperatorCount; ++i) {
        if (kaOperatorTable[i] != ch)
            continue;
        for (uint16_t j = i + 1; j < kaOperatorCount; ++j) {
            uint32_t entry = kaOperatorTable[j];
            if (entry <= 0xFF || (entry >> 8) != ch)
                break;
            if ((entry & 0xFF) == next) {
                *width = 2;
                return entry;
            }
        }
        return ch;
    }
    return KA_TOKEN_OTHER;
}
