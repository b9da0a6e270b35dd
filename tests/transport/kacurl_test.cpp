// The HTTP connection over the project's libcurl library: the library's
// file name, the URL it builds, the Negotiate header, and requests against
// a small HTTP peer (tests/transport/httppeer.py): a body handed over in
// two writes is one POST of its whole length, a long response is read in
// pieces through the paused buffer, and a refusal gives its status.
#include "transport/kacurl.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <poll.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "foundation/ram.h"
#include "kamessages.h"
#include "support/errorscope.h"
#include "security/kaopenssl.h"
#include "support/scriptpeer.h"
#include "transport/loopback.h"

namespace {

std::string curlLibrary()
{
    return katest::buildDir() + "/lib/libVYcurl28.so";
}

// The HTTP peer as a child process on a free loopback port.
class HttpPeer : public katest::ScriptPeer {
public:
    explicit HttpPeer(int replyBytes) : ScriptPeer("tests/transport/httppeer.py", {std::to_string(replyBytes)}) {}
};

class CurlConnection : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, katest::openCatalogue());
        ASSERT_EQ(0, conn.loadLibraryNamed(curlLibrary().c_str())) << curlLibrary();
        ASSERT_EQ(0, conn.init());
    }
    void TearDown() override
    {
        conn.close();
        katest::closeCatalogue();
    }
    // Everything the response holds.
    std::string readAll(std::vector<size_t>* parts = nullptr)
    {
        std::string all;
        for (;;) {
            char buffer[KA_CURL_RESPONSE_BUFFER * 2];
            size_t got = 0;
            katest::ErrorScope end;
            if (conn.read(buffer, sizeof buffer, &got) != 0)
                return all;
            if (parts != nullptr)
                parts->push_back(got);
            all.append(buffer, got);
        }
    }
    katest::ErrorScope errors;
    KaCurlConnection conn;
};

// First in the file: once a test has loaded the library by its path, the
// loader finds it by its bare name too.
TEST(CurlLibrary, ALibraryThatIsNotThereIsUnableToConnect)
{
    katest::ErrorScope errors;
    ASSERT_EQ(0, katest::openCatalogue());
    openSSLSetDriverBaseName("/nonexistent/dir/VYspark28");
    KaCurlConnection conn;
    EXPECT_EQ(-1, conn.loadLibrary());
    openSSLSetDriverBaseName(nullptr);
    // The loader's reason, then what the driver makes of it.
    ASSERT_EQ(2u, errors.size());
    EXPECT_EQ(MSG_LIBRARY_OPEN_FAILED, errors.native(0));
    EXPECT_NE(std::string::npos, errors.text(0).find("/nonexistent/dir/libVYcurl28.so")) << errors.text(0);
    EXPECT_EQ(MSG_HTTP_LIBRARY_UNAVAILABLE, errors.native(1));
    EXPECT_EQ("08001", katest::sqlstate(errors.at(1)));
    katest::closeCatalogue();
}

