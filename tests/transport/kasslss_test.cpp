// TLS inside pre-login packets against a peer in a thread of the test: the
// peer runs the server side of TLS on the system's OpenSSL over memory BIOs,
// unwraps the client's packets and wraps its own during the handshake, and
// speaks bare TLS records after it. Besides the handshake and the data
// round trip: packets a scripted peer sends with bad header lengths, a
// payload delivered over several reads, and many held records that must be
// split across packets.
#include "transport/kasslss.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "kamessages.h"
#include "support/errorscope.h"
#include "support/tlspeers.h"

namespace {

using Bytes = std::vector<uint8_t>;
using katest::TlsFiles;

constexpr int kPollMs = 20000;

std::string tlsLibrary()
{
    return katest::buildDir() + "/lib/libVYtls28.so";
}

// A listening socket on 127.0.0.1 and a free port.
struct Listener {
    int fd = -1;
    uint16_t port = 0;

    Listener()
    {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 && listen(fd, 4) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin_port);
    }
    ~Listener()
    {
        if (fd >= 0)
            close(fd);
    }

    int acceptOne() const
    {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, kPollMs) != 1)
            return -1;
        return accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    }
};

bool readExactly(int fd, uint8_t* out, size_t n)
{
    size_t got = 0;
    while (got < n) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, kPollMs) != 1)
            return false;
        ssize_t r = ::recv(fd, out + got, n - got, 0);
        if (r <= 0)
            return false;
        got += size_t(r);
    }
    return true;
}

bool writeAll(int fd, const uint8_t* data, size_t n)
{
    size_t sent = 0;
    while (sent < n) {
        ssize_t r = ::send(fd, data + sent, n - sent, MSG_NOSIGNAL);
        if (r <= 0)
            return false;
        sent += size_t(r);
    }
    return true;
}

Bytes header(uint16_t total)
{
    return {0x12, 0x01, uint8_t(total >> 8), uint8_t(total), 0, 0, 0, 0};
}

// A packet as the peer saw it.
struct Packet {
    uint8_t type = 0;
    uint8_t status = 0;
    uint16_t length = 0;
    Bytes payload;
};

// Splits a byte stream into pre-login packets; false when it is not one.
bool splitPackets(const Bytes& stream, std::vector<Packet>& out)
{
    size_t at = 0;
    while (at < stream.size()) {
        if (stream.size() - at < 8)
            return false;
        Packet p;
        p.type = stream[at];
        p.status = stream[at + 1];
        p.length = uint16_t(stream[at + 2] << 8 | stream[at + 3]);
        if (p.length < 8 || stream.size() - at < p.length)
            return false;
        p.payload.assign(stream.begin() + long(at) + 8, stream.begin() + long(at) + p.length);
        out.push_back(p);
        at += p.length;
    }
    return true;
}

// The server side of TLS in pre-login packets. With a bad length set it
// answers the client's first packet with a header of that length.
class PreloginTlsPeer {
public:
    PreloginTlsPeer(int maxVersion, int badLength = -1) : maxVersion_(maxVersion), badLength_(badLength)
    {
        thread_ = std::thread([this] { run(); });
    }
    ~PreloginTlsPeer() { join(); }

    void join()
    {
        if (thread_.joinable())
            thread_.join();
    }

    uint16_t port() const { return listener_.port; }

    std::vector<Packet> clientPackets;  // what the client wrapped
    std::atomic<bool> handshakeDone{false};
    std::string failure;
    size_t echoed = 0;

private:
    Listener listener_;
    int maxVersion_;
    int badLength_;
    std::thread thread_;
    int fd_ = -1;
    BIO* in_ = nullptr;
    BIO* out_ = nullptr;

    Bytes drain()
    {
        Bytes b(size_t(BIO_ctrl_pending(out_)));
        if (!b.empty())
            BIO_read(out_, b.data(), int(b.size()));
        return b;
    }

