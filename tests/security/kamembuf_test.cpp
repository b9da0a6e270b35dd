#include "security/kamembuf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/callmapper.h"
#include "support/errorscope.h"
#include "support/freewatch.h"
#include "support/u16.h"

using katest::W;

extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

using katest::ErrorScope;

const uint8_t kKey[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
const uint8_t kOtherKey[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
const uint8_t kZero[8] = {};

std::u16string text(const KaMemoryBuffer& m)
{
    return std::u16string(reinterpret_cast<const char16_t*>(m.data), size_t(m.length));
}

// The embedded cipher holds the all-zero key and IV.
bool cipherIsReset(const KaMemoryBuffer& m)
{
    DESwCBCEncryptor zero;
    zero.setKey(kZero, KA_CRYPT_DECRYPT);
    return std::memcmp(m.cipher.ivStore, kZero, 8) == 0 && std::memcmp(m.cipher.chainStore, kZero, 8) == 0 &&
           std::memcmp(m.cipher.schedule, zero.schedule, sizeof zero.schedule) == 0;
}

void expectBufferState(const ErrorScope& scope, const char* number)
{
    ASSERT_EQ(scope.size(), 1u);
    EXPECT_EQ(scope.native(0), MSG_MEMORY_BUFFER_STATE);
    EXPECT_EQ(katest::sqlstate(scope.at(0)), "HY000");
    EXPECT_EQ(scope.at(0)->sqlstateMsg, MSG_SQLSTATE_GENERAL_ERROR);
    EXPECT_NE(scope.text(0).find(number), std::string::npos) << scope.text(0);
}

class MemoryBufferTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { katest::openCatalogue(); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }
};

TEST_F(MemoryBufferTest, EmptyTextsHoldNothing)
{
    struct Case {
        const uint16_t* text;
        int64_t count;
    };
    for (Case c : {Case{W(u"abc"), 0}, Case{nullptr, KA_MEMBUF_NTS}, Case{W(u""), KA_MEMBUF_NTS}}) {
        ErrorScope scope;
        KaMemoryBuffer m;
        ASSERT_EQ(m.setEncrypted(c.text, c.count, kKey), 0);
        EXPECT_EQ(m.data, nullptr);
        EXPECT_EQ(m.size, 0u);
        EXPECT_EQ(m.length, 0u);
        KaMemoryBuffer plain;
        ASSERT_EQ(plain.decryptFrom(m, kKey), 0);
        EXPECT_EQ(plain.state, KA_MEMBUF_PLAIN);
        EXPECT_EQ(plain.length, 0u);
        ASSERT_NE(plain.data, nullptr);
        EXPECT_EQ(plain.data[0], 0);
        EXPECT_EQ(scope.size(), 0u);
    }
}

TEST_F(MemoryBufferTest, SizesAndRoundTripsByLength)
{
    struct Case {
        const char16_t* text;
        uint64_t size;
    };
    for (Case c : {Case{u"a", 8}, Case{u"abc", 8}, Case{u"abcd", 8}, Case{u"abcde", 16},
                   Case{u"p\u00e4ssw\u00f6rd \U0001F511 long enough for three blocks", 0}}) {
        std::u16string expected(c.text);
        KaMemoryBuffer m;
        ASSERT_EQ(m.setEncrypted(W(c.text), KA_MEMBUF_NTS, kKey), 0);
        EXPECT_EQ(m.length, expected.size());
        EXPECT_EQ(m.size, (2 * expected.size() + 7) / 8 * 8);
        if (c.size != 0) {
            EXPECT_EQ(m.size, c.size);
        }
        EXPECT_EQ(m.state, KA_MEMBUF_ENCRYPTED);
        // The text is not there in the clear.
        EXPECT_EQ(memmem(m.data, m.size, c.text, 2 * expected.size()), nullptr);
        EXPECT_TRUE(cipherIsReset(m));

        KaMemoryBuffer plain;
        ASSERT_EQ(plain.decryptFrom(m, kKey), 0);
        EXPECT_TRUE(cipherIsReset(plain));
        EXPECT_EQ(text(plain), expected);
        EXPECT_EQ(plain.data[plain.length], 0);
        // Everything behind the terminator, the decrypted padding included, is zero.
        const auto* bytes = reinterpret_cast<const uint8_t*>(plain.data);
        for (uint64_t i = 2 * plain.length; i < plain.size; ++i)
            EXPECT_EQ(bytes[i], 0) << i;
    }
}

TEST_F(MemoryBufferTest, CiphertextIsDesCbcUnderTheKeyAndTheHoldersOwnIv)
{
    KaMemoryBuffer m;
    ASSERT_EQ(m.setEncrypted(W(u"abcd"), 4, kKey), 0);
    EXPECT_EQ(m.cipherKind, KA_MEMBUF_CIPHER_DES);
    DESwCBCEncryptor des;
    des.setIV(m.iv);
    des.setKey(kKey, KA_CRYPT_ENCRYPT);
    uint8_t expected[8];
    des.encrypt(u"abcd", expected, 8);
    EXPECT_EQ(std::memcmp(m.data, expected, 8), 0);
}

// Sends the holders' DES through the TLS library for the scope.
struct CipherLibraryScope {
    explicit CipherLibraryScope(const std::string& path)
    {
        kaMemoryBufferUseCipherLibrary(true, nullptr, path.c_str());
    }
    ~CipherLibraryScope() { kaMemoryBufferUseCipherLibrary(false, nullptr, nullptr); }
    CipherLibraryScope(const CipherLibraryScope&) = delete;
    CipherLibraryScope& operator=(const CipherLibraryScope&) = delete;
};

std::string tlsLibrary()
{
    return katest::buildDir() + "/lib/libVYtls28.so";
}

TEST_F(MemoryBufferTest, LibraryAndSoftwarePathsWriteTheSameDes)
{
    ErrorScope scope;
    size_t mappersBefore = callMapperRegistryCount();
    for (const char16_t* t : {u"a", u"abcd", u"abcde", u"p\u00e4ssw\u00f6rd \U0001F511 long enough for three blocks"}) {
        std::u16string expected(t);
        KaMemoryBuffer byLibrary;
        {
            CipherLibraryScope library(tlsLibrary());
            ASSERT_EQ(byLibrary.setEncrypted(W(t), KA_MEMBUF_NTS, kKey), 0);
        }
        EXPECT_EQ(byLibrary.cipherKind, KA_MEMBUF_CIPHER_DES);
        EXPECT_TRUE(cipherIsReset(byLibrary));
        // Byte for byte the software DES-CBC of the padded text under the holder's IV.
        std::vector<uint8_t> padded(byLibrary.size, 0);
        std::memcpy(padded.data(), t, 2 * expected.size());
        std::vector<uint8_t> software(byLibrary.size);
        DESwCBCEncryptor des;
        des.setIV(byLibrary.iv);
        des.setKey(kKey, KA_CRYPT_ENCRYPT);
        des.encrypt(padded.data(), software.data(), software.size());
        EXPECT_EQ(std::memcmp(byLibrary.data, software.data(), software.size()), 0);

        // Each path reads what the other wrote.
        KaMemoryBuffer bySoftware;
        ASSERT_EQ(bySoftware.setEncrypted(W(t), KA_MEMBUF_NTS, kKey), 0);
        KaMemoryBuffer plain;
        ASSERT_EQ(plain.decryptFrom(byLibrary, kKey), 0);
        EXPECT_EQ(text(plain), expected);
        {
            CipherLibraryScope library(tlsLibrary());
            ASSERT_EQ(plain.decryptFrom(bySoftware, kKey), 0);
            EXPECT_EQ(text(plain), expected);
            EXPECT_EQ(plain.data[plain.length], 0);
            EXPECT_TRUE(cipherIsReset(plain));
        }
    }
    // The library was loaded for it, and nothing was posted on the way.
    EXPECT_GT(callMapperRegistryCount(), mappersBefore);
    EXPECT_EQ(scope.size(), 0u);
}

TEST_F(MemoryBufferTest, UnloadableLibraryFallsBackWithoutADiagnostic)
{
    ErrorScope scope;
    CipherLibraryScope library("/nonexistent/libVYtls28.so");
    KaMemoryBuffer m;
    ASSERT_EQ(m.setEncrypted(W(u"secret"), KA_MEMBUF_NTS, kKey), 0);
    KaMemoryBuffer plain;
    ASSERT_EQ(plain.decryptFrom(m, kKey), 0);
    EXPECT_EQ(text(plain), u"secret");
    EXPECT_EQ(scope.size(), 0u);
}

TEST_F(MemoryBufferTest, EqualTextsUnderOneKeyGetDifferentIvsAndCiphertexts)
{
    KaMemoryBuffer a;
    KaMemoryBuffer b;
    ASSERT_EQ(a.setEncrypted(W(u"same secret"), KA_MEMBUF_NTS, kKey), 0);
    ASSERT_EQ(b.setEncrypted(W(u"same secret"), KA_MEMBUF_NTS, kKey), 0);
    EXPECT_NE(std::memcmp(a.iv, b.iv, sizeof a.iv), 0);
    EXPECT_NE(std::memcmp(a.data, b.data, a.size), 0);
    // The copy carries the IV along, so it decrypts.
    KaMemoryBuffer copy;
    ASSERT_EQ(copy.copyFrom(a), 0);
    KaMemoryBuffer plain;
    ASSERT_EQ(plain.decryptFrom(copy, kKey), 0);
    EXPECT_EQ(text(plain), u"same secret");
}

TEST_F(MemoryBufferTest, HolderOfAnUnknownCipherIsRefused)
{
    KaMemoryBuffer m;
    ASSERT_EQ(m.setEncrypted(W(u"abcd"), 4, kKey), 0);
    m.cipherKind = KA_MEMBUF_CIPHER_NONE;
    ErrorScope scope;
    KaMemoryBuffer plain;
    EXPECT_EQ(plain.decryptFrom(m, kKey), 1);
    expectBufferState(scope, "(2)");
}

TEST_F(MemoryBufferTest, WrongKeyGivesWrongTextSilently)
{
    ErrorScope scope;
    KaMemoryBuffer m;
    ASSERT_EQ(m.setEncrypted(W(u"secret value"), KA_MEMBUF_NTS, kKey), 0);
    KaMemoryBuffer plain;
    ASSERT_EQ(plain.decryptFrom(m, kOtherKey), 0);
    EXPECT_EQ(plain.length, 12u);
    EXPECT_NE(text(plain), u"secret value");
    EXPECT_EQ(scope.size(), 0u);
}

TEST_F(MemoryBufferTest, PlainBufferRefusesEncryptionUntilCopiedInto)
{
    KaMemoryBuffer source;
    ASSERT_EQ(source.setEncrypted(W(u"pw"), 2, kKey), 0);
    for (int way = 0; way < 2; ++way) {
        KaMemoryBuffer m;
        if (way == 0) {
            ASSERT_EQ(m.decryptFrom(source, kKey), 0);
        } else
            ASSERT_EQ(m.allocPlain(5), 0);
        ASSERT_EQ(m.state, KA_MEMBUF_PLAIN);
        uint16_t* before = m.data;
        {
            ErrorScope scope;
            EXPECT_EQ(m.setEncrypted(W(u"x"), 1, kKey), 1);
            expectBufferState(scope, "(1)");
        }
        EXPECT_EQ(m.data, before);
        {
            ErrorScope scope;
            KaMemoryBuffer other;
            EXPECT_EQ(other.decryptFrom(m, kKey), 1);
            expectBufferState(scope, "(1)");
        }
        {
            ErrorScope scope;
            KaMemoryBuffer other;
            EXPECT_EQ(other.copyFrom(m), 1);
            expectBufferState(scope, "(1)");
        }
        ASSERT_EQ(m.copyFrom(source), 0);
        EXPECT_EQ(m.state, KA_MEMBUF_ENCRYPTED);
        ASSERT_EQ(m.setEncrypted(W(u"again"), 5, kKey), 0);
    }
}

TEST_F(MemoryBufferTest, AllocPlainGivesRoomForTheCaller)
{
    KaMemoryBuffer m;
    ASSERT_EQ(m.allocPlain(3), 0);
    EXPECT_EQ(m.length, 3u);
    m.data[0] = 'a';
    m.data[1] = 'b';
    m.data[2] = 0;
    KaMemoryBuffer none;
    ASSERT_EQ(none.allocPlain(0), 0);
    EXPECT_NE(none.data, nullptr);
    EXPECT_EQ(none.length, 0u);
}

TEST_F(MemoryBufferTest, CopyReproducesTheCiphertext)
{
    KaMemoryBuffer source;
    ASSERT_EQ(source.setEncrypted(W(u"connection=string;PWD=x"), KA_MEMBUF_NTS, kKey), 0);
    KaMemoryBuffer copy;
    ASSERT_EQ(copy.setEncrypted(W(u"old"), 3, kOtherKey), 0);
    ASSERT_EQ(copy.copyFrom(source), 0);
    EXPECT_EQ(copy.length, source.length);
    ASSERT_EQ(copy.size, source.size);
    EXPECT_NE(copy.data, source.data);
    EXPECT_EQ(std::memcmp(copy.data, source.data, source.size), 0);
    KaMemoryBuffer plain;
    ASSERT_EQ(plain.decryptFrom(copy, kKey), 0);
    EXPECT_EQ(text(plain), u"connection=string;PWD=x");
    ASSERT_EQ(copy.copyFrom(copy), 0);
    EXPECT_EQ(std::memcmp(copy.data, source.data, source.size), 0);
}

TEST_F(MemoryBufferTest, ClearedBufferIsAnEmptySource)
{
    KaMemoryBuffer m;
    ASSERT_EQ(m.setEncrypted(W(u"something"), KA_MEMBUF_NTS, kKey), 0);
    m.clear();
    EXPECT_EQ(m.data, nullptr);
    EXPECT_EQ(m.length, 0u);
    EXPECT_EQ(m.size, 0u);
    EXPECT_EQ(m.state, KA_MEMBUF_ENCRYPTED);
    KaMemoryBuffer copy;
    ASSERT_EQ(copy.copyFrom(m), 0);
    EXPECT_EQ(copy.data, nullptr);
    KaMemoryBuffer plain;
    ASSERT_EQ(plain.decryptFrom(m, kKey), 0);
    EXPECT_EQ(plain.length, 0u);

    // Clearing a plain buffer keeps it plain.
    plain.clear();
    EXPECT_EQ(plain.state, KA_MEMBUF_PLAIN);
    EXPECT_EQ(plain.data, nullptr);
}

TEST_F(MemoryBufferTest, ABufferMayDecryptItself)
{
    KaMemoryBuffer m;
    ASSERT_EQ(m.setEncrypted(W(u"self"), 4, kKey), 0);
    ASSERT_EQ(m.decryptFrom(m, kKey), 0);
    EXPECT_EQ(m.state, KA_MEMBUF_PLAIN);
    EXPECT_EQ(text(m), u"self");
}

TEST_F(MemoryBufferTest, InconsistentSourcesAreRefused)
{
    struct Case {
        uint64_t length;
        uint64_t size;
        bool data;
    };
    // A failed allocation (null data, nonzero size), a size that does not
    // fit the length, and a size that is no multiple of the block.
    for (Case c : {Case{3, 8, false}, Case{3, 16, true}, Case{1, 4, true}, Case{0, 8, true}}) {
        KaMemoryBuffer source;
        uint8_t block[16] = {};
        source.data = c.data ? reinterpret_cast<uint16_t*>(block) : nullptr;
        source.length = c.length;
        source.size = c.size;

        KaMemoryBuffer target;
        ASSERT_EQ(target.setEncrypted(W(u"keep"), 4, kKey), 0);
        std::vector<uint8_t> before(reinterpret_cast<uint8_t*>(target.data),
                                    reinterpret_cast<uint8_t*>(target.data) + target.size);
        {
            ErrorScope scope;
            EXPECT_EQ(target.decryptFrom(source, kKey), 1);
            expectBufferState(scope, "(2)");
        }
        {
            ErrorScope scope;
            EXPECT_EQ(target.copyFrom(source), 1);
            expectBufferState(scope, "(4)");
        }
        EXPECT_EQ(target.state, KA_MEMBUF_ENCRYPTED);
        ASSERT_EQ(target.size, before.size());
        EXPECT_EQ(std::memcmp(target.data, before.data(), before.size()), 0);
        source.data = nullptr;  // not ours to free
    }
}

TEST_F(MemoryBufferTest, FailedAllocationLeavesARefusedSource)
{
    static const uint16_t filler[4] = {'a', 'b', 'c', 'd'};
    for (int64_t count : {int64_t(1) << 52, INT64_MAX}) {
        KaMemoryBuffer m;
        {
            ErrorScope scope;
            EXPECT_EQ(m.setEncrypted(filler, count, kKey), 1);
            EXPECT_EQ(scope.list.outOfMemoryMark, 1);
        }
        EXPECT_EQ(m.data, nullptr);
        EXPECT_NE(m.size, 0u);
        ErrorScope scope;
        KaMemoryBuffer other;
        EXPECT_EQ(other.copyFrom(m), 1);
        expectBufferState(scope, "(4)");
        // Set again, it is usable.
        ASSERT_EQ(m.setEncrypted(filler, 4, kKey), 0);
        EXPECT_EQ(other.copyFrom(m), 0);
    }
}

TEST_F(MemoryBufferTest, HeapHolderComesFromTheAllocator)
{
    auto* m = new KaMemoryBuffer();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->setEncrypted(W(u"heap"), 4, kKey), 0);
    delete m;
}

