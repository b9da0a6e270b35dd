// What the UTF-16 and the 8-bit tokenizer (KaScannerW, KaScanner) have in
// common towards their callers: the token kinds, the scan modes and the
// operator table. Callers include kascanne.h or bytescanner.h, which bring it.
#pragma once
#include <cstdint>

// Token kinds (the kind field); a one- or two-character operator carries its
// operator code instead (see kaOperatorTable).
enum TokenKind : uint32_t {
    KA_TOKEN_NONE = 0,  // empty list item; also a NUL unit in the input
    KA_TOKEN_END = 1,   // end of input: empty text at the end position
    KA_TOKEN_WORD = 2,
    KA_TOKEN_CLOSED = 3,        // closed quoted text or group
    KA_TOKEN_UNTERMINATED = 4,  // quoted text or group that the input ended inside
    KA_TOKEN_NUMBER = 5,
    KA_TOKEN_RUN = 6,       // KA_SCAN_RUNS
    KA_TOKEN_SQL_WORD = 7,  // KA_SCAN_SQL_WORDS
    KA_TOKEN_ITEM = 8,      // nextItem
    KA_TOKEN_NUMBER_AT_END = 9,
    KA_TOKEN_OTHER = 10,  // any other single character
    KA_TOKEN_COMMENT = 11,
    KA_TOKEN_OUTER_JOIN = 12,  // "(+)"
};

enum ScanMode : int {
    KA_SCAN_PLAIN = 0,
    KA_SCAN_RUNS = 1,
    KA_SCAN_SQL_WORDS = 2,
};

// The operator code of a two-character operator; a one-character operator's
// code is the character itself.
constexpr uint32_t kaOperatorPair(uint32_t first, uint32_t second)
{
    return first << 8 | second;
}

// One-character operators, each followed by the two-character operators
// that begin with it; searched in this order.
constexpr uint16_t kaOperatorCount = 44;
extern const uint32_t kaOperatorTable[kaOperatorCount];

// No caller-defined group.
constexpr uint16_t kaNoGroup = 0xFFFF;

// The operator code of a character and the one after it, and the number of
// characters the operator takes (1 or 2); KA_TOKEN_OTHER for no operator.
uint32_t kaOperatorLookup(uint32_t ch, uint32_t next, int* width) noexcept;
