// KaSSLSS: TLS for servers that take the handshake inside pre-login packets
// (an 8-byte header of type 0x12 before each packet's records) and the
// records bare after it. A TLS socket whose SSL object reads and writes
// through the "sslss" BIO of this file instead of the socket. Nothing in
// the driver makes one yet:
//     KaSSLSS s(versions);  configure as a KaSSLSock, then
//     s.connect(...) (TCP only) ... s.startPreloginHandshake() ... s.send/recv
#pragma once
#include <cstddef>
#include <cstdint>

#include "transport/katlssock.h"

// The pre-login packet: its header; the buffer of held records, which no
// packet of held records outgrows; the largest packet the protocol allows,
// sent or taken.
constexpr size_t KA_PRELOGIN_HEADER = 8;
constexpr size_t KA_PRELOGIN_PACKET = 8192;
constexpr size_t KA_PRELOGIN_MAX_PACKET = 32767;
constexpr uint8_t KA_PRELOGIN_TYPE = 0x12;
constexpr uint8_t KA_PRELOGIN_END_OF_MESSAGE = 0x01;

// Handshake modes.
enum : int32_t {
    KA_PRELOGIN_PLAIN = 0,    // plain TCP
    KA_PRELOGIN_WRAPPED = 1,  // handshake records travel in packets
    KA_PRELOGIN_DONE = 2,     // records travel bare
};

// TLS record content types that end an outgoing packet; the others
// (ChangeCipherSpec above all) are held for the record that follows.
constexpr uint8_t KA_TLS_CHANGE_CIPHER_SPEC = 20;
constexpr uint8_t KA_TLS_ALERT = 21;
constexpr uint8_t KA_TLS_HANDSHAKE = 22;
constexpr uint8_t KA_TLS_APPLICATION_DATA = 23;
constexpr uint8_t KA_TLS_SSLV2_RECORD = 0x80;

class KaSSLSS;

struct KaPreloginRecord {
    void* bio = nullptr;  // owned until a session takes it
    KaSSLSS* transport = nullptr;
    int32_t mode = KA_PRELOGIN_PLAIN;
    int32_t changeCipherSpec = 0;
    uint32_t remaining = 0;      // payload of the incoming packet not yet delivered
    uint32_t pendingLength = 0;  // header included
    uint8_t* pending = nullptr;  // KA_PRELOGIN_PACKET bytes while a packet is assembled
    void* method = nullptr;      // the "sslss" BIO method
    KaPreloginRecord* link = nullptr;
};

class KaSSLSS : public KaSSLSock {
public:
    explicit KaSSLSS(const char* versions) noexcept;
    ~KaSSLSS() override;

    // Loads the libraries, makes the BIO, opens TCP; no handshake.
    // KA_SOCK_OK, the TCP result, or KA_SOCK_FAILED when TLS cannot be set up.
    [[nodiscard]] int connect(uint16_t port, const uint16_t* hostW, const char* host, const uint16_t* service,
                              int32_t flags) noexcept override;
    [[nodiscard]] int send(const void* data, size_t length, int32_t outOfBand) noexcept override;
    [[nodiscard]] int recv(void* buffer, size_t size, size_t* received, int32_t wait) noexcept override;
    // Frees the BIO method, then the crypto mapper.
    void release() noexcept override;

    // The handshake in pre-login packets; 0, or -1 with the diagnostics.
    [[nodiscard]] int startPreloginHandshake() noexcept;
    void shutdown() noexcept;

    // What the BIO does with one write or read of the SSL object: the
    // count, or a negative transport result.
    [[nodiscard]] int bioWrite(const uint8_t* data, int length) noexcept;
    [[nodiscard]] int bioRead(uint8_t* buffer, int length) noexcept;

    KaPreloginRecord prelogin;

private:
    void freeBio() noexcept;
    void freePending() noexcept;
    [[nodiscard]] int startPacket() noexcept;
    // Sends the header and what the packet holds, announcing extra bytes
    // that follow it; 0 or -1.
    [[nodiscard]] int sendPending(uint32_t following) noexcept;
    [[nodiscard]] int readHeader() noexcept;
    [[nodiscard]] int rememberServerName(const uint16_t* hostW, const char* host) noexcept;
};

// The BIO method's entries.
int sslssBioWrite(void* bio, const char* data, int length);
int sslssBioRead(void* bio, char* buffer, int length);
long sslssBioCtrl(void* bio, int command, long number, void* pointer);
