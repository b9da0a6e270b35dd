// The streaming converters against references nobody here wrote: long texts
// converted block by block, cut at every border that matters, must equal
// ICU's one-shot conversion and glibc's iconv; values delivered piece by
// piece into terminated application buffers end every piece on a whole
// character; hex text cut anywhere decodes once, and a value that ends
// inside a digit or a character is reported, never dropped silently.
#include "convert/datacvt.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <string>
#include <vector>

#include <unicode/ucnv.h>

#include "foundation/codepage.h"
#include "kamessages.h"
#include "platform/katmpsink.h"
#include "support/errorscope.h"
#include "support/guarded.h"
#include "support/tmpfiletest.h"

namespace {

// Collects what a sink without windows receives.
class StringSink : public KaDataSink {
public:
    StringSink() noexcept : KaDataSink(KA_STREAM_MEMORY) { windowed = 0; }
    ~StringSink() override = default;
    int release() noexcept override { return 0; }
    int open() noexcept override { return reset(); }
    int reset() noexcept override
    {
        data.clear();
        writes.clear();
        return 0;
    }
    int write(const void* d, uint64_t n, int32_t more) noexcept override
    {
        data.append(static_cast<const char*>(d), n);
        writes.push_back(n);
        lastMore = more;
        return 0;
    }
    int getWriteWindow(uint8_t**, uint64_t*, int32_t*) noexcept override { return 1; }
    int commit(uint64_t, int32_t) noexcept override { return 1; }

    std::string data;
    std::vector<uint64_t> writes;
    int32_t lastMore = 1;
};

// A source that hands out blocks of blockSize bytes.
KaMultiMemorySource* sourceOf(const std::string& text, uint64_t blockSize)
{
    auto* src = new KaMultiMemorySource(blockSize);
    if (src->open() || src->append(text.data(), text.size()) || src->rewind()) {
        delete src;
        return nullptr;
    }
    return src;
}

std::string icuConvert(const char* to, const char* from, const std::string& in)
{
    UErrorCode st = U_ZERO_ERROR;
    int32_t n = ucnv_convert(to, from, nullptr, 0, in.data(), int32_t(in.size()), &st);
    std::string out(size_t(n), '\0');
    st = U_ZERO_ERROR;
    ucnv_convert(to, from, out.data(), n, in.data(), int32_t(in.size()), &st);
    return U_FAILURE(st) ? std::string("<icu failed>") : out;
}

std::string iconvConvert(const char* to, const char* from, const std::string& in)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1))
        return "<iconv_open failed>";
    std::string out(in.size() * 4 + 16, '\0');
    char* ip = const_cast<char*>(in.data());
    size_t il = in.size();
    char* op = out.data();
    size_t ol = out.size();
    size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == size_t(-1))
        return "<iconv failed>";
    out.resize(out.size() - ol);
    return out;
}

// Characters of one, two, three and four UTF-8 bytes, so that every block
// border falls inside each kind of character somewhere.
std::string mixedUtf8(size_t approxBytes)
{
    static const char* const pieces[] = {"plain ascii text ",
                                         "gr\xC3\xBC\xC3\x9F"
                                         "e ",
                                         "\xE6\x97\xA5\xE6\x9C\xAC ", "\xF0\x9F\x98\x80\xF0\x9D\x84\x9E ",
                                         "\xE2\x82\xAC 12,50 "};
    std::string s;
    for (size_t i = 0; s.size() < approxBytes; ++i)
        s += pieces[(i * 7 + i / 5) % 5];
    return s;
}

// Latin-1 and Shift_JIS texts that ICU and iconv agree on.
std::string latin1Text(size_t n)
{
    std::string s;
    for (size_t i = 0; s.size() < n; ++i)
        s += char(i % 3 == 0 ? 0xE0 + i % 20 : 'a' + i % 26);
    return s;
}

class DataCvtTest : public ::testing::Test {
protected:
    katest::ThreadScope thread;
    katest::ErrorScope errors;
    katest::TmpDirScope tmp;

