// The physical connection's HTTP CONNECT tunnel through the proxy its
// options name, with an HTTP client made on first use by the maker the
// transport layer registers.
#include <atomic>

#include "foundation/kastringw.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/baseerr.h"
#include "odbc/basetunnel.h"

namespace {

std::atomic<BaseTunnelClientMaker> tunnelClientMaker{nullptr};

// How long the tunnel may take when the login time-out sets no limit.
constexpr int64_t kTunnelDefaultWaitSeconds = 60;

}  // namespace

BaseTunnelClient::~BaseTunnelClient() = default;

void baseSetTunnelClientMaker(BaseTunnelClientMaker maker) noexcept
{
    tunnelClientMaker.store(maker);
}

BaseTunnelClientMaker baseTunnelClientMaker() noexcept
{
    return tunnelClientMaker.load();
}

int16_t BaseConnection::openProxyTunnel(const uint16_t* hostW, const uint16_t* portW) noexcept
{
    if (proxyMode == 0) {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_PROXY_NOT_CONFIGURED);
        return 1;
    }
    if (httpClient == nullptr) {
        BaseTunnelClientMaker make = baseTunnelClientMaker();
        if (make == nullptr) {
            basePostErrorMsg(kBaseIdxGeneralError, MSG_PROXY_CLIENT_UNAVAILABLE);
            return 1;
        }
        httpClient = make();
        if (httpClient == nullptr)
            return 1;
    }
    if (httpClient->setProxy(proxyHost, proxyPort, proxyMode, 1, proxyUser, proxyPassword) != 0)
        return 1;
    char* host = strDupUtf8W(hostW);
    char* port = host != nullptr ? strDupUtf8W(portW) : nullptr;
    if (host == nullptr || port == nullptr) {
        ramFree(host);
        basePostError(kBaseIdxGeneralError)->appendText(" UTF16 to UTF8 failed");
        return 1;
    }
    const int64_t wait = loginTimeout > 0 ? loginTimeout : kTunnelDefaultWaitSeconds;
    int16_t rc = httpClient->setServer(host, port) != 0 || httpClient->applyTunnelOptions() != 0 ||
                         httpClient->connectTunnel(wait) != 0
                     ? 1
                     : 0;
    ramFree(host);
    ramFree(port);
    return rc;
}
