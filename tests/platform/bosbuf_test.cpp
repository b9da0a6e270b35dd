// Buffered streams: writes of every size, the UTF-16 writer on texts far
// longer than any work buffer, and the failures each operation reports.
#include "platform/bosbuf.h"

#include <fstream>
#include <sstream>
#include <string>

#include "bostest.h"
#include "kamessages.h"
#include "support/u16.h"

namespace {

using BufTest = katest::BosTest;

std::string slurp(const std::string& file)
{
    std::ifstream f(file, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

TEST_F(BufTest, WritesFlushesAndCloses)
{
    FILE* f = nullptr;
    ASSERT_EQ(0, bosBufOpen(&f, path("a.txt").c_str(), "wb"));
    char buffer[64];
    ASSERT_EQ(0, bosBufSetBuffer(f, buffer, _IOFBF, sizeof buffer));
    EXPECT_EQ(0, bosBufWrite(f, "abcdef", 2, 3));
    EXPECT_EQ(0, bosBufWrite(f, "zz", 0, 5));
    EXPECT_EQ(0, bosBufWrite(f, "zz", 1, 0));
    EXPECT_EQ(0, bosBufFlush(f));
    EXPECT_EQ("abcdef", slurp(path("a.txt")));
    EXPECT_EQ(0, bosBufClose(f));
    EXPECT_EQ(0u, errors.size());
}

TEST_F(BufTest, Utf16TextIsWrittenWhole)
{
    // Far longer than the converter's work piece, with surrogate pairs and
    // accented letters across every piece boundary.
    std::u16string text;
    std::string utf8;
    for (int i = 0; i < 20000; ++i) {
        switch (i % 3) {
        case 0:
            text += u"a";
            utf8 += "a";
            break;
        case 1:
            text += u"\u00e9";
            utf8 += "\xc3\xa9";
            break;
        default:
            text += u"\U0001F600";
            utf8 += "\xf0\x9f\x98\x80";
            break;
        }
    }
    FILE* f = nullptr;
    ASSERT_EQ(0, bosBufOpen(&f, path("w.txt").c_str(), "wb"));
    ASSERT_EQ(0, bosBufWriteW(f, reinterpret_cast<const uint16_t*>(text.data()), 2, text.size(), 1));
    ASSERT_EQ(0, bosBufWriteW(f, reinterpret_cast<const uint16_t*>(u"xy"), 2, 2, 0));
    ASSERT_EQ(0, bosBufClose(f));
    EXPECT_EQ(utf8 + std::string("x\0y\0", 4), slurp(path("w.txt")));
    EXPECT_EQ(0u, errors.size());
}

TEST_F(BufTest, FailuresAreReported)
{
    FILE* f = nullptr;
    EXPECT_EQ(1, bosBufOpen(&f, path("no/such/file").c_str(), "rb"));
    EXPECT_EQ(nullptr, f);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_FILE_NOT_FOUND, errors.native(0));

    EXPECT_EQ(1, bosBufWrite(nullptr, "a", 1, 1));
    EXPECT_EQ(MSG_NO_STREAM, errors.native(1));
    EXPECT_EQ(1, bosBufWriteW(nullptr, katest::W(u"a"), 2, 1, 1));
    EXPECT_EQ(1, bosBufFlush(nullptr));
    EXPECT_EQ(4u, errors.size());

    // A lone surrogate cannot become UTF-8.
    ASSERT_EQ(0, bosBufOpen(&f, path("bad.txt").c_str(), "wb"));
    const uint16_t lone[] = {0xD800, 'a'};
    EXPECT_EQ(1, bosBufWriteW(f, lone, 2, 2, 1));
    EXPECT_EQ(MSG_CONVERSION_FAILED, errors.native(4));
    EXPECT_EQ(0, bosBufClose(f));

    // Writing to a stream opened for reading writes nothing.
    writeFile("r.txt", "x");
    ASSERT_EQ(0, bosBufOpen(&f, path("r.txt").c_str(), "rb"));
    EXPECT_EQ(1, bosBufWrite(f, "abc", 1, 3));
    EXPECT_EQ(MSG_DISK_FULL, errors.native(5));
    bosBufClose(f);

    FILE* w = nullptr;
    ASSERT_EQ(0, bosBufOpenW(&w, katest::W(katest::widen(path("wide.txt")).c_str()), katest::W(u"wb")));
    EXPECT_EQ(0, bosBufClose(w));
    EXPECT_EQ(1, bosBufOpenW(&w, katest::W(katest::widen(path("no/wide.txt")).c_str()), katest::W(u"rb")));
}

}  // namespace
