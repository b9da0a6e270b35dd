#include "foundation/kaencode.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/errorscope.h"
#include "support/guarded.h"
#include "foundation/ram.h"
#include "kamessages.h"

using katest::ErrorScope;

namespace {

using Guarded = katest::Guarded<uint8_t>;

char* chars(Guarded& g)
{
    return reinterpret_cast<char*>(g.data());
}

std::vector<uint8_t> randomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = uint8_t(gen());
    return v;
}

std::string hexOf(const uint8_t* d, size_t n)
{
    std::string s(2 * n, '\0');
    hexifyLower(s.data(), d, n);
    return s;
}

// Runs a coreutils command over data (through a private temporary file)
// and returns its first output word.
std::string coreutils(const char* command, const std::vector<uint8_t>& data)
{
    char path[] = "/tmp/kaencode_testXXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return {};
    FILE* f = fdopen(fd, "wb");
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
    std::string cmd = std::string(command) + " < " + path;
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[4096];
    while (p != nullptr && fgets(buf, sizeof buf, p) != nullptr)
        out += buf;
    if (p != nullptr)
        pclose(p);
    unlink(path);
    size_t end = out.find_first_of(" \n");
    return end == std::string::npos ? out : out.substr(0, end);
}

class KaEncode : public ::testing::Test {
protected:
    static void SetUpTestSuite() { katest::openCatalogue(); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }
};

}  // namespace

TEST_F(KaEncode, HexFormatU64PadsAndNeverCuts)
{
    struct {
        uint64_t value;
        uint16_t min;
        const char* text;
    } cases[] = {
        {0, 0, "0"},
        {0x1F, 4, "001F"},
        {0xABCDE, 2, "ABCDE"},
        {UINT64_MAX, 0, "FFFFFFFFFFFFFFFF"},
        {1, 19, "0000000000000000001"},
        {1, 40, "0000000000000000001"},  // beyond the limit: capped
    };
    for (const auto& c : cases) {
        Guarded out(KA_HEX_U64_BUFFER);
        uint16_t n = hexFormatU64(chars(out), c.value, c.min);
        EXPECT_STREQ(chars(out), c.text);
        EXPECT_EQ(n, strlen(c.text));
        EXPECT_TRUE(out.guardsIntact());
    }
}

TEST_F(KaEncode, HexifyForms)
{
    const uint8_t in[] = {0x00, 0xAB, 0x7F};
    Guarded up(6), low(6);
    EXPECT_EQ(hexify(chars(up), in, 3), 6u);
    EXPECT_EQ(std::string(chars(up), 6), "00AB7F");
    EXPECT_EQ(hexifyLower(chars(low), in, 3), 6u);
    EXPECT_EQ(std::string(chars(low), 6), "00ab7f");
    EXPECT_TRUE(up.guardsIntact() && low.guardsIntact());

    Guarded w(12);
    EXPECT_EQ(hexifyW(reinterpret_cast<uint16_t*>(w.data()), in, 3), 12u);
    EXPECT_EQ(katest::narrow(katest::u16(reinterpret_cast<uint16_t*>(w.data()), 6)), "00AB7F");
    EXPECT_TRUE(w.guardsIntact());

    Guarded u(24);
    EXPECT_EQ(hexifyU32(reinterpret_cast<uint32_t*>(u.data()), in, 3), 24u);
    auto* u32 = reinterpret_cast<uint32_t*>(u.data());
    EXPECT_EQ(u32[0], uint32_t('0'));
    EXPECT_EQ(u32[3], uint32_t('B'));
    EXPECT_EQ(u32[5], uint32_t('F'));
    EXPECT_TRUE(u.guardsIntact());
}

TEST_F(KaEncode, HexifyInPlace)
{
    auto bytes = randomBytes(37, 3);
    std::string expected(74, '\0');
    hexify(expected.data(), bytes.data(), bytes.size());

    Guarded buf(74);
    memcpy(buf.data(), bytes.data(), bytes.size());
    hexify(chars(buf), buf.data(), bytes.size());
    EXPECT_EQ(std::string(chars(buf), 74), expected);
    EXPECT_TRUE(buf.guardsIntact());

    Guarded wide(4 * 37);
    memcpy(wide.data(), bytes.data(), bytes.size());
    hexifyW(reinterpret_cast<uint16_t*>(wide.data()), wide.data(), bytes.size());
    std::u16string w = katest::u16(reinterpret_cast<uint16_t*>(wide.data()), 74);
    EXPECT_EQ(katest::narrow(w), expected);
    EXPECT_TRUE(wide.guardsIntact());
}