// The driver binds libcurl's names from the project's library: each is
// that library's own forwarder, and a call through it reaches the libcurl
// it links.
TEST(CurlLibrary, ItsOwnExportsCarryLibcurlsEntryPoints)
{
    static const char* const kNames[] = {
        "curl_easy_cleanup",    "curl_easy_duphandle", "curl_easy_escape",      "curl_easy_getinfo",
        "curl_easy_init",       "curl_easy_pause",     "curl_easy_perform",     "curl_easy_recv",
        "curl_easy_reset",      "curl_easy_send",      "curl_easy_setopt",      "curl_easy_strerror",
        "curl_easy_unescape",   "curl_free",           "curl_global_cleanup",   "curl_global_init",
        "curl_global_init_mem", "curl_multi_init",     "curl_multi_add_handle", "curl_multi_remove_handle",
        "curl_multi_cleanup",   "curl_multi_perform",  "curl_multi_wait",       "curl_multi_strerror",
        "curl_share_cleanup",   "curl_share_init",     "curl_share_setopt",     "curl_share_strerror",
        "curl_slist_append",    "curl_slist_free_all", "curl_version",          "curl_version_info",
    };
    static_assert(sizeof kNames / sizeof kNames[0] == 32);
    void* shim = dlopen(curlLibrary().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, shim) << dlerror();
    void* curl = dlopen("libcurl.so.4", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(nullptr, curl) << "the library links libcurl";
    for (const char* name : kNames) {
        void* own = dlsym(shim, name);
        ASSERT_NE(nullptr, own) << name;
        Dl_info info{};
        ASSERT_NE(0, dladdr(own, &info)) << name;
        EXPECT_EQ(curlLibrary(), info.dli_fname) << name;
        EXPECT_NE(dlsym(curl, name), own) << name;
    }
    // The same libcurl answers through the forwarders.
    using Version = char* (*)();
    EXPECT_STREQ(reinterpret_cast<Version>(dlsym(curl, "curl_version"))(),
                 reinterpret_cast<Version>(dlsym(shim, "curl_version"))());
    using Strerror = const char* (*)(CURLcode);
    EXPECT_STREQ(reinterpret_cast<Strerror>(dlsym(curl, "curl_easy_strerror"))(CURLE_OPERATION_TIMEDOUT),
                 reinterpret_cast<Strerror>(dlsym(shim, "curl_easy_strerror"))(CURLE_OPERATION_TIMEDOUT));
    // Both stay loaded, as the driver keeps them: unloading libcurl would
    // take OpenSSL's process-wide state with it.
    dlclose(curl);
}

TEST(CurlLibraryName, IsMadeFromTheDriversBaseName)
{
    struct Case {
        const char* base;
        const char* name;
    };
    const Case cases[] = {
        {"VYspark28", "libVYcurl28.so"},    {"/opt/driver/lib/VYspark28", "libVYcurl28.so"},
        {"VYspark28.so", "libVYcurl28.so"}, {"VYspark28r", "libVYcurl28.so"},
        {"ABxyz12R", "libABcurl12.so"},
    };
    for (const Case& c : cases) {
        char out[64];
        ASSERT_EQ(0, kaCurlLibraryName(c.base, out, sizeof out)) << c.base;
        EXPECT_STREQ(c.name, out) << c.base;
    }
    char tiny[8];
    EXPECT_EQ(1, kaCurlLibraryName("VYspark28", tiny, sizeof tiny));
    EXPECT_EQ(1, kaCurlLibraryName("V", tiny, sizeof tiny));
}

TEST_F(CurlConnection, TheUrlIsEncodedAndThePathGetsOneLeadingSlash)
{
    struct Case {
        std::u16string host;
        const char* port;
        const char16_t* path;
        int ssl;
        const char* url;
    };
    const Case cases[] = {
        {u"my host", "10001", u"cliservice", 0, "http://my%20host:10001/cliservice"},
        {u"example.org", "443", u"/cliservice", 1, "https://example.org:443/cliservice"},
        {u"h", "1", u"a b/c", 0, "http://h:1/a%20b/c"},
        {u"h", "1", nullptr, 0, "http://h:1"},
        {u"h\u00e9", "1", u"", 0, "http://h%C3%A9:1/"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(0, conn.setUrl(reinterpret_cast<const uint16_t*>(c.host.c_str()), c.port,
                                 reinterpret_cast<const uint16_t*>(c.path), c.ssl));
        EXPECT_STREQ(c.url, conn.url);
    }
    EXPECT_EQ(1, conn.setUrl(nullptr, "1", nullptr, 0));
    EXPECT_EQ(1, conn.setUrl(reinterpret_cast<const uint16_t*>(u"h"), nullptr, nullptr, 0));
}

TEST_F(CurlConnection, TheNegotiateHeaderCarriesTheTokenInStandardBase64)
{
    const uint8_t token[] = {0x60, 0x82, 0xFF, 0xFE, 0x3E, 0x3F, 0x00};
    ASSERT_EQ(0, conn.setNegotiateHeader(token, sizeof token));
    EXPECT_STREQ("Authorization: Negotiate YIL//j4/AA==", conn.negotiateHeader);
    ASSERT_EQ(0, conn.setNegotiateHeader(token, 3));
    EXPECT_STREQ("Authorization: Negotiate YIL/", conn.negotiateHeader);
}

TEST_F(CurlConnection, ABodyInTwoWritesIsOnePostAndALongReplyComesInPieces)
{
    HttpPeer peer(40000);
    ASSERT_FALSE(peer.port().empty());
    ASSERT_EQ(0, conn.setUrl(reinterpret_cast<const uint16_t*>(u"127.0.0.1"), peer.port().c_str(),
                             reinterpret_cast<const uint16_t*>(u"cliservice"), 0));
    std::vector<uint8_t> body(100000);
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = uint8_t('a' + i % 26);
    conn.bodyLength = 100000;
    conn.bodyLengthKnown = 1;
    ASSERT_EQ(0, conn.post(body.data(), 65536));
    EXPECT_EQ(1, conn.paused) << "the first write returns while libcurl waits for more";
    ASSERT_EQ(0, conn.post(body.data() + 65536, 100000 - 65536));
    std::vector<size_t> parts;
    std::string reply = readAll(&parts);
    ASSERT_EQ(40000u, reply.size()) << (errors.size() ? errors.text(0) : "");
    EXPECT_EQ(0u, reply.find("length=100000;auth=-;abcdefghijklmnop")) << reply.substr(0, 60);
    ASSERT_EQ(3u, parts.size());
    for (size_t part : parts)
        EXPECT_LE(part, KA_CURL_RESPONSE_BUFFER);

    // The next request announces its own length; the connection is reused.
    ASSERT_EQ(0, conn.post(body.data(), 10));
    EXPECT_EQ(0u, readAll().find("length=10;"));
    EXPECT_EQ(0u, errors.size());
}

TEST_F(CurlConnection, ANegotiateHeaderGoesWithTheRequest)
{
    HttpPeer peer(100);
    ASSERT_EQ(0, conn.setUrl(reinterpret_cast<const uint16_t*>(u"127.0.0.1"), peer.port().c_str(), nullptr, 0));
    const uint8_t token[] = {1, 2, 3};
    ASSERT_EQ(0, conn.setNegotiateHeader(token, sizeof token));
    ASSERT_EQ(0, conn.post("x", 1));
    EXPECT_EQ(0u, readAll().find("length=1;auth=Negotiate AQID;"));
}

TEST_F(CurlConnection, ARefusalGivesItsStatusAndTheServersWords)
{
    HttpPeer peer(100);
    ASSERT_EQ(0, conn.setUrl(reinterpret_cast<const uint16_t*>(u"127.0.0.1"), peer.port().c_str(),
                             reinterpret_cast<const uint16_t*>(u"refuse"), 0));
    ASSERT_EQ(0, conn.post("x", 1));
    char buffer[64];
    size_t got = 0;
    EXPECT_EQ(-1, conn.read(buffer, sizeof buffer, &got));
    EXPECT_EQ(0u, got);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_HTTP_STATUS, errors.native(0));
    EXPECT_NE(std::string::npos, errors.text(0).find("status 401. The credentials were refused. "
                                                     "(Authentication Error: no such user)"))
        << errors.text(0);
}

// One request and its whole reply; the reply, or "failed: " and the first
// diagnostic's SQLSTATE and text.
std::string exchange(KaCurlConnection& conn, const char* body)
{
    katest::ErrorScope errors;
    std::string all;
    if (conn.post(body, std::strlen(body)) != 0)
        return "failed: post";
    for (;;) {
        char buffer[4096];
        size_t got = 0;
        if (conn.read(buffer, sizeof buffer, &got) != 0)
            return !all.empty() || errors.size() == 0
                       ? all
                       : "failed: " + katest::sqlstate(errors.at(0)) + " " + errors.text(0);
        all.append(buffer, got);
    }
}

long newConnections(KaCurlConnection& conn)
{
    using GetInfo = CURLcode (*)(CURL*, CURLINFO, ...);
    long count = -1;
    (void)conn.mapper->entry<GetInfo>(KA_CURL_easy_getinfo)(conn.easy, CURLINFO_NUM_CONNECTS, &count);
    return count;
}

TEST_F(CurlConnection, AFoldedLineRightAfterALaterStatusLineFailsOnlyThatRequest)
{
    // libcurl 7.88 continued the previous transfer's freed last header with
    // such a line when the handle was reused; the sanitizer reports that.
    HttpPeer peer(30);
    ASSERT_EQ(0, conn.setUrl(reinterpret_cast<const uint16_t*>(u"127.0.0.1"), peer.port().c_str(),
                             reinterpret_cast<const uint16_t*>(u"folded"), 0));
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(0u, exchange(conn, "abc").find("length=3;")) << round;
        std::string refused = exchange(conn, "abcd");
        EXPECT_EQ(0u, refused.find("failed: ")) << refused;
        EXPECT_NE(std::string::npos, refused.find("08S01")) << refused;
    }
    EXPECT_EQ(0u, exchange(conn, "abcde").find("length=5;"));
}

