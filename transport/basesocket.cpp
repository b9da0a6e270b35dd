// The connection socket: transport choice, connect and time-out modes.
#include "transport/basesocket.h"

#include <time.h>

#include <algorithm>
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/numtext.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseerr.h"
#include "transport/katcpip.h"
#include "transport/katlssock.h"

namespace {

// Units of the "port@service" text kept on the stack; longer ones are
// allocated.
constexpr size_t kServiceTextUnits = 256;

bool wantsTls(const BaseSocketSettings* s) noexcept
{
    return s != nullptr && ((s->encryptionMethod != 0 && s->encryptionMethod != 2) || s->tlsTunnel);
}

size_t unitLength(const uint16_t* text) noexcept
{
    size_t n = 0;
    if (text != nullptr) {
        while (text[n] != 0)
            ++n;
    }
    return n;
}

// The option's size, else the connection's default when positive, rounded
// up to whole buffer units; 0 leaves the transport's size alone.
int64_t bufferSize(int64_t option, int64_t fallback) noexcept
{
    int64_t size = option != 0 ? option : (fallback > 0 ? fallback : 0);
    if (size <= 0)
        return 0;
    return (size + kBaseSocketBufferUnit - 1) / kBaseSocketBufferUnit * kBaseSocketBufferUnit;
}

void postTlsUnavailable() noexcept
{
    errPost(MSG_SOCKET_TLS_UNAVAILABLE)->setSqlstateMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT);
}

}  // namespace

BaseSocket::BaseSocket(BaseConnection* connection, const BaseSocketSettings* settings) noexcept
    : connection(nullptr), settings(settings)
{
    BaseSocket::setConnection(connection);
}

BaseSocket::~BaseSocket()
{
    delete transport;
}

void BaseSocket::setConnection(BaseConnection* newConnection) noexcept
{
    connection = newConnection;
    unused = nullptr;
    savedTimeout = 0;
    timeoutMode = BASE_SOCKET_NO_TIMEOUT;
}

int BaseSocket::prepareSSL(const uint16_t* trustStore, const uint16_t* trustStorePassword, const uint16_t* keyStore,
                           const uint16_t* keyStorePassword, const uint16_t* keyPassword,
                           const uint16_t* hostNameInCertificate, uint16_t validateServerCertificate,
                           const uint16_t* sslLibName, const uint16_t* cryptoLibName, int32_t encryptionMethod) noexcept
{
    if (transport != nullptr && transport->kind != KA_SOCK_KIND_TLS) {
        delete transport;
        transport = nullptr;
    }
    if (transport == nullptr) {
        transport = new KaSSLSock(nullptr);
        if (transport == nullptr)
            return 1;
    } else {
        transport->close();
    }
    auto* tls = static_cast<KaSSLSock*>(transport);
    applyTcpSettings(tls);
    // The connection's whole TLS block when it has one; else the settings
    // given, with the library's defaults for the rest.
    BaseSocketTlsSettings given = {};
    if (settings == nullptr || settings->tls == nullptr) {
        given.trustStore = trustStore;
        given.trustStorePassword = trustStorePassword;
        given.keyStore = keyStore;
        given.keyStorePassword = keyStorePassword;
        given.keyPassword = keyPassword;
        given.hostNameInCertificate = hostNameInCertificate;
        given.validateServerCertificate = validateServerCertificate;
        given.sslLibName = sslLibName;
        given.cryptoLibName = cryptoLibName;
    }
    const BaseSocketTlsSettings& use = settings != nullptr && settings->tls != nullptr ? *settings->tls : given;
    if (tls->applySettings(use, encryptionMethod, settings != nullptr ? settings->tlsTunnel : 0) != 0) {
        // No transport is left that a connect could use in the clear, and
        // the connect fails as one that could not be made.
        delete transport;
        transport = nullptr;
        errPost(MSG_SOCKET_TLS_NOT_MADE)->setSqlstateMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT);
        return 1;
    }
    return 0;
}

int BaseSocket::preparePlain() noexcept
{
    if (transport != nullptr && transport->kind != KA_SOCK_KIND_TCPIP) {
        delete transport;
        transport = nullptr;
    }
    if (transport == nullptr) {
        transport = new KaTCPIP();
        if (transport == nullptr)
            return 1;
    } else {
        transport->close();
    }
    applyTcpSettings(static_cast<KaTCPIP*>(transport));
    return 0;
}