    // The whole value through windows of a temporary-file sink of
    // windowSize bytes.
    std::string pumpToFile(int64_t from, int64_t to, const std::string& in, uint64_t blockSize, uint64_t windowSize)
    {
        auto* sink = new KaTmpFileSink(windowSize);
        KaCharConverter conv;
        if (sink->open() || conv.setCodePages(sourceOf(in, blockSize), sink, from, to, 0))
            return "<setup failed>";
        for (int guard = 0; !conv.finished; ++guard)
            if (conv.convert() != 0 || guard > 1000)
                return "<convert failed>";
        KaTmpFileSource out;
        if (sink->toSource(&out))
            return "<hand-over failed>";
        std::string got(out.total, '\0');
        uint64_t n = 0;
        int32_t more = 0;
        int rc = out.read(got.data(), got.size(), &n, &more);
        out.release();
        return rc == 0 && n == got.size() ? got : "<read failed>";
    }

    // The value piece by piece into terminated buffers of `size` bytes, as
    // SQLGetData hands it out; every piece is checked for its terminator.
    std::vector<std::string> pieces(int64_t from, int64_t to, const std::string& in, uint64_t blockSize, uint64_t size,
                                    int* rcOut = nullptr)
    {
        auto* sink = new KaMemorySink;
        KaCharConverter conv;
        std::vector<std::string> out;
        katest::Guarded<uint8_t> room(size);
        sink->attach(room.data(), room.size());
        if (conv.setCodePages(sourceOf(in, blockSize), sink, from, to, 1)) {
            out.push_back("<setup failed>");
            return out;
        }
        const uint64_t term = isUtf16(to) ? 2 : 1;
        int rc = 0;
        for (int guard = 0; !conv.finished && guard < 100000; ++guard) {
            sink->attach(room.data(), room.size());
            rc = conv.convert();
            std::string piece(reinterpret_cast<char*>(room.data()), sink->position);
            EXPECT_TRUE(room.guardsIntact());
            EXPECT_LE(sink->position + term, size);
            for (uint64_t i = 0; i < term; ++i)
                EXPECT_EQ(0, room.data()[sink->position + i]) << "no terminator after piece " << out.size();
            out.push_back(piece);
            if (rc != 0)
                break;
        }
        if (rcOut != nullptr)
            *rcOut = rc;
        return out;
    }

    static bool isUtf16(int64_t cp) { return cp == kCodePageUtf16LE || cp == kCodePageUtf16BE; }
};

std::string join(const std::vector<std::string>& v)
{
    std::string s;
    for (const auto& p : v)
        s += p;
    return s;
}

struct Pair {
    const char* name;
    int64_t from;
    int64_t to;
    const char* icuFrom;
    const char* icuTo;
    const char* iconvFrom;
    const char* iconvTo;
};

const Pair kPairs[] = {
    {"UTF-8 to UTF-16LE", kCodePageUtf8, kCodePageUtf16LE, "UTF-8", "UTF-16LE", "UTF-8", "UTF-16LE"},
    {"UTF-16LE to UTF-8", kCodePageUtf16LE, kCodePageUtf8, "UTF-16LE", "UTF-8", "UTF-16LE", "UTF-8"},
    {"UTF-8 to UTF-16BE", kCodePageUtf8, kCodePageUtf16BE, "UTF-8", "UTF-16BE", "UTF-8", "UTF-16BE"},
    {"UTF-8 to UTF-32LE", kCodePageUtf8, kCodePageUtf32LE, "UTF-8", "UTF-32LE", "UTF-8", "UTF-32LE"},
};

