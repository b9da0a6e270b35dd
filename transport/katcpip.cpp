// The plain TCP/IP transport.
#include "transport/katcpip.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/numtext.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bosname.h"

namespace {

// Room of the narrow host name; longer names are refused.
constexpr size_t kHostNameSize = 1024;
// Room of the failure detail in a connect diagnostic.
constexpr size_t kDetailSize = kConnectionErrorTextSize + 128;

template <typename Unit>
const Unit* skipBlanks(const Unit* text) noexcept
{
    if (text == nullptr)
        return nullptr;
    while (*text == Unit(' ') || *text == Unit('\t'))
        ++text;
    return text;
}

template <typename Unit>
bool empty(const Unit* text) noexcept
{
    return text == nullptr || *text == 0;
}

// A time-out as poll takes it: a value past its range would read as
// negative, which means no limit.
int pollTime(uint32_t ms) noexcept
{
    return ms > uint32_t(INT32_MAX) ? INT32_MAX : int(ms);
}

void ignoreSigpipe() noexcept
{
    struct sigaction current;
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
        !(current.sa_flags & SA_SIGINFO)) {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, nullptr);
    }
}

}  // namespace

KaTCPIP::KaTCPIP() noexcept
{
    kind = KA_SOCK_KIND_TCPIP;
    setTraceMode(0);
}

KaTCPIP::KaTCPIP(KaTCPIP& source, int takeOver) noexcept
    : KaSock(source, takeOver), waitTimeout(source.waitTimeout), timedOut(source.timedOut), keepAlive(source.keepAlive),
      blockingConnect(source.blockingConnect), lingerMode(source.lingerMode), sendBufferSize(source.sendBufferSize),
      receiveBufferSize(source.receiveBufferSize), maxReadSize(source.maxReadSize)
{
    kind = KA_SOCK_KIND_TCPIP;
    if (takeOver) {
        record = source.record;
        source.record = nullptr;
        source.connected = 0;
    } else {
        // One connection has one owner: a copy without take-over starts
        // unconnected.
        connected = 0;
    }
}

KaTCPIP::~KaTCPIP()
{
    close();
}

void KaTCPIP::dropRecord() noexcept
{
    if (record != nullptr) {
        int code;
        (void)ConnectionClose(record, &code);
        ramFree(record);
        record = nullptr;
    }
    connected = 0;
}

void KaTCPIP::postError(int code, int64_t detail) noexcept
{
    if (!postErrors)
        return;
    KaError* e = nullptr;
    switch (code) {
    case KA_SOCK_FAILED: {
        char text[128];
        e = errPost(MSG_SOCKET_ERROR)->addParamSigned(detail)->addParamText(strerror_r(int(detail), text, sizeof text));
        break;
    }
    case KA_SOCK_TIMED_OUT: e = errPost(MSG_SOCKET_TIMED_OUT)->addParamText(""); break;
    case KA_SOCK_LOST: e = errPost(MSG_SOCKET_CONNECTION_LOST); break;
    case KA_SOCK_PROTOCOL: e = errPost(MSG_SOCKET_PROTOCOL_ERROR)->addParamText(""); break;
    default: return;
    }
    e->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
}

int KaTCPIP::failWith(int error, bool waitMode, bool closeOnReset) noexcept
{
    switch (error) {
    case ECONNRESET:
        if (closeOnReset)
            dropRecord();
        [[fallthrough]];
    case EPIPE:
    case EAGAIN:
        connected = 0;
        postError(KA_SOCK_LOST, 0);
        return KA_SOCK_LOST;
    case ETIME:
    case ETIMEDOUT:
        if (waitMode) {
            timedOut = true;
            return KA_SOCK_NOTHING_YET;
        }
        return KA_SOCK_TIMED_OUT;
    default: postError(KA_SOCK_FAILED, error); return KA_SOCK_FAILED;
    }
}

int KaTCPIP::connectBasic(uint16_t port, const uint16_t* hostW, const char* host, const uint16_t* service) noexcept
{
    return connect(port, hostW, host, service, 0);
}

