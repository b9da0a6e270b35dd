// The TLS transport against real peers on loopback: openssl s_server and the
// Python TLS peer with certificates the tests make, and the HiveServer2 test
// server with TLS on. Chain and host checks, trust and key stores in every
// form, protocol versions, large writes, a peer that closes mid-record and
// one that never answers the handshake.
#include "transport/katlssock.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "kamessages.h"
#include "loopback.h"
#include "support/errorscope.h"
#include "support/tlspeers.h"
#include "transport/basesocket.h"

namespace {

using katest::PeerProcess;
using katest::TlsFiles;

// OpenSSL's option bit that leaves TLS 1.3 out, and the mode bit that lets
// SSL_write take part of a buffer.
constexpr uint64_t kNoTls13 = 0x20000000;
constexpr uint64_t kPartialWrite = 1;
// SSL_CTX_ctrl's command that caps the records the client sends.
constexpr int kCtrlSetMaxSendFragment = 52;

std::string fnv1a(const std::string& data)
{
    uint64_t h = 0xCBF29CE484222325ull;
    for (unsigned char b : data)
        h = (h ^ b) * 0x100000001B3ull;
    char text[40];
    snprintf(text, sizeof text, "%zu:%016llx\n", data.size(), static_cast<unsigned long long>(h));
    return text;
}

std::string tlsLibrary()
{
    return katest::buildDir() + "/lib/libVYtls28.so";
}

class TlsSockTest : public ::testing::Test {
protected:
    katest::ThreadScope thread;
    katest::ErrorScope errors;

    static void SetUpTestSuite() { ASSERT_EQ(0, katest::openCatalogue()); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }

    void SetUp() override { ASSERT_TRUE(TlsFiles::get().ok) << "the openssl command could not make the certificates"; }

    std::string file(const std::string& name) const { return TlsFiles::get().path(name); }

    // A socket that trusts the test CA, over the library the build makes.
    std::unique_ptr<KaSSLSock> makeSocket(const std::string& trust = "ca.pem")
    {
        auto s = std::make_unique<KaSSLSock>(nullptr);
        s->setSSLLibraryPath(tlsLibrary().c_str());
        s->setCryptoLibraryPath(tlsLibrary().c_str());
        // A peer that hangs fails the test instead of holding it.
        s->timeout = 20000;
        if (!trust.empty()) {
            EXPECT_EQ(0, s->setTrustStore(file(trust).c_str(), nullptr));
        }
        return s;
    }

    int connect(KaSSLSock& s, const PeerProcess& peer, const char* host = "localhost")
    {
        EXPECT_NE(0, peer.port());
        return s.connect(peer.port(), nullptr, host, nullptr, 0);
    }

    // The innermost list in use: a case of a table gets a fresh one.
    katest::ErrorScope* current = &errors;

    bool posted(uint16_t message, const char* state) const
    {
        for (size_t i = 0; i < current->size(); ++i)
            if (current->native(i) == message && katest::sqlstate(current->at(i)) == state)
                return true;
        return false;
    }

    std::string all() const
    {
        std::string text;
        for (size_t i = 0; i < current->size(); ++i)
            text += std::to_string(current->native(i)) + " " + current->text(i) + "\n";
        return text;
    }

    // Makes a fresh list current for one case of a table.
    struct CaseScope {
        TlsSockTest& test;
        katest::ErrorScope scope;
        explicit CaseScope(TlsSockTest& t) : test(t) { test.current = &scope; }
        ~CaseScope() { test.current = &test.errors; }
    };

    // Sends the data and reads back as many bytes.
    std::string echo(KaSSLSock& s, const std::string& data)
    {
        EXPECT_EQ(KA_SOCK_OK, s.send(data.data(), data.size(), 0)) << all();
        std::string back;
        std::vector<char> buffer(100000);
        while (back.size() < data.size()) {
            size_t got = 0;
            int rc = s.recv(buffer.data(), buffer.size(), &got, 0);
            if (rc != KA_SOCK_OK) {
                ADD_FAILURE() << "recv gave " << rc << "\n" << all();
                break;
            }
            EXPECT_LE(got, KA_SSL_CHUNK);
            back.append(buffer.data(), got);
        }
        return back;
    }

