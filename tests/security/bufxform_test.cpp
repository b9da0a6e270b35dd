#include "security/bufxform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> bytesOf(const char* text)
{
    return std::vector<uint8_t>(text, text + std::strlen(text));
}

TEST(BufferTransform, EncodeThenDecodeRestoresEveryCount)
{
    for (uint32_t type : {KA_XFORM_COMPLEMENT, KA_XFORM_TEA_MIX}) {
        for (const char* key : {static_cast<const char*>(nullptr), "k", "a longer key text than fourteen"}) {
            for (size_t count = 0; count <= 9; ++count) {
                std::vector<uint8_t> original(count);
                for (size_t i = 0; i < count; ++i) {
                    original[i] = static_cast<uint8_t>(0x30 + 37 * i);
                }
                std::vector<uint8_t> data = original;
                cryptEncode(data.data(), count, type, key);
                if (count >= 1) {
                    EXPECT_NE(data, original) << "type " << type << " count " << count;
                }
                cryptDecode(data.data(), count, type, key);
                EXPECT_EQ(data, original) << "type " << type << " count " << count;
            }
        }
    }
}

TEST(BufferTransform, WideEncodeThenDecodeRestores)
{
    const char16_t key[] = u"0123456789abc\U0001F600tail";  // surrogate pair split at 14
    for (size_t count = 0; count <= 7; ++count) {
        std::u16string original(count, u'\0');
        for (size_t i = 0; i < count; ++i) {
            original[i] = static_cast<char16_t>(0xD7FF + 977 * i);
        }
        std::u16string data = original;
        cryptEncodeW(data.data(), count, KA_XFORM_TEA_MIX, key);
        if (count >= 1) {
            EXPECT_NE(data, original);
        }
        cryptDecodeW(data.data(), count, KA_XFORM_TEA_MIX, key);
        EXPECT_EQ(data, original);
    }
}

TEST(BufferTransform, ComplementTypesAndUnknownTypes)
{
    std::vector<uint8_t> data = {'a', '\n', 0xF5, 0x00};
    cryptEncode(data.data(), data.size(), 65536 + KA_XFORM_COMPLEMENT, nullptr);
    EXPECT_EQ(data, (std::vector<uint8_t>{0x9E, 0xF5, '\n', 0xFF}));

    data = {'a', '\n', 0xF5};
    cryptEncode(data.data(), data.size(), KA_XFORM_COMPLEMENT_KEEP_NEWLINE, nullptr);
    EXPECT_EQ(data, (std::vector<uint8_t>{0x9E, '\n', '\n'}));  // 0xF5 becomes a newline for good

    for (uint32_t type : {0u, 4u, 65536u}) {
        std::vector<uint8_t> same = bytesOf("unchanged");
        cryptEncode(same.data(), same.size(), type, nullptr);
        EXPECT_EQ(same, bytesOf("unchanged")) << type;
    }
}

TEST(BufferTransform, OnlyTheFirstFourKeyElementsMatter)
{
    std::vector<uint8_t> a = bytesOf("configuration value");
    std::vector<uint8_t> b = a;
    std::vector<uint8_t> c = a;
    cryptEncode(a.data(), a.size(), KA_XFORM_TEA_MIX, "abcdXYZ");
    cryptEncode(b.data(), b.size(), KA_XFORM_TEA_MIX, "abcdQQQQQQQQQQQQQQQQ");
    cryptEncode(c.data(), c.size(), KA_XFORM_TEA_MIX, "abcX");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);

    // A short key mixes its NUL and the default elements in, so it differs
    // from the default key alone.
    std::vector<uint8_t> d = bytesOf("configuration value");
    std::vector<uint8_t> e = d;
    cryptEncode(d.data(), d.size(), KA_XFORM_TEA_MIX, "ab");
    cryptEncode(e.data(), e.size(), KA_XFORM_TEA_MIX, nullptr);
    EXPECT_NE(d, e);
}

TEST(BufferTransform, SingleElementIsXoredWithFirstKeyElement)
{
    uint8_t one = 0x41;
    cryptEncode(&one, 1, KA_XFORM_TEA_MIX, "K");
    EXPECT_EQ(one, 0x41 ^ 'K');
    cryptDecode(&one, 1, KA_XFORM_TEA_MIX, "K");
    EXPECT_EQ(one, 0x41);
}

TEST(BufferTransform, OddCountMixesFirstElementTwice)
{
    // With three elements, the first pair and the (last, first) pair both
    // touch element 0: encoding only the first pair differs from the whole.
    std::vector<uint8_t> three = bytesOf("xyz");
    std::vector<uint8_t> two = bytesOf("xy");
    cryptEncode(three.data(), 3, KA_XFORM_TEA_MIX, nullptr);
    cryptEncode(two.data(), 2, KA_XFORM_TEA_MIX, nullptr);
    EXPECT_EQ(three[1], two[1]);
    EXPECT_NE(three[0], two[0]);
}

TEST(BufferTransform, NarrowAndWideDifferForSameCharacters)
{
    std::vector<uint8_t> narrow = bytesOf("abcd");
    std::u16string wide = u"abcd";
    cryptEncode(narrow.data(), 4, KA_XFORM_TEA_MIX, nullptr);
    cryptEncodeW(wide.data(), 4, KA_XFORM_TEA_MIX, nullptr);
    bool differs = false;
    for (size_t i = 0; i < 4; ++i) {
        differs = differs || wide[i] != narrow[i];
    }
    EXPECT_TRUE(differs);
}

}  // namespace