    // What TLS wrote, in packets of at most 4,096 bytes of payload.
    bool flushWrapped()
    {
        Bytes b = drain();
        for (size_t at = 0; at < b.size(); at += 4096) {
            size_t n = std::min<size_t>(4096, b.size() - at);
            Bytes packet = header(uint16_t(n + 8));
            packet.insert(packet.end(), b.begin() + long(at), b.begin() + long(at + n));
            if (!writeAll(fd_, packet.data(), packet.size()))
                return false;
        }
        return true;
    }

    bool flushBare()
    {
        Bytes b = drain();
        return b.empty() || writeAll(fd_, b.data(), b.size());
    }

    bool readPacket()
    {
        uint8_t h[8];
        if (!readExactly(fd_, h, sizeof h))
            return false;
        Packet p;
        p.type = h[0];
        p.status = h[1];
        p.length = uint16_t(h[2] << 8 | h[3]);
        if (p.length < 8)
            return false;
        p.payload.resize(p.length - 8u);
        if (!readExactly(fd_, p.payload.data(), p.payload.size()))
            return false;
        BIO_write(in_, p.payload.data(), int(p.payload.size()));
        clientPackets.push_back(std::move(p));
        return true;
    }

    void run()
    {
        fd_ = listener_.acceptOne();
        if (fd_ < 0) {
            failure = "no client";
            return;
        }
        SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
        SSL_CTX_set_max_proto_version(ctx, maxVersion_);
        SSL_CTX_use_certificate_chain_file(ctx, TlsFiles::get().path("server.pem").c_str());
        SSL_CTX_use_PrivateKey_file(ctx, TlsFiles::get().path("server.key").c_str(), SSL_FILETYPE_PEM);
        SSL* ssl = SSL_new(ctx);
        in_ = BIO_new(BIO_s_mem());
        out_ = BIO_new(BIO_s_mem());
        SSL_set_bio(ssl, in_, out_);
        SSL_set_accept_state(ssl);
        serve(ssl);
        SSL_free(ssl);
        SSL_CTX_free(ctx);
        close(fd_);
    }

    void serve(SSL* ssl)
    {
        for (int round = 0; round < 100; ++round) {
            int r = SSL_do_handshake(ssl);
            // Under TLS 1.3 the client has its handshake done before the
            // server's last step, whose session tickets therefore go bare;
            // under TLS 1.2 that step sends the Finished the client waits for.
            bool bare = r == 1 && SSL_version(ssl) == TLS1_3_VERSION;
            if (!(bare ? flushBare() : flushWrapped())) {
                failure = "send failed";
                return;
            }
            if (r == 1) {
                handshakeDone = true;
                break;
            }
            if (SSL_get_error(ssl, r) != SSL_ERROR_WANT_READ) {
                failure = "handshake failed";
                return;
            }
            if (!readPacket()) {
                failure = "client packet unreadable";
                return;
            }
            if (badLength_ >= 0) {
                Bytes bad = header(uint16_t(badLength_));
                bad.resize(bad.size() + 64, 0x16);
                writeAll(fd_, bad.data(), bad.size());
                // Wait for the client to give up.
                uint8_t rest[256];
                while (readExactly(fd_, rest, 1)) {
                }
                return;
            }
        }
        // Bare records: echo what arrives until the client closes.
        if (!flushBare())
            return;
        uint8_t chunk[16384];
        for (;;) {
            pollfd p = {fd_, POLLIN, 0};
            if (poll(&p, 1, kPollMs) != 1)
                return;
            ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
            if (got <= 0)
                return;
            BIO_write(in_, chunk, int(got));
            int n;
            while ((n = SSL_read(ssl, chunk, sizeof chunk)) > 0) {
                SSL_write(ssl, chunk, n);
                echoed += size_t(n);
            }
            if (!flushBare())
                return;
        }
    }
};

// A peer that sends a script of bytes and keeps what it receives until the
// client closes.
class ScriptPeer {
public:
    explicit ScriptPeer(Bytes script) : script_(std::move(script))
    {
        thread_ = std::thread([this] { run(); });
    }
    ~ScriptPeer() { join(); }
    void join()
    {
        if (thread_.joinable())
            thread_.join();
    }
    uint16_t port() const { return listener_.port; }
    Bytes received;

private:
    Listener listener_;
    Bytes script_;
    std::thread thread_;

