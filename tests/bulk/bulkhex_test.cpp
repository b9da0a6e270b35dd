// Hexadecimal field text to bytes as the table load decodes binary columns:
// a value may arrive in several pieces, and a digit left at the end of one
// piece pairs with the first digit of the next.
#include "bulk/bulkhex.h"

#include "kamessages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/diagscope.h"

namespace {

struct HexCase {
    const char* name;
    std::vector<std::string> pieces;
    std::string bytes;  // what all pieces give
    bool bad;           // a piece holds a character that is no digit
    bool leftOver;      // a digit waits for its partner at the end
};

// Decodes the pieces one after another into one buffer with guard bytes,
// through the 8-bit or the UTF-16 form.
template <typename Unit>
void decode(const HexCase& c)
{
    constexpr unsigned char kGuard = 0xA5;
    katest::DiagScope diags;
    size_t digits = 0;
    for (const std::string& piece : c.pieces)
        digits += piece.size();
    std::vector<uint8_t> out(64 + 8, kGuard);
    uint8_t* at = out.data() + 4;
    BulkHexState state;
    size_t total = 0;
    int status = 0;
    for (const std::string& piece : c.pieces) {
        std::vector<Unit> units(piece.begin(), piece.end());
        size_t produced = 99;
        status = sizeof(Unit) == 1 ? unhexify(reinterpret_cast<const uint8_t*>(units.data()), units.size(), at + total,
                                              &produced, &state)
                                   : unhexifyW(reinterpret_cast<const uint16_t*>(units.data()), units.size(),
                                               at + total, &produced, &state);
        total += produced;
        if (status != 0)
            break;
    }
    EXPECT_EQ(c.bad ? 1 : 0, status);
    // A bad digit is reported once, by its message.
    ASSERT_EQ(c.bad ? 1u : 0u, diags.size());
    if (c.bad) {
        EXPECT_EQ(MSG_INVALID_HEX_DIGIT, diags.at(0)->nativeCode);
    }
    if (!c.bad) {
        EXPECT_EQ(c.bytes, std::string(reinterpret_cast<const char*>(at), total));
        EXPECT_EQ(c.leftOver, state.pending >= 0);
    }
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(kGuard, out[i]);
    // Nothing beyond the room the digits need.
    for (size_t i = 4 + (digits + 1) / 2; i < out.size(); ++i)
        EXPECT_EQ(kGuard, out[i]) << i;
}

const HexCase kCases[] = {
    {"one byte split between two pieces", {"4", "1"}, "\x41", false, false},
    {"a split digit after whole bytes", {"0a4", "1Ff"}, std::string("\x0A\x41\xFF", 3), false, false},
    {"an empty piece keeps the waiting digit", {"7", "", "e"}, "\x7E", false, false},
    {"upper and lower case", {"DeadBEEF"}, "\xDE\xAD\xBE\xEF", false, false},
    {"zero bytes are bytes", {"00", "00"}, std::string("\0\0", 2), false, false},
    {"a digit still waiting at the end", {"414"}, "\x41", false, true},
    {"a letter beyond f", {"4G"}, "", true, false},
    {"a blank between digits", {"41", " 42"}, "", true, false},
    {"the prefix is no digit", {"0x41"}, "", true, false},
};

TEST(BulkHex, PiecesDecodeAsOneValueInBothForms)
{
    for (const HexCase& c : kCases) {
        SCOPED_TRACE(c.name);
        decode<char>(c);
        decode<char16_t>(c);
    }
}

}  // namespace
