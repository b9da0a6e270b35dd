// OpenSSL binding: version lists, library file names, and the loader against
// the TLS library the build makes (libVYtls28.so beside the driver).
#include "security/kaopenssl.h"

#include <dlfcn.h>

#include <string>

#include <gtest/gtest.h>

#include "security/kacipherapi.h"
#include "support/errorscope.h"
#include "kamessages.h"

namespace {

std::string tlsLibrary()
{
    return katest::buildDir() + "/lib/libVYtls28.so";
}

class OpenSSLTest : public ::testing::Test {
protected:
    katest::ErrorScope errors;

    void SetUp() override { ASSERT_EQ(0, katest::openCatalogue()); }
    void TearDown() override
    {
        openSSLSetDriverBaseName(nullptr);
        katest::closeCatalogue();
    }
};

TEST_F(OpenSSLTest, VersionCodesOfListEntries)
{
    struct Case {
        const char* list;
        int64_t code;
    } cases[] = {
        {"latest", KA_OPENSSL_111},
        {"1.1.1", KA_OPENSSL_111},
        {"1.0.2", KA_OPENSSL_102},
        {"1.1.1,1.0.2", KA_OPENSSL_111},
        {"1.0.2,x", KA_OPENSSL_102},
        {nullptr, KA_OPENSSL_111},
        {"1.2,1.1.1", -1},
        {"LATEST", -1},
        {"1.1.10", -1},
        {" 1.1.1", -1},
        {"", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.code, openSSLVersionCode(c.list)) << (c.list ? c.list : "(null)");
    }
    ASSERT_GE(errors.size(), 1u);
    EXPECT_EQ(MSG_OPENSSL_VERSION_UNKNOWN, errors.native(0));
}

TEST_F(OpenSSLTest, VersionListedSearchesEveryEntry)
{
    EXPECT_EQ(1, openSSLVersionListed("1.1.1,1.0.2", KA_OPENSSL_102));
    EXPECT_EQ(1, openSSLVersionListed("bogus,1.0.2", KA_OPENSSL_102));
    EXPECT_EQ(1u, errors.size());  // the unrecognised entry on the way
    EXPECT_EQ(0, openSSLVersionListed("1.1.1", KA_OPENSSL_102));
    EXPECT_EQ(1, openSSLVersionListed(nullptr, KA_OPENSSL_111));
}

TEST_F(OpenSSLTest, VersionTextAndLibraryPart)
{
    char text[KA_OPENSSL_VERSION_TEXT];
    openSSLVersionText(KA_OPENSSL_111, text);
    EXPECT_STREQ("1.1.1", text);
    openSSLVersionText(KA_OPENSSL_102, text);
    EXPECT_STREQ("1.0.2", text);
    EXPECT_STREQ("tls", openSSLLibraryPart(KA_OPENSSL_111));
    EXPECT_STREQ("ssl", openSSLLibraryPart(KA_OPENSSL_102));
    EXPECT_EQ(nullptr, openSSLLibraryPart(KA_OPENSSL_UNDETERMINED));
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_OPENSSL_VERSION_UNKNOWN, errors.native(0));
}

TEST_F(OpenSSLTest, LibraryNamesDeriveFromTheDriverName)
{
    struct Case {
        const char* driver;
        const char* part;
        const char* directory;
        const char* file;
    } cases[] = {
        {nullptr, "tls", "", "libVYtls28.so"},
        {nullptr, "ssl", "", "libVYssl28.so"},
        {"VYspark28r", "tls", "", "libVYtls28.so"},
        {"VYspark28R", "ssl", "", "libVYssl28.so"},
        {"/opt/d/ABcd17", "tls", "/opt/d/", "libABtls17.so"},
    };
    for (const Case& c : cases) {
        openSSLSetDriverBaseName(c.driver);
        char directory[KA_OPENSSL_PATH_MAX];
        char file[KA_OPENSSL_PATH_MAX];
        ASSERT_EQ(0, buildOpenSSLLibraryName(c.part, directory, file));
        EXPECT_STREQ(c.directory, directory);
        EXPECT_STREQ(c.file, file);
    }
    const std::string tooLong(129, 'a');
    openSSLSetDriverBaseName(tooLong.c_str());
    char directory[KA_OPENSSL_PATH_MAX];
    char file[KA_OPENSSL_PATH_MAX];
    EXPECT_EQ(-1, buildOpenSSLLibraryName("tls", directory, file));
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_FILE_NAME_TOO_LONG, errors.native(0));
}

