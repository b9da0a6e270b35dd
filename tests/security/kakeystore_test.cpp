// The key-store readers of KaCryptoAPI over the TLS library the build makes,
// against files made by the openssl command: PKCS#12 with right and wrong
// passwords, PEM, and the driver's own format in both password kinds, with
// the password bound to host and user, and its malformed forms.
#include "security/kakeystore.h"

#include <string>

#include <gtest/gtest.h>

#include "support/errorscope.h"
#include "support/tlspeers.h"

namespace {

using katest::TlsFiles;

std::string tlsLibrary()
{
    return katest::buildDir() + "/lib/libVYtls28.so";
}

class KeyStoreTest : public ::testing::Test {
protected:
    katest::ThreadScope thread;
    katest::ErrorScope errors;
    KaCryptoAPI api{nullptr};

    static void SetUpTestSuite() { ASSERT_EQ(0, katest::openCatalogue()); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }

    void SetUp() override
    {
        ASSERT_TRUE(TlsFiles::get().ok);
        api.setCryptoLibraryPath(tlsLibrary().c_str());
        ASSERT_EQ(0, api.loadCryptoMapper());
    }

    std::string file(const std::string& name) const { return TlsFiles::get().path(name); }

    // 1 when the file read as the reader says, with a certificate and a key.
    int readOwn(const std::string& name)
    {
        void* certificate = nullptr;
        void* key = nullptr;
        void* ca = nullptr;
        int rc = api.readKeyStore(file(name).c_str(), &certificate, &key, &ca);
        if (rc == 1) {
            EXPECT_NE(nullptr, certificate);
            EXPECT_NE(nullptr, key);
        }
        api.freeReaderResults(certificate, key, ca);
        return rc;
    }
};

TEST_F(KeyStoreTest, Pkcs12ReadsWithItsPasswordOnly)
{
    void* certificate = nullptr;
    void* key = nullptr;
    void* ca = nullptr;
    EXPECT_EQ(1, api.readPKCS12(file("client.p12").c_str(), "storepw", &certificate, &key, &ca));
    EXPECT_NE(nullptr, certificate);
    EXPECT_NE(nullptr, key);
    api.freeReaderResults(certificate, key, ca);
    certificate = key = ca = nullptr;
    EXPECT_EQ(0, api.readPKCS12(file("client.p12").c_str(), "wrong", &certificate, &key, &ca));
    api.freeReaderResults(certificate, key, ca);
    // A PEM file is no PKCS#12, and the own format fails on its header.
    EXPECT_EQ(0, api.readPKCS12(file("client-combined.pem").c_str(), "", &certificate, &key, &ca));
    EXPECT_EQ(0, readOwn("client-combined.pem"));
    EXPECT_EQ(0, readOwn("no-such-file"));
    EXPECT_EQ(0u, errors.size());
}

TEST_F(KeyStoreTest, PemReaders)
{
    void* certificate = api.readPEMCertificate(file("client.pem").c_str(), nullptr);
    void* key = api.readPEMPrivateKey(file("client-enc.key").c_str(), "keypw");
    EXPECT_NE(nullptr, certificate);
    EXPECT_NE(nullptr, key);
    api.freeReaderResults(certificate, key, nullptr);
    EXPECT_EQ(nullptr, api.readPEMPrivateKey(file("client-enc.key").c_str(), "wrong"));
}

struct OwnCase {
    const char* name;
    char kind;
    char version;
    char hexCase;
    int padding;  // -1: the right count
    int expected;
};

TEST_F(KeyStoreTest, OwnFormatKinds)
{
    const OwnCase cases[] = {
        {"own-aes-7.ks", '!', '7', 'x', -1, 1},
        {"own-des-6.ks", 'A', '6', 'x', -1, 1},
        {"own-aes-8.ks", '!', '8', 'x', -1, 1},
        {"own-des-8.ks", 'A', '8', 'x', -1, 1},
        // A padding count of 0 or above 24 is refused.
        {"own-des-pad0.ks", 'A', '7', 'x', 0, 0},
        {"own-des-pad25.ks", 'A', '7', 'x', 25, 0},
        // Upper-case letters decode as digits: the password comes out wrong.
        {"own-des-upper.ks", 'A', '7', 'X', -1, 0},
    };
    for (const OwnCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(katest::makeOwnKeyStore(c.name, c.kind, c.version, KA_KEYSTORE_DES_IV, KA_KEYSTORE_AES_IV,
                                            c.hexCase, c.padding));
        EXPECT_EQ(c.expected, readOwn(c.name));
    }
}

TEST_F(KeyStoreTest, MalformedHeadersAreRefused)
{
    ASSERT_TRUE(katest::makeOwnKeyStore("own-base.ks", '!', '7', KA_KEYSTORE_DES_IV, KA_KEYSTORE_AES_IV));
    const std::string good = katest::readFile(file("own-base.ks"));
    struct Edit {
        size_t at;
        char value;
    } edits[] = {{0, 'x'}, {3, '5'}, {3, '9'}, {4, 1}, {6, 1}, {7, 4}, {7, 7}, {11, 'B'}};
    for (const Edit& e : edits) {
        std::string bad = good;
        bad[e.at] = e.value;
        std::ofstream(file("own-bad.ks"), std::ios::binary) << bad;
        EXPECT_EQ(0, readOwn("own-bad.ks")) << "byte " << e.at;
    }
    // Cut inside the header, inside the password field, inside the PKCS#12 part.
    for (size_t cut : {size_t(5), size_t(20), good.size() - 10}) {
        std::ofstream(file("own-bad.ks"), std::ios::binary) << good.substr(0, cut);
        EXPECT_EQ(0, readOwn("own-bad.ks")) << "cut at " << cut;
    }
    EXPECT_EQ(1, readOwn("own-base.ks"));
}

TEST_F(KeyStoreTest, DesFieldDecodesFromTheEnd)
{
    // Character 0 alone is byte 0; bytes 1 to 32 take two characters each.
    std::string field = "7";
    for (int i = 1; i <= 32; ++i) {
        char b[3];
        snprintf(b, sizeof b, "%02x", i * 7);
        field += b;
    }
    uint8_t bytes[33];
    kaKeyStoreDecodeHex(reinterpret_cast<const uint8_t*>(field.data()), bytes);
    EXPECT_EQ(7, bytes[0]);
    for (int i = 1; i <= 32; ++i)
        EXPECT_EQ(uint8_t(i * 7), bytes[i]) << i;
}

}  // namespace