TEST_F(DataCvtTest, StreamingMatchesIcuAndIconvAtEveryBlockAndWindowBorder)
{
    const uint64_t sizes[] = {1, 2, 3, 7, 4096};
    for (const Pair& p : kPairs) {
        std::string utf8 = mixedUtf8(p.from == kCodePageUtf8 ? 20000 : 12000);
        std::string in = p.from == kCodePageUtf8 ? utf8 : icuConvert(p.icuFrom, "UTF-8", utf8);
        std::string byIcu = icuConvert(p.icuTo, p.icuFrom, in);
        std::string byIconv = iconvConvert(p.iconvTo, p.iconvFrom, in);
        ASSERT_EQ(byIcu, byIconv) << p.name;  // the two references agree
        for (uint64_t blockSize : sizes) {
            for (uint64_t window : sizes) {
                std::string got = pumpToFile(p.from, p.to, in, blockSize, window);
                ASSERT_EQ(byIcu.size(), got.size()) << p.name << " block " << blockSize << " window " << window;
                ASSERT_TRUE(got == byIcu) << p.name << " block " << blockSize << " window " << window;
            }
        }
    }
    EXPECT_EQ(0u, errors.size());
}

TEST_F(DataCvtTest, LoneSurrogatesInTheMiddleAreHandledAsIcuHandlesThem)
{
    std::string in = icuConvert("UTF-16BE", "UTF-8", mixedUtf8(9000));
    in.insert(3001 * 2, std::string("\xD8\x3D", 2));  // a high surrogate with no trail
    in.insert(5003 * 2, std::string("\xDC\x01", 2));  // a trail with no lead
    std::string want = icuConvert("UTF-16LE", "UTF-16BE", in);
    for (uint64_t blockSize : {3u, 4096u})
        EXPECT_TRUE(pumpToFile(kCodePageUtf16BE, kCodePageUtf16LE, in, blockSize, 4096) == want) << blockSize;
}

TEST_F(DataCvtTest, ALongValueMatchesTheReferencesThroughLargeBlocks)
{
    std::string in = mixedUtf8(600000);
    std::string want = iconvConvert("UTF-16LE", "UTF-8", in);
    EXPECT_TRUE(want == icuConvert("UTF-16LE", "UTF-8", in));
    for (uint64_t blockSize : {4096u, 65536u, 1048576u})
        EXPECT_TRUE(pumpToFile(kCodePageUtf8, kCodePageUtf16LE, in, blockSize, 65536) == want) << blockSize;
    std::string latin = latin1Text(300000);
    EXPECT_TRUE(pumpToFile(kCodePageLatin1, kCodePageUtf8, latin, 7, 4096) ==
                iconvConvert("UTF-8", "ISO-8859-1", latin));
}

TEST_F(DataCvtTest, ASinkWithoutWindowsGetsWritesOfAtMostTheOwnBuffer)
{
    std::string in = mixedUtf8(30000);
    auto* sink = new StringSink;
    KaCharConverter conv;
    ASSERT_EQ(0, conv.setCodePages(sourceOf(in, 3), sink, kCodePageUtf8, kCodePageUtf16LE, 1));
    ASSERT_EQ(0, conv.convert());
    EXPECT_EQ(1, conv.finished);
    EXPECT_TRUE(sink->data == iconvConvert("UTF-16LE", "UTF-8", in));  // and no terminator
    for (uint64_t w : sink->writes)
        EXPECT_LE(w, KA_CVT_CHAR_BUFFER);
    EXPECT_EQ(0, sink->lastMore);
}

