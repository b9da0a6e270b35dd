// GUID text both ways. Texts and byte images come from Python's uuid module
// (bytes_le is the SQLGUID layout).
#include <gtest/gtest.h>

#include <sqltypes.h>

#include <cctype>
#include <cstring>
#include <string>

#include "convert/guid.h"
#include "kamessages.h"
#include "support/diagscope.h"
#include "support/guarded.h"

using katest::DiagScope;

static_assert(sizeof(BaseGuid) == sizeof(SQLGUID), "GUID structure");

TEST(Guid, TextBothWays)
{
    struct Case {
        const char* text;
        uint8_t bytes[16];  // Python's uuid.UUID(text).bytes_le
    } cases[] = {
        {"12345678-9ABC-DEF0-1234-56789ABCDEF0",
         {0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0}},
        {"00000000-0000-0000-0000-000000000000", {}},
        {"FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF",
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"6BA7B810-9DAD-11D1-80B4-00C04FD430C8",
         {0x10, 0xB8, 0xA7, 0x6B, 0xAD, 0x9D, 0xD1, 0x11, 0x80, 0xB4, 0x00, 0xC0, 0x4F, 0xD4, 0x30, 0xC8}},
    };
    for (const Case& c : cases) {
        DiagScope d;
        BaseGuid g{};
        ASSERT_EQ(baseParseGuid(c.text, 36, &g), 0) << c.text;
        EXPECT_EQ(std::memcmp(&g, c.bytes, 16), 0) << c.text;
        // The text and its NUL fill the room exactly.
        katest::Guarded<char> text(kBaseGuidTextLength + 1);
        ASSERT_EQ(baseFormatGuid(&g, text.data()), 0);
        EXPECT_STREQ(text.data(), c.text);
        EXPECT_TRUE(text.guardsIntact());
        katest::Guarded<uint16_t> wide(kBaseGuidTextLength + 1);
        ASSERT_EQ(baseFormatGuidW(&g, wide.data()), 0);
        EXPECT_TRUE(wide.guardsIntact());
        EXPECT_EQ(wide.data()[kBaseGuidTextLength], 0);
        BaseGuid again{};
        ASSERT_EQ(baseParseGuidW(wide.data(), 36, &again), 0);
        EXPECT_EQ(std::memcmp(&again, &g, 16), 0);
        // Lower case reads the same.
        std::string lower(c.text);
        for (char& ch : lower)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        ASSERT_EQ(baseParseGuid(lower.c_str(), 36, &again), 0);
        EXPECT_EQ(std::memcmp(&again, &g, 16), 0);
    }
}

TEST(Guid, BadInput)
{
    DiagScope d;
    BaseGuid g{};
    EXPECT_EQ(baseParseGuid("12345678-9ABC-DEF0-1234-56789ABCDEFG", 36, &g), 1);
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d.at(0)->nativeCode, MSG_INVALID_HEX_DIGIT);
    EXPECT_EQ(baseParseGuid("12345678-9ABC", 13, &g), 1);
    EXPECT_EQ(d.index(1), MSG_SQLSTATE_INVALID_CAST);
    EXPECT_EQ(baseFormatGuid(&g, nullptr), 1);
    EXPECT_EQ(d.index(2), MSG_SQLSTATE_GENERAL_ERROR);
    // The separators are not examined.
    EXPECT_EQ(baseParseGuid("12345678x9ABCxDEF0x1234x56789ABCDEF0", 36, &g), 0);
    EXPECT_EQ(g.data1, 0x12345678u);
    EXPECT_EQ(g.data2, 0x9ABC);
}
