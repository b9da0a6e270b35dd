// The Hive HTTP socket: request set-up, and the Kerberos token of each
// request that the session cookie does not authenticate.
#include "hive/hivehttpsocket.h"

#include <cstring>

#include "foundation/errpost.h"
#include "foundation/fast.h"
#include "foundation/icuconv.h"
#include "foundation/kaerror.h"
#include "foundation/kastr.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "hive/hiveconnection.h"
#include "kamessages.h"
#include "odbc/baseerr.h"
#include "transport/kasock.h"

namespace {

// A fixed text naming the driver product.
constexpr char kHiveUserAgent[] = "VYspark28 ODBC driver";
// Password sent when method 0 has none stored: the server needs one.
constexpr char kHiveHttpNoPassword[] = "x";

// A credential holder's text as a new UTF-8 text, wiped when it goes;
// empty when it does not convert or memory ran out.
RamWipedPtr<char> credentialText(const KaMemoryBuffer& holder) noexcept
{
    const size_t size = size_t(holder.length) * 3 + 1;
    RamWipedPtr<char> text(static_cast<char*>(ramAlloc(size)), size);
    if (!text) {
        ramOutOfMemory();
        return text;
    }
    text.get()[0] = 0;
    size_t length = 0;
    if (holder.data != nullptr && holder.length != 0 &&
        utf16ToUtf8(text.get(), size, holder.data, int64_t(holder.length), &length, 0) != kConvDone)
        return RamWipedPtr<char>();
    text.get()[length < size ? length : size - 1] = 0;
    return text;
}

}  // namespace

HiveHTTPSocket::HiveHTTPSocket(const uint16_t* hostText, const uint16_t* portText, const uint16_t* path,
                               HiveConnection* connection) noexcept
    : BaseHTTPSocket(hostText, nullptr, path, connection,
                     connection != nullptr ? &connection->socketSettings : nullptr),
      hive(connection)
{
    size_t n = 0;
    bool digits = portText != nullptr && portText[0] != 0;
    for (; digits && portText[n] != 0; ++n)
        digits = n < kHivePortDigits && portText[n] >= '0' && portText[n] <= '9';
    if (!digits)
        return;
    for (size_t i = 0; i < n; ++i)
        portDigits[i] = char(portText[i]);
    port = portDigits;
}

HiveHTTPSocket::~HiveHTTPSocket()
{
    ramFree(cookieNameText);
}

int HiveHTTPSocket::createTransport() noexcept
{
    const BaseSocketSettings* s = hive != nullptr ? &hive->socketSettings : nullptr;
    if (s != nullptr && ((s->encryptionMethod != 0 && s->encryptionMethod != 2) || s->tlsTunnel != 0) &&
        s->tls != nullptr) {
        const BaseSocketTlsSettings& t = *s->tls;
        return prepareSSL(t.trustStore, t.trustStorePassword, t.keyStore, t.keyStorePassword, t.keyPassword,
                          t.hostNameInCertificate, t.validateServerCertificate, t.sslLibName, t.cryptoLibName,
                          s->encryptionMethod);
    }
    return preparePlain();
}

int HiveHTTPSocket::connectHTTP() noexcept
{
    return setupRequest();
}

