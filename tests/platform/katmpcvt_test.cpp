// The temporary-store converters against ICU's one-shot conversion of the
// same text: long inputs in every store kind, read back in pieces of many
// sizes (whole characters and terminated, or a plain stream), and written
// in pieces cut anywhere, also inside characters.
#include "platform/katmpcvt.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>
#include <unicode/ucnv.h>

#include "foundation/codepage.h"
#include "kamessages.h"
#include "support/errorscope.h"
#include "support/guarded.h"
#include "support/tmpfiletest.h"

namespace {

// Numbers of two multibyte code pages (GB18030 reaches all of Unicode in
// up to 4 bytes; ISO-2022-JP switches character sets by escapes).
constexpr int64_t kCodePageGb18030 = 114;
constexpr int64_t kCodePageIso2022Jp = 39;

// Equal strings, or where they part, without dumping megabytes of bytes.
testing::AssertionResult sameBytes(const std::string& got, const std::string& want)
{
    if (got == want)
        return testing::AssertionSuccess();
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i])
        ++i;
    return testing::AssertionFailure() << "got " << got.size() << " bytes, want " << want.size()
                                       << ", first difference at " << i;
}

class KaTmpCvtTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(katest::openCatalogue(), 0); }

    katest::ThreadScope thread;
    katest::ErrorScope errors;
    katest::TmpDirScope tmp;
};

// Text of about n bytes of UTF-8 made of the given pieces in a seeded order,
// so that characters of every width straddle page and block borders.
std::string makeText(const std::vector<std::string>& pieces, size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n)
        s += pieces[rng() % pieces.size()];
    return s;
}

std::string icuConvert(const std::string& text, int64_t from, int64_t to)
{
    UErrorCode st = U_ZERO_ERROR;
    int32_t need = ucnv_convert(ianaNameFromNumber(to), ianaNameFromNumber(from), nullptr, 0, text.data(),
                                int32_t(text.size()), &st);
    std::string out(size_t(need), '\0');
    st = U_ZERO_ERROR;
    ucnv_convert(ianaNameFromNumber(to), ianaNameFromNumber(from), out.data(), need, text.data(), int32_t(text.size()),
                 &st);
    EXPECT_TRUE(U_SUCCESS(st)) << u_errorName(st);
    return out;
}

// 1 when the bytes decode in the code page without a broken character.
bool wholeCharacters(const std::string& bytes, int64_t codePage)
{
    UErrorCode st = U_ZERO_ERROR;
    UConverter* c = ucnv_open(ianaNameFromNumber(codePage), &st);
    ucnv_setToUCallBack(c, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &st);
    std::vector<UChar> u(bytes.size() * 2 + 4);
    ucnv_toUChars(c, u.data(), int32_t(u.size()), bytes.data(), int32_t(bytes.size()), &st);
    ucnv_close(c);
    return U_SUCCESS(st);
}

const std::vector<std::string> kMixed = {
    "a", "xyz ", "\xC3\xA9", "\xE4\xB8\xAD\xE6\x96\x87", "\xF0\x9F\x98\x80", "\xE2\x82\xAC", "\n"};
const std::vector<std::string> kJapanese = {"abc ", "\xE6\x97\xA5\xE6\x9C\xAC",
                                            "\xE3\x83\x86\xE3\x82\xAD\xE3\x82\xB9\xE3\x83\x88", "1"};
const std::vector<std::string> kLatin = {"Gr\xC3\xBC\xC3\x9F"
                                         "e",
                                         " caf\xC3\xA9", ";", "\xC3\x85"};

struct Pair {
    const std::vector<std::string>* pieces;
    int64_t from, to;
};

// The stored input, in the source code page.
std::string sourceText(const Pair& p, size_t n, uint32_t seed)
{
    std::string utf8 = makeText(*p.pieces, n, seed);
    return p.from == kCodePageUtf8 ? utf8 : icuConvert(utf8, kCodePageUtf8, p.from);
}

const Pair kPairs[] = {
    {&kMixed, kCodePageUtf8, kCodePageUtf16LE},      {&kMixed, kCodePageUtf8, kCodePageUtf32LE},
    {&kMixed, kCodePageUtf16LE, kCodePageUtf8},      {&kMixed, kCodePageUtf16BE, kCodePageUtf16LE},
    {&kMixed, kCodePageUtf8, kCodePageGb18030},      {&kJapanese, kCodePageGb18030, kCodePageUtf8},
    {&kJapanese, kCodePageUtf8, kCodePageIso2022Jp},  // stateful: shifts in and out
    {&kLatin, kCodePageUtf8, kCodePageLatin1},       {&kLatin, kCodePageLatin1, kCodePageUtf16BE},
};

// Reads everything in pieces of `capacity`; checks guards, terminators and
// (with terminate) that every piece is whole characters.
struct ReadBack {
    std::string bytes;  // the pieces as delivered
    std::string text;   // with terminate: each piece decoded on its own, as UTF-8
};

