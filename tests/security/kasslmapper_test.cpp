// The SSL and crypto call mappers over the TLS library the build makes:
// loading by version, alias rows, the 1.1.1 adapters and the seeding.
#include "security/kasslmapper.h"

#include <string>

#include <gtest/gtest.h>

#include "support/errorscope.h"
#include "kamessages.h"

namespace {

std::string tlsLibrary()
{
    return katest::buildDir() + "/lib/libVYtls28.so";
}

class SSLMapperTest : public ::testing::Test {
protected:
    katest::ErrorScope errors;

    void SetUp() override { ASSERT_EQ(0, katest::openCatalogue()); }
    void TearDown() override { katest::closeCatalogue(); }

    KaOpenSSLCallMapperLoader* load(const KaOpenSSLTables& tables)
    {
        KaOpenSSLCallMapperLoader* loader = nullptr;
        EXPECT_EQ(0, KaOpenSSLCallMapperLoader::create(&loader, nullptr, tlsLibrary().c_str(), &tables));
        return loader;
    }
};

TEST_F(SSLMapperTest, SslMapperOfTheLoadedVersionInitialisesTheLibrary)
{
    KaOpenSSLCallMapperLoader* loader = load(kaSSLTables());
    ASSERT_NE(nullptr, loader);
    ASSERT_EQ(KA_OPENSSL_111, loader->versionCode);
    KaSSLCallMapper* ssl = KaSSLCallMapper::selectMapper(*loader);
    delete loader;
    ASSERT_NE(nullptr, ssl);
    EXPECT_NE(nullptr, dynamic_cast<KaSSLCallMapper11*>(ssl));
    EXPECT_NE(nullptr, ssl->negotiatingMethod());
    EXPECT_EQ(nullptr, ssl->sslv2Method());
    // The renamed and the dropped 1.1.1 names come from the TLS library.
    EXPECT_NE(nullptr, ssl->slot(KA_SSL_SSL_get_peer_certificate));
    EXPECT_NE(nullptr, ssl->slot(KA_SSL_SSLv3_client_method));
    EXPECT_EQ(nullptr, ssl->slot(KA_SSL_SSL_library_init));
    EXPECT_EQ(0u, errors.size());
    delete ssl;
}

TEST_F(SSLMapperTest, CryptoAliasRowsFillTheOldSlots)
{
    KaOpenSSLCallMapperLoader* loader = load(kaCryptoTables());
    ASSERT_NE(nullptr, loader);
    ASSERT_EQ(KA_OPENSSL_111, loader->versionCode);
    KaCryptoCallMapper* crypto = KaCryptoCallMapper::selectMapper(*loader);
    delete loader;
    ASSERT_NE(nullptr, crypto);
    EXPECT_NE(nullptr, crypto->slot(KA_CRYPTO_sk_num));
    EXPECT_NE(nullptr, crypto->slot(KA_CRYPTO_sk_value));
    EXPECT_NE(nullptr, crypto->slot(KA_CRYPTO_sk_pop_free));
    EXPECT_EQ(nullptr, crypto->slot(KA_CRYPTO_EVP_cleanup));
    crypto->seedSource = 1;  // poll the system's sources
    EXPECT_EQ(0, crypto->initializeOnce());
    EXPECT_EQ(0u, errors.size());
    delete crypto;
}

TEST_F(SSLMapperTest, UnusableRandFileIsReported)
{
    KaOpenSSLCallMapperLoader* loader = load(kaCryptoTables());
    ASSERT_NE(nullptr, loader);
    KaCryptoCallMapper* crypto = KaCryptoCallMapper::selectMapper(*loader);
    delete loader;
    ASSERT_NE(nullptr, crypto);
    katest::ErrorScope inner;
    // RAND_file_name follows RANDFILE from the environment.
    setenv("RANDFILE", "/nonexistent/dir/seed", 1);
    crypto->seedFile = "randfile";
    EXPECT_EQ(1, crypto->initialize());
    unsetenv("RANDFILE");
    ASSERT_EQ(1u, inner.size());
    EXPECT_EQ(MSG_OPENSSL_SEED_FILE_UNUSABLE, inner.native(0));
    delete crypto;
}

TEST_F(SSLMapperTest, UnknownVersionHasNoMapper)
{
    KaOpenSSLCallMapperLoader loader;
    EXPECT_EQ(nullptr, KaSSLCallMapper::selectMapper(loader));
    EXPECT_EQ(nullptr, KaCryptoCallMapper::selectMapper(loader));
    ASSERT_EQ(2u, errors.size());
    EXPECT_EQ(MSG_OPENSSL_VERSION_UNKNOWN, errors.native(0));
}

}  // namespace
