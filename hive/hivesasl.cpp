// The logins of a Hive connection: SASL PLAIN on the binary transport (the
// start and response frames, the server's verdict, the refusal text bounded
// before it is read), and Kerberos through GSSAPI on both transports.
#include <cstring>
#include <memory>

#include "foundation/errpost.h"
#include "foundation/fast.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "hive/hiveconnection.h"
#include "hive/hivehttpsocket.h"
#include "security/kagss.h"
#include "kamessages.h"
#include "odbc/baseerr.h"
#include "transport/basesocket.h"
#include "transport/kasock.h"

namespace {

int loginFailed() noexcept
{
    basePostErrorMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT, MSG_SASL_LOGIN_FAILED);
    return 1;
}

// First bytes of answers that are no SASL frame: a TLS record (alert or
// handshake), an HTTP status line, a Thrift binary-protocol message.
constexpr uint8_t kTlsAlertRecord = 0x15;
constexpr uint8_t kTlsHandshakeRecord = 0x16;
constexpr uint8_t kHttpFirstByte = 'H';
constexpr uint8_t kThriftVersionByte = 0x80;

// An answer to the login that starts with status: when it is no SASL
// status, what the server speaks instead and the keyword to change.
int answeredWithout(uint8_t status) noexcept
{
    uint16_t message = 0;
    if (status == kHttpFirstByte)
        message = MSG_SASL_SERVER_SPEAKS_HTTP;
    else if (status == kThriftVersionByte)
        message = MSG_SASL_SERVER_WITHOUT_SASL;
    else if (status == kTlsAlertRecord || status == kTlsHandshakeRecord)
        message = MSG_SASL_SERVER_SPEAKS_TLS;
    else
        return loginFailed();
    basePostErrorMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT, message);
    return 1;
}

// The login's answer could not be read. A server that closed the
// connection at once most likely speaks another protocol: that goes
// first, before the lost link; a time-out is told by the open.
int answerMissing(size_t before) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    bool lost = false;
    for (size_t i = before; list != nullptr && i < list->recordCount(); ++i) {
        KaError* record = list->recordAt(i);
        if (record == nullptr || record->isWarning())
            continue;
        if (record->sqlstateMsg == kBaseIdxTimeout)
            return loginFailed();
        lost = lost || record->sqlstateMsg == kBaseIdxLinkFailure;
    }
    if (!lost || list == nullptr)
        return loginFailed();
    basePostErrorMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT, MSG_SASL_SERVER_CLOSED);
    list->moveLastTo(before);
    return 1;
}

}  // namespace

int HiveConnection::saslPlainLogin(int32_t method, const char* user, size_t userLength, const char* password,
                                   size_t passwordLength, const char* loginName) noexcept
{
    if (method == HIVE_AUTH_KERBEROS)
        return kerberosLogin();
    if (method != -1 && method != 0) {
        basePostErrorMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT, MSG_SASL_UNSUPPORTED_METHOD);
        return 1;
    }
    if (method == -1) {
        user = password = kHiveNoAuthIdentity;
        userLength = passwordLength = sizeof kHiveNoAuthIdentity - 1;
    }
    if (user == nullptr)
        userLength = 0;
    if (password == nullptr)
        passwordLength = 0;
    size_t loginLength = loginName != nullptr ? strlen(loginName) : 0;
    uint64_t payload = uint64_t(userLength) + loginLength + passwordLength + 2;
    if (payload > 0x7FFFFFFF)
        return loginFailed();
    HiveNetWriteBuffer& w = writeBuffer;
    w.framing = 0;
    int rc = w.put(HIVE_SASL_START) || w.writeString("PLAIN", 5) ||
             w.put(loginName != nullptr ? HIVE_SASL_OK : HIVE_SASL_COMPLETE) || w.writeI32(int32_t(payload));
    // Impersonation names the user first and the login second; without it
    // the authorisation identity is empty.
    if (rc == 0 && loginName != nullptr)
        rc = w.writeBytes(user, userLength) || w.put(0) || w.writeBytes(loginName, loginLength);
    else if (rc == 0)
        rc = w.put(0) || w.writeBytes(user, userLength);
    if (rc == 0)
        rc = w.put(0) || w.writeBytes(password, passwordLength);
    size_t composed = 10 + 5 + size_t(payload);
    // The packet log shows that the login was sent, not the credentials.
    KaSock* transport = w.socket != nullptr ? w.socket->transport : nullptr;
    uint32_t dumpOptions = transport != nullptr ? transport->dumpOptions : 0;
    if (transport != nullptr)
        transport->dumpOptions |= KA_TRACE_NO_SEND_DUMP;
    if (rc == 0)
        rc = w.flush();
    if (transport != nullptr)
        transport->dumpOptions = dumpOptions;
    // The sink's block is the window again: the credentials leave it.
    if (w.window != nullptr)
        fastMemzero(w.window, composed < w.windowSize ? composed : w.windowSize);
    if (rc)
        return 1;

    HiveNetReadBuffer& in = readBuffer;
    in.resetFrame();
    uint8_t status = 0;
    int32_t n = 0;
    const KaDiagMark mark;
    if (in.readByte(&status))
        return answerMissing(mark.start());
    if (status == HIVE_SASL_COMPLETE) {
        if (in.readI32(&n) || n < 0 || in.skipBytes(uint64_t(n)))
            return loginFailed();
        in.resetFrame();
        return 0;
    }
    if (status != HIVE_SASL_BAD && status != HIVE_SASL_ERROR)
        return answeredWithout(status);
    if (in.readI32(&n) || n < 0)
        return loginFailed();
    // The length comes from the wire: a longer answer than the buffer is
    // refused, not read.
    if (size_t(n) >= kHiveSaslMessageSize) {
        basePostErrorMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT, MSG_SASL_MESSAGE_TOO_LONG)
            ->addParamSigned(n)
            ->addParamSigned(int64_t(kHiveSaslMessageSize) - 1);
        return 1;
    }
    char message[kHiveSaslMessageSize];
    if (in.readBytes(message, size_t(n)))
        return loginFailed();
    message[n] = 0;
    basePostErrorMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT, MSG_SASL_LOGIN_REFUSED)->addParamText(message);
    return 1;
}