TEST_F(DataCvtTest, PiecesIntoTerminatedBuffersEndOnWholeCharacters)
{
    std::string in = mixedUtf8(5000);
    std::string utf16 = iconvConvert("UTF-16LE", "UTF-8", in);
    for (uint64_t size : {6u, 7u, 9u, 100u, 4097u}) {
        for (uint64_t blockSize : {1u, 3u, 4096u}) {
            std::vector<std::string> got = pieces(kCodePageUtf8, kCodePageUtf16LE, in, blockSize, size);
            ASSERT_TRUE(join(got) == utf16) << size << " " << blockSize;
            for (const std::string& piece : got) {
                ASSERT_EQ(0u, piece.size() % 2) << size;
                if (piece.size() >= 2) {
                    uint16_t last = uint16_t(uint8_t(piece[piece.size() - 2]) | (uint8_t(piece.back()) << 8));
                    EXPECT_FALSE(last >= 0xD800 && last <= 0xDBFF) << "a surrogate pair was cut, size " << size;
                }
            }
        }
    }
    // Into UTF-8 pieces: every piece is valid UTF-8 on its own.
    std::string fromUtf16 = iconvConvert("UTF-16LE", "UTF-8", in);
    std::vector<std::string> got = pieces(kCodePageUtf16LE, kCodePageUtf8, fromUtf16, 7, 6);
    EXPECT_TRUE(join(got) == in);
    for (const std::string& piece : got)
        EXPECT_NE("<iconv failed>", iconvConvert("UTF-16LE", "UTF-8", piece)) << "piece cut inside a character";
}

TEST_F(DataCvtTest, ABufferTooSmallForTheNextCharacterGetsNothingAndTheCharacterWaits)
{
    auto* sink = new KaMemorySink;
    katest::Guarded<uint8_t> small(5), large(16);
    sink->attach(small.data(), small.size());
    KaCharConverter conv;
    std::string in = "\xF0\x9F\x98\x80z";
    ASSERT_EQ(0, conv.setCodePages(sourceOf(in, 2), sink, kCodePageUtf8, kCodePageUtf16LE, 1));
    ASSERT_EQ(0, conv.convert());
    EXPECT_EQ(0u, sink->position);  // 3 bytes of room: no room for the pair
    EXPECT_EQ(1, sink->truncated);
    EXPECT_EQ(0, small.data()[0]);
    sink->attach(large.data(), large.size());
    ASSERT_EQ(0, conv.convert());
    EXPECT_EQ(1, conv.finished);
    EXPECT_TRUE(std::string(reinterpret_cast<char*>(large.data()), sink->position) ==
                iconvConvert("UTF-16LE", "UTF-8", in));
}

TEST_F(DataCvtTest, AShiftJisCopyEndsItsLastWindowBeforeACutCharacter)
{
    // Windows-31J, the Shift_JIS form that the converter data holds.
    const int64_t shiftJis = 2024;
    // "ab" and two two-byte characters: a window of 4 + NUL holds "ab" and
    // one byte of the first character, which must wait for the next piece.
    std::string sjis = iconvConvert("SHIFT_JIS", "UTF-8", "ab\xE6\x97\xA5\xE6\x9C\xAC");
    ASSERT_EQ(6u, sjis.size());
    std::vector<std::string> got = pieces(shiftJis, shiftJis, sjis, 4096, 4);
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ("ab", got[0]);
    EXPECT_EQ(sjis.substr(2, 2), got[1].substr(0, 2));
    EXPECT_TRUE(join(got) == sjis);
    // UTF-8 is cut at the byte limit.
    std::vector<std::string> utf8 = pieces(kCodePageUtf8, kCodePageUtf8, "ab\xE6\x97\xA5", 4096, 4);
    EXPECT_EQ("ab\xE6", utf8[0]);
}

TEST_F(DataCvtTest, AUtf16CopyIntoAnOddWindowFillsAnEvenCountAndTerminates)
{
    std::string in = iconvConvert("UTF-16LE", "UTF-8", "abcdef");
    std::vector<std::string> got = pieces(kCodePageUtf16LE, kCodePageUtf16LE, in, 4096, 7);
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(4u, got[0].size());  // 7 - 2 for the terminator, even
    EXPECT_TRUE(join(got) == in);
    // A surrogate pair cut by the end of the window is held back whole.
    std::string pair = iconvConvert("UTF-16LE", "UTF-8",
                                    "a\xF0\x9F\x98\x80"
                                    "b");
    got = pieces(kCodePageUtf16LE, kCodePageUtf16LE, pair, 4096, 6);
    EXPECT_EQ(2u, got[0].size());
    EXPECT_TRUE(join(got) == pair);
}