    void run()
    {
        int fd = listener_.acceptOne();
        if (fd < 0)
            return;
        writeAll(fd, script_.data(), script_.size());
        uint8_t chunk[4096];
        for (;;) {
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, kPollMs) != 1)
                break;
            ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
            if (got <= 0)
                break;
            received.insert(received.end(), chunk, chunk + got);
        }
        close(fd);
    }
};

class PreloginTlsTest : public ::testing::Test {
protected:
    katest::ThreadScope thread;
    katest::ErrorScope errors;

    static void SetUpTestSuite() { ASSERT_EQ(0, katest::openCatalogue()); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }

    void SetUp() override { ASSERT_TRUE(TlsFiles::get().ok) << "the openssl command could not make the certificates"; }

    std::unique_ptr<KaSSLSS> makeSocket()
    {
        auto s = std::make_unique<KaSSLSS>(nullptr);
        s->setSSLLibraryPath(tlsLibrary().c_str());
        s->setCryptoLibraryPath(tlsLibrary().c_str());
        s->timeout = 20000;
        EXPECT_EQ(0, s->setTrustStore(TlsFiles::get().path("ca.pem").c_str(), nullptr));
        return s;
    }

    std::string allErrors() const
    {
        std::string out;
        for (size_t i = 0; i < errors.size(); ++i)
            out += errors.text(i) + "\n";
        return out;
    }

    bool sawPacketError() const
    {
        for (size_t i = 0; i < errors.size(); ++i)
            if (errors.native(i) == MSG_PRELOGIN_PACKET_INVALID && katest::sqlstate(errors.at(i)) == "08S01")
                return true;
        return false;
    }
};

TEST_F(PreloginTlsTest, HandshakeInPacketsThenBareRecordsRoundTrip)
{
    for (int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
        PreloginTlsPeer peer(version);
        auto s = makeSocket();
        ASSERT_EQ(KA_SOCK_OK, s->connect(peer.port(), nullptr, "localhost", nullptr, 0)) << allErrors();
        EXPECT_EQ(KA_PRELOGIN_PLAIN, s->prelogin.mode);
        ASSERT_EQ(0, s->startPreloginHandshake()) << version << " " << allErrors() << peer.failure;
        EXPECT_EQ(KA_PRELOGIN_DONE, s->prelogin.mode);

        // More than one record each way.
        std::string data(100000, '\0');
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = char('a' + i % 26);
        ASSERT_EQ(KA_SOCK_OK, s->send(data.data(), data.size(), 0));
        std::string back;
        for (int reads = 0; back.size() < data.size() && reads < 1000; ++reads) {
            char chunk[20000];
            size_t got = 0;
            ASSERT_EQ(KA_SOCK_OK, s->recv(chunk, sizeof chunk, &got, 0)) << version << " " << allErrors();
            back.append(chunk, got);
        }
        EXPECT_EQ(data, back);
        // Either way of ending frees the session and the BIO it holds once.
        if (version == TLS1_3_VERSION)
            s->shutdown();
        (void)s->disconnect();
        peer.join();
        EXPECT_TRUE(peer.handshakeDone) << peer.failure;
        EXPECT_EQ(data.size(), peer.echoed);

        // Every client packet of the handshake is a whole pre-login packet,
        // the first one carrying the ClientHello.
        ASSERT_FALSE(peer.clientPackets.empty());
        EXPECT_EQ(KA_TLS_HANDSHAKE, peer.clientPackets[0].payload.at(0));
        bool changeCipherSpecWrapped = false;
        for (const Packet& p : peer.clientPackets) {
            EXPECT_EQ(0x12, p.type);
            EXPECT_EQ(0x01, p.status);
            EXPECT_LE(p.length, KA_PRELOGIN_MAX_PACKET);
            // A ChangeCipherSpec never travels alone: the record after it
            // shares its packet.
            if (!p.payload.empty() && p.payload[0] == KA_TLS_CHANGE_CIPHER_SPEC) {
                changeCipherSpecWrapped = true;
                EXPECT_GT(p.payload.size(), 6u) << version;
            }
            for (size_t i = 0; i + 1 < p.payload.size(); ++i)
                if (p.payload[i] == KA_TLS_CHANGE_CIPHER_SPEC && p.payload[i + 1] == 0x03)
                    changeCipherSpecWrapped = true;
        }
        if (version == TLS1_2_VERSION) {
            EXPECT_TRUE(changeCipherSpecWrapped);
        }
    }
}

