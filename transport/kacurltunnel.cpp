// The proxy tunnel's HTTP client (see kacurltunnel.h).
#include "transport/kacurltunnel.h"

#include <poll.h>

#include <cstdio>
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/fast.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseerr.h"

namespace {

using FnEasyPerform = CURLcode (*)(CURL*);
using FnEasyGetinfo = CURLcode (*)(CURL*, CURLINFO, ...);
using FnEasyStrerror = const char* (*)(CURLcode);
using FnEasySend = CURLcode (*)(CURL*, const void*, size_t, size_t*);
using FnEasyRecv = CURLcode (*)(CURL*, void*, size_t, size_t*);

// Bytes of the URL's "http://", "[", "]:", a port of five digits and the
// terminator beyond the host.
constexpr size_t kUrlExtra = 32;

char* copyText(const char* text) noexcept
{
    if (text == nullptr)
        return nullptr;
    size_t n = std::strlen(text);
    auto* copy = static_cast<char*>(ramAlloc(n + 1));
    if (copy != nullptr)
        std::memcpy(copy, text, n + 1);
    return copy;
}

void wipeText(char** text) noexcept
{
    if (*text != nullptr)
        fastMemzero(*text, std::strlen(*text));
    ramFree(*text);
    *text = nullptr;
}

// libcurl's proxy type for the ProxyMode value: 3 is HTTP/1.0, 4 to 7 the
// SOCKS kinds as libcurl numbers them, anything else HTTP.
long curlProxyType(uint32_t mode) noexcept
{
    if (mode == 3)
        return CURLPROXY_HTTP_1_0;
    if (mode >= 4 && mode <= 7)
        return long(mode);
    return CURLPROXY_HTTP;
}

}  // namespace

void* KaCurlTunnel::operator new(size_t size) noexcept
{
    return ramAlloc(size);
}

void KaCurlTunnel::operator delete(void* block) noexcept
{
    ramFree(block);
}

KaCurlTunnel::~KaCurlTunnel()
{
    client.close();
    forgetCredentials();
    wipeText(&userForMessages);
    ramFree(proxyHost);
    ramFree(serverHost);
    ramFree(serverPort);
}

void KaCurlTunnel::forgetCredentials() noexcept
{
    wipeText(&proxyUser);
    wipeText(&proxyPassword);
}

int16_t KaCurlTunnel::setProxy(const char* host, uint32_t port, uint32_t mode, int32_t authenticateFlag,
                               const char* user, const char* password) noexcept
{
    forgetCredentials();
    wipeText(&userForMessages);
    ramFree(proxyHost);
    proxyHost = copyText(host != nullptr ? host : "");
    proxyUser = copyText(user);
    proxyPassword = copyText(password);
    userForMessages = copyText(user != nullptr ? user : "");
    if (proxyHost == nullptr || userForMessages == nullptr || (user != nullptr && proxyUser == nullptr) ||
        (password != nullptr && proxyPassword == nullptr))
        return 1;
    proxyPort = port;
    proxyMode = mode;
    authenticate = authenticateFlag;
    if (client.init() != 0) {
        postCurlError(CURLE_FAILED_INIT);
        return 1;
    }
    return 0;
}

int16_t KaCurlTunnel::setServer(const char* host, const char* port) noexcept
{
    if (host == nullptr || port == nullptr)
        return 1;
    ramFree(serverHost);
    ramFree(serverPort);
    serverHost = copyText(host);
    serverPort = copyText(port);
    if (serverHost == nullptr || serverPort == nullptr)
        return 1;
    size_t size = std::strlen(host) + std::strlen(port) + kUrlExtra;
    auto* url = static_cast<char*>(ramAlloc(size));
    if (url == nullptr)
        return 1;
    // An IPv6 address is written in brackets so that its colons are not
    // taken for the port.
    const bool literal6 = std::strchr(host, ':') != nullptr;
    std::snprintf(url, size, "%s://%s%s%s:%s", proxyMode == 2 ? "https" : "http", literal6 ? "[" : "", host,
                  literal6 ? "]" : "", port);
    ramFree(client.url);
    client.url = url;
    return 0;
}

int16_t KaCurlTunnel::applyTunnelOptions() noexcept
{
    CURLcode code = CURLE_OK;
    auto set = [&](CURLcode result) noexcept {
        if (code == CURLE_OK)
            code = result;
    };
    set(client.setText(CURLOPT_URL, client.url));
    set(client.setLong(CURLOPT_CONNECT_ONLY, 1L));
    set(client.setText(CURLOPT_PROXY, proxyHost));
    set(client.setLong(CURLOPT_PROXYPORT, long(proxyPort)));
    set(client.setLong(CURLOPT_HTTPPROXYTUNNEL, 1L));
    set(client.setLong(CURLOPT_PROXYTYPE, curlProxyType(proxyMode)));
    // The proxy named here is the one used: no_proxy from the environment
    // must not send the tunnel straight to the server.
    set(client.setText(CURLOPT_NOPROXY, ""));
    if (authenticate != 0 && proxyUser != nullptr) {
        set(client.setLong(CURLOPT_PROXYAUTH, long(CURLAUTH_ANY)));
        set(client.setText(CURLOPT_PROXYUSERNAME, proxyUser));
        set(client.setText(CURLOPT_PROXYPASSWORD, proxyPassword != nullptr ? proxyPassword : ""));
    }
    set(client.setPointer(CURLOPT_ERRORBUFFER, client.errorBuffer));
    // libcurl keeps copies of its string options.
    forgetCredentials();
    if (code != CURLE_OK) {
        postCurlError(code);
        return 1;
    }
    return 0;
}