TEST_F(DataCvtTest, AUtf16ValueEndingWithALoneHighSurrogateIsReported)
{
    std::string in = iconvConvert("UTF-16LE", "UTF-8", "ab");
    in += std::string("\x3D\xD8", 2);
    int rc = 0;
    std::vector<std::string> got = pieces(kCodePageUtf16LE, kCodePageUtf16LE, in, 4096, 64, &rc);
    EXPECT_EQ(1, rc);
    EXPECT_EQ(4u, join(got).size());  // the whole characters only
    ASSERT_GE(errors.size(), 1u);
    EXPECT_EQ(MSG_CONVERSION_FAILED, errors.native(0));
}

TEST_F(DataCvtTest, AnUnknownCodePageFailsTheSetUp)
{
    KaCharConverter conv;
    EXPECT_EQ(1, conv.setCodePages(sourceOf("x", 1), new StringSink, 1999999999, kCodePageUtf8, 0));
    ASSERT_GE(errors.size(), 1u);
    EXPECT_EQ(MSG_CONVERTER_NOT_AVAILABLE, errors.native(0));
}

TEST_F(DataCvtTest, FailingModeStopsOnACharacterTheTargetLacks)
{
    auto* sink = new StringSink;
    KaCharConverter conv(nullptr, nullptr, kCodePageUtf8, kCodePageLatin1, 0, kConvModeFail);
    ASSERT_EQ(0, conv.setCodePages(sourceOf("abc \xE6\x97\xA5 def", 2), sink, kCodePageUtf8, kCodePageLatin1, 0));
    EXPECT_EQ(1, conv.convert());
    EXPECT_EQ(1, conv.convert());  // reported again at the next call
    ASSERT_GE(errors.size(), 1u);
    EXPECT_EQ(MSG_CONVERSION_FAILED, errors.native(0));
}

TEST_F(DataCvtTest, ConvertToSourceDeliversTheConvertedValueFromATemporaryFile)
{
    std::string in = mixedUtf8(200000);
    std::string want = iconvConvert("UTF-16LE", "UTF-8", in);
    auto* sink = new KaMemorySink;
    katest::Guarded<uint8_t> room(1000);
    sink->attach(room.data(), room.size());
    KaCharConverter conv;
    ASSERT_EQ(0, conv.setCodePages(sourceOf(in, 4096), sink, kCodePageUtf8, kCodePageUtf16LE, 1));
    auto* tmpSink = new KaTmpFileSink(65536);
    ASSERT_EQ(0, tmpSink->open());
    auto* tmpSource = new KaTmpFileSource;
    KaDataSource* old = nullptr;
    ASSERT_EQ(0, conv.convertToSource(tmpSink, tmpSource, &old));
    delete old;
    EXPECT_EQ(int64_t(want.size()), conv.remaining);
    std::string got;
    for (int guard = 0; !conv.finished && guard < 10000; ++guard) {
        sink->attach(room.data(), room.size());
        ASSERT_EQ(0, conv.convert());
        got.append(reinterpret_cast<char*>(room.data()), sink->position);
    }
    EXPECT_TRUE(got == want);
    EXPECT_TRUE(room.guardsIntact());
}

