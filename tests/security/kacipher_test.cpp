#include "security/kacipher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "support/guarded.h"
#include "support/hexbytes.h"

namespace {

using Bytes = std::vector<uint8_t>;

using katest::hex;
using katest::toHex;

const uint8_t kZero[8] = {};

// Guard bytes around every buffer the cipher writes.
using Guarded = katest::Guarded<uint8_t>;

Bytes content(const Guarded& g)
{
    return Bytes(g.data(), g.data() + g.size());
}

// FIPS 46-3 worked example and known-answer values of NIST SP 800-17
// (variable plaintext, variable key, S-box and permutation tests).
struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};
const Vector kVectors[] = {
    {"133457799BBCDFF1", "0123456789ABCDEF", "85e813540f0ab405"},
    {"0000000000000000", "0000000000000000", "8ca64de9c1b123a7"},
    {"0101010101010101", "8000000000000000", "95f8a5e5dd31d900"},
    {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "690f5b0d9a26939b"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "7a389d10354bd271"},
    {"07A1133E4A0B2686", "0248D43806F67172", "868ebb51cab4599a"},
    {"3849674C2602319E", "51454B582DDF440A", "7178876e01f19b2a"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "7359b2163e4edc58"},
};

TEST(DESwCBCEncryptor, KnownAnswersBothWays)
{
    for (const Vector& v : kVectors) {
        Bytes key = hex(v.key);
        Bytes plain = hex(v.plain);
        DESwCBCEncryptor des;
        des.setIV(kZero);
        des.setKey(key.data(), KA_CRYPT_ENCRYPT);
        Guarded out(8);
        des.encrypt(plain.data(), out.data(), 8);
        EXPECT_EQ(toHex(content(out)), v.cipher) << v.key;
        EXPECT_TRUE(out.guardsIntact());

        DESwCBCEncryptor back;
        back.setIV(kZero);
        back.setKey(key.data(), KA_CRYPT_DECRYPT);
        Guarded again(8);
        back.decrypt(out.data(), again.data(), 8);
        EXPECT_EQ(toHex(content(again)), toHex(plain)) << v.key;
        EXPECT_TRUE(again.guardsIntact());
    }
}

TEST(DESwCBCEncryptor, ParityBitsAreIgnored)
{
    Bytes a = hex("133457799BBCDFF1");
    Bytes b = a;
    for (auto& byte : b)
        byte ^= 1;
    Bytes plain = hex("0123456789ABCDEF");
    Bytes out1(8), out2(8);
    DESwCBCEncryptor des;
    des.setIV(kZero);
    des.setKey(a.data(), 0);
    des.encrypt(plain.data(), out1.data(), 8);
    des.setIV(kZero);
    des.setKey(b.data(), 0);
    des.encrypt(plain.data(), out2.data(), 8);
    EXPECT_EQ(out1, out2);
}

// FIPS 81, appendix C: "Now is the time for all " in CBC mode.
TEST(DESwCBCEncryptor, Fips81CbcExample)
{
    Bytes key = hex("0123456789abcdef");
    Bytes iv = hex("1234567890abcdef");
    const char* text = "Now is the time for all ";
    const char* expected = "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6";

    DESwCBCEncryptor des;
    des.setIV(iv.data());
    des.setKey(key.data(), KA_CRYPT_ENCRYPT);
    Guarded separate(24);
    des.encrypt(text, separate.data(), 24);
    EXPECT_EQ(toHex(content(separate)), expected);
    EXPECT_TRUE(separate.guardsIntact());

    Guarded inPlace(24);
    std::memcpy(inPlace.data(), text, 24);
    des.encrypt(inPlace.data(), inPlace.data(), 24);
    EXPECT_EQ(toHex(content(inPlace)), expected);

    Guarded textOut(24);
    des.encryptText(text, textOut.data());
    EXPECT_EQ(toHex(content(textOut)), expected);
    EXPECT_TRUE(textOut.guardsIntact());

    DESwCBCEncryptor back;
    back.setIV(iv.data());
    back.setKey(key.data(), KA_CRYPT_DECRYPT);
    Guarded plain(24);
    back.decrypt(separate.data(), plain.data(), 24);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(plain.data()), 24), text);
    EXPECT_TRUE(plain.guardsIntact());
}