TEST_F(KaEncode, UnhexifyDecodesPairsAndOddTail)
{
    Guarded out(2);
    ErrorScope errors;
    ASSERT_EQ(unhexify(out.data(), "4a4B", 4), 0);
    EXPECT_EQ(out.data()[0], 0x4A);
    EXPECT_EQ(out.data()[1], 0x4B);
    ASSERT_EQ(unhexify(out.data(), "ABC", 3), 0);
    EXPECT_EQ(out.data()[0], 0xAB);
    EXPECT_EQ(out.data()[1], 0xC0);
    EXPECT_TRUE(out.guardsIntact());
    EXPECT_EQ(errors.size(), 0u);
}

TEST_F(KaEncode, UnhexifyRejectsNonDigits)
{
    const uint16_t wideBad[] = {u'4', u'G'};
    const uint32_t u32Bad[] = {'4', 0x10030};  // '0' plus a plane: no digit
    const uint32_t u32Good[] = {'f', 'F'};
    Guarded out(2);
    ErrorScope errors;
    EXPECT_EQ(unhexify(out.data(), "4G", 2), 1);
    EXPECT_EQ(unhexifyW(out.data(), wideBad, 2), 1);
    EXPECT_EQ(unhexifyU32(out.data(), u32Bad, 2), 1);
    ASSERT_EQ(errors.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(errors.native(i), MSG_INVALID_HEX_DIGIT);
    EXPECT_EQ(unhexifyU32(out.data(), u32Good, 2), 0);
    EXPECT_EQ(out.data()[0], 0xFF);
    EXPECT_TRUE(out.guardsIntact());
}

TEST_F(KaEncode, UnhexifyEscapedDoublesEscapeByte)
{
    Guarded out(8);
    size_t n = 0;
    ASSERT_EQ(unhexifyEscaped(out.data(), "41274127", 8, 0x27, &n), 0);
    EXPECT_EQ(std::string(chars(out), n), "A''A''");
    EXPECT_TRUE(out.guardsIntact());
}

TEST_F(KaEncode, UnhexifyEscapedNeverWritesPastTheDigitCount)
{
    // An odd last digit decodes to a byte with low nibble 0; when that byte
    // is the escape, its double may not fit the n bytes out holds.
    struct Case {
        const char* hex;
        uint8_t escape;
        int rc;
        std::string written;
    };
    const Case cases[] = {
        {"2", 0x20, 1, ""},  {"0", 0x00, 1, ""},       {"202", 0x20, 1, std::string("  ")}, {"272", 0x20, 0, "'  "},
        {"2", 0x27, 0, " "}, {"4127", 0x27, 0, "A''"}, {"27274", 0x40, 0, "''@@"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hex);
        const size_t n = std::strlen(c.hex);
        Guarded out(n);
        size_t written = 99;
        ErrorScope scope;
        EXPECT_EQ(unhexifyEscaped(out.data(), c.hex, n, c.escape, &written), c.rc);
        EXPECT_TRUE(out.guardsIntact());
        EXPECT_EQ(std::string(chars(out), written), c.written);
        if (c.rc != 0) {
            ASSERT_EQ(scope.size(), 1u);
            EXPECT_EQ(scope.native(0), MSG_VALUE_DOES_NOT_FIT);
        } else {
            EXPECT_EQ(scope.size(), 0u);
        }
    }
}

TEST_F(KaEncode, IsHexText)
{
    EXPECT_EQ(isHexText("09afAF", 6), 1);
    EXPECT_EQ(isHexText("09ag", 4), 0);
    EXPECT_EQ(isHexText("", 0), 1);
}

TEST_F(KaEncode, Base64EncodesRfc4648Vectors)
{
    const char* vectors[][2] = {{"", ""},
                                {"f", "Zg=="},
                                {"fo", "Zm8="},
                                {"foo", "Zm9v"},
                                {"foob", "Zm9vYg=="},
                                {"fooba", "Zm9vYmE="},
                                {"foobar", "Zm9vYmFy"},
                                {"abc", "YWJj"},
                                {"ab", "YWI="},
                                {"a", "YQ=="}};
    for (auto& v : vectors) {
        auto n = uint32_t(strlen(v[0]));
        Guarded out(KaBase64EncodedLength(n));
        char* end = KaBase64Encode(v[0], n, chars(out), KaBase64StandardAlphabet);
        EXPECT_EQ(std::string(chars(out), size_t(end - chars(out))), v[1]);
        EXPECT_TRUE(out.guardsIntact());
    }
}

TEST_F(KaEncode, Base64MatchesCoreutilsAndRoundTrips)
{
    uint8_t table[256];
    KaBase64MakeReverseTable(KaBase64StandardAlphabet, table);
    for (size_t n : {1u, 2u, 3u, 56u, 57u, 58u}) {
        auto bytes = randomBytes(n, unsigned(n));
        Guarded enc(KaBase64EncodedLength(uint32_t(n)));
        char* end = KaBase64Encode(bytes.data(), uint32_t(n), chars(enc), KaBase64StandardAlphabet);
        std::string text(chars(enc), end);
        EXPECT_EQ(text, coreutils("base64 -w0", bytes)) << n;

        Guarded dec(n);
        ErrorScope errors;
        uint8_t* dend = KaBase64Decode(text.data(), uint32_t(text.size()), dec.data(), uint32_t(n), table);
        ASSERT_NE(dend, nullptr);
        EXPECT_EQ(size_t(dend - dec.data()), n);
        EXPECT_EQ(memcmp(dec.data(), bytes.data(), n), 0);
        EXPECT_TRUE(enc.guardsIntact() && dec.guardsIntact());
    }
}

TEST_F(KaEncode, Base64DecodeReportsBadCharacterPosition)
{
    uint8_t table[256];
    KaBase64MakeReverseTable(KaBase64StandardAlphabet, table);
    Guarded out(3);
    ErrorScope errors;
    uint8_t* end = KaBase64Decode("YQ==", 4, out.data(), 3, table);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(end - out.data(), 1);
    EXPECT_EQ(out.data()[0], 'a');
    // An unpadded last group is padded.
    end = KaBase64Decode("YWI", 3, out.data(), 3, table);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(std::string(chars(out), size_t(end - out.data())), "ab");

    EXPECT_EQ(KaBase64Decode("Y!==", 4, out.data(), 3, table), nullptr);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors.native(0), MSG_BASE64_INVALID_CHARACTER);
    EXPECT_NE(errors.text(0).find("position 1"), std::string::npos) << errors.text(0);
    EXPECT_TRUE(out.guardsIntact());
}