// ---- wiping ----------------------------------------------------------------

constexpr const char* kSecret = "Zq9-xW!plainSecretPwd";
const char16_t* const kSecretW = u"Zq9-xW!plainSecretPwd";

TEST_F(MemoryBufferTest, WatchSeesAnUnwipedBlock)
{
    if (!katest::SecretWatch::available())
        GTEST_SKIP() << "needs the sanitizer's free hook";
    katest::SecretWatch watch(kSecret);
    auto* raw = static_cast<char16_t*>(ramAlloc(64));
    ASSERT_NE(raw, nullptr);
    std::memcpy(raw, kSecretW, 2 * std::char_traits<char16_t>::length(kSecretW));
    ramFree(raw);
    EXPECT_EQ(watch.leaks(), 1);
}

TEST_F(MemoryBufferTest, PlainTextIsWipedOnEveryWayOut)
{
    if (!katest::SecretWatch::available())
        GTEST_SKIP() << "needs the sanitizer's free hook";
    KaMemoryBuffer source;
    ASSERT_EQ(source.setEncrypted(W(kSecretW), KA_MEMBUF_NTS, kKey), 0);
    katest::SecretWatch watch(kSecret);
    enum Way { destroy, clear, reuse, copyOver, allocOver };
    for (Way way : {destroy, clear, reuse, copyOver, allocOver}) {
        auto* plain = new KaMemoryBuffer();
        ASSERT_NE(plain, nullptr);
        ASSERT_EQ(plain->decryptFrom(source, kKey), 0);
        // Compared in place: a heap copy freed here would count as a leak.
        ASSERT_EQ(plain->length, std::char_traits<char16_t>::length(kSecretW));
        ASSERT_EQ(std::memcmp(plain->data, kSecretW, 2 * plain->length), 0);
        switch (way) {
        case destroy: break;
        case clear: plain->clear(); break;
        case reuse: ASSERT_EQ(plain->decryptFrom(source, kKey), 0); break;
        case copyOver: ASSERT_EQ(plain->copyFrom(source), 0); break;
        case allocOver: ASSERT_EQ(plain->allocPlain(2), 0); break;
        }
        delete plain;
        EXPECT_EQ(watch.leaks(), 0) << way;
    }
    EXPECT_GT(watch.frees(), 0);
}

TEST_F(MemoryBufferTest, CiphertextBlocksAreWipedToo)
{
    if (!katest::SecretWatch::available())
        GTEST_SKIP() << "needs the sanitizer's free hook";
    KaMemoryBuffer m;
    // Watch for the ciphertext's own first bytes; the watch matches text, so
    // encrypt again (a fresh IV each time) until they hold no zero byte.
    char pattern[9] = {};
    for (int attempt = 0; attempt < 64 && std::strlen(pattern) < 8; ++attempt) {
        ASSERT_EQ(m.setEncrypted(W(kSecretW), KA_MEMBUF_NTS, kKey), 0);
        std::memset(pattern, 0, sizeof pattern);
        std::memcpy(pattern, m.data, 8);
    }
    ASSERT_EQ(std::strlen(pattern), 8u) << "every ciphertext began with a zero byte";
    katest::SecretWatch watch(pattern);
    m.clear();
    EXPECT_EQ(watch.leaks(), 0);
}

}  // namespace