TEST(KaCrypto, LengthZeroChangesNothing)
{
    Bytes key = hex("0123456789abcdef");
    DESwCBCEncryptor des;
    des.setIV(key.data());
    des.setKey(key.data(), 0);
    Guarded buf(8);
    std::memset(buf.data(), 0x11, 8);
    des.encrypt(buf.data(), buf.data(), 0);
    des.decrypt(buf.data(), buf.data(), 0);
    Guarded other(8);
    std::memset(other.data(), 0x22, 8);
    des.encrypt(buf.data(), other.data(), 0);
    des.decrypt(buf.data(), other.data(), 0);
    EXPECT_EQ(content(buf), Bytes(8, 0x11));
    EXPECT_EQ(content(other), Bytes(8, 0x22));
    EXPECT_EQ(toHex(des.chainStore, 8), "0123456789abcdef");
}

TEST(KaCrypto, PartialLengthIsRoundedUpToWholeBlocks)
{
    Bytes key = hex("0123456789abcdef");
    DESwCBCEncryptor des;
    des.setIV(kZero);
    des.setKey(key.data(), 0);
    Guarded a(16), b(16);
    std::memcpy(a.data(), "0123456789ABCDEF", 16);
    std::memcpy(b.data(), "0123456789ABCDEF", 16);
    des.encrypt(a.data(), a.data(), 9);
    des.encrypt(b.data(), b.data(), 16);
    EXPECT_EQ(content(a), content(b));
    EXPECT_TRUE(a.guardsIntact());
}

TEST(KaCrypto, InPlaceRestartsFromTheIvSeparateBuffersContinueTheChain)
{
    Bytes key = hex("fedcba9876543210");
    const char* text = "sixteen bytes!!!";
    DESwCBCEncryptor des;
    des.setIV(kZero);
    des.setKey(key.data(), 0);

    Bytes first(text, text + 16), second(text, text + 16);
    des.encrypt(first.data(), first.data(), 16);
    des.encrypt(second.data(), second.data(), 16);
    EXPECT_EQ(first, second);
    EXPECT_EQ(toHex(des.chainStore, 8), "0000000000000000");

    Bytes out1(16), out2(16);
    des.encrypt(text, out1.data(), 16);
    EXPECT_EQ(out1, first);
    EXPECT_EQ(Bytes(des.chainStore, des.chainStore + 8), Bytes(out1.begin() + 8, out1.end()));
    des.encrypt(text, out2.data(), 16);
    EXPECT_NE(out2, out1);

    // The second output is the continuation of one 32-byte stream.
    DESwCBCEncryptor stream;
    stream.setIV(kZero);
    stream.setKey(key.data(), 0);
    Bytes both(32);
    std::string twice = std::string(text) + text;
    stream.encrypt(twice.data(), both.data(), 32);
    EXPECT_EQ(Bytes(both.begin() + 16, both.end()), out2);
}

TEST(KaCrypto, DecryptInPlaceAndSeparateAgree)
{
    Bytes key = hex("0123456789abcdef");
    Bytes iv = hex("1234567890abcdef");
    Bytes cipher = hex("e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");
    DESwCBCEncryptor a, b;
    for (DESwCBCEncryptor* d : {&a, &b}) {
        d->setIV(iv.data());
        d->setKey(key.data(), KA_CRYPT_DECRYPT);
    }
    Bytes inPlace = cipher;
    a.decrypt(inPlace.data(), inPlace.data(), inPlace.size());
    Bytes separate(cipher.size());
    b.decrypt(cipher.data(), separate.data(), cipher.size());
    EXPECT_EQ(inPlace, separate);
    EXPECT_EQ(std::string(inPlace.begin(), inPlace.end()), "Now is the time for all ");
    EXPECT_EQ(toHex(a.chainStore, 8), toHex(b.chainStore, 8));
    EXPECT_EQ(toHex(a.chainStore, 8), "683788499a7c05f6");
}

TEST(KaCrypto, DecryptionNeedsTheDecryptionSchedule)
{
    Bytes key = hex("0123456789abcdef");
    Bytes iv = hex("1234567890abcdef");
    Bytes cipher = hex("e5c7cdde872bf27c");
    DESwCBCEncryptor wrong;
    wrong.setIV(iv.data());
    wrong.setKey(key.data(), KA_CRYPT_ENCRYPT);
    Bytes out(8);
    wrong.decrypt(cipher.data(), out.data(), 8);
    EXPECT_NE(std::string(out.begin(), out.end()), "Now is t");
}

