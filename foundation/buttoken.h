// A tokenizer for SQL-like text that reads one token at a time: names of
// several shapes, quoted strings, numbers, escape clauses, operators and
// parameter markers. Used by code that picks words out of option values
// and small statements.
#pragma once
#include <cstddef>
#include <cstdint>

// Flags of butToken; the low 12 bits are the mode.
enum : uint32_t {
    BUT_TOKEN_CUT = 0x8000,        // an over-long token is cut silently
    BUT_TOKEN_GROW = 0x4000,       // an over-long token is handed out whole in a heap buffer
    BUT_TOKEN_KEEP_CASE = 0x2000,  // names and words are not upper-cased
    BUT_TOKEN_MODE_MASK = 0x0FFF,
};
// Modes: what a name may hold.
enum : uint32_t {
    BUT_MODE_PLAIN = 0,
    BUT_MODE_LIST = 1,       // list words up to blanks or ",()|"
    BUT_MODE_HASH = 2,       // names with '#' and '$'
    BUT_MODE_DOTTED = 3,     // dotted names
    BUT_MODE_QUALIFIED = 4,  // names with '.' and ':'
    BUT_MODE_HASH_ALT = 6,
};

// Reads the next token from *cursor into out (outSize bytes, terminated)
// and moves the cursor behind it; an empty token at the end of the text.
// encoding is the narrow encoding selector the characters are stepped with.
// A token longer than out: with BUT_TOKEN_GROW and grown given, out holds
// its start and *grown the whole token (the caller frees it with ramFree);
// with BUT_TOKEN_CUT out holds its start; otherwise it fails. 1 when the
// text ends inside a quoted string or escape clause, or as just said.
[[nodiscard]] int butToken(char* out, const char** cursor, uint32_t flags, size_t outSize, int32_t encoding,
                           char** grown = nullptr) noexcept;