TEST_F(DataCvtTest, TheSimpleKindCutsAMemoryBlockOnACharacterBorder)
{
    // Windows-31J: "ab", then two two-byte characters.
    std::string sjis = iconvConvert("SHIFT_JIS", "UTF-8", "ab\xE6\x97\xA5\xE6\x9C\xAC");
    katest::Guarded<uint8_t> room(4);
    auto* sink = new KaMemorySink;
    sink->attach(room.data(), room.size());
    KaSimpleCharConverter conv;
    ASSERT_EQ(0, conv.set(sjis.data(), sjis.size(), sink, 2024, 1));
    ASSERT_EQ(0, conv.convert());
    EXPECT_EQ(2u, sink->position);
    EXPECT_EQ(1, sink->truncated);
    EXPECT_EQ(0, room.data()[2]);
    EXPECT_EQ(4, conv.remaining);
    sink->attach(room.data(), room.size());
    ASSERT_EQ(0, conv.convert());
    EXPECT_EQ(sjis.substr(2, 2), std::string(reinterpret_cast<char*>(room.data()), sink->position));
    katest::Guarded<uint8_t> large(16);
    sink->attach(large.data(), large.size());
    ASSERT_EQ(0, conv.convert());
    EXPECT_EQ(sjis.substr(4), std::string(reinterpret_cast<char*>(large.data()), sink->position));
    EXPECT_EQ(0, sink->truncated);
    EXPECT_EQ(0, conv.remaining);
    EXPECT_EQ(1, conv.finished);
    EXPECT_TRUE(room.guardsIntact());
    EXPECT_TRUE(large.guardsIntact());
    EXPECT_EQ(1, conv.rewind());
    EXPECT_EQ(MSG_CONVERSION_FAILED, errors.native(0));
}

// ---- Binary ----------------------------------------------------------------

TEST_F(DataCvtTest, BinaryToNarrowHexIntoANineByteWindowTakesFourBytes)
{
    auto* sink = new KaMemorySink;
    katest::Guarded<uint8_t> room(9);
    sink->attach(room.data(), room.size());
    const uint8_t value[] = {0x01, 0xAB, 0xFF, 0x10, 0x7E};
    auto* src = new KaMemorySource;
    src->attach(value, sizeof value);
    KaBinaryConverter conv;
    conv.setSourceSink(src, sink, KA_CVT_FORM_HEX, 1);
    ASSERT_EQ(0, conv.open());
    ASSERT_EQ(0, conv.convert());
    EXPECT_EQ(8u, sink->position);
    EXPECT_EQ(1, sink->truncated);
    EXPECT_EQ(std::string("01ABFF10", 9), std::string(reinterpret_cast<char*>(room.data()), 9));
    sink->attach(room.data(), room.size());
    ASSERT_EQ(0, conv.convert());
    EXPECT_EQ("7E", std::string(reinterpret_cast<char*>(room.data()), sink->position));
    EXPECT_EQ(0, room.data()[2]);
    EXPECT_EQ(1, conv.finished);
    EXPECT_TRUE(room.guardsIntact());
    conv.setLength(10, -1);
    EXPECT_EQ(20, conv.remaining);
}

TEST_F(DataCvtTest, BinaryLengthInUtf16HexIsFourBytesPerByte)
{
    KaBinaryConverter conv;
    conv.setSourceSink(new KaMemorySource, new KaMemorySink, KA_CVT_FORM_HEX_W, 1);
    conv.setLength(10, -1);
    EXPECT_EQ(40, conv.remaining);
}

TEST_F(DataCvtTest, BinaryToASinkWithoutWindowsWritesNoTerminatorAndBoundedPieces)
{
    std::string value(50000, '\0');
    for (size_t i = 0; i < value.size(); ++i)
        value[i] = char(i * 31);
    auto* sink = new StringSink;
    KaBinaryConverter conv;
    conv.setSourceSink(sourceOf(value, 7), sink, KA_CVT_FORM_HEX_W, 1);
    ASSERT_EQ(0, conv.open());
    ASSERT_EQ(0, conv.convert());
    ASSERT_EQ(value.size() * 4, sink->data.size());
    for (uint64_t w : sink->writes)
        EXPECT_LE(w, KA_CVT_BINARY_BUFFER);
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < value.size(); ++i) {
        uint8_t b = uint8_t(value[i]);
        ASSERT_EQ(digits[b >> 4], sink->data[4 * i]);
        ASSERT_EQ(0, sink->data[4 * i + 1]);
        ASSERT_EQ(digits[b & 15], sink->data[4 * i + 2]);
    }
}