int HiveHTTPSocket::setupRequest() noexcept
{
    if (BaseHTTPSocket::connectHTTP() != KA_SOCK_OK || hive == nullptr)
        return -1;
    static const char* const kHeaders[] = {"Accept: application/x-thrift", "Content-Type: application/x-thrift",
                                           "X-XSRF-HEADER: true"};
    client->slistFreeAll(client->baseHeaders);
    client->baseHeaders = nullptr;
    for (const char* header : kHeaders) {
        curl_slist* grown = client->slistAppend(client->baseHeaders, header);
        if (grown == nullptr)
            return -1;
        client->baseHeaders = grown;
    }
    if (hive->authenticationMethod == HIVE_AUTH_NONE) {
        if (client->setLong(CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC)) != CURLE_OK ||
            client->setText(CURLOPT_USERNAME, kHiveHttpNoAuthIdentity) != CURLE_OK ||
            client->setText(CURLOPT_PASSWORD, kHiveHttpNoAuthIdentity) != CURLE_OK)
            return -1;
    } else if (hive->authenticationMethod == HIVE_AUTH_USER_PASSWORD) {
        KaMemoryBuffer user;
        KaMemoryBuffer secret;
        if (hive->getUserId(user) != 0 || hive->getPassword(secret) != 0) {
            basePostErrorMsg(kBaseIdxUnableToConnect, MSG_SASL_LOGIN_FAILED);
            return -1;
        }
        const RamWipedPtr<char> userText = credentialText(user);
        const RamWipedPtr<char> secretText = credentialText(secret);
        int rc = -1;
        if (!userText || !secretText) {
            basePostErrorMsg(kBaseIdxUnableToConnect, MSG_SASL_LOGIN_FAILED);
        } else {
            // libcurl keeps copies of its own.
            const char* sent = secretText.get()[0] != 0 ? secretText.get() : kHiveHttpNoPassword;
            if (client->setLong(CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC)) == CURLE_OK &&
                client->setText(CURLOPT_USERNAME, userText.get()) == CURLE_OK &&
                client->setText(CURLOPT_PASSWORD, sent) == CURLE_OK)
                rc = 0;
        }
        if (rc != 0)
            return -1;
    }
    if (client->setLong(CURLOPT_FOLLOWLOCATION, 1L) != CURLE_OK ||
        client->setText(CURLOPT_USERAGENT, kHiveUserAgent) != CURLE_OK ||
        client->setText(CURLOPT_ACCEPT_ENCODING, "gzip,deflate") != CURLE_OK ||
        client->setLong(CURLOPT_TCP_KEEPALIVE, 1L) != CURLE_OK)
        return -1;
    if (!hive->enableCookieAuthentication)
        return 0;
    if (client->setText(CURLOPT_COOKIEFILE, "") != CURLE_OK)
        return -1;
    const uint16_t* name = hive->cookieName != nullptr ? hive->cookieName : strUnits(kHiveDefaultCookieName);
    if (cookieNameText == nullptr) {
        size_t n = 0;
        while (name[n] != 0)
            ++n;
        size_t size = n * 3 + 1;
        cookieNameText = static_cast<char*>(ramAlloc(size));
        size_t length = 0;
        if (cookieNameText == nullptr) {
            ramOutOfMemory();
            return -1;
        }
        if (utf16ToUtf8(cookieNameText, size, name, int64_t(n), &length, 0) != kConvDone) {
            ramFree(cookieNameText);
            cookieNameText = nullptr;
            return -1;
        }
        cookieNameText[length] = 0;
    }
    size_t length = std::strlen(cookieNameText);
    ramFree(client->cookieName);
    client->cookieName = static_cast<char*>(ramAlloc(length + 1));
    if (client->cookieName == nullptr) {
        ramOutOfMemory();
        return -1;
    }
    std::memcpy(client->cookieName, cookieNameText, length + 1);
    bool isDefault = true;
    const char16_t* def = kHiveDefaultCookieName;
    size_t i = 0;
    for (; isDefault && def[i] != 0; ++i)
        isDefault = name[i] == def[i];
    isDefault = isDefault && name[i] == 0;
    client->cookieMode = isDefault ? KA_CURL_COOKIE_WELL_KNOWN : KA_CURL_COOKIE_NAMED;
    client->authToRestore = long(CURLAUTH_BASIC);
    return 0;
}

int HiveHTTPSocket::write(const void* data, size_t length, int32_t outOfBand) noexcept
{
    if (client == nullptr)
        return KA_SOCK_FAILED;
    // Only a new request needs a token; the pieces of one body share it.
    bool continuing = client->paused && client->bodyLengthKnown && client->bodySent < client->bodyLength;
    if (!continuing && hive != nullptr && hive->authenticationMethod == HIVE_AUTH_KERBEROS &&
        !(hive->enableCookieAuthentication && client->hasSessionCookie()) && hive->kerberosLogin() != 0)
        return KA_SOCK_FAILED;
    return BaseHTTPSocket::write(data, length, outOfBand);
}