int KaTCPIP::connect(uint16_t port, const uint16_t* hostW, const char* host, const uint16_t* service,
                     int32_t flags) noexcept
{
    bool noHost = empty(host) && empty(hostW);
    // Blanks before either form do not count; the narrow form is used when
    // anything is left of it, else the wide one.
    host = skipBlanks(host);
    hostW = skipBlanks(hostW);
    char narrow[kHostNameSize];
    const char* shownHost = !empty(host) ? host : "";
    if (empty(host) && !empty(hostW)) {
        if (KaUtf16ToUtf8(narrow, sizeof narrow, hostW) < 0)
            return KA_SOCK_FAILED;
        shownHost = narrow;
    }
    if ((port == 0 && empty(service)) || noHost) {
        if (postErrors)
            errPost(MSG_SOCKET_NO_HOST_OR_PORT)
                ->addParamText(shownHost)
                ->addParamSigned(port)
                ->setSqlstateMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT);
        return KA_SOCK_FAILED;
    }
    const char* name = skipBlanks(shownHost);
    if (empty(name)) {
        if (postErrors)
            errPost(MSG_SOCKET_CONNECT_FAILED)
                ->addParamText(shownHost)
                ->addParamSigned(port)
                ->addParamText("the host name is blank")
                ->setSqlstateMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT);
        return KA_SOCK_FAILED;
    }
    if (port == 0 && !empty(service)) {
        size_t at = 0;
        while (service[at] != 0 && service[at] != u'@')
            ++at;
        if (service[at] == u'@' && textWToU16N(service, at, &port) != 0)
            port = 0;
        if (port == 0) {
            if (postErrors)
                errPost(MSG_SOCKET_NO_HOST_OR_PORT)
                    ->addParamText(name)
                    ->addParamSigned(0)
                    ->setSqlstateMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT);
            return KA_SOCK_FAILED;
        }
    }

    // A transport connects once at a time: an earlier connection goes.
    close();
    record = static_cast<ConnectionRecord*>(ramAlloc(sizeof(ConnectionRecord)));
    if (record == nullptr) {
        if (postErrors)
            KaErrorPostOutOfMemory();
        return KA_SOCK_FAILED;
    }
    memset(record, 0, sizeof *record);
    record->socket = -1;
    record->pollEntry.fd = -1;
    record->sendBufferSize = int32_t(sendBufferSize);
    record->receiveBufferSize = int32_t(receiveBufferSize);
    record->keepAlive = keepAlive;
    record->blockingConnect = blockingConnect;
    record->setLinger = lingerMode;
    record->lingerValue = {1, 0};

    int32_t budget = timeout != 0 ? pollTime(timeout) : -1;
    int code = 0;
    int opened = loadResolver() == 0 ? ConnectionOpenEx(record, name, port, &code, resolverTable(), budget, flags)
                                     : ConnectionOpen(record, name, port, &code, budget);
    if (!opened) {
        bool timedOutNow = record->lastError.code == kConnectionErrorTimedOut;
        if (postErrors) {
            if (timedOutNow) {
                errPost(MSG_SOCKET_CONNECT_TIMED_OUT)
                    ->addParamText(name)
                    ->addParamSigned(port)
                    ->setSqlstateMsg(MSG_SQLSTATE_TIMEOUT_EXPIRED);
            } else {
                char detail[kDetailSize];
                char reason[128] = "";
                if (code != kConnectionErrorGeneric)
                    snprintf(reason, sizeof reason, " %s", strerror_r(code, detail, sizeof detail));
                snprintf(detail, sizeof detail, "%s%s", record->lastError.text, reason);
                errPost(MSG_SOCKET_CONNECT_FAILED)
                    ->addParamText(name)
                    ->addParamSigned(port)
                    ->addParamText(detail)
                    ->setSqlstateMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT);
            }
        }
        ramFree(record);
        record = nullptr;
        connected = 0;
        return timedOutNow ? KA_SOCK_TIMED_OUT : KA_SOCK_FAILED;
    }
    ignoreSigpipe();
    if (traceMode != 0) {
        int size = 0;
        socklen_t len = sizeof size;
        if (getsockopt(record->socket, SOL_SOCKET, SO_RCVBUF, &size, &len) == 0)
            traceData(nullptr, size_t(receiveBufferSize), KA_TRACE_RCVBUF_DESIRED, size);
        len = sizeof size;
        if (getsockopt(record->socket, SOL_SOCKET, SO_SNDBUF, &size, &len) == 0)
            traceData(nullptr, size_t(sendBufferSize), KA_TRACE_SNDBUF_DESIRED, size);
    }
    connected = 1;
    return KA_SOCK_OK;
}