TEST_F(KaEncode, Base64DecodeStopsAtCapacity)
{
    uint8_t table[256];
    KaBase64MakeReverseTable(KaBase64StandardAlphabet, table);
    Guarded out(5);
    ErrorScope errors;
    EXPECT_EQ(KaBase64Decode("Zm9vYmFy", 8, out.data(), 5, table), nullptr);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors.native(0), MSG_BASE64_OUTPUT_TOO_SMALL);
    EXPECT_TRUE(out.guardsIntact());

    Guarded exact(6);
    uint8_t* end = KaBase64Decode("Zm9vYmFy", 8, exact.data(), 6, table);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(std::string(chars(exact), size_t(end - exact.data())), "foobar");
    EXPECT_TRUE(exact.guardsIntact());
}

TEST_F(KaEncode, UrlEncode)
{
    struct {
        const char* in;
        int keepSlash;
        const char* out;
    } cases[] = {
        {"a b/c", 0, "a%20b%2Fc"}, {"a b/c", 1, "a%20b/c"},     {"\xC3\xA9", 0, "%C3%A9"},
        {"\xE9", 0, "%E9"},        {"Az09-_.~", 0, "Az09-_.~"}, {"", 0, ""},
    };
    for (const auto& c : cases) {
        Guarded out(64);
        size_t n = 99;
        ASSERT_EQ(urlEncode(c.in, KA_URL_NTS, chars(out), 64, &n, c.keepSlash), chars(out));
        EXPECT_STREQ(chars(out), c.out);
        EXPECT_EQ(n, strlen(c.out));
        EXPECT_TRUE(out.guardsIntact());
    }
}

TEST_F(KaEncode, UrlEncodeFitsExactlyOrFails)
{
    Guarded four(4);
    EXPECT_EQ(urlEncode(" ", 1, chars(four), 4, nullptr, 0), chars(four));
    EXPECT_STREQ(chars(four), "%20");
    Guarded three(3);
    EXPECT_EQ(urlEncode(" ", 1, chars(three), 3, nullptr, 0), nullptr);
    Guarded two(2);
    EXPECT_EQ(urlEncode("ab", 2, chars(two), 2, nullptr, 0), nullptr);
    EXPECT_EQ(urlEncode("a", 1, nullptr, 8, nullptr, 0), nullptr);
    EXPECT_TRUE(four.guardsIntact() && three.guardsIntact() && two.guardsIntact());

    // The allocating form sizes its buffer for text that is escaped whole.
    size_t n = 0;
    char* all = urlEncodeAlloc("  /", 3, &n);
    ASSERT_NE(all, nullptr);
    EXPECT_STREQ(all, "%20%20%2F");
    EXPECT_EQ(n, 9u);
    ramFree(all);
}

