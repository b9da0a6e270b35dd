// The line reader: lines with and without a final line feed, lines longer
// than the buffer, stepping back one line, blank lines skipped, decoding,
// and every line of a large file against the file itself.
#include "platform/kafilebyline.h"

#include <random>
#include <string>
#include <vector>

#include "bostest.h"

namespace {

using LineTest = katest::BosTest;

std::string text(const KaSubString& s)
{
    return std::string(s.data, s.len);
}

TEST_F(LineTest, LastLineWithoutLineFeedThenTheEnd)
{
    writeFile("a.txt", "one\ntwo\nthree");
    KaFileByLine r;
    ASSERT_EQ(0, r.open(path("a.txt").c_str(), 64));
    KaSubString line;
    const char* expected[] = {"one\n", "two\n", "three"};
    for (const char* e : expected) {
        ASSERT_EQ(0, r.readLine(&line));
        EXPECT_EQ(e, text(line));
        EXPECT_EQ(1, r.complete);
        EXPECT_EQ(0, r.atEnd);
    }
    ASSERT_EQ(0, r.readLine(&line));
    EXPECT_EQ("", text(line));
    EXPECT_EQ(1, r.atEnd);
    EXPECT_EQ(0, r.close());
}

TEST_F(LineTest, LongLinesComeInPiecesOfTheBufferLessFour)
{
    std::string longLine(50, 'x');
    writeFile("l.txt", "ab\n" + longLine + "\nend\n");
    KaFileByLine r;
    ASSERT_EQ(0, r.open(path("l.txt").c_str(), 16));
    KaSubString line;
    ASSERT_EQ(0, r.readLine(&line));
    EXPECT_EQ("ab\n", text(line));
    std::string joined;
    for (;;) {
        ASSERT_EQ(0, r.readLine(&line));
        joined += text(line);
        if (r.complete)
            break;
        EXPECT_EQ(12u, line.len);
    }
    EXPECT_EQ(longLine + "\n", joined);
    ASSERT_EQ(0, r.readLine(&line));
    EXPECT_EQ("end\n", text(line));
}

TEST_F(LineTest, ResetBufferReturnsTheSameLineAgain)
{
    writeFile("r.txt", "first\nsecond\nthird\n");
    KaFileByLine r;
    ASSERT_EQ(0, r.open(path("r.txt").c_str(), 8));  // refills between lines
    KaSubString line;
    ASSERT_EQ(0, r.readLine(&line));
    ASSERT_EQ(0, r.readLine(&line));
    EXPECT_EQ("second\n", text(line));
    r.resetBuffer();
    ASSERT_EQ(0, r.readLine(&line));
    EXPECT_EQ("second\n", text(line));
    ASSERT_EQ(0, r.readLine(&line));
    EXPECT_EQ("third\n", text(line));
}

TEST_F(LineTest, NonBlankLinesSkipWhiteSpace)
{
    writeFile("b.txt", "\n   \n\t\nword\n \n");
    KaFileByLine r;
    ASSERT_EQ(0, r.open(path("b.txt").c_str(), 32));
    KaSubString line;
    ASSERT_EQ(0, r.readNonBlankLine(&line));
    EXPECT_EQ("word\n", text(line));
    ASSERT_EQ(0, r.readNonBlankLine(&line));
    EXPECT_EQ("", text(line));
    EXPECT_EQ(1, r.atEnd);
}

TEST_F(LineTest, EveryLineOfALargeFileAgainstTheFile)
{
    std::mt19937 rng(7);
    std::vector<std::string> lines;
    std::string content;
    for (int i = 0; i < 3000; ++i) {
        std::string l(rng() % 90, char('a' + i % 26));
        lines.push_back(l + "\n");
        content += l + "\n";
    }
    writeFile("big.txt", content);
    for (uint64_t size : {64u, 100u, 4096u, 1u << 20}) {
        KaFileByLine r;
        ASSERT_EQ(0, r.open(path("big.txt").c_str(), size));
        KaSubString line;
        std::string back;
        size_t n = 0;
        for (;;) {
            ASSERT_EQ(0, r.readLine(&line));
            if (r.atEnd)
                break;
            back += text(line);
            if (r.complete)
                ++n;
        }
        EXPECT_EQ(content, back) << size;
        EXPECT_EQ(lines.size(), n) << size;
    }
}

TEST_F(LineTest, DecodedLinesGoThroughTheInstalledDecoder)
{
    writeFile("d.txt", "abc\nxyz\n");
    KaFileByLine r;
    ASSERT_EQ(0, r.open(path("d.txt").c_str(), 32));
    r.decodeType = 1;
    KaSubString line;
    EXPECT_EQ(1, r.readLine(&line));  // no decoder installed
    kaFileByLineSetDecoder([](int32_t type, char* data, size_t* length) noexcept -> int {
        for (size_t i = 0; i < *length; ++i)
            if (data[i] >= 'a' && data[i] <= 'z')
                data[i] = char(data[i] - 'a' + 'A' + type - 1);
        return 0;
    });
    ASSERT_EQ(0, r.readLine(&line));
    EXPECT_EQ("XYZ\n", text(line));
    kaFileByLineSetDecoder(nullptr);
}

TEST_F(LineTest, MissingFileFailsToOpen)
{
    KaFileByLine r;
    EXPECT_EQ(1, r.open(path("none.txt").c_str(), 32));
    EXPECT_GE(errors.size(), 1u);
}

}  // namespace
