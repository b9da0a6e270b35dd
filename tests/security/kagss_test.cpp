// The GSSAPI binding on its own: statuses as diagnostics, the security
// layer chosen from a server's offer, and the login steps against the
// system's MIT GSSAPI library without a KDC (the logins with one are in
// tests/driver/pyodbc_kerberos_test.py).
#include "security/kagss.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "kamessages.h"
#include "support/errorscope.h"

namespace {

class Gss : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, katest::openCatalogue()); }
    void TearDown() override { katest::closeCatalogue(); }
};

TEST_F(Gss, StatusesBecomeTheirDiagnosticsWithTheKerberosReasonFirst)
{
    struct Case {
        const char* name;
        OM_uint32 major;
        OM_uint32 minor;
        int result;
        std::vector<uint16_t> messages;
        const char* words;
    };
    const Case cases[] = {
        {"complete", GSS_S_COMPLETE, 0, 0, {}, nullptr},
        {"continue needed alone", GSS_S_CONTINUE_NEEDED, 0, 0, {}, nullptr},
        {"failure, client unknown",
         GSS_S_FAILURE,
         0x96C73A06,
         1,
         {MSG_GSS_KERBEROS_ERROR, MSG_GSS_FAILURE},
         "Client not found in Kerberos database"},
        {"failure, server unknown",
         GSS_S_FAILURE,
         0x96C73A07,
         1,
         {MSG_GSS_KERBEROS_ERROR, MSG_GSS_FAILURE},
         "Server not found in Kerberos database"},
        {"failure, Kerberos code without a text",
         GSS_S_FAILURE,
         0x96C73A02,
         1,
         {MSG_GSS_FAILURE, MSG_GSS_MINOR_STATUS},
         "minor status"},
        {"failure, another minor status", GSS_S_FAILURE, 12345, 1, {MSG_GSS_FAILURE, MSG_GSS_MINOR_STATUS}, "12345"},
        {"no credentials", GSS_S_NO_CRED, 0, 1, {MSG_GSS_NO_CRED}, "kinit"},
        {"last routine error", GSS_S_NAME_NOT_MN, 0, 1, {MSG_GSS_NAME_NOT_MN}, "mechanism name"},
        {"unknown routine error", 19u << GSS_C_ROUTINE_ERROR_OFFSET, 5, 1, {MSG_GSS_ROUTINE_ERROR}, "19"},
        {"calling error", GSS_S_CALL_INACCESSIBLE_READ, 0, 1, {MSG_GSS_CALL_INACCESSIBLE_READ}, "could not be read"},
        {"unknown calling error", 9u << GSS_C_CALLING_ERROR_OFFSET, 0, 1, {MSG_GSS_CALLING_ERROR}, "9"},
        {"supplementary with a minor status", GSS_S_CONTINUE_NEEDED, 7, 1, {MSG_GSS_MINOR_STATUS}, "7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        katest::ErrorScope errors;
        EXPECT_EQ(c.result, postGssStatus(c.major, c.minor));
        ASSERT_EQ(c.messages.size(), errors.size());
        std::string all;
        for (size_t i = 0; i < errors.size(); ++i) {
            EXPECT_EQ(c.messages[i], errors.native(i));
            all += errors.text(i) + "\n";
        }
        if (c.words != nullptr) {
            EXPECT_NE(std::string::npos, all.find(c.words)) << all;
        }
    }
}

TEST_F(Gss, OnlyTheLayerWithoutProtectionIsChosen)
{
    struct Case {
        std::vector<uint8_t> offer;
        bool accepted;
    };
    const Case cases[] = {
        {{0x07, 0x01, 0x00, 0x00}, true},
        {{0x01, 0x00, 0x10, 0x00}, true},
        {{0x05, 0xFF, 0xFF, 0xFF}, true},
        {{0x06, 0x01, 0x00, 0x00}, false},
        {{0x04, 0x01, 0x00, 0x00}, false},
        {{0x02, 0x00, 0x00, 0x00}, false},
        {{}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.offer.empty() ? -1 : c.offer[0]));
        katest::ErrorScope errors;
        uint8_t reply[4] = {9, 9, 9, 9};
        int rc = kaSaslSecurityLayerReply(c.offer.data(), c.offer.size(), reply);
        if (c.accepted) {
            EXPECT_EQ(0, rc);
            EXPECT_EQ(0u, errors.size());
            EXPECT_EQ(std::vector<uint8_t>({KA_SASL_LAYER_NONE, 0, 0, 0}), std::vector<uint8_t>(reply, reply + 4));
        } else {
            EXPECT_EQ(1, rc);
            ASSERT_EQ(1u, errors.size());
            EXPECT_EQ(MSG_GSS_SECURITY_LAYER_REQUIRED, errors.native(0));
        }
    }
}

