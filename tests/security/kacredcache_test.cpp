// The credential-cache reader over caches the test writes in the MIT
// format (DES ticket-granting tickets, as the reader takes them), every
// truncation and corruption of one, and a cache that kinit wrote against a
// private KDC, whose AES key the reader refuses.
#include "security/kacredcache.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <utime.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kamessages.h"
#include "support/errorscope.h"
#include "support/hs2process.h"

namespace {

// An MIT credential cache, written field by field.
struct CcacheWriter {
    std::vector<uint8_t> bytes;
    uint8_t version;

    explicit CcacheWriter(uint8_t v) : version(v)
    {
        u8(5);
        u8(v);
        if (v == 4) {
            // One header tag: the KDC time offset (tag 1, 8 bytes).
            u16(12);
            u16(1);
            u16(8);
            u32(0);
            u32(0);
        }
    }
    void u8(uint8_t v) { bytes.push_back(v); }
    void u16(uint16_t v)
    {
        u8(uint8_t(v >> 8));
        u8(uint8_t(v));
    }
    void u32(uint32_t v)
    {
        u16(uint16_t(v >> 16));
        u16(uint16_t(v));
    }
    void counted(const std::string& s)
    {
        u32(uint32_t(s.size()));
        bytes.insert(bytes.end(), s.begin(), s.end());
    }
    void principal(const std::string& realm, const std::vector<std::string>& parts)
    {
        if (version >= 2)
            u32(1);
        u32(uint32_t(parts.size()));
        counted(realm);
        for (const std::string& p : parts)
            counted(p);
    }
    void credential(const std::string& realm, const std::string& user, const std::vector<std::string>& server,
                    uint16_t enctype, const std::string& key, uint32_t flags, const std::string& ticket,
                    const std::string& serverRealm = "")
    {
        principal(realm, {user});
        principal(serverRealm.empty() ? realm : serverRealm, server);
        u16(enctype);
        if (version == 3)
            u16(enctype);
        counted(key);
        u32(1000);  // authentication
        u32(1001);  // start
        u32(2000);  // end
        u32(3000);  // renew until
        u8(0);
        u32(flags);
        u32(1);  // one address
        u16(2);
        counted("\x7f\x00\x00\x01");
        u32(0);  // no authorisation data
        counted(ticket);
        counted("");
    }
};

const std::string kKey = "K3yBytes";
const std::string kTicket = "a ticket of some length";

CcacheWriter typicalCache(uint8_t version, uint16_t enctype = 1, const std::string& key = kKey,
                          uint32_t flags = 0x40000000)
{
    CcacheWriter w(version);
    w.principal("EXAMPLE.COM", {"alice"});
    w.credential("EXAMPLE.COM", "alice", {"krbtgt", "EXAMPLE.COM"}, enctype, key, flags, kTicket);
    return w;
}

class CredCache : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kacredcache_test.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir = pattern;
        ASSERT_EQ(0, katest::openCatalogue());
    }
    void TearDown() override
    {
        katest::closeCatalogue();
        std::string command = "rm -rf '" + dir + "'";
        EXPECT_EQ(0, std::system(command.c_str()));
    }
    std::string write(const std::vector<uint8_t>& bytes, const std::string& name = "cc")
    {
        std::string path = dir + "/" + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(nullptr, f);
        if (f != nullptr) {
            if (!bytes.empty()) {
                EXPECT_EQ(bytes.size(), std::fwrite(bytes.data(), 1, bytes.size(), f));
            }
            std::fclose(f);
        }
        return path;
    }
    // Reads the ticket-granting ticket of the file; its result.
    int readTgt(KaCredCache& cache)
    {
        char realm[64];
        char name[64];
        size_t realmLength = 0;
        size_t nameLength = 0;
        ticketLength = 0;
        return cache.readTicketGrantingTicket(realm, sizeof realm, &realmLength, name, sizeof name, &nameLength, ticket,
                                              sizeof ticket, &ticketLength, key, times);
    }
    std::string dir;
    uint8_t ticket[256] = {};
    size_t ticketLength = 0;
    uint8_t key[KA_CCACHE_KEY_SIZE] = {};
    int64_t times[4] = {};
};

TEST_F(CredCache, ADesTicketGrantingTicketIsReadInEveryFormatVersion)
{
    for (uint8_t version : {2, 3, 4}) {
        SCOPED_TRACE(int(version));
        katest::ErrorScope errors;
        KaCredCache cache;
        ASSERT_EQ(0, cache.init(write(typicalCache(version).bytes).c_str()));
        char realm[64];
        char name[64];
        size_t realmLength = 0;
        size_t nameLength = 0;
        ASSERT_EQ(0, cache.readTicketGrantingTicket(realm, sizeof realm, &realmLength, name, sizeof name, &nameLength,
                                                    ticket, sizeof ticket, &ticketLength, key, times))
            << (errors.size() ? errors.text(0) : "");
        EXPECT_EQ("EXAMPLE.COM", std::string(realm, realmLength));
        EXPECT_EQ("alice", std::string(name));
        EXPECT_EQ(kTicket, std::string(reinterpret_cast<char*>(ticket), ticketLength));
        EXPECT_EQ(kKey, std::string(reinterpret_cast<char*>(key), sizeof key));
        EXPECT_EQ(1000, times[0]);
        EXPECT_EQ(3000, times[3]);
        EXPECT_EQ(0u, errors.size());
    }
}

