// AES, triple DES and RC4 through the cipher call mapper and the TLS library
// the build makes: published vectors, the `openssl enc` tool, and the
// software triple DES where both exist.
#include "security/kaevpcipher.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/errorscope.h"
#include "support/hexbytes.h"
#include "support/guarded.h"
#include "support/platformtest.h"

namespace {

using Bytes = std::vector<uint8_t>;

using katest::hex;
using katest::toHex;

std::string tlsLibrary()
{
    return katest::buildDir() + "/lib/libVYtls28.so";
}

// Runs `openssl enc` over data; the options choose cipher, key and IV.
Bytes opensslEnc(const std::string& options, const Bytes& data)
{
    katest::TempDir dir{"kaevp"};
    std::string in = dir.path() + "/in";
    std::string out = dir.path() + "/out";
    {
        std::ofstream f(in, std::ios::binary);
        f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    }
    std::string command = "openssl enc " + options + " -in " + in + " -out " + out + " 2>/dev/null";
    EXPECT_EQ(0, std::system(command.c_str())) << command;
    std::ifstream f(out, std::ios::binary);
    Bytes result((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    dir.remove();
    return result;
}

class EvpCipherTest : public ::testing::Test {
protected:
    katest::ErrorScope errors;

    void SetUp() override { ASSERT_EQ(0, katest::openCatalogue()); }
    void TearDown() override
    {
        EXPECT_EQ(0u, errors.size());
        katest::closeCatalogue();
    }

    // The calling order the key-store reader uses.
    template <typename Cipher>
    void prepare(Cipher& c, uint64_t keyLength, const Bytes& key, const Bytes& iv, int32_t padding = 0)
    {
        c.setLibraryPath(tlsLibrary().c_str());
        c.setKeyLength(keyLength);
        if (!iv.empty())
            c.setIV(iv.data());
        if constexpr (!std::is_same_v<Cipher, RC4Encryptor>)
            c.setPadding(padding);
        ASSERT_EQ(0, c.newContext());
        c.setKey(key.data(), KA_CRYPT_ENCRYPT);
    }
};

// NIST SP 800-38A F.2.1 / F.2.2: CBC-AES128.
const char kSp800Key[] = "2b7e151628aed2a6abf7158809cf4f3c";
const char kSp800Iv[] = "000102030405060708090a0b0c0d0e0f";
const char kSp800Plain[] = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                           "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
const char kSp800Cipher[] = "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                            "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7";

TEST_F(EvpCipherTest, AesCbcMatchesSp800_38aSeparateAndInPlace)
{
    AESwCBCEncryptor aes(KA_OPENSSL_DEFAULT_VERSIONS);
    prepare(aes, 16, hex(kSp800Key), hex(kSp800Iv));
    Bytes plain = hex(kSp800Plain);
    katest::Guarded<uint8_t> out(plain.size());
    aes.encrypt(plain.data(), out.data(), plain.size());
    EXPECT_TRUE(out.guardsIntact());
    EXPECT_EQ(kSp800Cipher, toHex(out.data(), out.size()));

    AESwCBCEncryptor back(KA_OPENSSL_DEFAULT_VERSIONS);
    prepare(back, 16, hex(kSp800Key), hex(kSp800Iv));
    Bytes data = hex(kSp800Cipher);
    back.decrypt(data.data(), data.data(), data.size());
    EXPECT_EQ(kSp800Plain, toHex(data));
}

TEST_F(EvpCipherTest, AesKeyLengthsMatchFips197)
{
    // One block under a zero IV is the block cipher itself.
    struct Case {
        uint64_t length;
        const char* key;
        const char* cipher;
    } cases[] = {
        {16, "000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {24, "000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {32, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "8ea2b7ca516745bfeafc49904b496089"},
    };
    for (const Case& c : cases) {
        AESwCBCEncryptor aes(KA_OPENSSL_DEFAULT_VERSIONS);
        prepare(aes, c.length, hex(c.key), Bytes(16, 0));
        Bytes block = hex("00112233445566778899aabbccddeeff");
        aes.encrypt(block.data(), block.data(), block.size());
        EXPECT_EQ(c.cipher, toHex(block)) << c.length;
        aes.setKey(hex(c.key).data(), KA_CRYPT_DECRYPT);
        aes.decrypt(block.data(), block.data(), block.size());
        EXPECT_EQ("00112233445566778899aabbccddeeff", toHex(block)) << c.length;
    }
}

TEST_F(EvpCipherTest, AesMatchesOpensslEncAndRoundsUpPartialBlocks)
{
    Bytes key = hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    Bytes iv = hex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
    Bytes text(37, 0);
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = uint8_t(i * 7 + 1);
    AESwCBCEncryptor aes(KA_OPENSSL_DEFAULT_VERSIONS);
    prepare(aes, 32, key, iv);
    katest::Guarded<uint8_t> out(48);
    Bytes padded = text;
    padded.resize(48, 0);  // whole blocks are read
    aes.encrypt(padded.data(), out.data(), 37);
    EXPECT_TRUE(out.guardsIntact());
    Bytes expected = opensslEnc("-aes-256-cbc -nopad -K " + toHex(key) + " -iv " + toHex(iv), padded);
    EXPECT_EQ(toHex(expected), toHex(out.data(), out.size()));
}

TEST_F(EvpCipherTest, AesPaddingOnHoldsBackTheDecryptedBlock)
{
    AESwCBCEncryptor aes(KA_OPENSSL_DEFAULT_VERSIONS);
    prepare(aes, 16, hex(kSp800Key), hex(kSp800Iv), 1);
    Bytes data = hex(kSp800Cipher);
    data.resize(16);
    aes.decrypt(data.data(), data.data(), 16);
    EXPECT_EQ(Bytes(16, 0), data);
}

TEST_F(EvpCipherTest, TripleDesMatchesSp800_67AndTheSoftwareStages)
{
    Bytes key = hex("0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123");
    Bytes plain = hex("54686520717566636B2062726F776E20666F78206A756D70");
    Bytes zeroIv(8, 0);

    DES3Encryptor des3(KA_OPENSSL_DEFAULT_VERSIONS);
    prepare(des3, KA_DES3_KEY_SIZE, key, zeroIv);
    katest::Guarded<uint8_t> out(plain.size());
    des3.encrypt(plain.data(), out.data(), plain.size());
    EXPECT_TRUE(out.guardsIntact());
    // The first CBC block under a zero IV is the ECB block of the example.
    EXPECT_EQ("a826fd8ce53b855f", toHex(out.data(), 8));

    DES3EncryptorOracleE software;
    software.setKeyLength(0);
    software.setKey(key.data(), KA_CRYPT_ENCRYPT);
    software.setIV(zeroIv.data());
    Bytes soft(plain.size());
    software.encrypt(plain.data(), soft.data(), plain.size());
    EXPECT_EQ(toHex(soft), toHex(out.data(), out.size()));

    Bytes expected = opensslEnc("-des-ede3-cbc -nopad -K " + toHex(key) + " -iv " + toHex(zeroIv), plain);
    EXPECT_EQ(toHex(expected), toHex(out.data(), out.size()));
}

TEST_F(EvpCipherTest, TwoKeyTripleDesMatchesOpensslEnc)
{
    Bytes key = hex("0123456789abcdeffedcba9876543210");
    Bytes iv = hex("1122334455667788");
    Bytes plain = hex("00112233445566778899aabbccddeeff0011223344556677");
    DES3Encryptor des3(KA_OPENSSL_DEFAULT_VERSIONS);
    prepare(des3, KA_DES3_TWO_KEY, key, iv);
    Bytes data = plain;
    des3.encrypt(data.data(), data.data(), data.size());
    Bytes expected = opensslEnc("-des-ede-cbc -nopad -K " + toHex(key) + " -iv " + toHex(iv), plain);
    EXPECT_EQ(toHex(expected), toHex(data));
}

TEST_F(EvpCipherTest, Rc4StreamContinuesAcrossCallsAndMatchesOpensslEnc)
{
    Bytes key = hex("0102030405060708090a0b0c0d0e0f10");
    Bytes plain(53);
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = uint8_t(255 - i);
    RC4Encryptor rc4(KA_OPENSSL_DEFAULT_VERSIONS);
    prepare(rc4, key.size(), key, Bytes());
    katest::Guarded<uint8_t> out(plain.size());
    rc4.encrypt(plain.data(), out.data(), 20);
    rc4.encrypt(plain.data() + 20, out.data() + 20, plain.size() - 20);
    EXPECT_TRUE(out.guardsIntact());
    Bytes expected = opensslEnc("-rc4 -provider legacy -provider default -K " + toHex(key), plain);
    EXPECT_EQ(toHex(expected), toHex(out.data(), out.size()));

    RC4Encryptor back(KA_OPENSSL_DEFAULT_VERSIONS);
    prepare(back, key.size(), key, Bytes());
    Bytes data(out.data(), out.data() + out.size());
    back.decrypt(data.data(), data.data(), data.size());
    EXPECT_EQ(toHex(plain), toHex(data));
}

TEST_F(EvpCipherTest, ZeroLengthChangesNothing)
{
    AESwCBCEncryptor aes(KA_OPENSSL_DEFAULT_VERSIONS);
    prepare(aes, 16, hex(kSp800Key), hex(kSp800Iv));
    katest::Guarded<uint8_t> out(16);
    aes.encrypt(hex(kSp800Plain).data(), out.data(), 0);
    aes.decrypt(hex(kSp800Cipher).data(), out.data(), 0);
    EXPECT_TRUE(out.guardsIntact());
    for (size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(katest::Guarded<uint8_t>::kDefaultFill, out.data()[i]);
}

TEST_F(EvpCipherTest, MapperKeyLengthDefaultsAndFollowsTheApi)
{
    KaCipherAPI defaulted(KA_OPENSSL_DEFAULT_VERSIONS);
    defaulted.setLibraryPath(tlsLibrary().c_str());
    ASSERT_NE(nullptr, defaulted.mapper());
    EXPECT_EQ(32u, defaulted.mapper()->keyLength);

    KaCipherAPI sixteen(KA_OPENSSL_DEFAULT_VERSIONS);
    sixteen.setLibraryPath(tlsLibrary().c_str());
    sixteen.keyLength = 16;
    ASSERT_NE(nullptr, sixteen.mapper());
    EXPECT_EQ(16u, sixteen.mapper()->keyLength);
    EXPECT_EQ(KA_OPENSSL_111, sixteen.mapper()->versionCode);
}

TEST_F(EvpCipherTest, DigestsAndRandomBytesForward)
{
    KaCipherAPI api(KA_OPENSSL_DEFAULT_VERSIONS);
    api.setLibraryPath(tlsLibrary().c_str());
    KaCipherCallMapper* m = api.mapper();
    ASSERT_NE(nullptr, m);
    const uint8_t abc[] = {'a', 'b', 'c'};
    uint8_t digest[64] = {};
    ASSERT_NE(nullptr, m->SHA256(abc, 3, digest));
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", toHex(digest, 32));
    unsigned n = 0;
    ASSERT_NE(nullptr,
              m->HMAC(m->EVP_sha256(), "key", 3,
                      reinterpret_cast<const uint8_t*>("The quick brown fox jumps over the lazy dog"), 43, digest, &n));
    EXPECT_EQ(32u, n);
    EXPECT_EQ("f7bc83f430538424b13298e6aa6fb143ef4d59a14946175997479dbc2d1a3cd8", toHex(digest, 32));
    uint8_t random[32] = {};
    EXPECT_EQ(1, m->RAND_bytes(random, sizeof random));
    EXPECT_NE(toHex(Bytes(32, 0)), toHex(random, sizeof random));
}

}  // namespace