int16_t KaCurlTunnel::connectTunnel(int64_t timeoutSeconds) noexcept
{
    auto perform = client.mapper != nullptr ? client.mapper->entry<FnEasyPerform>(KA_CURL_easy_perform) : nullptr;
    auto getinfo = client.mapper != nullptr ? client.mapper->entry<FnEasyGetinfo>(KA_CURL_easy_getinfo) : nullptr;
    if (perform == nullptr || getinfo == nullptr || client.easy == nullptr) {
        postCurlError(CURLE_FAILED_INIT);
        return 1;
    }
    const long seconds = timeoutSeconds < 1 ? 1L : long(timeoutSeconds);
    if (client.setLong(CURLOPT_CONNECTTIMEOUT, seconds) != CURLE_OK ||
        client.setLong(CURLOPT_TIMEOUT, seconds) != CURLE_OK) {
        postCurlError(CURLE_FAILED_INIT);
        return 1;
    }
    client.errorBuffer[0] = 0;
    CURLcode code = perform(client.easy);
    if (code == CURLE_OK)
        return 0;
    KaError* last = postCurlError(code);
    long status = 0;
    if (getinfo(client.easy, CURLINFO_HTTP_CONNECTCODE, &status) != CURLE_OK)
        status = 0;
    KaError* said = nullptr;
    if (status == 0 || status == 500 || status == 504)
        said = errPost(MSG_SOCKET_CONNECTION_LOST);
    else if (status == 400 || (status >= 501 && status <= 503))
        said = errPost(MSG_HTTP_PROXY_TUNNEL_REFUSED)
                   ->addParamText(serverHost != nullptr ? serverHost : "")
                   ->addParamText(serverPort != nullptr ? serverPort : "")
                   ->addParamSigned(status);
    else if (status == 401 || status == 407)
        said = errPost(MSG_HTTP_PROXY_AUTH_REFUSED)
                   ->addParamText(userForMessages != nullptr ? userForMessages : "")
                   ->addParamSigned(status);
    if (said != nullptr)
        last = said;
    if (last != nullptr)
        last->setSqlstateMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT);
    return 1;
}

KaError* KaCurlTunnel::postCurlError(CURLcode code) noexcept
{
    auto text = client.mapper != nullptr ? client.mapper->entry<FnEasyStrerror>(KA_CURL_easy_strerror) : nullptr;
    KaError* e = errPost(MSG_HTTP_PROXY_TUNNEL_FAILED)
                     ->addParamText(text != nullptr ? text(code) : "")
                     ->addParamText(client.errorBuffer);
    return e->setSqlstateMsg(code == CURLE_OPERATION_TIMEDOUT ? MSG_SQLSTATE_TIMEOUT_EXPIRED
                                                              : MSG_SQLSTATE_GENERAL_ERROR);
}

int16_t KaCurlTunnel::waitSocket(int32_t forWrite, int32_t timeoutMs) noexcept
{
    auto getinfo = client.mapper != nullptr ? client.mapper->entry<FnEasyGetinfo>(KA_CURL_easy_getinfo) : nullptr;
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (getinfo == nullptr || getinfo(client.easy, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK ||
        socket == CURL_SOCKET_BAD) {
        errPost(MSG_SOCKET_CONNECTION_LOST)->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
        return 1;
    }
    pollfd fd{socket, short(forWrite != 0 ? POLLOUT : POLLIN), 0};
    int ready = ::poll(&fd, 1, timeoutMs);
    if (ready <= 0) {
        errPost(MSG_SOCKET_TIMED_OUT)->addParamText("")->setSqlstateMsg(MSG_SQLSTATE_TIMEOUT_EXPIRED);
        return 1;
    }
    return 0;
}

int16_t KaCurlTunnel::send(const void* data, size_t length, size_t* done, int32_t timeoutMs) noexcept
{
    auto fn = client.mapper != nullptr ? client.mapper->entry<FnEasySend>(KA_CURL_easy_send) : nullptr;
    *done = 0;
    if (fn == nullptr || client.easy == nullptr)
        return 1;
    while (*done < length) {
        size_t sent = 0;
        CURLcode code = fn(client.easy, static_cast<const char*>(data) + *done, length - *done, &sent);
        if (code == CURLE_AGAIN) {
            if (waitSocket(1, timeoutMs) != 0)
                return 1;
            continue;
        }
        if (code != CURLE_OK) {
            postCurlError(code)->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
            return 1;
        }
        *done += sent;
    }
    return 0;
}

int16_t KaCurlTunnel::receive(void* buffer, size_t size, size_t* done, int32_t timeoutMs) noexcept
{
    auto fn = client.mapper != nullptr ? client.mapper->entry<FnEasyRecv>(KA_CURL_easy_recv) : nullptr;
    *done = 0;
    if (fn == nullptr || client.easy == nullptr)
        return 1;
    for (;;) {
        CURLcode code = fn(client.easy, buffer, size, done);
        if (code == CURLE_OK)
            return 0;
        if (code != CURLE_AGAIN) {
            postCurlError(code)->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
            return 1;
        }
        if (waitSocket(0, timeoutMs) != 0)
            return 1;
    }
}

BaseTunnelClient* kaCurlMakeTunnel() noexcept
{
    std::unique_ptr<KaCurlTunnel> tunnel(new KaCurlTunnel);
    if (tunnel == nullptr || tunnel->client.loadLibrary() != 0)
        return nullptr;
    return tunnel.release();
}