TEST_F(CurlConnection, TheSessionCookieAndTheConnectionLastFromRequestToRequest)
{
    HttpPeer peer(60);
    ASSERT_EQ(0, conn.setUrl(reinterpret_cast<const uint16_t*>(u"127.0.0.1"), peer.port().c_str(),
                             reinterpret_cast<const uint16_t*>(u"cookie"), 0));
    conn.cookieName = static_cast<char*>(ramAlloc(sizeof "hive.server2.auth"));
    ASSERT_NE(nullptr, conn.cookieName);
    std::memcpy(conn.cookieName, "hive.server2.auth", sizeof "hive.server2.auth");
    ASSERT_EQ(CURLE_OK, conn.setText(CURLOPT_COOKIEFILE, ""));
    ASSERT_EQ(CURLE_OK, conn.setLong(CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC)));
    ASSERT_EQ(CURLE_OK, conn.setText(CURLOPT_USERNAME, "user"));
    ASSERT_EQ(CURLE_OK, conn.setText(CURLOPT_PASSWORD, "secret"));
    conn.authToRestore = long(CURLAUTH_BASIC);
    EXPECT_EQ(0, conn.hasSessionCookie());
    std::string first = exchange(conn, "a");
    EXPECT_EQ(0u, first.find("length=1;auth=Basic dXNlcjpzZWNyZXQ=;cookie=-;")) << first;
    EXPECT_EQ(1, newConnections(conn));
    EXPECT_EQ(1, conn.hasSessionCookie());
    // The cookie stands in for the credentials from now on.
    for (const char* body : {"bb", "ccc"}) {
        std::string reply = exchange(conn, body);
        EXPECT_NE(std::string::npos, reply.find(";auth=-;cookie=hive.server2.auth=abc;")) << reply;
        EXPECT_EQ(0, newConnections(conn)) << body;
    }
    EXPECT_EQ(0u, errors.size());
}