TEST(KaCrypto, EncryptTextLeavesIvAndChainAlone)
{
    Bytes key = hex("0123456789abcdef");
    Bytes iv = hex("1234567890abcdef");
    DESwCBCEncryptor des;
    des.setIV(iv.data());
    des.setKey(key.data(), 0);
    Guarded out(16);
    des.encryptText("Now is the time", out.data());  // 15 bytes: two blocks
    EXPECT_TRUE(out.guardsIntact());
    EXPECT_EQ(toHex(des.ivStore, 8), "1234567890abcdef");
    EXPECT_EQ(toHex(des.chainStore, 8), "1234567890abcdef");
    EXPECT_EQ(toHex(out.data(), 8), "e5c7cdde872bf27c");
}

TEST(DESwCBCEncryptorOracle, ChainsAsCbcDecryption)
{
    Bytes key = hex("0123456789abcdef");
    Bytes iv = hex("1234567890abcdef");
    Bytes cipher = hex("e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");
    DESwCBCEncryptorOracle oracle;
    oracle.setIV(iv.data());
    oracle.setKey(key.data(), KA_CRYPT_DECRYPT);
    Bytes buf = cipher;
    oracle.encrypt(buf.data(), buf.data(), buf.size());
    EXPECT_EQ(std::string(buf.begin(), buf.end()), "Now is the time for all ");
}

// ---- against the openssl command line, when it still offers single DES ----

std::string runOpenssl(const std::string& args, const Bytes& input)
{
    char path[] = "/tmp/kacipher_testXXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return "!";
    bool ok = write(fd, input.data(), input.size()) == ssize_t(input.size());
    close(fd);
    std::string out;
    if (ok) {
        std::string command =
            "openssl enc " + args + " -nopad -provider legacy -provider default -in " + path + " 2>/dev/null";
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe != nullptr) {
            uint8_t buf[256];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
                out += toHex(buf, n);
            if (pclose(pipe) != 0)
                out = "!";
        } else {
            out = "!";
        }
    } else {
        out = "!";
    }
    unlink(path);
    return out;
}

bool opensslHasDes()
{
    return runOpenssl("-des-cbc -K 0000000000000000 -iv 0000000000000000", Bytes(8, 0)) == "8ca64de9c1b123a7";
}

TEST(DESwCBCEncryptor, AgreesWithOpensslDesCbc)
{
    if (!opensslHasDes())
        GTEST_SKIP() << "the openssl command offers no single DES";
    std::mt19937 rng(20240131);
    for (size_t blocks : {1u, 2u, 7u, 64u}) {
        Bytes key(8), iv(8), plain(blocks * 8);
        for (auto* b : {&key, &iv, &plain})
            for (auto& x : *b)
                x = uint8_t(rng());
        DESwCBCEncryptor des;
        des.setIV(iv.data());
        des.setKey(key.data(), 0);
        Bytes out(plain.size());
        des.encrypt(plain.data(), out.data(), plain.size());
        EXPECT_EQ(toHex(out), runOpenssl("-des-cbc -K " + toHex(key) + " -iv " + toHex(iv), plain)) << blocks;

        DESwCBCEncryptor back;
        back.setIV(iv.data());
        back.setKey(key.data(), KA_CRYPT_DECRYPT);
        Bytes again(out.size());
        back.decrypt(out.data(), again.data(), out.size());
        EXPECT_EQ(again, plain);
    }
}

TEST(DES3EncryptorOracle, ThreeKeyAndTwoKeyAgreeWithOpenssl)
{
    if (!opensslHasDes())
        GTEST_SKIP() << "the openssl command offers no DES";
    std::mt19937 rng(7);
    Bytes key(24), iv(8), plain(40);
    for (auto* b : {&key, &iv, &plain})
        for (auto& x : *b)
            x = uint8_t(rng());
    struct Case {
        uint64_t variant;
        const char* cipherName;
        size_t keyBytes;
    };
    for (Case c : {Case{0, "-des-ede3-cbc", 24}, Case{KA_DES3_TWO_KEY, "-des-ede-cbc", 16}}) {
        DES3EncryptorOracleE enc;
        enc.setKeyLength(c.variant);
        enc.setKey(key.data(), 0);
        enc.setIV(iv.data());
        Bytes out = plain;
        enc.encrypt(out.data(), out.data(), out.size());
        Bytes usedKey(key.begin(), key.begin() + long(c.keyBytes));
        EXPECT_EQ(toHex(out),
                  runOpenssl(std::string(c.cipherName) + " -K " + toHex(usedKey) + " -iv " + toHex(iv), plain))
            << c.cipherName;

        DES3EncryptorOracle dec;
        dec.setKeyLength(c.variant);
        dec.setDecryptionKey(key.data(), iv.data());
        Bytes back = out;
        dec.encrypt(back.data(), back.data(), back.size());
        EXPECT_EQ(back, plain) << c.cipherName;
    }
}

}  // namespace