TEST_F(KaEncode, UrlEncodeWGoesThroughUtf8)
{
    Guarded out(32);
    const char16_t text[] = u"\u00e9 x";
    size_t n = 0;
    ASSERT_NE(urlEncodeW(katest::W(text), 3, chars(out), 32, &n, 0), nullptr);
    EXPECT_STREQ(chars(out), "%C3%A9%20x");
    const char16_t lone[] = {u'a', 0xD800, u'b'};
    EXPECT_EQ(urlEncodeW(katest::W(lone), 3, chars(out), 32, &n, 0), nullptr);
    EXPECT_TRUE(out.guardsIntact());
}

TEST_F(KaEncode, Crc32MatchesZlib)
{
    EXPECT_EQ(crc32Update(0, "", 0), 0u);
    EXPECT_EQ(~crc32Update(0xFFFFFFFFu, "123456789", 9), 0xCBF43926u);

    void* z = dlopen("libz.so.1", RTLD_NOW);
    ASSERT_NE(z, nullptr) << dlerror();
    using ZCrc = unsigned long (*)(unsigned long, const unsigned char*, unsigned);
    auto zcrc = reinterpret_cast<ZCrc>(dlsym(z, "crc32"));
    ASSERT_NE(zcrc, nullptr);
    for (size_t n : {1u, 7u, 256u, 4099u}) {
        auto bytes = randomBytes(n, unsigned(n) + 11);
        uint32_t ours = ~crc32Update(0xFFFFFFFFu, bytes.data(), uint32_t(n));
        EXPECT_EQ(ours, uint32_t(zcrc(0, bytes.data(), unsigned(n)))) << n;
        // Feeding in two pieces gives the same result.
        uint32_t split = crc32Update(0xFFFFFFFFu, bytes.data(), uint32_t(n / 2));
        split = ~crc32Update(split, bytes.data() + n / 2, uint32_t(n - n / 2));
        EXPECT_EQ(split, ours);
    }
    dlclose(z);
}

TEST_F(KaEncode, Md5Rfc1321Suite)
{
    const char* suite[][2] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "014842d480b571495a4a0363793f7367"},
    };
    for (auto& v : suite) {
        Guarded out(KA_MD5_DIGEST_SIZE);
        md5Digest(v[0], int32_t(8 * strlen(v[0])), out.data());
        EXPECT_EQ(hexOf(out.data(), KA_MD5_DIGEST_SIZE), v[1]) << v[0];
        EXPECT_TRUE(out.guardsIntact());
    }
}

TEST_F(KaEncode, Md5MatchesCoreutilsAcrossBlockBoundaries)
{
    for (size_t n : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u}) {
        auto bytes = randomBytes(n, unsigned(n) * 3);
        uint8_t out[KA_MD5_DIGEST_SIZE];
        md5Digest(bytes.data(), int32_t(8 * n), out);
        EXPECT_EQ(hexOf(out, sizeof out), coreutils("md5sum", bytes)) << n;
    }
}

TEST_F(KaEncode, Md5OfPartialByteIgnoresBitsBeyondLength)
{
    for (int bits : {3, 447, 449, 511, 517}) {
        auto a = randomBytes(size_t(bits) / 8 + 1, unsigned(bits));
        auto b = a;
        uint8_t keep = uint8_t(0xFF00 >> (bits % 8));
        b.back() = uint8_t((a.back() & keep) | (~a.back() & ~keep));
        uint8_t da[KA_MD5_DIGEST_SIZE], db[KA_MD5_DIGEST_SIZE], dc[KA_MD5_DIGEST_SIZE];
        md5Digest(a.data(), bits, da);
        md5Digest(b.data(), bits, db);
        md5Digest(a.data(), bits + 1, dc);
        EXPECT_EQ(memcmp(da, db, sizeof da), 0) << bits;
        EXPECT_NE(memcmp(da, dc, sizeof da), 0) << bits;
    }
}

TEST_F(KaEncode, ByteCopyAscendsAndFillReturnsOut)
{
    char buf[] = "abcde";
    memCopyBytes(buf + 1, buf, 4);
    EXPECT_STREQ(buf, "aaaaa");
    Guarded out(5);
    EXPECT_EQ(memFillBytes(out.data(), 0x33, 5), out.data());
    EXPECT_EQ(std::string(chars(out), 5), "33333");
    EXPECT_TRUE(out.guardsIntact());
}