    std::string negotiatedVersion(KaSSLSock& s)
    {
        auto fn = reinterpret_cast<const char* (*)(const void*)>(s.sslMapper->slot(KA_SSL_SSL_get_version));
        return fn != nullptr ? fn(s.ssl) : "";
    }
};

TEST_F(TlsSockTest, HandshakeAndEchoOverTheTestCa)
{
    PeerProcess peer(katest::pythonPeerArgs("server", "echo"));
    auto s = makeSocket();
    ASSERT_EQ(KA_SOCK_OK, connect(*s, peer)) << all();
    EXPECT_EQ(KA_SOCK_KIND_TLS, s->kind);
    EXPECT_EQ("hello over TLS", echo(*s, "hello over TLS"));
    EXPECT_EQ(KA_SOCK_OK, s->disconnect());
    EXPECT_EQ(0u, errors.size()) << all();
}

struct TraceCapture : KaSockTraceSink {
    std::string text;
    void write(const char* data, size_t length) noexcept override { text.append(data, length); }
    void flush() noexcept override {}
};

TEST_F(TlsSockTest, PacketTraceShowsTheBytesInTheClear)
{
    PeerProcess peer(katest::pythonPeerArgs("server", "echo"));
    auto s = makeSocket();
    TraceCapture trace;
    s->traceSink = &trace;
    s->setTraceMode(1);
    ASSERT_EQ(KA_SOCK_OK, connect(*s, peer)) << all();
    EXPECT_EQ("TRACEME", echo(*s, "TRACEME"));
    EXPECT_EQ(KA_SOCK_OK, s->disconnect());
    // Sent once and read once, as the application's bytes, not TLS records.
    size_t first = trace.text.find("TRACEME");
    ASSERT_NE(std::string::npos, first) << trace.text;
    EXPECT_NE(std::string::npos, trace.text.find("TRACEME", first + 1)) << trace.text;
}

TEST_F(TlsSockTest, LargeWritesArriveWholeWithPartialWritesAllowed)
{
    // Writes that OpenSSL may take in part are finished, never reported as
    // sent with bytes missing.
    for (uint64_t mode : {uint64_t(0), kPartialWrite}) {
        PeerProcess peer(katest::pythonPeerArgs("server", "echo"));
        auto s = makeSocket();
        s->modeBits = mode;
        ASSERT_EQ(KA_SOCK_OK, connect(*s, peer)) << all();
        std::string data;
        for (size_t i = 0; i < 300000; ++i)
            data += char('a' + (i * 7919) % 26);
        EXPECT_EQ(data, echo(*s, data)) << "mode " << mode;
        EXPECT_EQ(KA_SOCK_OK, s->disconnect());
    }
}

TEST_F(TlsSockTest, WritesThatTheLibraryTakesInPartAreFinished)
{
    // Records of 512 bytes with partial writes on: each SSL_write takes one
    // record of a 16,300-byte chunk, and the rest must still go out.
    const size_t total = 40000;
    std::string data;
    for (size_t i = 0; i < total; ++i)
        data += char('0' + (i * 31) % 10);
    for (uint64_t mode : {kPartialWrite, uint64_t(0)}) {
        SCOPED_TRACE(mode);
        PeerProcess peer(katest::pythonPeerArgs("server", "digest", {"--expect", std::to_string(total)}));
        auto s = makeSocket();
        s->modeBits = mode;
        ASSERT_EQ(0, s->setHostNameInCertificate("localhost"));
        ASSERT_EQ(0, s->initSSL(0)) << all();
        auto ctrl = reinterpret_cast<long (*)(void*, int, long, void*)>(s->sslMapper->slot(KA_SSL_SSL_CTX_ctrl));
        ASSERT_EQ(1, ctrl(s->context, kCtrlSetMaxSendFragment, 512, nullptr));
        ASSERT_EQ(KA_SOCK_OK, s->KaTCPIP::connect(peer.port(), nullptr, "127.0.0.1", nullptr, 0)) << all();
        ASSERT_EQ(0, s->handshake()) << all();
        ASSERT_EQ(KA_SOCK_OK, s->send(data.data(), data.size(), 0)) << all();
        std::string reply;
        char buffer[128];
        while (reply.find('\n') == std::string::npos) {
            size_t got = 0;
            ASSERT_EQ(KA_SOCK_OK, s->recv(buffer, sizeof buffer, &got, 0)) << all();
            reply.append(buffer, got);
        }
        EXPECT_EQ(fnv1a(data), reply);
        EXPECT_EQ(KA_SOCK_OK, s->disconnect());
    }
}

struct HostCase {
    const char* cert;
    const char* host;               // what the client connects to
    const char* nameInCertificate;  // null: not set
    uint16_t validation;
    uint16_t message;  // 0: the handshake succeeds
    const char* state;
};

TEST_F(TlsSockTest, ServerCertificateChecks)
{
    const HostCase cases[] = {
        {"server", "localhost", nullptr, KA_SSL_VALIDATE, 0, ""},
        {"server", "LOCALHOST", nullptr, KA_SSL_VALIDATE, 0, ""},
        {"server", "127.0.0.1", nullptr, KA_SSL_VALIDATE, 0, ""},
        {"server", "localhost", "#SERVERNAME#", KA_SSL_VALIDATE, 0, ""},
        {"server", "localhost", "", KA_SSL_VALIDATE, 0, ""},
        // The host is checked by default, against the host connected to.
        {"wronghost", "localhost", nullptr, KA_SSL_VALIDATE, MSG_TLS_HOST_NAME_MISMATCH, "28000"},
        {"wronghost", "localhost", "", KA_SSL_VALIDATE, MSG_TLS_HOST_NAME_MISMATCH, "28000"},
        {"wronghost", "localhost", "elsewhere.example", KA_SSL_VALIDATE, 0, ""},
        {"wronghost", "localhost", "other.example", KA_SSL_VALIDATE, MSG_TLS_HOST_NAME_MISMATCH, "28000"},
        // A name is matched whole, not as a part of another.
        {"wronghost", "localhost", "example", KA_SSL_VALIDATE, MSG_TLS_HOST_NAME_MISMATCH, "28000"},
        {"server", "127.0.0.1", "127.0.0.2", KA_SSL_VALIDATE, MSG_TLS_HOST_NAME_MISMATCH, "28000"},
        // Verification errors are refused, and say why.
        {"expired", "localhost", nullptr, KA_SSL_VALIDATE, MSG_TLS_CERT_ERROR_10, "08001"},
        {"self", "localhost", nullptr, KA_SSL_VALIDATE, MSG_TLS_CERT_ERROR_18, "08001"},
        {"expired", "localhost", nullptr, KA_SSL_VALIDATE_ISSUER_CHECK, MSG_TLS_CERT_ERROR_10, "08001"},
        // Only the explicit choice turns verification off.
        {"expired", "localhost", nullptr, KA_SSL_VALIDATE_NONE, 0, ""},
        {"self", "localhost", nullptr, KA_SSL_VALIDATE_NONE, 0, ""},
        {"wronghost", "localhost", nullptr, KA_SSL_VALIDATE_NONE, 0, ""},
    };
    for (const HostCase& c : cases) {
        SCOPED_TRACE(std::string(c.cert) + " as " + c.host + " name " +
                     (c.nameInCertificate ? c.nameInCertificate : "(none)") + " validation " +
                     std::to_string(c.validation));
        CaseScope scope(*this);
        PeerProcess peer(katest::sServerArgs(c.cert));
        auto s = makeSocket();
        s->validationMode = c.validation;
        if (c.nameInCertificate != nullptr) {
            ASSERT_EQ(0, s->setHostNameInCertificate(c.nameInCertificate));
        }
        int rc = connect(*s, peer, c.host);
        if (c.message == 0) {
            EXPECT_EQ(KA_SOCK_OK, rc) << all();
            EXPECT_EQ(0u, current->size()) << all();
            EXPECT_EQ(KA_SOCK_OK, s->disconnect());
        } else {
            EXPECT_EQ(KA_SOCK_FAILED, rc);
            EXPECT_TRUE(posted(c.message, c.state)) << all();
            // The failed connect leaves no connection behind.
            EXPECT_EQ(nullptr, s->record);
            EXPECT_EQ(0, s->connected);
        }
    }
}

TEST_F(TlsSockTest, UntrustedChainsAreRefusedWithTheReason)
{
    struct Case {
        const char* cert;
        const char* trust;
    } cases[] = {
        // Without a trust store of its own the socket trusts the system's,
        // which does not hold the test CA.
        {"server", ""},
        {"badsigned", "badca.pem"},
        // A PKCS#12 file with a key and its certificate but no CA installs no trust.
        {"server", "client.p12"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.cert) + " trusting " + c.trust);
        CaseScope scope(*this);
        PeerProcess peer(katest::sServerArgs(c.cert));
        auto s = makeSocket(c.trust);
        if (std::string(c.trust).find(".p12") != std::string::npos) {
            ASSERT_EQ(0, s->setTrustStore(file(c.trust).c_str(), "storepw"));
        }
        EXPECT_EQ(KA_SOCK_FAILED, connect(*s, peer));
        ASSERT_GE(current->size(), 2u) << all();
        // The chain's own reason comes first, then the handshake's.
        EXPECT_EQ("08001", katest::sqlstate(current->at(0))) << all();
        EXPECT_NE(MSG_TLS_HANDSHAKE_FAILED, current->native(0)) << all();
        EXPECT_TRUE(posted(MSG_TLS_HANDSHAKE_FAILED, "08001")) << all();
        EXPECT_EQ(nullptr, s->record);
    }
}