TEST_F(CredCache, CachesTheReaderCannotUseAreRefusedWithTheirReason)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        uint16_t message;
        const char* words;
    };
    CcacheWriter service(4);
    service.principal("EXAMPLE.COM", {"hive", "localhost"});
    CcacheWriter otherUser(4);
    otherUser.principal("EXAMPLE.COM", {"alice"});
    otherUser.credential("EXAMPLE.COM", "bob", {"krbtgt", "EXAMPLE.COM"}, 1, kKey, 0, kTicket);
    CcacheWriter notTgt(4);
    notTgt.principal("EXAMPLE.COM", {"alice"});
    notTgt.credential("EXAMPLE.COM", "alice", {"hive", "localhost"}, 1, kKey, 0, kTicket);
    std::vector<uint8_t> wrongMagic = typicalCache(4).bytes;
    wrongMagic[0] = 4;
    const Case cases[] = {
        {"AES key", typicalCache(4, 18).bytes, MSG_CCACHE_TGT_NOT_DES, "aes256-cts-hmac-sha1-96"},
        {"RC4 key", typicalCache(4, 23).bytes, MSG_CCACHE_TGT_NOT_DES, "arcfour-hmac-md5"},
        {"unnamed enctype", typicalCache(4, 7).bytes, MSG_CCACHE_TGT_NOT_DES, "but it is 7"},
        {"long DES key", typicalCache(4, 3, "0123456789abcdef").bytes, MSG_CCACHE_KEY_LENGTH, "is 16"},
        {"refused flag", typicalCache(4, 1, kKey, 0x00800000).bytes, MSG_CCACHE_TICKET_FLAG, "0x00800000"},
        {"service principal", service.bytes, MSG_CCACHE_DEFAULT_PRINCIPAL, "2 components"},
        {"other user", otherUser.bytes, MSG_CCACHE_PRINCIPAL_MISMATCH, "names bob where alice"},
        {"not a ticket-granting ticket", notTgt.bytes, MSG_CCACHE_PRINCIPAL_MISMATCH, "hive where krbtgt"},
        {"not a cache", wrongMagic, MSG_CCACHE_NOT_A_CACHE, "not a Kerberos credential cache"},
        {"empty", {}, MSG_CCACHE_TRUNCATED, "ends early"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        katest::ErrorScope errors;
        KaCredCache cache;
        ASSERT_EQ(0, cache.init(write(c.bytes).c_str()));
        EXPECT_EQ(1, readTgt(cache));
        ASSERT_EQ(1u, errors.size());
        EXPECT_EQ(c.message, errors.native(0));
        EXPECT_NE(std::string::npos, errors.text(0).find(c.words)) << errors.text(0);
    }
}

TEST_F(CredCache, EveryTruncationAndEveryCorruptedByteEndsInADiagnosticOrAGoodRead)
{
    const std::vector<uint8_t> whole = typicalCache(4).bytes;
    // The last four bytes, the second ticket's length, are not read.
    for (size_t n = 0; n + 4 < whole.size(); ++n) {
        SCOPED_TRACE(n);
        katest::ErrorScope errors;
        KaCredCache cache;
        ASSERT_EQ(0, cache.init(write(std::vector<uint8_t>(whole.begin(), whole.begin() + long(n))).c_str()));
        EXPECT_EQ(1, readTgt(cache));
        ASSERT_GE(errors.size(), 1u);
    }
    // Lengths and counts read as huge or as zero must stay inside the file.
    for (uint8_t value : {uint8_t(0xFF), uint8_t(0x00), uint8_t(0x7F)}) {
        for (size_t at = 0; at < whole.size(); ++at) {
            SCOPED_TRACE(at);
            std::vector<uint8_t> bad = whole;
            bad[at] = value;
            katest::ErrorScope errors;
            KaCredCache cache;
            ASSERT_EQ(0, cache.init(write(bad).c_str()));
            if (readTgt(cache) != 0)
                EXPECT_GE(errors.size(), 1u);
            else
                EXPECT_LE(ticketLength, sizeof ticket);
        }
    }
}

TEST_F(CredCache, ConfigurationEntriesBeforeTheTicketArePassedOver)
{
    CcacheWriter w(4);
    w.principal("EXAMPLE.COM", {"alice"});
    w.credential("EXAMPLE.COM", "alice", {"krb5_ccache_conf_data", "pa_type", "krbtgt/EXAMPLE.COM@EXAMPLE.COM"}, 0, "",
                 0, "2", "X-CACHECONF:");
    w.credential("EXAMPLE.COM", "alice", {"krbtgt", "EXAMPLE.COM"}, 3, kKey, 0, kTicket);
    katest::ErrorScope errors;
    KaCredCache cache;
    ASSERT_EQ(0, cache.init(write(w.bytes).c_str()));
    ASSERT_EQ(0, readTgt(cache)) << (errors.size() ? errors.text(0) : "");
    EXPECT_EQ(kTicket, std::string(reinterpret_cast<char*>(ticket), ticketLength));
}

