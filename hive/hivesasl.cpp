// The SASL PLAIN login of a binary Hive connection: the start and response
// frames, the server's verdict, and the refusal text bounded before it is
// read.
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/fast.h"
#include "foundation/kaerror.h"
#include "hive/hiveconnection.h"
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

}  // namespace

int HiveConnection::saslPlainLogin(int32_t method, const char* user, size_t userLength, const char* password,
                                   size_t passwordLength, const char* loginName) noexcept
{
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
    if (in.readByte(&status))
        return loginFailed();
    if (status == HIVE_SASL_COMPLETE) {
        if (in.readI32(&n) || n < 0 || in.skipBytes(uint64_t(n)))
            return loginFailed();
        in.resetFrame();
        return 0;
    }
    if (status != HIVE_SASL_BAD && status != HIVE_SASL_ERROR)
        return loginFailed();
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
