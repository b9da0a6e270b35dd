// SCRAM proofs against the published SCRAM-SHA-256 example exchange, through
// the crypto library the build makes.
#include "security/kascram.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/errorscope.h"
#include "support/hexbytes.h"
#include "support/platformtest.h"

namespace {

using Bytes = std::vector<uint8_t>;

using katest::hex;
using katest::toHex;

std::string tlsLibrary()
{
    return katest::buildDir() + "/lib/libVYtls28.so";
}

// The example exchange: user "user", password "pencil", 4096 iterations.
const char kClientFirstBare[] = "n=user,r=rOprNGfwEbeRWgbNEkqO";
const char kServerFirst[] = "r=rOprNGfwEbeRWgbNEkqO%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0,s=W22ZaJ0SNY7soEsUEjb6gQ==,i=4096";
const char kClientFinal[] = "c=biws,r=rOprNGfwEbeRWgbNEkqO%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0";
const char kSaltHex[] = "5b6d99689d12358eeca04b141236fa81";
const char kSaltedPassword[] = "c4a49510323ab4f952cac1fa99441939e78ea74d6be81ddf7096e87513dc615d";
const char kClientProof[] = "747cdb65aa56224e2352137e52d7bdcad6a0f738df30782caa69a2cfb0277554";
const char kServerSignature[] = "eabae24d1062db75a9451ff0b6ea7e98c8546549ff741e672d3251b2397de46e";

class ScramTest : public ::testing::Test {
protected:
    katest::ErrorScope errors;

    void SetUp() override { ASSERT_EQ(0, katest::openCatalogue()); }
    void TearDown() override { katest::closeCatalogue(); }

    void fill(KaScramClient& c)
    {
        ASSERT_EQ(0, c.initStatus);
        ASSERT_EQ(0, c.setPassword("pencil"));
        ASSERT_EQ(0, c.setMessages(kClientFirstBare, kServerFirst, kClientFinal));
        Bytes salt = hex(kSaltHex);
        ASSERT_EQ(0, c.setSalt(salt.data(), salt.size(), 4096));
    }
};

TEST_F(ScramTest, Sha256ExampleGivesThePublishedProofAndAcceptsTheSignature)
{
    KaScramClient c("user", KA_OPENSSL_DEFAULT_VERSIONS, tlsLibrary().c_str());
    fill(c);
    EXPECT_STREQ("user", c.state->userName);
    uint8_t proof[KA_SCRAM_KEY] = {};
    ASSERT_EQ(0, c.clientProof(c.state, KA_SCRAM_SHA256, proof));
    EXPECT_EQ(kClientProof, toHex(proof, sizeof proof));
    EXPECT_EQ(kSaltedPassword, toHex(c.state->saltedPassword, KA_SCRAM_KEY));

    Bytes signature = hex(kServerSignature);
    ASSERT_EQ(0, c.setServerSignature(signature.data()));
    EXPECT_EQ(1, c.verifyServerSignature(c.state, KA_SCRAM_SHA256));
    // Any byte changed, first, middle or last, is refused.
    for (size_t at : {size_t(0), size_t(15), size_t(31)}) {
        Bytes wrong = signature;
        wrong[at] ^= 0x01;
        ASSERT_EQ(0, c.setServerSignature(wrong.data()));
        EXPECT_EQ(0, c.verifyServerSignature(c.state, KA_SCRAM_SHA256)) << at;
    }
}

TEST_F(ScramTest, SignatureBeforeAnyProofIsRefused)
{
    KaScramClient c("user", KA_OPENSSL_DEFAULT_VERSIONS, tlsLibrary().c_str());
    fill(c);
    Bytes signature = hex(kServerSignature);
    ASSERT_EQ(0, c.setServerSignature(signature.data()));
    EXPECT_EQ(0, c.verifyServerSignature(c.state, KA_SCRAM_SHA256));
}

TEST_F(ScramTest, DigestsThatDoNotFitTheKeysAreRefused)
{
    KaScramClient c("user", KA_OPENSSL_DEFAULT_VERSIONS, tlsLibrary().c_str());
    fill(c);
    for (int32_t selector : {KA_SCRAM_MD5, KA_SCRAM_SHA1, KA_SCRAM_SHA512, int32_t(4), int32_t(0)}) {
        uint8_t proof[KA_SCRAM_KEY + 8];
        std::fill(std::begin(proof), std::end(proof), uint8_t(0xCC));
        EXPECT_EQ(1, c.clientProof(c.state, selector, proof)) << selector;
        for (uint8_t b : proof)
            ASSERT_EQ(0xCC, b);
        EXPECT_EQ(0, c.verifyServerSignature(c.state, selector));
    }
}

TEST_F(ScramTest, IncompleteStateIsRefused)
{
    KaScramClient c("user", KA_OPENSSL_DEFAULT_VERSIONS, tlsLibrary().c_str());
    uint8_t proof[KA_SCRAM_KEY];
    EXPECT_EQ(1, c.clientProof(c.state, KA_SCRAM_SHA256, proof));  // no password
    ASSERT_EQ(0, c.setPassword("pencil"));
    EXPECT_EQ(1, c.clientProof(c.state, KA_SCRAM_SHA256, proof));  // no messages
    EXPECT_EQ(1, c.clientProof(nullptr, KA_SCRAM_SHA256, proof));
}

TEST_F(ScramTest, IterationCountsOfZeroAndOneGiveTheFirstBlock)
{
    // Hi with one iteration is HMAC(password, salt || 00000001).
    KaScramClient one("user", KA_OPENSSL_DEFAULT_VERSIONS, tlsLibrary().c_str());
    KaScramClient zero("user", KA_OPENSSL_DEFAULT_VERSIONS, tlsLibrary().c_str());
    fill(one);
    fill(zero);
    Bytes salt = hex(kSaltHex);
    ASSERT_EQ(0, one.setSalt(salt.data(), salt.size(), 1));
    ASSERT_EQ(0, zero.setSalt(salt.data(), salt.size(), 0));
    uint8_t a[KA_SCRAM_KEY], b[KA_SCRAM_KEY];
    ASSERT_EQ(0, one.clientProof(one.state, KA_SCRAM_SHA256, a));
    ASSERT_EQ(0, zero.clientProof(zero.state, KA_SCRAM_SHA256, b));
    EXPECT_EQ(toHex(one.state->saltedPassword, KA_SCRAM_KEY), toHex(zero.state->saltedPassword, KA_SCRAM_KEY));
    EXPECT_NE(kSaltedPassword, toHex(one.state->saltedPassword, KA_SCRAM_KEY));
}

TEST_F(ScramTest, NoncesAreRandom)
{
    KaScramClient c("user", KA_OPENSSL_DEFAULT_VERSIONS, tlsLibrary().c_str());
    uint8_t a[KA_SCRAM_NONCE] = {}, b[KA_SCRAM_NONCE] = {};
    EXPECT_EQ(1, c.makeNonce(a));
    EXPECT_EQ(1, c.makeNonce(b));
    EXPECT_NE(toHex(a, sizeof a), toHex(b, sizeof b));
}

}  // namespace