void BaseSocket::applyTcpSettings(KaTCPIP* tcp) noexcept
{
    if (settings == nullptr)
        return;
    if (int64_t size = bufferSize(settings->sendBufferSize, settings->defaultSendBufferSize); size != 0)
        tcp->sendBufferSize = size;
    if (int64_t size = bufferSize(settings->receiveBufferSize, settings->defaultReceiveBufferSize); size != 0)
        tcp->receiveBufferSize = size;
    if (settings->maxReadSize != 0)
        tcp->maxReadSize = settings->maxReadSize;
    tcp->keepAlive = settings->keepAlive == 1 ? 1 : 0;
    tcp->blockingConnect = settings->blockingConnect != 0 ? 1 : 0;
}

int BaseSocket::connectHTTP() noexcept
{
    return KA_SOCK_FAILED;
}

int BaseSocket::passResult(int result, size_t recordsBefore) noexcept
{
    if (result != KA_SOCK_TIMED_OUT || timeoutMode == BASE_SOCKET_NO_TIMEOUT)
        return result;
    // Only a record the transport posted in this call gives way to the
    // framework's time-out error; earlier diagnostics of the call stay.
    KaErrorList* list = KaErrorCurrentList();
    if (list != nullptr && list->recordCount() > recordsBefore)
        KaErrorDiscardLast();
    basePostError(MSG_SQLSTATE_TIMEOUT_EXPIRED);
    return result;
}

int64_t baseSocketNowMs() noexcept
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void BaseSocket::setLoginDeadline(int64_t deadlineMs) noexcept
{
    loginDeadlineMs = deadlineMs;
}

int BaseSocket::applyLoginDeadline() noexcept
{
    if (loginDeadlineMs == 0 || timeoutMode != BASE_SOCKET_LOGIN_TIMEOUT || transport == nullptr)
        return 0;
    int64_t left = loginDeadlineMs - baseSocketNowMs();
    if (left <= 0) {
        basePostError(MSG_SQLSTATE_TIMEOUT_EXPIRED);
        return KA_SOCK_TIMED_OUT;
    }
    transport->timeout = uint32_t(std::min<int64_t>(left, kBaseSocketMaxTimeoutSeconds * 1000));
    return 0;
}

int BaseSocket::write(const void* data, size_t length, int32_t outOfBand) noexcept
{
    if (transport == nullptr) {
        errPost(MSG_SOCKET_CONNECTION_LOST)->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
        return KA_SOCK_LOST;
    }
    if (int rc = applyLoginDeadline(); rc != 0)
        return rc;
    KaErrorList* list = KaErrorCurrentList();
    size_t before = list != nullptr ? list->recordCount() : 0;
    return passResult(transport->send(data, length, outOfBand), before);
}

int BaseSocket::read(void* buffer, size_t size, size_t* received, int32_t wait) noexcept
{
    if (transport == nullptr) {
        *received = 0;
        errPost(MSG_SOCKET_CONNECTION_LOST)->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
        return KA_SOCK_LOST;
    }
    if (int rc = applyLoginDeadline(); rc != 0) {
        *received = 0;
        return rc;
    }
    KaErrorList* list = KaErrorCurrentList();
    size_t before = list != nullptr ? list->recordCount() : 0;
    return passResult(transport->recv(buffer, size, received, wait), before);
}

void BaseSocket::setTransportTimeout(int64_t seconds, int64_t microseconds) noexcept
{
    if (transport == nullptr)
        return;
    seconds = std::clamp<int64_t>(seconds, 0, kBaseSocketMaxTimeoutSeconds);
    microseconds = std::max<int64_t>(microseconds, 0);
    transport->timeout = uint32_t(seconds * 1000 + (microseconds + 999) / 1000);
}

int BaseSocket::createTransport() noexcept
{
    int rc;
    if (wantsTls(settings)) {
        const BaseSocketTlsSettings none = {};
        const BaseSocketTlsSettings& t = settings->tls != nullptr ? *settings->tls : none;
        rc = prepareSSL(t.trustStore, t.trustStorePassword, t.keyStore, t.keyStorePassword, t.keyPassword,
                        t.hostNameInCertificate, t.validateServerCertificate, t.sslLibName, t.cryptoLibName,
                        settings->encryptionMethod);
    } else {
        rc = preparePlain();
    }
    if (rc == 0 && settings != nullptr) {
        transport->traceSink = settings->packetLog;
        transport->dumpOptions = settings->packetLoggingOptions;
        transport->setTraceMode(settings->packetLogging);
    }
    return rc;
}

int BaseSocket::connectWith(uint16_t port, const uint16_t* hostW, const char* host, const uint16_t* service,
                            int32_t flags) noexcept
{
    if (transport == nullptr) {
        errPost(MSG_SOCKET_NO_HOST_OR_PORT)
            ->addParamText(host != nullptr ? host : "")
            ->addParamSigned(port)
            ->setSqlstateMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT);
        return KA_SOCK_FAILED;
    }
    // The connect is the first step of the login and gets its budget, so
    // that a dead host fails in bounded time; the connection switches to
    // its connection time-out once the session is open.
    useLoginTimeout();
    if (int rc = applyLoginDeadline(); rc != 0)
        return rc;
    return transport->connect(port, hostW, host, service, flags);
}

