// TLS inside pre-login packets: the "sslss" BIO that wraps and unwraps the
// packets during the handshake.
#include "transport/kasslss.h"

#include <cstring>

#include "foundation/errpost.h"
#include "foundation/fast.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/callmapper.h"
#include "security/kaentrycall.h"

namespace {

// OpenSSL's type number of a socket BIO, and its flush command.
constexpr int kBioTypeSocket = 1285;
constexpr int kBioCtrlFlush = 11;

using BioWrite = int (*)(void*, const char*, int);
using BioRead = int (*)(void*, char*, int);
using BioCtrl = long (*)(void*, int, long, void*);

// The socket behind a BIO: the TLS socket registers its read-wait argument
// for the BIO before the handshake, and the argument leads to the record.
KaSSLSS* owner(void* bio) noexcept
{
    auto* wait = static_cast<KaSSLReadWait*>(KaCallMapperCb::findOwner(bio));
    if (wait == nullptr || wait->prelogin == nullptr)
        return nullptr;
    return static_cast<KaPreloginRecord*>(wait->prelogin)->transport;
}

}  // namespace

int sslssBioWrite(void* bio, const char* data, int length)
{
    KaSSLSS* s = owner(bio);
    return s != nullptr ? s->bioWrite(reinterpret_cast<const uint8_t*>(data), length) : -1;
}

int sslssBioRead(void* bio, char* buffer, int length)
{
    KaSSLSS* s = owner(bio);
    return s != nullptr ? s->bioRead(reinterpret_cast<uint8_t*>(buffer), length) : -1;
}

long sslssBioCtrl(void*, int command, long, void*)
{
    return command == kBioCtrlFlush ? 1 : 0;
}

KaSSLSS::KaSSLSS(const char* versions) noexcept : KaSSLSock(versions)
{
    kind = KA_SOCK_KIND_TLS_PRELOGIN;
    prelogin.transport = this;
    prelogin.link = &prelogin;
    readWait.prelogin = &prelogin;
}

KaSSLSS::~KaSSLSS()
{
    // The session may hold the BIO, which needs its method until freed.
    if (sslCreated && sslMapper != nullptr && ssl != nullptr) {
        sslMapper->freeSession(ssl);
        ssl = nullptr;
        readBio = nullptr;
        customBio = nullptr;
    }
    freePending();
    freeBio();
    release();
}

void KaSSLSS::freePending() noexcept
{
    if (prelogin.pending != nullptr) {
        fastMemzero(prelogin.pending, KA_PRELOGIN_PACKET);
        ramFree(prelogin.pending);
        prelogin.pending = nullptr;
    }
    prelogin.pendingLength = 0;
}

void KaSSLSS::freeBio() noexcept
{
    if (prelogin.bio != nullptr && cryptoMapper != nullptr)
        cryptoMapper->freeBio(prelogin.bio);
    if (customBio == prelogin.bio)
        customBio = nullptr;
    prelogin.bio = nullptr;
}

void KaSSLSS::release() noexcept
{
    // A BIO not yet handed to a session goes before its method.
    freeBio();
    if (prelogin.method != nullptr && cryptoMapper != nullptr)
        callVoid(cryptoMapper->slot(KA_CRYPTO_BIO_meth_free), prelogin.method);
    prelogin.method = nullptr;
    KaCryptoAPI::release();
}

