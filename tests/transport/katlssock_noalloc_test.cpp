// Reading and writing over an established TLS connection adds no allocation
// to the library's own: the read wait stays installed from the handshake on
// and each read only switches it. OpenSSL 3 itself takes a few blocks per
// record, so the transport's round trips are held to the count of the same
// round trips made by calling the library directly. The whole process's
// allocations are counted, so this suite is an executable of its own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/alloccount.h"
#include "support/errorscope.h"
#include "support/tlspeers.h"
#include "transport/katlssock.h"

namespace {

constexpr size_t kMessage = 4000;
constexpr int kRounds = 40;

class TlsNoAllocTest : public ::testing::Test {
protected:
    katest::ThreadScope thread;
    katest::ErrorScope errors;

    static void SetUpTestSuite() { ASSERT_EQ(0, katest::openCatalogue()); }
    static void TearDownTestSuite() { katest::closeCatalogue(); }
};

// One message out and back through the transport; false on any failure.
bool roundTrip(KaSSLSock& s, const char* out, char* in, int32_t wait)
{
    if (s.send(out, kMessage, 0) != KA_SOCK_OK)
        return false;
    size_t have = 0;
    while (have < kMessage) {
        size_t got = 0;
        if (s.recv(in + have, kMessage - have, &got, wait) != KA_SOCK_OK)
            return false;
        have += got;
    }
    return memcmp(out, in, kMessage) == 0;
}

// The same through SSL_write and SSL_read called directly.
bool directRoundTrip(KaSSLSock& s, const char* out, char* in)
{
    auto write = reinterpret_cast<int (*)(void*, const void*, int)>(s.sslMapper->slot(KA_SSL_SSL_write));
    auto read = reinterpret_cast<int (*)(void*, void*, int)>(s.sslMapper->slot(KA_SSL_SSL_read));
    if (write(s.ssl, out, int(kMessage)) != int(kMessage))
        return false;
    size_t have = 0;
    while (have < kMessage) {
        int got = read(s.ssl, in + have, int(kMessage - have));
        if (got <= 0)
            return false;
        have += size_t(got);
    }
    return memcmp(out, in, kMessage) == 0;
}

TEST_F(TlsNoAllocTest, RoundTripsAllocateOnlyWhatTheLibraryDoes)
{
    ASSERT_TRUE(katest::TlsFiles::get().ok);
    katest::PeerProcess peer(katest::pythonPeerArgs("server", "echo"));
    KaSSLSock s(nullptr);
    std::string library = katest::buildDir() + "/lib/libVYtls28.so";
    s.setSSLLibraryPath(library.c_str());
    s.setCryptoLibraryPath(library.c_str());
    s.timeout = 20000;
    s.waitTimeout = 20000;
    ASSERT_EQ(0, s.setTrustStore(katest::TlsFiles::get().path("ca.pem").c_str(), nullptr));
    ASSERT_EQ(KA_SOCK_OK, s.connect(peer.port(), nullptr, "localhost", nullptr, 0));

    char out[kMessage];
    char in[kMessage];
    for (size_t i = 0; i < kMessage; ++i)
        out[i] = char('a' + i % 26);
    // The first exchanges take the session tickets and size the buffers.
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(roundTrip(s, out, in, i % 2));

    bool ok = true;
    kacount::Totals start = kacount::totals();
    for (int i = 0; i < kRounds && ok; ++i)
        ok = directRoundTrip(s, out, in);
    kacount::Totals middle = kacount::totals();
    for (int i = 0; i < kRounds && ok; ++i)
        ok = roundTrip(s, out, in, i % 2);
    kacount::Totals end = kacount::totals();
    ASSERT_TRUE(ok);
    EXPECT_EQ(middle.allocs - start.allocs, end.allocs - middle.allocs);
    EXPECT_EQ(0, s.disconnect());
    EXPECT_EQ(0u, errors.size());
}

}  // namespace
