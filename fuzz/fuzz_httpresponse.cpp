// The HTTP connection's response handling over arbitrary bytes as the
// server's answer: libcurl (through the project's libVYcurl28.so beside
// the fuzz tree's driver) connects to a loopback peer that answers with
// them, and the connection's read takes the body through its paused buffer.
// One connection serves every input, so each answer but the first comes
// after earlier transfers of the connection. Every input must end in body
// bytes or a diagnostic: no crash, no overrun, no hang.
#include <arpa/inet.h>
#include <limits.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "fuzzfixture.h"
#include "transport/kacurl.h"

namespace {

// The longest answer the peer sends.
constexpr size_t kMaxAnswer = 60000;

int listener = -1;
std::string portText;

void listen() noexcept
{
    listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    kafuzz::check(listener >= 0 && bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                      ::listen(listener, 4) == 0 &&
                      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) == 0,
                  "the peer listens");
    portText = std::to_string(ntohs(address.sin_port));
}

// The peer: one connection, the answer, then whatever the client sends
// until it closes.
void answer(const uint8_t* data, size_t size) noexcept
{
    int c = accept(listener, nullptr, nullptr);
    if (c < 0)
        return;
    timeval limit{2, 0};
    (void)setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    size_t written = 0;
    while (written < size) {
        ssize_t n = send(c, data + written, size - written, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        written += size_t(n);
    }
    shutdown(c, SHUT_WR);
    char sink[4096];
    while (recv(c, sink, sizeof sink, 0) > 0) {
    }
    close(c);
}

KaCurlConnection* connection()
{
    static KaCurlConnection* conn = nullptr;
    if (conn != nullptr)
        return conn;
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    kafuzz::check(n > 0, "the fuzzer finds itself");
    std::string path(exe, size_t(n));
    path = path.substr(0, path.rfind('/'));
    path = path.substr(0, path.rfind('/')) + "/lib/libVYcurl28.so";
    listen();
    conn = new KaCurlConnection();
    kafuzz::check(conn->loadLibraryNamed(path.c_str()) == 0, "libVYcurl28.so loads");
    kafuzz::check(conn->init() == 0, "libcurl starts");
    static const char16_t host[] = u"127.0.0.1";
    kafuzz::check(conn->setUrl(reinterpret_cast<const uint16_t*>(host), portText.c_str(), nullptr, 0) == 0,
                  "the URL is set");
    kafuzz::check(conn->setLong(CURLOPT_FORBID_REUSE, 1L) == CURLE_OK, "each answer has its connection");
    conn->transferTimeoutMs = 3000;
    return conn;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    KaCurlConnection* conn = connection();
    kafuzz::DiagnosticScope diagnostics;
    if (size > kMaxAnswer)
        size = kMaxAnswer;
    std::thread peer(answer, data, size);
    static const char request[] = "a request body";
    if (conn->post(request, sizeof request - 1) == 0) {
        size_t total = 0;
        for (;;) {
            uint8_t buffer[4096];
            size_t got = 0;
            int rc = conn->read(buffer, sizeof buffer, &got);
            if (rc != 0) {
                kafuzz::check(got == 0, "a failed read gives no bytes");
                break;
            }
            kafuzz::check(got > 0 && got <= sizeof buffer, "a read gives bytes within the buffer");
            total += got;
            kafuzz::check(total <= size, "no more body than the answer held");
        }
        kafuzz::check(diagnostics.list.recordCount() > 0, "the end of the body says why");
    }
    // Taking the transfer off the multi handle closes its connection, so
    // that the peer ends too.
    using RemoveHandle = CURLMcode (*)(CURLM*, CURL*);
    auto remove = conn->mapper->entry<RemoveHandle>(KA_CURL_multi_remove_handle);
    kafuzz::check(remove != nullptr, "libcurl can drop the transfer");
    (void)remove(conn->multi, conn->easy);
    peer.join();
    return 0;
}
