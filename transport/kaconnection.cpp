// The connection layer: resolution, socket options and the connect under a
// time budget, in order or in parallel.
#include "transport/kaconnection.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

ResolverTable gResolver;

// Work room of gethostbyname_r.
constexpr size_t kHostLookupRoom = 1024;
// Longest host text this layer takes (a DNS name is at most 253 bytes; the
// rest is room for an IPv6 scope).
constexpr size_t kHostTextSize = 1024;

int64_t nowMs() noexcept
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The time budget of one open: unlimited when the caller gave < 0.
struct Budget {
    int64_t start = -1;
    int32_t total;

    explicit Budget(int32_t ms) noexcept : total(ms) {}
    bool limited() const noexcept { return total >= 0; }
    void begin() noexcept
    {
        if (start < 0)
            start = nowMs();
    }
    // What is left for poll: -1 without a limit, else 0 or more.
    int left() const noexcept
    {
        if (!limited())
            return -1;
        int64_t rest = int64_t(total) - (nowMs() - start);
        return rest > 0 ? int(rest) : 0;
    }
    bool spent() const noexcept { return limited() && start >= 0 && left() == 0; }
};

void copyCut(char* out, size_t size, const char* in) noexcept
{
    snprintf(out, size, "%s", in != nullptr ? in : "");
}

int setBlocking(int fd, bool blocking) noexcept
{
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0)
        return -1;
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return fcntl(fd, F_SETFL, flags);
}

void closeSocket(int& fd) noexcept
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void applyOptions(const ConnectionRecord* record, int fd) noexcept
{
    if (record->setLinger)
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &record->lingerValue, sizeof record->lingerValue);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    int keep = record->keepAlive;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &keep, sizeof keep);
}

// Raises a socket buffer to the wanted size when the system's is smaller;
// 0, or the errno of a failing getsockopt.
int raiseBuffer(int fd, int option, int32_t wanted) noexcept
{
    if (wanted <= 0)
        return 0;
    int current = 0;
    socklen_t len = sizeof current;
    if (getsockopt(fd, SOL_SOCKET, option, &current, &len) != 0)
        return errno;
    if (current < wanted)
        setsockopt(fd, SOL_SOCKET, option, &wanted, sizeof wanted);
    return 0;
}

// 0 when the socket's pending connect succeeded, else its error.
int socketError(int fd) noexcept
{
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        return errno != 0 ? errno : int(kConnectionErrorGeneric);
    return err;
}

// Waits for one pending non-blocking connect; 0 connected, the error
// otherwise (kConnectionErrorTimedOut when the budget ran out).
int awaitConnect(int fd, const Budget& budget) noexcept
{
    for (;;) {
        pollfd p = {fd, POLLIN | POLLPRI | POLLOUT, 0};
        int n = poll(&p, 1, budget.left());
        if (n > 0)
            return socketError(fd);
        if (n == 0)
            return kConnectionErrorTimedOut;
        if (errno == EAGAIN || errno == EINTR) {
            if (budget.spent())
                return kConnectionErrorTimedOut;
            continue;
        }
        if (errno == ETIME || errno == ETIMEDOUT)
            return kConnectionErrorTimedOut;
        return errno;
    }
}

// The pending sockets of the parallel connect, at most
// kConnectionParallelSockets at a time.
struct Pending {
    pollfd entries[kConnectionParallelSockets];
    const addrinfo* addresses[kConnectionParallelSockets];
    size_t count = 0;

    void closeAllBut(int keep) noexcept
    {
        for (size_t i = 0; i < count; ++i) {
            if (entries[i].fd != keep)
                ::close(entries[i].fd);
        }
        count = 0;
    }
    void add(int fd, const addrinfo* ai) noexcept
    {
        entries[count] = {fd, 0, 0};
        addresses[count++] = ai;
    }
    void remove(size_t i) noexcept
    {
        ::close(entries[i].fd);
        entries[i] = entries[count - 1];
        addresses[i] = addresses[count - 1];
        --count;
    }
};