int KaSSLSS::connect(uint16_t port, const uint16_t* hostW, const char* host, const uint16_t* service,
                     int32_t flags) noexcept
{
    // The host checked against the server's certificate, as the TLS
    // socket's own connect keeps it.
    if (rememberServerName(hostW, host) != 0)
        return KA_SOCK_FAILED;
    if (initSSL(0) != 0)
        return KA_SOCK_FAILED;
    freeBio();
    if (prelogin.method == nullptr) {
        // BIO methods of one's own come with the 1.1.1 call set.
        prelogin.method = call<void*>(cryptoMapper->slot(KA_CRYPTO_BIO_meth_new), nullptr, kBioTypeSocket, "sslss");
        if (prelogin.method == nullptr) {
            errPost(MSG_TLS_MAPPER_FAILED)->addParamText("Error creating the sslss BIO method.");
            return KA_SOCK_FAILED;
        }
        (void)call(cryptoMapper->slot(KA_CRYPTO_BIO_meth_set_write), 0, prelogin.method, BioWrite(&sslssBioWrite));
        (void)call(cryptoMapper->slot(KA_CRYPTO_BIO_meth_set_read), 0, prelogin.method, BioRead(&sslssBioRead));
        (void)call(cryptoMapper->slot(KA_CRYPTO_BIO_meth_set_ctrl), 0, prelogin.method, BioCtrl(&sslssBioCtrl));
    }
    prelogin.bio = call<void*>(cryptoMapper->slot(KA_CRYPTO_BIO_new), nullptr, prelogin.method);
    if (prelogin.bio == nullptr) {
        errPost(MSG_TLS_MAPPER_FAILED)->addParamText("Error creating the sslss BIO.");
        return KA_SOCK_FAILED;
    }
    callVoid(cryptoMapper->slot(KA_CRYPTO_BIO_set_init), prelogin.bio, 1);
    readWait.prelogin = &prelogin;
    customBio = prelogin.bio;
    prelogin.mode = KA_PRELOGIN_PLAIN;
    prelogin.remaining = 0;
    freePending();
    return KaTCPIP::connect(port, hostW, host, service, flags);
}

int KaSSLSS::rememberServerName(const uint16_t* hostW, const char* host) noexcept
{
    size_t n = 0;
    if (host != nullptr && host[0] != '\0') {
        n = strlen(host);
    } else if (hostW != nullptr) {
        while (hostW[n] != 0)
            ++n;
    }
    if (n == 0)
        return 0;
    RamPtr<char> name = ramMake<char>(n + 1);
    if (!name)
        return 1;
    for (size_t i = 0; i < n; ++i) {
        uint16_t unit = host != nullptr && host[0] != '\0' ? uint8_t(host[i]) : hostW[i];
        // Host names are ASCII; anything else cannot name a host.
        if (unit == 0 || unit > 0x7F)
            return 1;
        name.get()[i] = char(unit);
    }
    name.get()[n] = '\0';
    ramFree(serverName);
    serverName = name.release();
    return 0;
}

int KaSSLSS::startPreloginHandshake() noexcept
{
    if (prelogin.bio == nullptr || record == nullptr)
        return -1;
    prelogin.mode = KA_PRELOGIN_WRAPPED;
    prelogin.remaining = 0;
    prelogin.changeCipherSpec = 0;
    int rc = handshake();
    // A session made by the handshake owns the BIO from now on.
    if (ssl != nullptr) {
        prelogin.bio = nullptr;
        customBio = nullptr;
    }
    // Records held at the end of the handshake still belong to it.
    if (rc == 0 && prelogin.pending != nullptr && sendPending(0) != 0)
        rc = -1;
    freePending();
    if (rc != 0)
        return -1;
    prelogin.mode = KA_PRELOGIN_DONE;
    return 0;
}

void KaSSLSS::shutdown() noexcept
{
    shutdownSSL();
    freeBio();
}

int KaSSLSS::send(const void* data, size_t length, int32_t outOfBand) noexcept
{
    return prelogin.mode == KA_PRELOGIN_PLAIN ? KaTCPIP::send(data, length, outOfBand)
                                              : KaSSLSock::send(data, length, outOfBand);
}

int KaSSLSS::recv(void* buffer, size_t size, size_t* received, int32_t wait) noexcept
{
    return prelogin.mode == KA_PRELOGIN_PLAIN ? KaTCPIP::recv(buffer, size, received, wait)
                                              : KaSSLSock::recv(buffer, size, received, wait);
}

int KaSSLSS::startPacket() noexcept
{
    prelogin.pending = static_cast<uint8_t*>(ramAlloc(KA_PRELOGIN_PACKET));
    if (prelogin.pending == nullptr)
        return -1;
    memset(prelogin.pending, 0, KA_PRELOGIN_HEADER);
    prelogin.pending[0] = KA_PRELOGIN_TYPE;
    prelogin.pending[1] = KA_PRELOGIN_END_OF_MESSAGE;
    prelogin.pendingLength = KA_PRELOGIN_HEADER;
    return 0;
}

