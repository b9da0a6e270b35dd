// The SASL PLAIN login: the frames written for each kind of identity, the
// server's verdicts, a refusal whose length the wire makes up, and the
// credentials wiped from the write buffer.
#include <gtest/gtest.h>

#include <string>

#include "fakewire.h"
#include "wiredconn.h"
#include "hive/dummyenv.h"
#include "hive/hiveconnection.h"
#include "support/diagscope.h"

namespace {

using katest::TB;

using SaslTest = katest::WiredConnection;

std::string startFrame()
{
    return TB().i8(HIVE_SASL_START).str("PLAIN").s;
}

TEST_F(SaslTest, TheFramesCarryTheIdentityTheMethodGives)
{
    struct Case {
        int32_t method;
        const char* login;
        std::string expected;
    } cases[] = {
        {0, nullptr, startFrame() + TB().i8(HIVE_SASL_COMPLETE).str(std::string("\0ann\0pw", 7)).s},
        {-1, nullptr, startFrame() + TB().i8(HIVE_SASL_COMPLETE).str(std::string("\0VELTRANOX\0VELTRANOX", 20)).s},
        {0, "osuser", startFrame() + TB().i8(HIVE_SASL_OK).str(std::string("ann\0osuser\0pw", 13)).s},
    };
    for (const Case& c : cases) {
        wire.written.clear();
        wire.serve(TB().i8(HIVE_SASL_COMPLETE).i32(0).s);
        ASSERT_EQ(0, conn.saslPlainLogin(c.method, "ann", 3, "pw", 2, c.login));
        EXPECT_EQ(c.expected, wire.written);
        // Nothing of the credentials is left in the buffer.
        EXPECT_EQ(std::string(c.expected.size(), '\0'),
                  std::string(reinterpret_cast<char*>(conn.writeBuffer.window), c.expected.size()));
    }
    EXPECT_EQ(0u, diags.size());
}

TEST_F(SaslTest, TheServersVerdictDecides)
{
    struct Case {
        std::string answer;
        uint16_t message;
        const char* text;
    } cases[] = {
        {TB().i8(HIVE_SASL_BAD).str("Error validating the login").s, MSG_SASL_LOGIN_REFUSED,
         "Error validating the login"},
        {TB().i8(HIVE_SASL_ERROR).str("no").s, MSG_SASL_LOGIN_REFUSED, "no"},
        // A length the wire makes up is refused before anything is read.
        {TB().i8(HIVE_SASL_BAD).i32(0x7FFFFFFF).s, MSG_SASL_MESSAGE_TOO_LONG, "2147483647"},
        {TB().i8(HIVE_SASL_BAD).i32(-4).s, MSG_SASL_LOGIN_FAILED, "failed"},
        {TB().i8(9).i32(0).s, MSG_SASL_LOGIN_FAILED, "failed"},
        // Servers that speak something else say so, and the keyword to change.
        {"HTTP/1.0 400 Bad request\r\n\r\n", MSG_SASL_SERVER_SPEAKS_HTTP, "TransportMode=1"},
        {std::string("\x80\x01\x00\x03\x00\x00\x00\x00", 8), MSG_SASL_SERVER_WITHOUT_SASL, "not supported"},
        {std::string("\x15\x03\x03\x00\x02\x02\x46", 7), MSG_SASL_SERVER_SPEAKS_TLS, "EncryptionMethod=1"},
        // The server hangs up: that goes first, before the lost link.
        {"", MSG_SASL_SERVER_CLOSED, "EncryptionMethod=1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        wire.chunks.clear();
        if (!c.answer.empty())
            wire.serve(c.answer);
        ASSERT_EQ(0, conn.readBuffer.attach(&conn, &wire));
        size_t before = diags.size();
        EXPECT_NE(0, conn.saslPlainLogin(0, "ann", 3, "pw", 2, nullptr));
        ASSERT_GT(diags.size(), before);
        EXPECT_EQ(c.message, diags.at(before)->nativeCode);
        EXPECT_EQ(MSG_SQLSTATE_UNABLE_TO_CONNECT, diags.index(before));
        EXPECT_NE(std::string::npos, diags.text(before).find(c.text)) << diags.text(before);
    }
}

TEST_F(SaslTest, OtherMethodsAreRefused)
{
    EXPECT_NE(0, conn.saslPlainLogin(1, "ann", 3, "pw", 2, nullptr));
    ASSERT_EQ(1u, diags.size());
    EXPECT_EQ(MSG_SQLSTATE_UNABLE_TO_CONNECT, diags.index(0));
    EXPECT_EQ(0, wire.writes);
}

}  // namespace