// Polls the pending set until one connects (its index), all failed (-1,
// *lastError the last failure) or the budget is spent (-2). A socket that
// becomes writable with an error is dropped, not taken.
int runParallelRound(Pending& pending, const Budget& budget, int* lastError) noexcept
{
    while (pending.count > 0) {
        for (size_t i = 0; i < pending.count; ++i) {
            pending.entries[i].events = POLLIN | POLLPRI | POLLOUT;
            pending.entries[i].revents = 0;
        }
        int n = poll(pending.entries, pending.count, budget.left());
        if (n == 0)
            return -2;
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                if (budget.spent())
                    return -2;
                continue;
            }
            if (errno == ETIME || errno == ETIMEDOUT)
                return -2;
            *lastError = errno;
            return -3;
        }
        for (size_t i = 0; i < pending.count;) {
            if (pending.entries[i].revents == 0) {
                ++i;
                continue;
            }
            int err = socketError(pending.entries[i].fd);
            if (err == 0 && (pending.entries[i].revents & POLLOUT))
                return int(i);
            *lastError = err != 0 ? err : int(kConnectionErrorGeneric);
            pending.remove(i);
        }
    }
    return -1;
}

// Binds a fresh socket to the wildcard address of its family; false for
// families other than IPv4 and IPv6 or a failing bind.
bool bindWildcard(int fd, int family, uint32_t scopeId) noexcept
{
    if (family == AF_INET) {
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        return bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    if (family == AF_INET6) {
        sockaddr_in6 a = {};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_any;
        a.sin6_scope_id = scopeId;
        return bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    return false;
}

void setPort(addrinfo* ai, uint16_t port, uint32_t scopeId) noexcept
{
    if (ai->ai_family == AF_INET) {
        reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_port = htons(port);
    } else if (ai->ai_family == AF_INET6) {
        auto* a6 = reinterpret_cast<sockaddr_in6*>(ai->ai_addr);
        a6->sin6_port = htons(port);
        if (scopeId != 0)
            a6->sin6_scope_id = scopeId;
    }
}

void openSucceeded(ConnectionRecord* record, int fd, const addrinfo* ai) noexcept
{
    record->socket = fd;
    record->pollEntry = {fd, POLLIN, 0};
    memset(&record->peer, 0, sizeof record->peer);
    if (ai != nullptr && ai->ai_addrlen <= sizeof record->peer)
        memcpy(&record->peer, ai->ai_addr, ai->ai_addrlen);
}

// Why an open failed: the failing call's name and the code.
struct OpenFailure {
    const char* call = "";
    int code = 0;
    const char* reason = nullptr;  // the resolver's text, when it gave one
};

// Resolves name (a copy of host that this cuts at a scope "%"); 0 with
// *list, or 1 with why. A scoped name is first resolved whole; when that
// fails and the bare address resolves, scoped names are resolved bare from
// then on and the scope becomes the interface index.
int resolveHost(ResolverTable* resolver, const char* host, char* name, uint32_t* scopeId, addrinfo** list,
                OpenFailure& why) noexcept
{
    const char* scope = nullptr;
    if (char* percent = strchr(name, '%'); percent != nullptr) {
        *percent = 0;
        scope = percent + 1;
        if (name[0] == 0 || *scope == 0) {
            why = {host, kConnectionErrorGeneric};
            return 1;
        }
    }
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (scope != nullptr && resolver->scopeAttached.load() == 1) {
        int rc = resolver->getaddrinfo(host, nullptr, &hints, list);
        if (rc == 0) {
            resolver->scopeSettled = 1;
        } else if (resolver->scopeSettled.load()) {
            why = {resolver->gai_strerror(rc), kConnectionErrorGeneric};
            return 1;
        } else {
            if (resolver->getaddrinfo(name, nullptr, &hints, list) != 0) {
                why = {resolver->gai_strerror(rc), kConnectionErrorGeneric};
                return 1;
            }
            resolver->scopeAttached = 0;
            resolver->scopeSettled = 1;
        }
    } else if (int rc = resolver->getaddrinfo(name, nullptr, &hints, list); rc != 0) {
        why = {"getaddrinfo", kConnectionErrorGeneric, resolver->gai_strerror(rc)};
        return 1;
    }
    if (scope != nullptr && resolver->scopeAttached.load() == 0 && resolver->if_nametoindex != nullptr)
        *scopeId = resolver->if_nametoindex(scope);
    if (*list == nullptr) {
        why = {"empty addr list from getaddrinfo", kConnectionErrorGeneric};
        return 1;
    }
    return 0;
}

// A socket for the address with the record's options, bound to the
// wildcard address: the descriptor, -1 to go on with the next address, or
// -2 when the open must end (why says why).
int openSocket(const ConnectionRecord* record, const addrinfo* ai, uint32_t scopeId, bool blocking,
               OpenFailure& why) noexcept
{
    int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0)
        return -1;
    if (!blocking && setBlocking(fd, false) != 0) {
        ::close(fd);
        why = {"fcntl", kConnectionErrorGeneric};
        return -2;
    }
    applyOptions(record, fd);
    int err = raiseBuffer(fd, SO_RCVBUF, record->receiveBufferSize);
    if (err == 0)
        err = raiseBuffer(fd, SO_SNDBUF, record->sendBufferSize);
    if (err != 0) {
        ::close(fd);
        why = {"getsockopt", err};
        return -2;
    }
    if (!bindWildcard(fd, ai->ai_family, scopeId)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Runs one parallel round: the connected socket in blocking mode, -1 when
// every socket of the round failed (more addresses may follow), -2 when the
// open must end (why says why).
int settleRound(Pending& pending, const Budget& budget, const addrinfo** winner, OpenFailure& why) noexcept
{
    int won = runParallelRound(pending, budget, &why.code);
    if (won >= 0) {
        int fd = pending.entries[won].fd;
        *winner = pending.addresses[won];
        pending.closeAllBut(fd);
        if (setBlocking(fd, true) != 0) {
            ::close(fd);
            why = {"parallelfcntl", kConnectionErrorGeneric};
            return -2;
        }
        return fd;
    }
    if (won == -2) {
        why = {"", kConnectionErrorTimedOut};
        return -2;
    }
    if (won == -3) {
        why = {"parallelconnect", kConnectionErrorGeneric};
        return -2;
    }
    return -1;
}

// Connects to the first address that answers, one after the other or up to
// kConnectionParallelSockets at a time: the connected socket in blocking
// mode and *winner, or -1 with why.
int connectAny(const ConnectionRecord* record, addrinfo* list, uint16_t port, uint32_t scopeId, Budget& budget,
               bool parallel, bool blocking, const addrinfo** winner, OpenFailure& why) noexcept
{
    why = {"connect", kConnectionErrorGeneric};
    Pending pending;
    budget.begin();
    for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (budget.spent()) {
            pending.closeAllBut(-1);
            why = {"", kConnectionErrorTimedOut};
            return -1;
        }
        int fd = openSocket(record, ai, scopeId, blocking, why);
        if (fd == -2) {
            pending.closeAllBut(-1);
            return -1;
        }
        if (fd == -1)
            continue;
        setPort(ai, port, scopeId);
        if (connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) {
            pending.closeAllBut(-1);
            if (!blocking && setBlocking(fd, true) != 0) {
                ::close(fd);
                why = {"fcntl", kConnectionErrorGeneric};
                return -1;
            }
            *winner = ai;
            return fd;
        }
        int err = errno;
        if (blocking || err != EINPROGRESS) {
            why.code = err;
            ::close(fd);
            continue;
        }
        if (parallel) {
            pending.add(fd, ai);
            if (pending.count < kConnectionParallelSockets && ai->ai_next != nullptr)
                continue;
            int settled = settleRound(pending, budget, winner, why);
            if (settled == -1)
                continue;  // every socket of this round failed: the next addresses
            return settled >= 0 ? settled : -1;
        }
        err = awaitConnect(fd, budget);
        if (err != 0) {
            ::close(fd);
            if (err == kConnectionErrorTimedOut) {
                why = {"", kConnectionErrorTimedOut};
                return -1;
            }
            why.code = err;
            continue;
        }
        if (setBlocking(fd, true) != 0) {
            ::close(fd);
            why = {"fcntl", kConnectionErrorGeneric};
            return -1;
        }
        *winner = ai;
        return fd;
    }
    // The last addresses failed at once or got no socket: the sockets still
    // pending get their round.
    if (pending.count > 0) {
        int settled = settleRound(pending, budget, winner, why);
        if (settled >= 0)
            return settled;
    }
    return -1;
}

}  // namespace

int loadResolver() noexcept
{
    // A function-local static is initialised once even when two threads
    // make their first connect at the same moment.
    static const int answer = [] {
        gResolver.getaddrinfo = nullptr;
        gResolver.scopeAttached = 1;
        gResolver.scopeSettled = 0;
        void* self = dlopen(nullptr, RTLD_LAZY);
        if (self == nullptr)
            return 1;
        gResolver.getaddrinfo = reinterpret_cast<decltype(gResolver.getaddrinfo)>(dlsym(self, "getaddrinfo"));
        gResolver.freeaddrinfo = reinterpret_cast<decltype(gResolver.freeaddrinfo)>(dlsym(self, "freeaddrinfo"));
        gResolver.gai_strerror = reinterpret_cast<decltype(gResolver.gai_strerror)>(dlsym(self, "gai_strerror"));
        gResolver.getsockname = reinterpret_cast<decltype(gResolver.getsockname)>(dlsym(self, "getsockname"));
        gResolver.getnameinfo = reinterpret_cast<decltype(gResolver.getnameinfo)>(dlsym(self, "getnameinfo"));
        gResolver.if_nametoindex = reinterpret_cast<decltype(gResolver.if_nametoindex)>(dlsym(self, "if_nametoindex"));
        if (gResolver.getaddrinfo == nullptr || gResolver.freeaddrinfo == nullptr ||
            gResolver.gai_strerror == nullptr || gResolver.getsockname == nullptr || gResolver.getnameinfo == nullptr)
            return 1;
        return 0;
    }();
    return answer;
}

ResolverTable* resolverTable() noexcept
{
    return &gResolver;
}

void ConnectionSetError(ConnectionRecord* record, const char* function, const char* call, int code,
                        int errorClass) noexcept
{
    ConnectionError& e = record->lastError;
    e.code = uint16_t(code);
    e.errorClass = uint16_t(errorClass == -1 ? kConnectionErrorGeneric : errorClass);
    copyCut(e.function, sizeof e.function, function);
    copyCut(e.call, sizeof e.call, call);
    snprintf(e.text, sizeof e.text, "%s (%s()).", e.function, e.call);
}

const char* MapHostNameToAddress(ConnectionRecord* record, const char* host, in_addr_t* address,
                                 int* errorCode) noexcept
{
    hostent entry;
    hostent* found = nullptr;
    char room[kHostLookupRoom];
    int herr = 0;
    if (gethostbyname_r(host, &entry, room, sizeof room, &found, &herr) != 0 || found == nullptr) {
        *errorCode = herr != 0 ? herr : int(kConnectionErrorGeneric);
        ConnectionSetError(record, "MapHostNameToAddress", "gethostbyname_r", *errorCode, -1);
        return "gethostbyname_r";
    }
    if (found->h_addr_list == nullptr || found->h_addr_list[0] == nullptr ||
        found->h_length != int(sizeof(in_addr_t))) {
        *errorCode = kConnectionErrorGeneric;
        ConnectionSetError(record, "MapHostNameToAddress", "", *errorCode, -1);
        return "";
    }
    memcpy(address, found->h_addr_list[0], sizeof *address);
    return nullptr;
}

int ConnectionOpen(ConnectionRecord* record, const char* host, uint16_t port, int* errorCode,
                   int32_t timeoutMs) noexcept
{
    Budget budget(timeoutMs);
    budget.begin();
    const char* call = "";
    int code = 0;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    // A budget bounds the connect even when a blocking connect is asked for.
    bool blocking = record->blockingConnect && !budget.limited();
    if (fd < 0) {
        call = "socket";
        code = errno;
    } else if (!blocking && setBlocking(fd, false) != 0) {
        call = "fcntl";
        code = kConnectionErrorGeneric;
    } else {
        applyOptions(record, fd);
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        sockaddr_in peer = {};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(port);
        peer.sin_addr.s_addr = inet_addr(host);
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            call = "bind";
            code = errno;
        } else if (peer.sin_addr.s_addr == INADDR_NONE &&
                   (call = MapHostNameToAddress(record, host, &peer.sin_addr.s_addr, &code)) != nullptr) {
            code = kConnectionErrorGeneric;
        } else {
            call = "";
            if (connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
                if (blocking || errno != EINPROGRESS) {
                    call = "connect";
                    code = errno;
                } else if ((code = awaitConnect(fd, budget)) != 0) {
                    call = "connect";
                }
            }
            if (code == 0 && !blocking && setBlocking(fd, true) != 0) {
                call = "fcntl";
                code = kConnectionErrorGeneric;
            }
            if (code == 0) {
                record->socket = fd;
                record->pollEntry = {fd, POLLIN, 0};
                memcpy(&record->peer, &peer, sizeof peer);
                record->port = port;
                *errorCode = 0;
                return 1;
            }
        }
    }
    closeSocket(fd);
    record->socket = -1;
    *errorCode = code;
    ConnectionSetError(record, "ConnectionOpen", call, code, -1);
    return 0;
}