TEST_F(CredCache, TheFileIsReadAgainOnlyWhenItChanged)
{
    katest::ErrorScope errors;
    KaCredCache cache;
    std::string path = write(typicalCache(4).bytes);
    ASSERT_EQ(0, cache.init(path.c_str()));
    ASSERT_EQ(0, readTgt(cache));
    ASSERT_EQ(0, readTgt(cache));
    EXPECT_EQ(1u, cache.loads);
    // A later modification time makes the next read load the file again.
    struct stat st {};
    ASSERT_EQ(0, stat(path.c_str(), &st));
    utimbuf later{st.st_atime, st.st_mtime + 10};
    ASSERT_EQ(0, utime(path.c_str(), &later));
    ASSERT_EQ(0, readTgt(cache));
    EXPECT_EQ(2u, cache.loads);
}

TEST_F(CredCache, ASessionKeyIsFoundByPrincipalAndEnctype)
{
    CcacheWriter w(4);
    w.principal("EXAMPLE.COM", {"alice"});
    w.credential("EXAMPLE.COM", "alice", {"krbtgt", "EXAMPLE.COM"}, 1, kKey, 0, kTicket);
    w.credential("EXAMPLE.COM", "alice", {"hive", "localhost"}, 23, "rc4key!!", 0, "t1");
    w.credential("EXAMPLE.COM", "alice", {"hive", "localhost"}, 3, "deskey!!", 0, "t2");
    katest::ErrorScope errors;
    KaCredCache cache;
    ASSERT_EQ(0, cache.init(write(w.bytes).c_str()));
    ASSERT_EQ(0, readTgt(cache));
    uint8_t found[KA_CCACHE_KEY_SIZE];
    int64_t when[4] = {};
    ASSERT_EQ(0, cache.findSessionKey("hive", 4, "localhost", 9, 3, found, when));
    EXPECT_EQ("deskey!!", std::string(reinterpret_cast<char*>(found), sizeof found));
    EXPECT_EQ(2000, when[2]);
    ASSERT_EQ(0, cache.findSessionKey("hive", 4, "localhost", 9, 0, found, nullptr));
    EXPECT_EQ("rc4key!!", std::string(reinterpret_cast<char*>(found), sizeof found));

    EXPECT_EQ(1, cache.findSessionKey("hive", 4, "localhost", 9, 18, found, nullptr));
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_CCACHE_ENCTYPE_NOT_FOUND, errors.native(0));
    EXPECT_NE(std::string::npos, errors.text(0).find("aes256-cts-hmac-sha1-96 (the last one seen was des-cbc-md5)"))
        << errors.text(0);
    EXPECT_EQ(1, cache.findSessionKey("impala", 6, "localhost", 9, 0, found, nullptr));
    ASSERT_EQ(2u, errors.size());
    EXPECT_EQ(MSG_CCACHE_PRINCIPAL_NOT_FOUND, errors.native(1));
    EXPECT_NE(std::string::npos, errors.text(1).find("impala")) << errors.text(1);
}

TEST_F(CredCache, EnctypesWithoutANameAreWrittenInDecimal)
{
    char buffer[KA_ENCTYPE_NAME_SIZE];
    EXPECT_STREQ("des-cbc-crc", krbEnctypeName(1, buffer));
    EXPECT_STREQ("aes128-cts-hmac-sha1-96", krbEnctypeName(17, buffer));
    EXPECT_STREQ("7", krbEnctypeName(7, buffer));
    EXPECT_STREQ("-3", krbEnctypeName(-3, buffer));
}

TEST_F(CredCache, ACacheThatKinitWroteIsRefusedForItsAesKey)
{
    std::string script = katest::sourceRoot() + "/tests/support/localkdc.py";
    std::string check = "/usr/bin/python3 -c 'import sys; sys.path.insert(0, \"" + katest::sourceRoot() +
                        "/tests/support\"); import localkdc; "
                        "sys.exit(1 if localkdc.missing_tools() else 0)'";
    if (std::system(check.c_str()) != 0)
        GTEST_SKIP() << "the MIT Kerberos KDC programs are not installed (krb5-kdc, krb5-admin-server, krb5-user)";
    std::string command = "/usr/bin/python3 '" + script + "' '" + dir + "' > /dev/null 2>&1";
    ASSERT_EQ(0, std::system(command.c_str()));
    katest::ErrorScope errors;
    KaCredCache cache;
    ASSERT_EQ(0, cache.init((dir + "/cc").c_str()));
    EXPECT_EQ(1, readTgt(cache));
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_CCACHE_TGT_NOT_DES, errors.native(0));
    EXPECT_NE(std::string::npos, errors.text(0).find("must be des-cbc-crc or des-cbc-md5")) << errors.text(0);
}

}  // namespace