int KaSSLSS::sendPending(uint32_t following) noexcept
{
    uint32_t total = prelogin.pendingLength + following;
    prelogin.pending[2] = uint8_t(total >> 8);
    prelogin.pending[3] = uint8_t(total);
    int rc = KaTCPIP::send(prelogin.pending, prelogin.pendingLength, 0);
    freePending();
    return rc == KA_SOCK_OK ? 0 : -1;
}

int KaSSLSS::bioWrite(const uint8_t* data, int length) noexcept
{
    if (length <= 0)
        return 0;
    auto n = uint32_t(length);
    if (prelogin.mode != KA_PRELOGIN_WRAPPED)
        return KaTCPIP::send(data, n, 0) == KA_SOCK_OK ? length : -1;
    if (KA_PRELOGIN_HEADER + n > uint32_t(KA_PRELOGIN_MAX_PACKET)) {
        errPost(MSG_PRELOGIN_RECORD_TOO_LONG)->addParamUnsigned(n)->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
        return -1;
    }
    uint8_t type = data[0];
    bool ends = type == KA_TLS_ALERT || type == KA_TLS_HANDSHAKE || type == KA_TLS_APPLICATION_DATA ||
                type == KA_TLS_SSLV2_RECORD;
    // A record that does not fit behind the held ones sends them ahead
    // in a packet of their own: no packet outgrows its buffer or its
    // length field.
    uint32_t limit = ends ? uint32_t(KA_PRELOGIN_MAX_PACKET) : uint32_t(KA_PRELOGIN_PACKET);
    if (prelogin.pending != nullptr && prelogin.pendingLength + n > limit && sendPending(0) != 0)
        return -1;
    if (ends || KA_PRELOGIN_HEADER + n > KA_PRELOGIN_PACKET) {
        // The packet ends with this record, sent from the caller's bytes.
        if (prelogin.pending == nullptr && startPacket() != 0)
            return -1;
        if (sendPending(n) != 0)
            return -1;
        return KaTCPIP::send(data, n, 0) == KA_SOCK_OK ? length : -1;
    }
    if (prelogin.pending == nullptr && startPacket() != 0)
        return -1;
    memcpy(prelogin.pending + prelogin.pendingLength, data, n);
    prelogin.pendingLength += n;
    prelogin.pending[2] = uint8_t(prelogin.pendingLength >> 8);
    prelogin.pending[3] = uint8_t(prelogin.pendingLength);
    if (type == KA_TLS_CHANGE_CIPHER_SPEC)
        prelogin.changeCipherSpec = 1;
    return length;
}

int KaSSLSS::readHeader() noexcept
{
    uint8_t header[KA_PRELOGIN_HEADER];
    size_t got = 0;
    while (got < sizeof header) {
        size_t n = 0;
        int rc = KaTCPIP::recv(header + got, sizeof header - got, &n, 0);
        if (rc != KA_SOCK_OK)
            return rc;
        got += n;
    }
    uint32_t total = uint32_t(header[2]) << 8 | header[3];
    // The payload is what the header announces; a length that cannot hold
    // the header itself, or more than any packet, is no packet.
    if (total < KA_PRELOGIN_HEADER || total > KA_PRELOGIN_MAX_PACKET) {
        if (postErrors)
            errPost(MSG_PRELOGIN_PACKET_INVALID)
                ->addParamUnsigned(total)
                ->addParamUnsigned(KA_PRELOGIN_MAX_PACKET)
                ->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
        return KA_SOCK_FAILED;
    }
    prelogin.remaining = total - uint32_t(KA_PRELOGIN_HEADER);
    return KA_SOCK_OK;
}

int KaSSLSS::bioRead(uint8_t* buffer, int length) noexcept
{
    if (length <= 0)
        return 0;
    auto n = size_t(length);
    if (prelogin.mode == KA_PRELOGIN_WRAPPED) {
        // Empty packets carry nothing to deliver: the next one is read.
        while (prelogin.remaining == 0) {
            int rc = readHeader();
            if (rc != KA_SOCK_OK)
                return rc;
        }
        if (n > prelogin.remaining)
            n = prelogin.remaining;
    }
    size_t got = 0;
    int rc = KaTCPIP::recv(buffer, n, &got, 0);
    if (rc != KA_SOCK_OK)
        return rc;
    if (prelogin.mode == KA_PRELOGIN_WRAPPED)
        prelogin.remaining -= uint32_t(got);
    return int(got);
}