TEST_F(DataCvtTest, BinaryHexThroughOddWindowsLosesNoDigit)
{
    std::string value = "\x12\x34\x56\x78\x9A";
    for (uint64_t window : {1u, 3u, 5u}) {
        auto* sink = new KaTmpFileSink(window);
        KaBinaryConverter conv;
        conv.setSourceSink(sourceOf(value, 2), sink, KA_CVT_FORM_HEX_W, 0);
        ASSERT_EQ(0, conv.open());
        ASSERT_EQ(0, conv.convert());
        KaTmpFileSource out;
        ASSERT_EQ(0, sink->toSource(&out));
        std::string got(out.total, '\0');
        uint64_t n = 0;
        int32_t more = 0;
        ASSERT_EQ(0, out.read(got.data(), got.size(), &n, &more));
        out.release();
        EXPECT_EQ(iconvConvert("UTF-16LE", "UTF-8", "123456789A"), got) << window;
    }
}

struct HexCase {
    const char* name;
    int32_t form;
    std::string text;
    uint64_t blockSize;
    int rc;
    std::string bytes;
};

std::string wide(const std::string& ascii)
{
    std::string s;
    for (char c : ascii) {
        s += c;
        s += '\0';
    }
    return s;
}

TEST_F(DataCvtTest, HexInputCutAnywhereDecodesOnceAndAnUnfinishedDigitIsReported)
{
    const HexCase cases[] = {
        {"narrow, digits of one byte in two blocks", KA_CVT_FORM_HEX, "0aFf10", 1, 0, "\x0A\xFF\x10"},
        {"narrow, blocks of three", KA_CVT_FORM_HEX, "0aFf10c3", 3, 0, "\x0A\xFF\x10\xC3"},
        {"UTF-16, blocks of three", KA_CVT_FORM_HEX_W, wide("0aFf10c3"), 3, 0, "\x0A\xFF\x10\xC3"},
        {"UTF-16, blocks of seven", KA_CVT_FORM_HEX_W, wide("0aFf10c3"), 7, 0, "\x0A\xFF\x10\xC3"},
        {"bytes", KA_CVT_FORM_BYTES, "xyz", 2, 0, "xyz"},
        {"narrow, a final odd digit", KA_CVT_FORM_HEX, "0aF", 2, 1, "\x0A"},
        {"UTF-16, a final odd digit", KA_CVT_FORM_HEX_W, wide("0aF"), 3, 1, "\x0A"},
        {"UTF-16, a trailing byte", KA_CVT_FORM_HEX_W, wide("0a") + "F", 4096, 1, "\x0A"},
    };
    for (const HexCase& c : cases) {
        katest::ErrorScope local;
        auto* sink = new StringSink;
        KaBinaryConverterInput conv;
        conv.setSourceSink(sourceOf(c.text, c.blockSize), sink, c.form, 0);
        ASSERT_EQ(0, conv.open());
        EXPECT_EQ(c.rc, conv.convert()) << c.name;
        EXPECT_EQ(c.bytes, sink->data) << c.name;
        if (c.rc != 0) {
            ASSERT_EQ(1u, local.size()) << c.name;
            EXPECT_EQ(MSG_INVALID_HEX_DIGIT, local.native(0)) << c.name;
            EXPECT_EQ("22018", katest::sqlstate(local.at(0))) << c.name;
        } else {
            EXPECT_EQ(0u, local.size()) << c.name;
        }
    }
}

TEST_F(DataCvtTest, ANonHexCharacterFailsWithInvalidCast)
{
    auto* sink = new StringSink;
    KaBinaryConverterInput conv;
    conv.setSourceSink(sourceOf("0a1g", 4096), sink, KA_CVT_FORM_HEX, 0);
    ASSERT_EQ(0, conv.open());
    EXPECT_EQ(1, conv.convert());
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_INVALID_HEX_DIGIT, errors.native(0));
    EXPECT_EQ("22018", katest::sqlstate(errors.at(0)));
}

}  // namespace