TEST_F(TlsSockTest, SocketConnectsAgainAfterARefusal)
{
    auto s = makeSocket();
    {
        CaseScope scope(*this);
        PeerProcess expired(katest::sServerArgs("expired"));
        EXPECT_EQ(KA_SOCK_FAILED, connect(*s, expired));
        EXPECT_TRUE(posted(MSG_TLS_CERT_ERROR_10, "08001")) << all();
    }
    // A fresh context and session: nothing of the refusal is left over.
    PeerProcess good(katest::pythonPeerArgs("server", "echo"));
    ASSERT_EQ(KA_SOCK_OK, connect(*s, good)) << all();
    EXPECT_EQ("again", echo(*s, "again"));
    EXPECT_EQ(KA_SOCK_OK, s->disconnect());
    EXPECT_EQ(0u, errors.size()) << all();
}

TEST_F(TlsSockTest, HandshakesOnSeveralThreadsKeepTheirOwnVerdicts)
{
    // The verify callback finds the socket of its own thread's handshake.
    const char* certs[] = {"server", "expired", "server", "self", "server", "expired"};
    const size_t n = sizeof certs / sizeof certs[0];
    std::vector<std::unique_ptr<PeerProcess>> peers;
    for (const char* cert : certs)
        peers.push_back(std::make_unique<PeerProcess>(katest::sServerArgs(cert)));
    std::vector<int> results(n, 99);
    std::vector<std::vector<uint16_t>> posts(n);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < n; ++i) {
        threads.emplace_back([&, i] {
            katest::ThreadScope attach;
            katest::ErrorScope own;
            auto s = makeSocket();
            results[i] = s->connect(peers[i]->port(), nullptr, "localhost", nullptr, 0);
            if (results[i] == KA_SOCK_OK)
                (void)s->disconnect();
            for (size_t k = 0; k < own.size(); ++k)
                posts[i].push_back(own.native(k));
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (size_t i = 0; i < n; ++i) {
        SCOPED_TRACE(certs[i]);
        if (std::string(certs[i]) == "server") {
            EXPECT_EQ(KA_SOCK_OK, results[i]);
            EXPECT_TRUE(posts[i].empty());
        } else {
            EXPECT_EQ(KA_SOCK_FAILED, results[i]);
            ASSERT_FALSE(posts[i].empty());
            EXPECT_EQ(std::string(certs[i]) == "expired" ? MSG_TLS_CERT_ERROR_10 : MSG_TLS_CERT_ERROR_18, posts[i][0]);
        }
    }
    EXPECT_EQ(0u, errors.size()) << all();
}

TEST_F(TlsSockTest, IssuerNoticesPassDuringTheWalkButNotAsTheFinalResult)
{
    for (long code = 29; code <= 31; ++code) {
        EXPECT_TRUE(x509ErrorMessage(code, false).accept) << code;
        EXPECT_FALSE(x509ErrorMessage(code, true).accept) << code;
    }
    // An issuer without keyCertSign is never accepted.
    EXPECT_FALSE(x509ErrorMessage(32, false).accept);
    EXPECT_FALSE(x509ErrorMessage(32, true).accept);
    EXPECT_TRUE(x509ErrorMessage(0, true).accept);
    EXPECT_EQ(MSG_TLS_CERT_ERROR_2, x509ErrorMessage(2, false).message);
    EXPECT_EQ(MSG_TLS_CERT_ERROR_28, x509ErrorMessage(28, true).message);
    EXPECT_EQ(MSG_TLS_CERT_APPLICATION_REFUSED, x509ErrorMessage(KA_SSL_HOST_MISMATCH, true).message);
    EXPECT_EQ(MSG_TLS_CERTIFICATE_REFUSED, x509ErrorMessage(62, true).message);
}

TEST_F(TlsSockTest, TrustStoreForms)
{
    struct Case {
        const char* trust;
        const char* password;
    } cases[] = {
        {"ca.pem", nullptr},
        {"cadir", nullptr},
        {"trust.p12", "trustpw"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trust);
        PeerProcess peer(katest::sServerArgs("server"));
        auto s = makeSocket("");
        ASSERT_EQ(0, s->setTrustStore(file(c.trust).c_str(), c.password));
        EXPECT_EQ(KA_SOCK_OK, connect(*s, peer)) << all();
        EXPECT_EQ(KA_SOCK_OK, s->disconnect());
    }
    EXPECT_EQ(0u, errors.size()) << all();
}

TEST_F(TlsSockTest, WithoutATrustStoreTheSystemsTrustApplies)
{
    // OpenSSL's default locations follow SSL_CERT_FILE.
    setenv("SSL_CERT_FILE", file("ca.pem").c_str(), 1);
    PeerProcess peer(katest::sServerArgs("server"));
    auto s = makeSocket("");
    int rc = connect(*s, peer);
    unsetenv("SSL_CERT_FILE");
    EXPECT_EQ(KA_SOCK_OK, rc) << all();
    EXPECT_EQ(KA_SOCK_OK, s->disconnect());
}

TEST_F(TlsSockTest, TlsStartsOnAnOpenPlainConnection)
{
    PeerProcess peer(katest::pythonPeerArgs("server", "echo"));
    KaTCPIP plain;
    plain.timeout = 20000;
    ASSERT_EQ(KA_SOCK_OK, plain.connect(peer.port(), nullptr, "127.0.0.1", nullptr, 0));
    KaSSLSock s(plain, nullptr, 1);
    EXPECT_EQ(nullptr, plain.record);
    EXPECT_EQ(20000u, s.timeout);
    s.setSSLLibraryPath(tlsLibrary().c_str());
    s.setCryptoLibraryPath(tlsLibrary().c_str());
    ASSERT_EQ(0, s.setTrustStore(file("ca.pem").c_str(), nullptr));
    // No host was given to this transport: the name to check is named.
    ASSERT_EQ(0, s.setHostNameInCertificate("localhost"));
    ASSERT_EQ(0, s.startSSL()) << all();
    EXPECT_EQ("upgraded", echo(s, "upgraded"));
    EXPECT_EQ(KA_SOCK_OK, s.disconnect());
}

TEST_F(TlsSockTest, WithoutAnyHostNameTheCheckFails)
{
    PeerProcess peer(katest::pythonPeerArgs("server", "echo"));
    KaTCPIP plain;
    plain.timeout = 20000;
    ASSERT_EQ(KA_SOCK_OK, plain.connect(peer.port(), nullptr, "127.0.0.1", nullptr, 0));
    KaSSLSock s(plain, nullptr, 1);
    s.setSSLLibraryPath(tlsLibrary().c_str());
    s.setCryptoLibraryPath(tlsLibrary().c_str());
    ASSERT_EQ(0, s.setTrustStore(file("ca.pem").c_str(), nullptr));
    EXPECT_EQ(-1, s.startSSL());
    EXPECT_TRUE(posted(MSG_TLS_HOST_NAME_MISMATCH, "28000")) << all();
    EXPECT_EQ(nullptr, s.record);
}

TEST_F(TlsSockTest, MissingTrustStoreFailsBeforeAnyTlsByte)
{
    PeerProcess peer(katest::sServerArgs("server"));
    auto s = makeSocket("no-such-trust.pem");
    EXPECT_EQ(KA_SOCK_FAILED, connect(*s, peer));
    ASSERT_EQ(1u, errors.size()) << all();
    EXPECT_EQ(MSG_TLS_TRUST_STORE_UNUSABLE, errors.native(0));
    EXPECT_EQ("28000", katest::sqlstate(errors.at(0)));
    EXPECT_NE(std::string::npos, errors.text(0).find("No such file")) << all();
    EXPECT_EQ(nullptr, s->record);
}

struct KeyCase {
    const char* store;
    const char* storePassword;
    const char* keyPassword;
    bool accepted;
};

TEST_F(TlsSockTest, ClientKeyStoreForms)
{
    const KeyCase cases[] = {
        {"client-combined.pem", nullptr, nullptr, true},   {"client-encrypted.pem", nullptr, "keypw", true},
        {"client.p12", "storepw", nullptr, true},          {"client.p12", "wrong", nullptr, false},
        {"client-encrypted.pem", nullptr, "wrong", false}, {"ca.pem", nullptr, nullptr, false},
    };
    ASSERT_TRUE(katest::makeOwnKeyStore("own-client.ks", '!', '7', KA_KEYSTORE_DES_IV, KA_KEYSTORE_AES_IV));
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(std::string(c.store) + " " + (c.storePassword ? c.storePassword : "") + " " +
                     (c.keyPassword ? c.keyPassword : ""));
        CaseScope scope(*this);
        PeerProcess peer(katest::sServerArgs("server", {"-Verify", "1", "-CAfile", file("ca.pem")}));
        auto s = makeSocket();
        ASSERT_EQ(0, s->setKeyStore(file(c.store).c_str(), c.storePassword, c.keyPassword));
        int rc = connect(*s, peer);
        if (c.accepted) {
            EXPECT_EQ(KA_SOCK_OK, rc) << all();
            EXPECT_EQ(KA_SOCK_OK, s->disconnect());
            EXPECT_EQ(0u, current->size()) << all();
        } else {
            EXPECT_EQ(KA_SOCK_FAILED, rc);
            EXPECT_TRUE(posted(MSG_TLS_KEY_STORE_UNUSABLE, "28000")) << all();
        }
    }
}

TEST_F(TlsSockTest, ServerThatRequiresAClientCertificateRefusesNone)
{
    PeerProcess peer(katest::sServerArgs("server", {"-Verify", "1", "-CAfile", file("ca.pem")}));
    auto s = makeSocket();
    int rc = connect(*s, peer);
    if (rc == KA_SOCK_OK) {
        // With TLS 1.3 the refusal comes after the handshake, on the first read.
        std::string ping = "ping\n";
        (void)s->send(ping.data(), ping.size(), 0);
        char buffer[64];
        size_t got = 0;
        rc = s->recv(buffer, sizeof buffer, &got, 0);
        EXPECT_NE(KA_SOCK_OK, rc);
        EXPECT_TRUE(posted(MSG_TLS_IO_FAILED, "08S01")) << all();
    } else {
        EXPECT_TRUE(posted(MSG_TLS_HANDSHAKE_FAILED, "08001")) << all();
    }
}

TEST_F(TlsSockTest, ProtocolVersions)
{
    for (const char* version : {"1.2", "1.3"}) {
        SCOPED_TRACE(version);
        PeerProcess peer(katest::pythonPeerArgs("server", "echo", {"--tls", version}));
        auto s = makeSocket();
        ASSERT_EQ(KA_SOCK_OK, connect(*s, peer)) << all();
        EXPECT_EQ(std::string("TLSv") + version, negotiatedVersion(*s));
        EXPECT_EQ("data", echo(*s, "data"));
        EXPECT_EQ(KA_SOCK_OK, s->disconnect());
    }
    // The option bits choose the protocols offered: without TLS 1.3 a
    // server that speaks only TLS 1.3 is refused.
    PeerProcess only13(katest::pythonPeerArgs("server", "echo", {"--tls", "1.3"}));
    auto s = makeSocket();
    s->optionBits = kNoTls13;
    EXPECT_EQ(KA_SOCK_FAILED, connect(*s, only13));
    EXPECT_TRUE(posted(MSG_TLS_HANDSHAKE_FAILED, "08001")) << all();
}

TEST_F(TlsSockTest, WriteToAPeerThatReadsNothingEndsAtTheTimeOut)
{
    PeerProcess peer(katest::pythonPeerArgs("server", "stall"));
    auto s = makeSocket();
    ASSERT_EQ(KA_SOCK_OK, connect(*s, peer)) << all();
    s->timeout = 200;
    std::string block(1 << 20, 'z');
    int rc = KA_SOCK_OK;
    // The socket buffers take a few megabytes before the writes block.
    for (int i = 0; i < 256 && rc == KA_SOCK_OK; ++i)
        rc = s->send(block.data(), block.size(), 0);
    EXPECT_EQ(KA_SOCK_TIMED_OUT, rc) << all();
    // Part of a record may have gone: the stream is not used again.
    EXPECT_EQ(KA_SOCK_LOST, s->send("x", 1, 0));
}

TEST_F(TlsSockTest, PeerThatClosesMidRecordGivesALinkFailure)
{
    PeerProcess peer(katest::pythonPeerArgs("server", "midrecord"));
    auto s = makeSocket();
    ASSERT_EQ(KA_SOCK_OK, connect(*s, peer)) << all();
    std::string line = "send me a record\n";
    ASSERT_EQ(KA_SOCK_OK, s->send(line.data(), line.size(), 0));
    char buffer[8192];
    size_t got = 0;
    int rc = s->recv(buffer, sizeof buffer, &got, 0);
    EXPECT_EQ(KA_SOCK_FAILED, rc);
    EXPECT_EQ(0u, got);
    EXPECT_TRUE(posted(MSG_TLS_IO_FAILED, "08S01")) << all();
}

TEST_F(TlsSockTest, SilentServerEndsTheHandshakeAtItsTimeOut)
{
    katest::LoopbackServer silent(katest::Peer::Silent);
    auto s = makeSocket();
    s->handshakeTimeout = 300;
    EXPECT_EQ(KA_SOCK_FAILED, s->connect(silent.port(), nullptr, "127.0.0.1", nullptr, 0));
    EXPECT_TRUE(posted(MSG_TLS_HANDSHAKE_TIMED_OUT, "08001")) << all();
    EXPECT_EQ(nullptr, s->record);
}

TEST_F(TlsSockTest, SilentServerEndsTheHandshakeWithinTheTransportTimeOut)
{
    // The transport's time-out covers the connect and the handshake: the
    // handshake's own (longer) wait does not stretch it.
    katest::LoopbackServer silent(katest::Peer::Silent);
    auto s = makeSocket();
    s->timeout = 300;
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(KA_SOCK_TIMED_OUT, s->connect(silent.port(), nullptr, "127.0.0.1", nullptr, 0));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
    EXPECT_TRUE(posted(MSG_TLS_HANDSHAKE_TIMED_OUT, "HYT00")) << all();
    EXPECT_EQ(nullptr, s->record);
    EXPECT_EQ(0, s->handshakeDeadline);
}

TEST_F(TlsSockTest, WaitModeReadGivesNothingYetAndThenTheData)
{
    PeerProcess peer(katest::pythonPeerArgs("server", "echo"));
    auto s = makeSocket();
    ASSERT_EQ(KA_SOCK_OK, connect(*s, peer)) << all();
    s->waitTimeout = 50;
    char buffer[64];
    size_t got = 0;
    EXPECT_EQ(KA_SOCK_NOTHING_YET, s->recv(buffer, sizeof buffer, &got, 1));
    EXPECT_EQ(1, s->timedOut);
    // Without wait the transport's time-out bounds the read.
    s->timeout = 50;
    EXPECT_EQ(KA_SOCK_TIMED_OUT, s->recv(buffer, sizeof buffer, &got, 0));
    EXPECT_EQ(50, s->waitTimeout);
    s->timeout = 20000;
    std::string data = "late";
    ASSERT_EQ(KA_SOCK_OK, s->send(data.data(), data.size(), 0));
    s->waitTimeout = 20000;
    ASSERT_EQ(KA_SOCK_OK, s->recv(buffer, sizeof buffer, &got, 1)) << all();
    EXPECT_EQ(data, std::string(buffer, got));
    EXPECT_EQ(0u, errors.size()) << all();
}

TEST_F(TlsSockTest, NotConnectedSocketReportsTheLostConnection)
{
    auto s = makeSocket();
    char buffer[8];
    size_t got = 1;
    EXPECT_EQ(KA_SOCK_LOST, s->send("x", 1, 0));
    EXPECT_EQ(KA_SOCK_LOST, s->recv(buffer, sizeof buffer, &got, 0));
    EXPECT_EQ(0u, got);
}

TEST_F(TlsSockTest, CipherListChoosesTheCipher)
{
    for (const char* cipher : {"ECDHE-ECDSA-AES256-GCM-SHA384", "ECDHE-ECDSA-CHACHA20-POLY1305"}) {
        PeerProcess peer(katest::pythonPeerArgs("server", "echo", {"--tls", "1.2"}));
        auto s = makeSocket();
        s->setCipherList(cipher);
        ASSERT_EQ(KA_SOCK_OK, connect(*s, peer)) << all();
        auto current =
            reinterpret_cast<const void* (*)(const void*)>(s->sslMapper->slot(KA_SSL_SSL_get_current_cipher));
        auto name = reinterpret_cast<const char* (*)(const void*)>(s->sslMapper->slot(KA_SSL_SSL_CIPHER_get_name));
        ASSERT_NE(nullptr, current);
        ASSERT_NE(nullptr, name);
        EXPECT_STREQ(cipher, name(current(s->ssl)));
        EXPECT_EQ(KA_SOCK_OK, s->disconnect());
    }
}

TEST_F(TlsSockTest, RejectedCipherListIsReported)
{
    auto s = makeSocket();
    s->setCipherList("NO-SUCH-CIPHER");
    EXPECT_EQ(-1, s->initSSL(0));
    EXPECT_TRUE(posted(MSG_CIPHER_LIST_INVALID, "08001")) << all();
}

TEST_F(TlsSockTest, ProtocolsTheLibraryNoLongerHasAreRefused)
{
    for (int32_t selector : {int32_t(KA_SSL_PROTOCOL_SSLV2), int32_t(KA_SSL_PROTOCOL_SSLV3), int32_t(9)}) {
        CaseScope scope(*this);
        auto s = makeSocket();
        s->protocolSelector = selector;
        EXPECT_EQ(-1, s->initSSL(0)) << selector;
        EXPECT_TRUE(posted(MSG_TLS_NO_METHOD, "08001")) << all();
        EXPECT_EQ(nullptr, s->context);
    }
}

TEST_F(TlsSockTest, LoadOnlyChecksTheLibrariesWithoutAContext)
{
    auto s = makeSocket();
    EXPECT_EQ(0, s->initSSL(1)) << all();
    EXPECT_EQ(nullptr, s->context);
    EXPECT_NE(nullptr, s->sslMapper);
    EXPECT_NE(nullptr, s->cryptoMapper);
}

TEST_F(TlsSockTest, ApplySettingsTakesTheConnectionsTlsOptions)
{
    const std::u16string trust = u"/some/trust.pem", hnic = u"db.example", lib = u"/lib/x.so";
    const std::u16string ciphers = u"HIGH", versions = u"1.1.1", seed = u"1";
    BaseSocketTlsSettings tls = {};
    tls.trustStore = reinterpret_cast<const uint16_t*>(trust.c_str());
    tls.hostNameInCertificate = reinterpret_cast<const uint16_t*>(hnic.c_str());
    tls.validateServerCertificate = 1;
    std::string libraryPath = tlsLibrary();
    std::u16string libraryW(libraryPath.begin(), libraryPath.end());
    tls.sslLibName = reinterpret_cast<const uint16_t*>(libraryW.c_str());
    tls.cryptoLibName = reinterpret_cast<const uint16_t*>(libraryW.c_str());
    tls.cipherList = reinterpret_cast<const uint16_t*>(ciphers.c_str());
    tls.allowedOpenSSLVersions = reinterpret_cast<const uint16_t*>(versions.c_str());
    tls.openSSLOptions = 0x04000000;
    tls.openSSLMode = 0x10;
    tls.prngSeedSource = reinterpret_cast<const uint16_t*>(seed.c_str());
    struct Case {
        int32_t method;
        int32_t tunnel;
        int32_t selector;
    } cases[] = {{1, 0, KA_SSL_PROTOCOL_NEGOTIATE},
                 {0, 1, KA_SSL_PROTOCOL_NEGOTIATE},
                 {0, 0, KA_SSL_PROTOCOL_DEFAULT},
                 {5, 0, KA_SSL_PROTOCOL_TLSV1}};
    for (const Case& c : cases) {
        KaSSLSock s(nullptr);
        ASSERT_EQ(0, s.applySettings(tls, c.method, c.tunnel)) << all();
        EXPECT_EQ(c.selector, s.protocolSelector) << c.method;
        EXPECT_STREQ("/some/trust.pem", s.trustStore);
        EXPECT_STREQ("db.example", s.hostNameInCertificate);
        EXPECT_STREQ("HIGH", s.cipherList);
        EXPECT_STREQ("1.1.1", s.allowedVersions);
        EXPECT_STREQ(libraryPath.c_str(), s.sslLibraryPath);
        EXPECT_EQ(0x04000000u, s.optionBits);
        EXPECT_EQ(0x10u, s.modeBits);
        EXPECT_EQ(1, s.prngSeedSource);
        EXPECT_NE(nullptr, s.cryptoMapper);
    }
}

TEST_F(TlsSockTest, SettingsLeftUnsetVerifyTheServer)
{
    std::string libraryPath = tlsLibrary();
    std::u16string libraryW(libraryPath.begin(), libraryPath.end());
    BaseSocketTlsSettings tls = {};
    tls.cryptoLibName = reinterpret_cast<const uint16_t*>(libraryW.c_str());
    KaSSLSock s(nullptr);
    ASSERT_EQ(0, s.applySettings(tls, 1, 0)) << all();
    EXPECT_EQ(KA_SSL_VALIDATE, s.validationMode);
    EXPECT_EQ(nullptr, s.hostNameInCertificate);
    EXPECT_EQ(nullptr, s.cipherList);
}

TEST_F(TlsSockTest, TestServerSpeaksOverTls)
{
    std::vector<std::string> args = {"/usr/bin/python3", katest::sourceRoot() + "/tools/hs2server/hs2server",
                                     "--port",           "0",
                                     "--tls-cert",       file("server.pem"),
                                     "--tls-key",        file("server.key")};
    PeerProcess server(args);
    auto s = makeSocket();
    ASSERT_EQ(KA_SOCK_OK, connect(*s, server)) << all();
    // A SASL PLAIN start: the server answers with a frame of its own.
    std::string start = std::string("\x01\x00\x00\x00\x05", 5) + "PLAIN";
    std::string credentials = std::string(1, '\0') + "user" + '\0' + "password";
    std::string ok = std::string(1, '\x02') + std::string("\x00\x00\x00", 3) + char(credentials.size()) + credentials;
    ASSERT_EQ(KA_SOCK_OK, s->send(start.data(), start.size(), 0)) << all();
    ASSERT_EQ(KA_SOCK_OK, s->send(ok.data(), ok.size(), 0)) << all();
    char reply[5];
    size_t got = 0;
    ASSERT_EQ(KA_SOCK_OK, s->recv(reply, sizeof reply, &got, 0)) << all();
    EXPECT_GT(got, 0u);
    EXPECT_EQ(KA_SOCK_OK, s->disconnect());
}

}  // namespace