TEST_F(CurlConnection, NobodyListeningIsAFailedConnectNamingHostAndPort)
{
    ASSERT_EQ(0, conn.setUrl(reinterpret_cast<const uint16_t*>(u"127.0.0.1"), "1", nullptr, 0));
    ASSERT_EQ(0, conn.post("x", 1));
    char buffer[8];
    size_t got = 0;
    EXPECT_EQ(-1, conn.read(buffer, sizeof buffer, &got));
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_SOCKET_CONNECT_FAILED, errors.native(0));
    EXPECT_NE(std::string::npos, errors.text(0).find("127.0.0.1 on port 1")) << errors.text(0);
}

TEST_F(CurlConnection, AStalledReplyEndsWhenTheTransferTimeOutRunsOut)
{
    // A listener that accepts and never answers.
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address));
    ASSERT_EQ(0, listen(listener, 1));
    socklen_t size = sizeof address;
    ASSERT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size));
    std::string port = std::to_string(ntohs(address.sin_port));
    ASSERT_EQ(0, conn.setUrl(reinterpret_cast<const uint16_t*>(u"127.0.0.1"), port.c_str(), nullptr, 0));
    conn.transferTimeoutMs = 300;
    EXPECT_EQ(-2, conn.post("x", 1));
    close(listener);
}

// What a scripted peer does on the connection after its first reply, once
// the test has read that reply whole.
enum class AfterReply { Nothing, Send, Close };

// A one-thread HTTP peer on a free loopback port: answers the first request
// with the body "one"; told to go on, does its AfterReply and says so; then
// answers a second request (on a new connection after Close) with "two".
// Every wait is bounded.
class ScriptedHttpPeer {
public:
    ScriptedHttpPeer(AfterReply after, std::string extra) : after_(after), extra_(std::move(extra))
    {
        sockaddr_storage a{};
        socklen_t length = katest::loopbackAddress(AF_INET, 0, &a);
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&a), length) != 0 ||
            listen(listener_, 2) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length) != 0 ||
            pipe(go_) != 0 || pipe(done_) != 0)
            return;
        port_ = std::to_string(katest::portOf(a));
        thread_ = std::thread([this] { run(); });
    }
    ~ScriptedHttpPeer()
    {
        if (thread_.joinable()) {
            if (go_[1] >= 0)
                (void)!write(go_[1], "q", 1);
            thread_.join();
        }
        for (int fd : {listener_, go_[0], go_[1], done_[0], done_[1]})
            if (fd >= 0)
                close(fd);
    }
    const std::string& port() const { return port_; }
    // Lets the peer do its AfterReply; true once it has.
    bool goOn()
    {
        if (write(go_[1], "g", 1) != 1)
            return false;
        pollfd p{done_[0], POLLIN, 0};
        char c = 0;
        return poll(&p, 1, kWaitMs) == 1 && read(done_[0], &c, 1) == 1;
    }