int ConnectionOpenEx(ConnectionRecord* record, const char* host, uint16_t port, int* errorCode, ResolverTable* resolver,
                     int32_t timeoutMs, int parallel) noexcept
{
    record->socket = -1;
    record->port = port;
    *errorCode = 0;
    OpenFailure why;
    char name[kHostTextSize];
    if (host == nullptr || strlen(host) >= sizeof name) {
        why = {host != nullptr ? host : "", kConnectionErrorGeneric};
    } else {
        memcpy(name, host, strlen(host) + 1);
        addrinfo* list = nullptr;
        uint32_t scopeId = 0;
        if (resolveHost(resolver, host, name, &scopeId, &list, why) == 0) {
            Budget budget(timeoutMs);
            // A budget bounds the connect even when a blocking connect is
            // asked for.
            bool blocking = record->blockingConnect && !parallel && !budget.limited();
            const addrinfo* winner = nullptr;
            int fd = connectAny(record, list, port, scopeId, budget, parallel != 0, blocking, &winner, why);
            if (fd >= 0)
                openSucceeded(record, fd, winner);
            resolver->freeaddrinfo(list);
            if (fd >= 0)
                return 1;
        } else if (list != nullptr) {
            resolver->freeaddrinfo(list);
        }
    }
    if (why.code == 0)
        why.code = kConnectionErrorGeneric;
    *errorCode = why.code;
    ConnectionSetError(record, "ConnectionOpen", why.call, why.code, -1);
    if (why.reason != nullptr) {
        ConnectionError& e = record->lastError;
        snprintf(e.text, sizeof e.text, "%s (%s()): %s.", e.function, e.call, why.reason);
    }
    return 0;
}

int ConnectionClose(ConnectionRecord* record, int* errorCode) noexcept
{
    *errorCode = 0;
    int ok = 1;
    if (record->socket >= 0 && ::close(record->socket) != 0 && errno != EINTR) {
        *errorCode = errno;
        ConnectionSetError(record, "ConnectionClose", "close", errno, -1);
        ok = 0;
    }
    record->socket = -1;
    record->pollEntry.fd = -1;
    return ok;
}
