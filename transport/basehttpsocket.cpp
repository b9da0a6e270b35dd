// The HTTP socket: writes become POST body pieces, reads take the response,
// and the socket's time-outs bound whole transfers.
#include "transport/basehttpsocket.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "foundation/errpost.h"
#include "foundation/fast.h"
#include "foundation/icuconv.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseerr.h"
#include "transport/kasock.h"

namespace {

// A UTF-16 text as a new UTF-8 text (null for null); 0, or 1 when memory
// ran out or the text does not convert.
int utf8Copy(const uint16_t* text, char** out) noexcept
{
    *out = nullptr;
    if (text == nullptr)
        return 0;
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    size_t size = n * 3 + 1;
    RamPtr<char> made = ramMake<char>(size);
    if (!made) {
        ramOutOfMemory();
        return 1;
    }
    size_t length = 0;
    if (utf16ToUtf8(made.get(), size, text, int64_t(n), &length, 0) != kConvDone)
        return 1;
    made.get()[length < size ? length : size - 1] = 0;
    *out = made.release();
    return 0;
}

}  // namespace

BaseHTTPSocket::BaseHTTPSocket(const uint16_t* hostText, const char* portText, const uint16_t* path,
                               BaseConnection* conn, const BaseSocketSettings* socketSettings) noexcept
    : BaseSocket(conn, socketSettings), host(hostText), port(portText), httpPath(path)
{}

BaseHTTPSocket::~BaseHTTPSocket()
{
    destroyClient();
    for (char*& text : texts) {
        if (text != nullptr)
            fastMemzero(text, std::strlen(text));
        ramFree(text);
        text = nullptr;
    }
}

void BaseHTTPSocket::destroyClient() noexcept
{
    if (client == nullptr)
        return;
    client->close();
    client->~KaCurlConnection();
    ramFree(client);
    client = nullptr;
}

int BaseHTTPSocket::createClient() noexcept
{
    destroyClient();
    void* block = ramAlloc(sizeof(KaCurlConnection));
    if (block == nullptr) {
        ramOutOfMemory();
        return 1;
    }
    client = new (block) KaCurlConnection();
    if (client->loadLibrary() != 0) {
        destroyClient();
        return 1;
    }
    return client->init() != 0 ? 1 : 0;
}

int BaseHTTPSocket::prepareSSL(const uint16_t* trustStore, const uint16_t* trustStorePassword, const uint16_t* keyStore,
                               const uint16_t* keyStorePassword, const uint16_t* /*keyPassword*/,
                               const uint16_t* hostNameInCertificate, uint16_t validateServerCertificate,
                               const uint16_t* /*sslLibName*/, const uint16_t* /*cryptoLibName*/,
                               int32_t /*encryptionMethod*/) noexcept
{
    if (createClient() != 0)
        return 1;
    ssl = 1;
    const uint16_t* sources[kTextCount] = {trustStore, trustStorePassword, keyStore, keyStorePassword,
                                           hostNameInCertificate};
    for (size_t i = 0; i < kTextCount; ++i) {
        if (texts[i] != nullptr)
            fastMemzero(texts[i], std::strlen(texts[i]));
        ramFree(texts[i]);
        if (utf8Copy(sources[i], &texts[i]) != 0) {
            errPost(MSG_HIVE_TLS_OPTION_TEXT)->setSqlstateMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT);
            return 1;
        }
    }
    (void)client->setClientKey(texts[kKeyStore], texts[kKeyStorePassword]);
    if (validateServerCertificate != 0) {
        client->validate = int16_t(validateServerCertificate);
        client->setTrustStore(texts[kTrustStore], texts[kTrustStorePassword]);
        client->hostNameInCertificate = texts[kHostName];
    }
    return 0;
}

int BaseHTTPSocket::preparePlain() noexcept
{
    return createClient();
}

int BaseHTTPSocket::connectHTTP() noexcept
{
    if (client == nullptr || client->setUrl(host, port, httpPath, ssl) != 0)
        return KA_SOCK_FAILED;
    return KA_SOCK_OK;
}

void BaseHTTPSocket::announceBody(uint32_t length) noexcept
{
    if (client == nullptr)
        return;
    client->bodyLength = length;
    client->bodyLengthKnown = 1;
}

void BaseHTTPSocket::setTransportTimeout(int64_t seconds, int64_t microseconds) noexcept
{
    seconds = std::clamp<int64_t>(seconds, 0, kBaseSocketMaxTimeoutSeconds);
    microseconds = std::max<int64_t>(microseconds, 0);
    timeoutMs = seconds * 1000 + (microseconds + 999) / 1000;
    if (client != nullptr)
        (void)client->setConnectTimeout(seconds);
}

void BaseHTTPSocket::setQueryDeadline(int64_t deadlineMs) noexcept
{
    queryDeadlineMs = deadlineMs;
    queryDeadlineHit = 0;
}

int BaseHTTPSocket::applyDeadline() noexcept
{
    queryDeadlineBinds = 0;
    queryDeadlineHit = 0;
    int64_t budget = timeoutMode == BASE_SOCKET_NO_TIMEOUT ? 0 : timeoutMs;
    const int64_t now = baseSocketNowMs();
    if (loginDeadlineMs != 0 && timeoutMode == BASE_SOCKET_LOGIN_TIMEOUT) {
        int64_t left = loginDeadlineMs - now;
        if (left <= 0)
            return passResult(KA_SOCK_TIMED_OUT);
        budget = budget == 0 ? left : std::min(budget, left);
    }
    if (queryDeadlineMs != 0) {
        int64_t left = queryDeadlineMs - now;
        queryDeadlineBinds = left <= 0 || budget == 0 || left <= budget;
        if (left <= 0)
            return passResult(KA_SOCK_TIMED_OUT);
        budget = std::min(budget == 0 ? left : budget, left);
    }
    client->transferTimeoutMs = budget;
    return 0;
}

int BaseHTTPSocket::passResult(int result) noexcept
{
    if (result == KA_SOCK_TIMED_OUT) {
        queryDeadlineHit = queryDeadlineBinds;
        basePostErrorMsg(kBaseIdxTimeout, MSG_SOCKET_TIMED_OUT)->addParamText("");
        return KA_SOCK_TIMED_OUT;
    }
    return result == 0 ? KA_SOCK_OK : KA_SOCK_FAILED;
}

int BaseHTTPSocket::write(const void* data, size_t length, int32_t /*outOfBand*/) noexcept
{
    if (client == nullptr)
        return KA_SOCK_FAILED;
    if (int rc = applyDeadline(); rc != 0)
        return rc;
    return passResult(client->post(data, length));
}

int BaseHTTPSocket::read(void* buffer, size_t size, size_t* received, int32_t /*wait*/) noexcept
{
    *received = 0;
    if (client == nullptr)
        return KA_SOCK_FAILED;
    if (int rc = applyDeadline(); rc != 0)
        return rc;
    return passResult(client->read(buffer, size, received));
}

int BaseHTTPSocket::responseEnded(int32_t* ended) noexcept
{
    *ended = 0;
    if (client == nullptr)
        return KA_SOCK_FAILED;
    if (int rc = applyDeadline(); rc != 0)
        return rc;
    const int rc = client->responseEnded();
    if (rc < 0)
        return passResult(rc);
    *ended = rc;
    return KA_SOCK_OK;
}