template <typename Conv>
ReadBack readAll(Conv& c, size_t capacity, int terminate, int64_t target)
{
    std::string all, text;
    int more = 1;
    int rounds = 0;
    while (more) {
        katest::Guarded<uint8_t> out(capacity);
        uint64_t count = 0;
        EXPECT_EQ(c.readConverted(out.data(), capacity, terminate, &count, &more), 0);
        EXPECT_TRUE(out.guardsIntact());
        std::string piece(reinterpret_cast<char*>(out.data()), count);
        if (terminate) {
            int32_t zeros = ucnv_getMinCharSize(c.core.fromUnicode);
            EXPECT_LE(count + uint64_t(zeros), capacity);
            for (int32_t i = 0; i < zeros; ++i)
                EXPECT_EQ(out.data()[count + size_t(i)], 0);
            EXPECT_TRUE(wholeCharacters(piece, target)) << "piece " << rounds;
            text += icuConvert(piece, target, kCodePageUtf8);
        }
        all += piece;
        ++rounds;
        if (count == 0 && more) {
            ADD_FAILURE() << "no progress in piece " << rounds;
            break;
        }
    }
    return {all, text};
}

// Pieces of a stateful target each return to the initial state, so their
// bytes differ from one conversion of the whole; their text may not.
bool stateful(int64_t codePage)
{
    return codePage == kCodePageIso2022Jp;
}

void expectRead(const ReadBack& r, const std::string& want, const std::string& wantText, int terminate, int64_t target)
{
    if (!(terminate && stateful(target))) {
        EXPECT_TRUE(sameBytes(r.bytes, want));
    }
    if (terminate) {
        EXPECT_TRUE(sameBytes(r.text, wantText));
    }
}

TEST_F(KaTmpCvtTest, ReadingEveryStoreMatchesIcuInEveryPieceSize)
{
    const size_t capacities[] = {4, 7, 64, 2049, 5000, 100000};
    uint32_t seed = 1;
    for (const Pair& p : kPairs) {
        std::string input = sourceText(p, 40000, seed++);
        std::string want = icuConvert(input, p.from, p.to);
        std::string wantText = icuConvert(input, p.from, kCodePageUtf8);
        // Larger than the file's page cache, so that pages come back from disk.
        KaTmpFile data(KA_TMP_DEFAULT_CACHE, 0);
        ASSERT_EQ(data.write(0, input.data(), input.size()), 0);
        MemFile mem(1000);
        ASSERT_EQ(mem.append(input.data(), input.size()), 0);
        BlkTmpFile blk(1024);
        ASSERT_EQ(blk.reset(0), 0);
        ASSERT_EQ(blk.append(input.data(), input.size()), 0);
        for (size_t capacity : capacities) {
            for (int terminate : {0, 1}) {
                // Whole characters need room for the widest (4 bytes) and
                // the terminator, or no piece could ever make progress.
                if (terminate && capacity < 8)
                    continue;
                SCOPED_TRACE(testing::Message() << p.from << "->" << p.to << " cap " << capacity << " t " << terminate);
                KaTmpFileConverter overFile(&data, input.size(), p.from, p.to);
                expectRead(readAll(overFile, capacity, terminate, p.to), want, wantText, terminate, p.to);
                KaTmpFileConverter overBlock(input.data(), input.size(), p.from, p.to);
                expectRead(readAll(overBlock, capacity, terminate, p.to), want, wantText, terminate, p.to);
                KaTmpFileConverter overMem(&mem, p.from, p.to);
                expectRead(readAll(overMem, capacity, terminate, p.to), want, wantText, terminate, p.to);
                KaBlkTmpFileConverter overBlk(&blk, input.size(), p.from, p.to);
                expectRead(readAll(overBlk, capacity, terminate, p.to), want, wantText, terminate, p.to);
                // A restart reads the same text again.
                ASSERT_EQ(overBlk.restart(input.size()), 0);
                expectRead(readAll(overBlk, capacity, terminate, p.to), want, wantText, terminate, p.to);
            }
        }
    }
    EXPECT_EQ(errors.size(), 0u);
}