TEST_F(PreloginTlsTest, OneSocketConnectsAgainAfterADisconnect)
{
    auto s = makeSocket();
    for (int round = 0; round < 2; ++round) {
        PreloginTlsPeer peer(TLS1_2_VERSION);
        ASSERT_EQ(KA_SOCK_OK, s->connect(peer.port(), nullptr, "localhost", nullptr, 0)) << round << allErrors();
        EXPECT_EQ(KA_PRELOGIN_PLAIN, s->prelogin.mode);
        ASSERT_EQ(0, s->startPreloginHandshake()) << round << allErrors() << peer.failure;
        const char text[] = "again";
        ASSERT_EQ(KA_SOCK_OK, s->send(text, 5, 0));
        char buffer[16] = {};
        size_t got = 0;
        ASSERT_EQ(KA_SOCK_OK, s->recv(buffer, sizeof buffer, &got, 0)) << allErrors();
        EXPECT_EQ("again", std::string(buffer, got));
        (void)s->disconnect();
    }
}

TEST_F(PreloginTlsTest, IncomingHeaderLengthsOutsideAPacketAreRefused)
{
    for (int length : {0, 1, 7, int(KA_PRELOGIN_MAX_PACKET) + 1, 0xFFFF}) {
        katest::ErrorScope local;
        PreloginTlsPeer peer(TLS1_3_VERSION, length);
        auto s = makeSocket();
        ASSERT_EQ(KA_SOCK_OK, s->connect(peer.port(), nullptr, "localhost", nullptr, 0));
        EXPECT_EQ(-1, s->startPreloginHandshake()) << length;
        bool found = false;
        for (size_t i = 0; i < local.size(); ++i)
            found =
                found || (local.native(i) == MSG_PRELOGIN_PACKET_INVALID && katest::sqlstate(local.at(i)) == "08S01" &&
                          local.text(i).find(std::to_string(length)) != std::string::npos);
        EXPECT_TRUE(found) << length;
        (void)s->disconnect();
    }
}

TEST_F(PreloginTlsTest, PayloadIsDeliveredOverSeveralReadsAndNeverPastItsPacket)
{
    Bytes script = header(8 + 300);
    for (int i = 0; i < 300; ++i)
        script.push_back(uint8_t(i % 251));
    Bytes empty = header(8);
    script.insert(script.end(), empty.begin(), empty.end());
    Bytes second = header(8 + 10);
    second.resize(second.size() + 10, 0x77);
    script.insert(script.end(), second.begin(), second.end());
    ScriptPeer peer(script);
    auto s = makeSocket();
    ASSERT_EQ(KA_SOCK_OK, s->connect(peer.port(), nullptr, "localhost", nullptr, 0));
    s->prelogin.mode = KA_PRELOGIN_WRAPPED;

    Bytes got;
    std::set<size_t> boundaries;
    // Guard bytes behind the read buffer.
    uint8_t buffer[100 + 8];
    for (int reads = 0; got.size() < 310 && reads < 50; ++reads) {
        memset(buffer, 0xCD, sizeof buffer);
        int n = s->bioRead(buffer, 100);
        ASSERT_GT(n, 0) << reads;
        ASSERT_LE(n, 100);
        for (size_t g = 100; g < sizeof buffer; ++g)
            ASSERT_EQ(0xCD, buffer[g]);
        got.insert(got.end(), buffer, buffer + n);
        boundaries.insert(got.size());
    }
    // No read runs from the first packet into the next one.
    EXPECT_EQ(1u, boundaries.count(300));
    ASSERT_EQ(310u, got.size());
    for (size_t k = 0; k < 300; ++k)
        ASSERT_EQ(uint8_t(k % 251), got[k]) << k;
    for (size_t k = 300; k < 310; ++k)
        ASSERT_EQ(0x77, got[k]) << k;
    EXPECT_EQ(0u, s->prelogin.remaining);
    (void)s->disconnect();
}