private:
    static constexpr int kWaitMs = 10000;

    static bool readable(int fd)
    {
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, kWaitMs) == 1;
    }
    int accepted() const { return readable(listener_) ? accept(listener_, nullptr, nullptr) : -1; }
    // Reads one request's head and its Content-Length body.
    static bool readRequest(int fd)
    {
        std::string in;
        size_t head = std::string::npos;
        while (head == std::string::npos || in.size() < head + 4 + bodyLength(in)) {
            char buffer[4096];
            if (!readable(fd))
                return false;
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return false;
            in.append(buffer, size_t(n));
            head = in.find("\r\n\r\n");
        }
        return true;
    }
    static size_t bodyLength(const std::string& in)
    {
        const size_t at = in.find("Content-Length: ");
        return at == std::string::npos ? 0 : std::stoul(in.substr(at + 16));
    }
    static bool answer(int fd, const std::string& body)
    {
        const std::string reply =
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        return send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) == ssize_t(reply.size());
    }
    void run()
    {
        int fd = accepted();
        if (fd < 0 || !readRequest(fd) || !answer(fd, "one")) {
            if (fd >= 0)
                close(fd);
            return;
        }
        char c = 0;
        if (!readable(go_[0]) || read(go_[0], &c, 1) != 1 || c != 'g') {
            close(fd);
            return;
        }
        if (after_ == AfterReply::Send)
            (void)!send(fd, extra_.data(), extra_.size(), MSG_NOSIGNAL);
        if (after_ == AfterReply::Close) {
            close(fd);
            fd = -1;
        }
        (void)!write(done_[1], "d", 1);
        if (fd < 0)
            fd = accepted();
        if (fd >= 0 && readRequest(fd))
            (void)answer(fd, "two");
        if (fd >= 0) {
            // Until the test has read the answer or given up.
            (void)readable(go_[0]);
            close(fd);
        }
    }

    AfterReply after_;
    std::string extra_;
    int listener_ = -1;
    int go_[2] = {-1, -1};
    int done_[2] = {-1, -1};
    std::string port_;
    std::thread thread_;
};

TEST_F(CurlConnection, BytesAfterACompleteResponseFailTheNextRequestAsALinkFailure)
{
    // With one request at a time, whatever the server sends after a whole
    // response answers nothing: taken for the next response, it would put
    // every reply after it one request late.
    struct Case {
        const char* name;
        AfterReply after;
        std::string extra;
        bool refused;
    };
    const Case cases[] = {
        {"the same response again", AfterReply::Send, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\none", true},
        {"bytes past the Content-Length", AfterReply::Send, "ne", true},
        {"the peer closes the idle connection", AfterReply::Close, "", false},
        {"nothing more", AfterReply::Nothing, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        katest::ErrorScope errs;
        KaCurlConnection client;
        ASSERT_EQ(0, client.loadLibraryNamed(curlLibrary().c_str()));
        ASSERT_EQ(0, client.init());
        ScriptedHttpPeer peer(c.after, c.extra);
        ASSERT_FALSE(peer.port().empty());
        ASSERT_EQ(0, client.setUrl(reinterpret_cast<const uint16_t*>(u"127.0.0.1"), peer.port().c_str(), nullptr, 0));
        ASSERT_EQ(0, client.post("a", 1));
        char buffer[16];
        size_t got = 0;
        ASSERT_EQ(0, client.read(buffer, sizeof buffer, &got)) << (errs.size() ? errs.text(0) : "");
        EXPECT_EQ("one", std::string(buffer, got));
        EXPECT_EQ(1, client.responseEnded());
        ASSERT_TRUE(peer.goOn());
        if (c.refused) {
            EXPECT_EQ(1, client.post("b", 1));
            ASSERT_EQ(1u, errs.size());
            EXPECT_EQ(MSG_HTTP_UNASKED_REPLY, errs.native(0));
            EXPECT_EQ("08S01", katest::sqlstate(errs.at(0)));
        } else {
            ASSERT_EQ(0, client.post("b", 1)) << (errs.size() ? errs.text(0) : "");
            ASSERT_EQ(0, client.read(buffer, sizeof buffer, &got)) << (errs.size() ? errs.text(0) : "");
            EXPECT_EQ("two", std::string(buffer, got));
            EXPECT_EQ(0u, errs.size());
        }
        client.close();
    }
}

}  // namespace