int KaTCPIP::awaitWritable() noexcept
{
    for (;;) {
        pollfd p = {record->socket, POLLOUT, 0};
        int n = poll(&p, 1, pollTime(timeout));
        if (n > 0)
            return KA_SOCK_OK;
        if (n == 0)
            return KA_SOCK_TIMED_OUT;
        if (errno != EINTR)
            return failWith(errno, false, false);
    }
}

int KaTCPIP::send(const void* data, size_t length, int32_t outOfBand) noexcept
{
    timedOut = false;
    if (record == nullptr) {
        connected = 0;
        postError(KA_SOCK_LOST, 0);
        return KA_SOCK_LOST;
    }
    if (traceMode != 0)
        traceData(data, length, KA_TRACE_SENDING, 0);
    const auto* bytes = static_cast<const uint8_t*>(data);
    int flags = MSG_NOSIGNAL | (outOfBand ? MSG_OOB : 0);
    // The system may take part of the data: the rest is sent until all of
    // it is gone. With a time-out the send does not block; each wait for
    // room is bounded by the time-out instead.
    if (timeout != 0)
        flags |= MSG_DONTWAIT;
    size_t sent = 0;
    while (sent < length) {
        if (timeout != 0) {
            int ready = awaitWritable();
            if (ready != KA_SOCK_OK)
                return ready;
        }
        ssize_t n = ::send(record->socket, bytes + sent, length - sent, flags);
        if (n > 0) {
            sent += size_t(n);
            continue;
        }
        if (n < 0 && (errno == EINTR || (timeout != 0 && (errno == EAGAIN || errno == EWOULDBLOCK))))
            continue;
        return failWith(n == 0 ? int(kConnectionErrorGeneric) : errno, false, false);
    }
    return KA_SOCK_OK;
}

int KaTCPIP::recv(void* buffer, size_t size, size_t* received, int32_t wait) noexcept
{
    timedOut = false;
    if (record == nullptr) {
        connected = 0;
        postError(KA_SOCK_LOST, 0);
        return KA_SOCK_LOST;
    }
    *received = 0;
    size_t requested = size;
    if (maxReadSize > 0 && size > uint64_t(maxReadSize))
        size = size_t(maxReadSize);
    if (timeout != 0 || wait) {
        for (;;) {
            record->pollEntry.revents = 0;
            int n = poll(&record->pollEntry, 1, wait ? waitTimeout : pollTime(timeout));
            if (n > 0)
                break;
            if (n == 0)
                return wait ? KA_SOCK_NOTHING_YET : KA_SOCK_TIMED_OUT;
            if (errno != EINTR)
                return failWith(errno, wait != 0, true);
        }
    }
    for (;;) {
        ssize_t n = ::recv(record->socket, buffer, size, 0);
        if (n > 0) {
            *received = size_t(n);
            if (traceMode != 0)
                traceData(buffer, size_t(n), KA_TRACE_READING, int64_t(requested));
            return KA_SOCK_OK;
        }
        if (n == 0) {
            dropRecord();
            postError(KA_SOCK_LOST, 0);
            return KA_SOCK_LOST;
        }
        if (errno != EINTR)
            return failWith(errno, false, true);
    }
}

int KaTCPIP::waitReadable() noexcept
{
    if (record == nullptr) {
        postError(KA_SOCK_LOST, 0);
        return KA_SOCK_LOST;
    }
    for (;;) {
        record->pollEntry.revents = 0;
        int n = poll(&record->pollEntry, 1, waitTimeout);
        if (n > 0)
            return KA_SOCK_OK;
        if (n == 0)
            return KA_SOCK_NOTHING_YET;
        if (errno == EINTR)
            continue;
        return failWith(errno == ECONNRESET ? EPIPE : errno, true, false);
    }
}

int KaTCPIP::disconnect() noexcept
{
    timedOut = false;
    if (record != nullptr && connected) {
        int code = 0;
        if (!ConnectionClose(record, &code)) {
            if (postErrors) {
                char text[128];
                errPost(MSG_SOCKET_ERROR)
                    ->addParamSigned(code)
                    ->addParamText(strerror_r(code, text, sizeof text))
                    ->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
            }
            return KA_SOCK_FAILED;
        }
    }
    dropRecord();
    return KA_SOCK_OK;
}

void KaTCPIP::close() noexcept
{
    timedOut = false;
    dropRecord();
}