TEST_F(PreloginTlsTest, HeldRecordsAreSplitAcrossPacketsThatFitTheBuffer)
{
    Bytes expected;
    ScriptPeer peer({});
    {
        auto s = makeSocket();
        ASSERT_EQ(KA_SOCK_OK, s->connect(peer.port(), nullptr, "localhost", nullptr, 0));
        s->prelogin.mode = KA_PRELOGIN_WRAPPED;
        // Records of every size up to one larger than the buffer, held ones
        // (ChangeCipherSpec type) far beyond one packet, then one that ends it.
        std::vector<std::pair<uint8_t, size_t>> records;
        for (int i = 0; i < 400; ++i)
            records.emplace_back(KA_TLS_CHANGE_CIPHER_SPEC, 37 + i % 50);
        records.emplace_back(KA_TLS_CHANGE_CIPHER_SPEC, KA_PRELOGIN_PACKET - 8);
        records.emplace_back(KA_TLS_CHANGE_CIPHER_SPEC, KA_PRELOGIN_PACKET + 100);
        records.emplace_back(KA_TLS_CHANGE_CIPHER_SPEC, 6);
        records.emplace_back(KA_TLS_HANDSHAKE, 16000);
        records.emplace_back(KA_TLS_CHANGE_CIPHER_SPEC, 6);
        records.emplace_back(KA_TLS_HANDSHAKE, 53);
        for (auto [type, size] : records) {
            Bytes r(size, uint8_t(expected.size() % 199));
            r[0] = type;
            ASSERT_EQ(int(size), s->bioWrite(r.data(), int(r.size())));
            expected.insert(expected.end(), r.begin(), r.end());
        }
        EXPECT_EQ(nullptr, s->prelogin.pending);
        (void)s->disconnect();
    }
    peer.join();
    std::vector<Packet> packets;
    ASSERT_TRUE(splitPackets(peer.received, packets));
    Bytes payload;
    std::vector<size_t> oversize;
    for (const Packet& p : packets) {
        EXPECT_EQ(0x12, p.type);
        EXPECT_LE(p.length, KA_PRELOGIN_MAX_PACKET);
        if (p.length > KA_PRELOGIN_PACKET)
            oversize.push_back(p.length);
        payload.insert(payload.end(), p.payload.begin(), p.payload.end());
    }
    // Held records never outgrow the buffer; only the record larger than
    // it and the one that ends a packet (behind one held record) do.
    EXPECT_EQ((std::vector<size_t>{KA_PRELOGIN_PACKET + 108, 8 + 6 + 16000}), oversize);
    EXPECT_GT(packets.size(), 3u);
    EXPECT_EQ(expected, payload);
}

TEST_F(PreloginTlsTest, BeforeTheHandshakeItIsPlainTcp)
{
    Bytes script = {'p', 'l', 'a', 'i', 'n'};
    ScriptPeer peer(script);
    {
        auto s = makeSocket();
        ASSERT_EQ(KA_SOCK_OK, s->connect(peer.port(), nullptr, "localhost", nullptr, 0));
        const char hello[] = "hello";
        ASSERT_EQ(KA_SOCK_OK, s->send(hello, 5, 0));
        char buffer[16] = {};
        size_t got = 0;
        ASSERT_EQ(KA_SOCK_OK, s->recv(buffer, sizeof buffer, &got, 0));
        EXPECT_EQ("plain", std::string(buffer, got));
        (void)s->disconnect();
    }
    peer.join();
    EXPECT_EQ((Bytes{'h', 'e', 'l', 'l', 'o'}), peer.received);
}

}  // namespace