TEST_F(KaTmpCvtTest, WritingPiecesCutAnywhereMatchesIcu)
{
    uint32_t seed = 100;
    for (const Pair& p : kPairs) {
        std::string input = sourceText(p, 12000, seed);
        std::string want = icuConvert(input, p.from, p.to);
        std::mt19937 rng(seed++);
        std::vector<size_t> cuts;
        for (size_t at = 0; at < input.size();) {
            size_t n = 1 + rng() % 3000;
            cuts.push_back(std::min(n, input.size() - at));
            at += cuts.back();
        }
        SCOPED_TRACE(testing::Message() << p.from << "->" << p.to);
        KaTmpFile file(KA_TMP_DEFAULT_CACHE, 0);
        BlkTmpFile blk(1024);
        ASSERT_EQ(blk.reset(0), 0);
        std::vector<uint8_t> block(want.size() + 16, 0xEE);
        KaTmpFileConverter toFile(p.from, p.to, &file);
        KaBlkTmpFileConverter toBlk(p.from, p.to, &blk);
        KaTmpFileConverter toBlock(p.from, p.to, block.data(), want.size());
        uint64_t a = 0, b = 0, c = 0;
        size_t at = 0;
        for (size_t n : cuts) {
            ASSERT_EQ(toFile.writeConverted(input.data() + at, n, &a), 0);
            ASSERT_EQ(toBlk.writeConverted(input.data() + at, n, &b), 0);
            ASSERT_EQ(toBlock.writeConverted(input.data() + at, n, &c), 0);
            at += n;
        }
        ASSERT_EQ(toFile.writeConverted(input.data(), 0, &a), 0);
        ASSERT_EQ(toBlk.writeConverted(input.data(), 0, &b), 0);
        ASSERT_EQ(toBlock.writeConverted(input.data(), 0, &c), 0);
        ASSERT_EQ(a, want.size());
        ASSERT_EQ(b, want.size());
        ASSERT_EQ(c, want.size());
        std::string got(want.size(), '\0');
        ASSERT_EQ(file.read(0, got.data(), got.size()), 0);
        EXPECT_TRUE(sameBytes(got, want));
        ASSERT_EQ(blk.readAt(0, got.data(), got.size()), 0);
        EXPECT_TRUE(sameBytes(got, want));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(block.data()), want.size()), want);
        EXPECT_EQ(block[want.size()], 0xEE);
        // A restart empties the file and writes from its start again.
        ASSERT_EQ(toFile.restart(0), 0);
        ASSERT_EQ(toFile.writeConverted(input.data(), input.size(), &a), 0);
        ASSERT_EQ(toFile.writeConverted(input.data(), 0, &a), 0);
        EXPECT_EQ(a, want.size());
        ASSERT_EQ(file.read(0, got.data(), got.size()), 0);
        EXPECT_TRUE(sameBytes(got, want));
    }
    EXPECT_EQ(errors.size(), 0u);
}

TEST_F(KaTmpCvtTest, AFullMemoryBlockIsAFailure)
{
    std::vector<uint8_t> block(8 + 16, 0xEE);
    KaTmpFileConverter c(kCodePageUtf8, kCodePageUtf16LE, block.data(), 8);
    uint64_t total = 0;
    EXPECT_EQ(c.writeConverted("abcdefgh", 8, &total), 1);
    EXPECT_EQ(total, 8u);
    EXPECT_EQ(block[8], 0xEE);
    ASSERT_GE(errors.size(), 1u);
    EXPECT_EQ(errors.native(0), MSG_CONVERSION_TRUNCATED);
}

TEST_F(KaTmpCvtTest, RoomForLessThanTheTerminatorWarnsAndGivesNothing)
{
    const char text[] = "abc";
    KaTmpFileConverter c(text, 3, kCodePageUtf8, kCodePageUtf32LE);
    katest::Guarded<uint8_t> out(3);
    uint64_t count = 99;
    int more = 0;
    EXPECT_EQ(c.readConverted(out.data(), 3, 1, &count, &more), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(more, 1);
    EXPECT_TRUE(out.untouched());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors.native(0), MSG_CONVERSION_TRUNCATED);
    EXPECT_EQ(katest::sqlstate(errors.at(0)), "01004");
}

TEST_F(KaTmpCvtTest, UnknownCodePageIsNamedInTheDiagnostic)
{
    KaTmpFileConverter c("abc", 3, kCodePageUtf8, 1999999);
    char out[16];
    uint64_t count = 0;
    int more = 0;
    EXPECT_EQ(c.readConverted(out, sizeof out, 1, &count, &more), 1);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors.native(0), MSG_CONVERTER_NOT_AVAILABLE);
    EXPECT_NE(errors.text(0).find("1999999"), std::string::npos) << errors.text(0);
}

TEST_F(KaTmpCvtTest, RemainingTotalOnlyForFixedWidthCodePages)
{
    std::string input = icuConvert(std::string(5000, 'q'), kCodePageUtf8, kCodePageUtf16LE);
    BlkTmpFile blk(1024);
    ASSERT_EQ(blk.reset(0), 0);
    ASSERT_EQ(blk.append(input.data(), input.size()), 0);
    KaBlkTmpFileConverter fixed(&blk, input.size(), kCodePageUtf16LE, kCodePageUtf32LE);
    std::vector<uint8_t> out(1000);
    uint64_t count = 0;
    int64_t remaining = 0;
    uint64_t delivered = 0;
    do {
        ASSERT_EQ(fixed.readConvertedWithTotal(out.data(), out.size(), 0, &count, &remaining), 0);
        delivered += count;
        if (remaining != 0) {
            EXPECT_EQ(uint64_t(remaining), 5000 * 4 - delivered);
        }
    } while (remaining != 0);
    EXPECT_EQ(delivered, 5000u * 4);

    KaBlkTmpFileConverter varying(input.data(), input.size(), kCodePageUtf16LE, kCodePageUtf8);
    ASSERT_EQ(varying.readConvertedWithTotal(out.data(), 100, 0, &count, &remaining), 0);
    EXPECT_EQ(remaining, KA_CVT_NO_TOTAL);
}

}  // namespace