TEST_F(OpenSSLTest, ExplicitPathTellsTheVersionFromWhatResolved)
{
    KaOpenSSLCallMapperLoader* loader = nullptr;
    ASSERT_EQ(0, KaOpenSSLCallMapperLoader::create(&loader, "1.0.2", tlsLibrary().c_str(), &kaCipherTables()));
    ASSERT_NE(nullptr, loader);
    EXPECT_EQ(KA_OPENSSL_111, loader->versionCode);  // whatever the list says
    EXPECT_EQ(0u, errors.size());
    delete loader;
}

TEST_F(OpenSSLTest, UnknownFirstEntryFailsAtOnce)
{
    KaOpenSSLCallMapperLoader* loader = nullptr;
    EXPECT_EQ(-1, KaOpenSSLCallMapperLoader::create(&loader, "1.2,1.1.1", nullptr, &kaCipherTables()));
    EXPECT_EQ(nullptr, loader);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_OPENSSL_VERSION_UNKNOWN, errors.native(0));
}

TEST_F(OpenSSLTest, NoLoadableLibraryLeavesLastAttemptAndLoadFailure)
{
    openSSLSetDriverBaseName("/nonexistent/dir/QQnone42");
    KaOpenSSLCallMapperLoader* loader = nullptr;
    EXPECT_EQ(-1, KaOpenSSLCallMapperLoader::create(&loader, "1.1.1,1.0.2", nullptr, &kaCipherTables()));
    EXPECT_EQ(nullptr, loader);
    // Earlier attempts' diagnostics are withdrawn; the last one stays.
    ASSERT_EQ(2u, errors.size());
    EXPECT_EQ(MSG_LIBRARY_OPEN_FAILED, errors.native(0));
    EXPECT_NE(std::string::npos, errors.text(0).find("/nonexistent/dir/libQQssl42.so"));
    EXPECT_EQ(MSG_OPENSSL_LOAD_FAILED, errors.native(1));
}

TEST_F(OpenSSLTest, TrailingCommaIsNoFurtherEntry)
{
    openSSLSetDriverBaseName("QQnone42");
    KaOpenSSLCallMapperLoader* loader = nullptr;
    EXPECT_EQ(-1, KaOpenSSLCallMapperLoader::create(&loader, "1.1.1,", nullptr, &kaCipherTables()));
    ASSERT_EQ(2u, errors.size());
    EXPECT_NE(std::string::npos, errors.text(0).find("libQQtls42.so"));
    EXPECT_EQ(MSG_OPENSSL_LOAD_FAILED, errors.native(1));
}

TEST_F(OpenSSLTest, BareNameFindsTheLibraryTheDriverShipsWith)
{
    // The driver's RUNPATH finds it beside the driver; here it is already
    // in the process, which the bare name matches by its SONAME.
    void* held = dlopen(tlsLibrary().c_str(), RTLD_NOW);
    ASSERT_NE(nullptr, held) << dlerror();
    KaOpenSSLCallMapperLoader* loader = nullptr;
    ASSERT_EQ(0, KaOpenSSLCallMapperLoader::create(&loader, KA_OPENSSL_DEFAULT_VERSIONS, nullptr, &kaCipherTables()));
    EXPECT_EQ(KA_OPENSSL_111, loader->versionCode);
    EXPECT_STREQ("libVYtls28.so", loader->libraryName);
    EXPECT_EQ(0u, errors.size());
    delete loader;
}

TEST_F(OpenSSLTest, ExplicitLibraryWithoutTheFunctionsIsIncomplete)
{
    // The C library resolves none of the rows.
    KaOpenSSLCallMapperLoader* loader = nullptr;
    EXPECT_EQ(-1, KaOpenSSLCallMapperLoader::create(&loader, nullptr, "libc.so.6", &kaCipherTables()));
    ASSERT_GE(errors.size(), 1u);
    EXPECT_EQ(MSG_OPENSSL_LIBRARY_INCOMPLETE, errors.native(errors.size() - 1));
}

}  // namespace