int BaseSocket::connectToHost(const uint16_t* host, const uint16_t* portText, const uint16_t* service,
                              int32_t flags) noexcept
{
    if (service == nullptr) {
        uint16_t port = 0;
        if (portText == nullptr || textWToU16(portText, &port) != 0)
            port = 0;
        return connectWith(port, host, nullptr, nullptr, flags);
    }
    size_t portUnits = unitLength(portText);
    size_t serviceUnits = unitLength(service);
    size_t units = portUnits + serviceUnits + 2;
    uint16_t local[kServiceTextUnits];
    uint16_t* text = local;
    RamPtr<uint16_t> heap;
    if (units > kServiceTextUnits) {
        heap = ramMake<uint16_t>(units);
        if (!heap)
            return KA_SOCK_FAILED;
        text = heap.get();
    }
    if (portUnits != 0)
        memcpy(text, portText, portUnits * sizeof(uint16_t));
    text[portUnits] = u'@';
    memcpy(text + portUnits + 1, service, serviceUnits * sizeof(uint16_t));
    text[portUnits + 1 + serviceUnits] = 0;
    return connectWith(0, host, nullptr, text, flags);
}

int BaseSocket::connectToHostPort(const uint16_t* host, uint16_t port, int32_t flags) noexcept
{
    return connectWith(port, host, nullptr, nullptr, flags);
}

int BaseSocket::connectTo(const char* host, uint16_t port, int32_t flags) noexcept
{
    return connectWith(port, nullptr, host, nullptr, flags);
}

int BaseSocket::connectToPortText(const char* host, const char* portText, int32_t flags) noexcept
{
    uint16_t port = 0;
    if (portText == nullptr || textToU16(portText, &port) != 0)
        port = 0;
    return connectWith(port, nullptr, host, nullptr, flags);
}

void BaseSocket::useQueryTimeout(int64_t seconds) noexcept
{
    timeoutMode = BASE_SOCKET_QUERY_TIMEOUT;
    int64_t use;
    if (settings != nullptr) {
        if (settings->queryTimeoutOff)
            use = 0;
        else
            use = settings->queryTimeoutOffered ? std::min(seconds, kBaseSocketMaxTimeoutSeconds) : seconds;
    } else {
        use = savedTimeout != 0 ? savedTimeout : seconds;
    }
    setTransportTimeout(use, 0);
}

void BaseSocket::useConnectionTimeout() noexcept
{
    timeoutMode = BASE_SOCKET_CONNECTION_TIMEOUT;
    int64_t use;
    if (settings != nullptr && settings->connectionTimeout != 0) {
        use = settings->connectionTimeout;
    } else if (savedTimeout != 0) {
        use = savedTimeout;
    } else {
        timeoutMode = BASE_SOCKET_NO_TIMEOUT;
        use = 0;
    }
    setTransportTimeout(use, 0);
}

void BaseSocket::useLoginTimeout() noexcept
{
    timeoutMode = BASE_SOCKET_LOGIN_TIMEOUT;
    int64_t use;
    if (settings != nullptr)
        use = (!settings->loginTimeoutOff && settings->loginTimeoutOffered) ? settings->loginTimeout : 0;
    else
        use = savedTimeout;
    setTransportTimeout(use, 0);
}

void BaseSocket::setSavedTimeout(int64_t seconds) noexcept
{
    savedTimeout = seconds;
    switch (timeoutMode) {
    case BASE_SOCKET_LOGIN_TIMEOUT: useLoginTimeout(); break;
    case BASE_SOCKET_CONNECTION_TIMEOUT:
    case BASE_SOCKET_NO_TIMEOUT: useConnectionTimeout(); break;
    case BASE_SOCKET_QUERY_TIMEOUT:
        if (transport != nullptr && (transport->timeout == 0 || seconds < int64_t(transport->timeout / 1000)))
            useQueryTimeout(seconds);
        break;
    default: break;
    }
}

int BaseSocket::upgradeToSSL() noexcept
{
    if (settings == nullptr || settings->encryptionMethod == 0 || settings->encryptionMethod == 2)
        return 0;
    postTlsUnavailable();
    return 1;
}

int baseSocketPreloadSSL(BaseConnection* connection, const BaseSocketSettings* settings) noexcept
{
    // A plain connection has no TLS library to load.
    if (!wantsTls(settings))
        return 0;
    BaseSocket probe(connection, settings);
    return probe.createTransport() != 0 ? 1 : 0;
}
