// What the physical connection asks of an HTTP client to open a CONNECT
// tunnel through a proxy (BaseConnection::openProxyTunnel). The client lives
// in the transport layer, above this one, which registers its maker.
#pragma once
#include <cstdint>

class BaseTunnelClient {
public:
    virtual ~BaseTunnelClient();
    // Each step: 0, or 1 with the diagnostic posted.
    // The proxy to go through; mode as the ProxyMode option gives it. The
    // client wipes its copies of the credentials once the transfer has them.
    [[nodiscard]] virtual int16_t setProxy(const char* host, uint32_t port, uint32_t mode, int32_t authenticate,
                                           const char* user, const char* password) noexcept = 0;
    // The server at the far end of the tunnel.
    [[nodiscard]] virtual int16_t setServer(const char* host, const char* port) noexcept = 0;
    [[nodiscard]] virtual int16_t applyTunnelOptions() noexcept = 0;
    // Connects to the proxy and asks it for the tunnel, waiting at most
    // timeoutSeconds (at least one second).
    [[nodiscard]] virtual int16_t connectTunnel(int64_t timeoutSeconds) noexcept = 0;
};

// A new client with its library loaded, or null after the diagnostic.
using BaseTunnelClientMaker = BaseTunnelClient* (*)() noexcept;
// Registered while the driver loads; without one no tunnel can be opened.
void baseSetTunnelClientMaker(BaseTunnelClientMaker maker) noexcept;
BaseTunnelClientMaker baseTunnelClientMaker() noexcept;