TEST_F(Gss, ALibraryThatIsNotThereIsNamedInTheDiagnostic)
{
    katest::ErrorScope errors;
    const std::u16string library = u"/nonexistent/libgssapi_other.so";
    KaGSServices gss(reinterpret_cast<const uint16_t*>(library.c_str()));
    const std::u16string name = u"hive/localhost@EXAMPLE.COM";
    EXPECT_EQ(1, gss.importTargetName(reinterpret_cast<const uint16_t*>(name.c_str())));
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_LIBRARY_OPEN_FAILED, errors.native(0));
    EXPECT_NE(std::string::npos, errors.text(0).find("libgssapi_other.so")) << errors.text(0);
}

TEST_F(Gss, StepsWithoutATargetNameAreRefused)
{
    katest::ErrorScope errors;
    KaGSServices gss(nullptr);
    uint8_t out[64];
    size_t length = 0;
    int32_t more = 0;
    EXPECT_EQ(1, gss.importTargetName(nullptr));
    EXPECT_EQ(1, gss.importTargetNameA(nullptr));
    EXPECT_EQ(1, gss.initContextStep(nullptr, 0, out, sizeof out, &length, &more));
    EXPECT_EQ(1, gss.negotiateSecurityLayer(out, 4, out, sizeof out, &length));
    ASSERT_EQ(4u, errors.size());
    for (size_t i = 0; i < errors.size(); ++i)
        EXPECT_EQ(MSG_GSS_NO_TARGET_NAME, errors.native(i));
}

TEST_F(Gss, WithoutATicketTheNativeLibraryStepFailsWithAReason)
{
    // A private configuration with an unreachable realm and no cache: the
    // step must fail with a diagnostic, not hang or crash.
    char pattern[] = "/tmp/kagss_test.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    std::string dir = pattern;
    std::string conf = dir + "/krb5.conf";
    FILE* f = std::fopen(conf.c_str(), "w");
    ASSERT_NE(nullptr, f);
    std::fputs("[libdefaults]\n default_realm = EXAMPLE.COM\n dns_lookup_kdc = false\n", f);
    std::fclose(f);
    setenv("KRB5_CONFIG", conf.c_str(), 1);
    setenv("KRB5CCNAME", ("FILE:" + dir + "/none").c_str(), 1);
    {
        katest::ErrorScope errors;
        KaGSServices gss(nullptr);
        gss.requestFlags = KA_GSS_HIVE_FLAGS;
        ASSERT_EQ(0, gss.importTargetNameA("hive/localhost@EXAMPLE.COM")) << (errors.size() ? errors.text(0) : "");
        uint8_t out[64];
        size_t length = 0;
        int32_t more = 0;
        EXPECT_EQ(1, gss.initContextStep(nullptr, 0, out, sizeof out, &length, &more));
        EXPECT_EQ(0u, length);
        ASSERT_GE(errors.size(), 1u);
        EXPECT_NE(std::string::npos, errors.text(0).find("Kerberos")) << errors.text(0);
    }
    unsetenv("KRB5_CONFIG");
    unsetenv("KRB5CCNAME");
    std::string command = "rm -rf '" + dir + "'";
    EXPECT_EQ(0, std::system(command.c_str()));
}

}  // namespace