namespace {

// Bytes of each Kerberos token buffer of the login.
constexpr size_t kHiveKerberosTokenSize = 65535;
// States of the SASL GSSAPI exchange.
enum : int { kKrbStart = 1, kKrbContext = 2, kKrbLayer = 3 };

// The tokens of the exchange, wiped when they go.
struct HiveKerberosBuffers {
    RamWipedPtr<uint8_t> received;
    RamWipedPtr<uint8_t> sent;
};

// A failed Kerberos login is a failure to connect, whatever GSSAPI said.
int connectFailureSince(size_t before) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    for (size_t i = before; list != nullptr && i < list->recordCount(); ++i) {
        KaError* record = list->recordAt(i);
        if (record != nullptr && !record->isWarning() && record->sqlstateMsg != MSG_SQLSTATE_TIMEOUT_EXPIRED)
            record->setSqlstateMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT);
    }
    return 1;
}

}  // namespace

int HiveConnection::kerberosLogin() noexcept
{
    const KaDiagMark mark;
    return kerberosExchange() != 0 ? connectFailureSince(mark.start()) : 0;
}

int HiveConnection::kerberosExchange() noexcept
{
    HiveKerberosBuffers buffers;
    buffers.received.reset(static_cast<uint8_t*>(ramAlloc(kHiveKerberosTokenSize)), kHiveKerberosTokenSize);
    buffers.sent.reset(static_cast<uint8_t*>(ramAlloc(kHiveKerberosTokenSize)), kHiveKerberosTokenSize);
    const std::unique_ptr<KaGSServices> gss(new KaGSServices(gssLibraryName));
    if (!buffers.received || !buffers.sent || !gss) {
        ramOutOfMemory();
        return 1;
    }
    gss->requestFlags = KA_GSS_HIVE_FLAGS;
    int rc = gss->importTargetName(servicePrincipalName);
    size_t sentLength = 0;
    size_t receivedLength = 0;
    int32_t more = 0;
    if (rc == 0 && transportMode == HIVE_TRANSPORT_HTTP) {
        rc = gss->initContextStep(nullptr, 0, buffers.sent.get(), kHiveKerberosTokenSize, &sentLength, &more);
        auto* http = static_cast<HiveHTTPSocket*>(socket);
        if (rc == 0 && sentLength == 0) {
            basePostErrorMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT, MSG_HIVE_KERBEROS_NO_TICKET);
            rc = 1;
        } else if (rc == 0 && (http == nullptr || http->client == nullptr ||
                               http->client->setNegotiateHeader(buffers.sent.get(), sentLength) != 0)) {
            rc = 1;
        }
        return rc;
    }
    HiveNetWriteBuffer& w = writeBuffer;
    HiveNetReadBuffer& in = readBuffer;
    w.framing = 0;
    for (int state = kKrbStart; rc == 0;) {
        if (state != kKrbLayer) {
            rc = gss->initContextStep(state == kKrbStart ? nullptr : buffers.received.get(), receivedLength,
                                      buffers.sent.get(), kHiveKerberosTokenSize, &sentLength, &more);
            if (rc != 0)
                break;
        }
        if (state == kKrbStart)
            rc = w.put(HIVE_SASL_START) || w.writeString("GSSAPI", 6) || w.put(HIVE_SASL_OK);
        else
            rc = w.put(state == kKrbContext ? HIVE_SASL_OK : HIVE_SASL_COMPLETE);
        rc = rc || w.writeI32(int32_t(sentLength)) || w.writeBytes(buffers.sent.get(), sentLength) || w.flush();
        if (rc != 0)
            break;
        in.resetFrame();
        uint8_t status = 0;
        int32_t n = 0;
        if (in.readByte(&status) || in.readI32(&n) || n < 0) {
            rc = loginFailed();
            break;
        }
        // The length comes from the wire: the token buffer bounds it.
        if (size_t(n) > kHiveKerberosTokenSize) {
            basePostErrorMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT, MSG_GSS_TOKEN_TOO_LONG)
                ->addParamSigned(n)
                ->addParamUnsigned(kHiveKerberosTokenSize);
            rc = 1;
            break;
        }
        if (in.readBytes(buffers.received.get(), size_t(n))) {
            rc = loginFailed();
            break;
        }
        receivedLength = size_t(n);
        if (status == HIVE_SASL_COMPLETE) {
            in.resetFrame();
            break;
        }
        if (status != HIVE_SASL_OK) {
            char message[kHiveSaslMessageSize];
            size_t k = receivedLength < sizeof message - 1 ? receivedLength : sizeof message - 1;
            std::memcpy(message, buffers.received.get(), k);
            message[k] = 0;
            basePostErrorMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT, MSG_HIVE_KERBEROS_SASL_REFUSED)->addParamText(message);
            rc = 1;
            break;
        }
        if (state == kKrbStart) {
            state = kKrbContext;
        } else if (state == kKrbContext && !more) {
            // The context is complete: this token is the server's
            // security-layer offer.
            rc = gss->negotiateSecurityLayer(buffers.received.get(), receivedLength, buffers.sent.get(),
                                             kHiveKerberosTokenSize, &sentLength);
            state = kKrbLayer;
        } else if (state == kKrbLayer) {
            rc = loginFailed();
        }
    }
    return rc;
}
