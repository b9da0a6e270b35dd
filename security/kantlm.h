// The NTLM client mechanism behind the security-services interface: the
// NTLMSSP negotiate message, the check of the server's challenge and the
// authenticate message with NTLMv1 (extended session security) or NTLMv2
// responses. MD4, MD5 and HMAC-MD5 come from the run-time-loaded crypto
// library, DES runs in software; the user name and password stay encrypted.
// No login of the driver uses it yet; its tests and a fuzz target drive it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "security/kacipher.h"
#include "security/kacipherapi.h"
#include "security/kagss.h"
#include "security/kamembuf.h"

class KaStringW;

// Negotiate flags the mechanism sets or checks.
constexpr uint32_t KA_NTLM_NEGOTIATE_56 = 0x80000000u;
constexpr uint32_t KA_NTLM_NEGOTIATE_KEY_EXCH = 0x40000000u;
constexpr uint32_t KA_NTLM_NEGOTIATE_128 = 0x20000000u;
constexpr uint32_t KA_NTLM_NEGOTIATE_TARGET_INFO = 0x00800000u;
constexpr uint32_t KA_NTLM_REQUEST_NON_NT_SESSION_KEY = 0x00400000u;
constexpr uint32_t KA_NTLM_NEGOTIATE_IDENTIFY = 0x00100000u;
constexpr uint32_t KA_NTLM_NEGOTIATE_EXTENDED_SESSIONSECURITY = 0x00080000u;
constexpr uint32_t KA_NTLM_NEGOTIATE_WORKSTATION_SUPPLIED = 0x00002000u;
constexpr uint32_t KA_NTLM_NEGOTIATE_ANONYMOUS = 0x00000800u;
constexpr uint32_t KA_NTLM_NEGOTIATE_NTLM = 0x00000200u;
constexpr uint32_t KA_NTLM_NEGOTIATE_LM_KEY = 0x00000080u;

// Flags of the negotiate message, and of the authenticate message with and
// without the server's 56-bit flag.
constexpr uint32_t KA_NTLM_NEGOTIATE_FLAGS = 0xE208B2B7u;
constexpr uint32_t KA_NTLM_AUTHENTICATE_FLAGS_56 = 0xE2888235u;
constexpr uint32_t KA_NTLM_AUTHENTICATE_FLAGS = 0x62888235u;

constexpr uint32_t KA_NTLM_TYPE_NEGOTIATE = 1;
constexpr uint32_t KA_NTLM_TYPE_CHALLENGE = 2;
constexpr uint32_t KA_NTLM_TYPE_AUTHENTICATE = 3;
// The version the messages carry: 5.1, build 2600, revision 15.
constexpr uint8_t KA_NTLM_VERSION_MAJOR = 5;
constexpr uint8_t KA_NTLM_VERSION_MINOR = 1;
constexpr uint16_t KA_NTLM_VERSION_BUILD = 2600;
constexpr uint8_t KA_NTLM_REVISION = 15;

constexpr size_t KA_NTLM_SIGNATURE_SIZE = 8;
constexpr size_t KA_NTLM_CHALLENGE_SIZE = 8;  // server and client challenges
constexpr size_t KA_NTLM_HASH_SIZE = 16;      // MD4, MD5 and HMAC-MD5 outputs
constexpr size_t KA_NTLM_RANDOM_KEY_SIZE = KA_MEMBUF_KEY_SIZE;
constexpr size_t KA_NTLM_V1_RESPONSE_SIZE = 24;
// Fixed parts: the negotiate and authenticate headers, the challenge up to
// its revision byte, and the NTLMv2 blob and response around the target
// information.
constexpr uint32_t KA_NTLM_NEGOTIATE_HEADER = 40;
constexpr uint32_t KA_NTLM_CHALLENGE_HEADER = 56;
constexpr uint32_t KA_NTLM_AUTHENTICATE_HEADER = 72;
constexpr uint32_t KA_NTLM_BLOB_FIXED = 32;
constexpr uint32_t KA_NTLM_V2_RESPONSE_FIXED = KA_NTLM_HASH_SIZE + KA_NTLM_BLOB_FIXED;
// A message field's length is 16 bits.
constexpr uint32_t KA_NTLM_FIELD_MAX = 0xFFFF;
// First capacity of a buffer being written, and what the builders ask for.
constexpr uint32_t KA_NTLM_MIN_CAPACITY = 128;
constexpr uint32_t KA_NTLM_BUILD_CAPACITY = 32768;
// A length meaning a NUL-terminated text.
constexpr int16_t KA_NTLM_NTS = -3;

// Target-information item ids.
enum : uint16_t {
    KA_NTLM_AV_EOL = 0,
    KA_NTLM_AV_NB_COMPUTER = 1,
    KA_NTLM_AV_NB_DOMAIN = 2,
    KA_NTLM_AV_DNS_COMPUTER = 3,
    KA_NTLM_AV_DNS_DOMAIN = 4,
    KA_NTLM_AV_DNS_TREE = 5,
    KA_NTLM_AV_FLAGS = 6,
    KA_NTLM_AV_TIMESTAMP = 7,
    KA_NTLM_AV_SINGLE_HOST = 8,
    KA_NTLM_AV_TARGET_NAME = 9,
    KA_NTLM_AV_CHANNEL_BINDINGS = 10,
};
// The texts among them, ids 1 to 5, kept in this order.
constexpr size_t KA_NTLM_AV_TEXTS = 5;

// Where the mechanism draws its random bytes (the key of the encrypted user
// name and password, the client challenge): the kernel's generator, or a
// fixed source a test puts in its place. 0, or non-zero when it failed.
using KaNTLMRandomSource = int (*)(void* out, size_t n) noexcept;

// An owned UTF-16 text and its length in units; wiped when freed.
struct KaNTLMText {
    uint16_t* data = nullptr;
    int32_t length = 0;

    KaNTLMText() noexcept = default;
    ~KaNTLMText() { clear(); }
    KaNTLMText(const KaNTLMText&) = delete;
    KaNTLMText& operator=(const KaNTLMText&) = delete;

    void clear() noexcept;
    // A copy of n units (none for a null text); 0, or 1 out of memory.
    [[nodiscard]] int set(const uint16_t* text, size_t n) noexcept;
    // From little-endian bytes (n / 2 units).
    [[nodiscard]] int setFromBytes(const uint8_t* bytes, size_t n) noexcept;
    // Upper-cased copy; unchanged when the case mapping fails.
    [[nodiscard]] int setUpper(const uint16_t* text, size_t n) noexcept;
    uint32_t bytes() const noexcept { return uint32_t(length) * 2; }
};

// The byte buffer of every message: written with growing capacity, or read
// from the caller's bytes with every read checked against their length.
class KaNTLMBuffer {
public:
    uint8_t* bytes = nullptr;
    uint32_t capacity = 0;  // writing: room; reading: the message length
    uint32_t used = 0;      // writing: bytes written; reading: readable bytes
    uint32_t position = 0;
    int32_t owned = 0;

    KaNTLMBuffer() noexcept = default;
    ~KaNTLMBuffer() { release(); }
    KaNTLMBuffer(const KaNTLMBuffer&) = delete;
    KaNTLMBuffer& operator=(const KaNTLMBuffer&) = delete;

    // Wipes and frees owned bytes; a read view is only forgotten.
    void release() noexcept;

    // Each returns 0, or 1 with out of memory posted.
    [[nodiscard]] int startWriting(uint32_t room) noexcept;
    [[nodiscard]] int put(const void* data, size_t n) noexcept;
    [[nodiscard]] int put8(uint8_t value) noexcept { return put(&value, 1); }
    [[nodiscard]] int put16(uint16_t value) noexcept;
    [[nodiscard]] int put32(uint32_t value) noexcept;
    // n units as UTF-16LE.
    [[nodiscard]] int putUnits(const uint16_t* text, size_t n) noexcept;
    // A field descriptor: length, length again, offset.
    [[nodiscard]] int putField(uint32_t length, uint32_t offset) noexcept;

    void startReading(const uint8_t* data, uint32_t length) noexcept;
    // Each returns 0, or 1 with 2813 posted when the message ends first.
    [[nodiscard]] int get(void* out, size_t n) noexcept;
    [[nodiscard]] int get8(uint8_t* value) noexcept { return get(value, 1); }
    [[nodiscard]] int get16(uint16_t* value) noexcept;
    [[nodiscard]] int get32(uint32_t* value) noexcept;
    [[nodiscard]] int skip(size_t n) noexcept;
    [[nodiscard]] int seek(uint32_t to) noexcept;
};

class KaNTLMNegotiate {
public:
    KaNTLMBuffer buffer;
    uint32_t messageType = KA_NTLM_TYPE_NEGOTIATE;
    uint32_t flags = KA_NTLM_NEGOTIATE_FLAGS;
    KaNTLMText workstation;  // upper-cased
    KaNTLMText domain;       // upper-cased
    uint32_t domainOffset = KA_NTLM_NEGOTIATE_HEADER;

    // 0, or 1 with the diagnostic posted.
    [[nodiscard]] int build() noexcept;
};

class KaNTLMChallenge {
public:
    KaNTLMBuffer buffer;  // a view of the caller's message during the parse
    uint8_t versionMajor = 0;
    uint8_t versionMinor = 0;
    uint16_t versionBuild = 0;
    uint8_t revision = 0;
    uint8_t signature[KA_NTLM_SIGNATURE_SIZE] = {};
    uint32_t messageType = 0;
    KaNTLMText targetName;
    uint32_t flags = 0;
    uint8_t serverChallenge[KA_NTLM_CHALLENGE_SIZE] = {};
    KaNTLMText infoTexts[KA_NTLM_AV_TEXTS];  // ids 1 to 5
    uint32_t infoFlags = 0;
    KaNTLMText infoTargetName;
    uint32_t timestamp[2] = {};
    uint8_t* channelBindings = nullptr;
    uint32_t channelBindingsLength = 0;
    uint8_t* targetInfo = nullptr;  // the raw items, as the NTLMv2 blob carries them
    uint32_t targetInfoBytes = 0;
    uint16_t targetNameLength = 0;
    uint32_t targetNameOffset = 0;
    uint16_t targetInfoLength = 0;
    uint32_t targetInfoOffset = 0;

    KaNTLMChallenge() noexcept = default;
    ~KaNTLMChallenge() { clear(); }
    KaNTLMChallenge(const KaNTLMChallenge&) = delete;
    KaNTLMChallenge& operator=(const KaNTLMChallenge&) = delete;

    void clear() noexcept;
    // Reads a challenge message; every length and offset is checked against
    // the message before use. 0, or 1 with the diagnostic posted. The
    // caller's bytes are not kept.
    [[nodiscard]] int parse(const uint8_t* message, size_t length) noexcept;
    // 0, or 1 with the diagnostic posted when the server's flags ask for
    // something the mechanism refuses.
    [[nodiscard]] int checkFlags(uint32_t* authenticateFlags) const noexcept;

private:
    [[nodiscard]] int parseMessage(const uint8_t* message, size_t length) noexcept;
    [[nodiscard]] int parseTargetInfo(const uint8_t* items, uint32_t length) noexcept;
};

class KaNTLMAuthenticate {
public:
    KaNTLMBuffer buffer;
    uint32_t messageType = KA_NTLM_TYPE_AUTHENTICATE;
    // Serves only as the crypto library's context: MD4, MD5, HMAC.
    KaCipherAPI library;
    DESwCBCEncryptor des;
    KaCipherCallMapper* mapper = nullptr;        // borrowed from library
    const KaNTLMChallenge* challenge = nullptr;  // borrowed
    KaMemoryBuffer* userName = nullptr;          // encrypted under randomKey
    KaMemoryBuffer* password = nullptr;
    KaNTLMText domain;  // as given
    KaNTLMText workstation;
    uint32_t domainOffset = 0;
    uint32_t userOffset = 0;
    uint32_t workstationOffset = 0;
    uint8_t* lmResponse = nullptr;
    uint16_t lmLength = 0;
    uint32_t lmOffset = 0;
    uint8_t* ntResponse = nullptr;
    uint16_t ntLength = 0;
    uint32_t ntOffset = 0;
    uint8_t sessionKey[KA_NTLM_HASH_SIZE] = {};
    uint32_t sessionKeyOffset = 0;
    uint32_t flags = 0;
    uint8_t randomKey[KA_NTLM_RANDOM_KEY_SIZE] = {};
    int32_t useNTLMv1 = 1;
    int32_t sendWorkstation = 1;

    explicit KaNTLMAuthenticate(const char* allowedVersions) noexcept : library(allowedVersions) {}
    ~KaNTLMAuthenticate();
    KaNTLMAuthenticate(const KaNTLMAuthenticate&) = delete;
    KaNTLMAuthenticate& operator=(const KaNTLMAuthenticate&) = delete;

    void freeResponses() noexcept;
    // The responses and session key of the challenge under the client
    // challenge given; 0, or 1 with the diagnostic posted.
    [[nodiscard]] int computeResponses(const uint8_t* clientChallenge) noexcept;
    [[nodiscard]] int build() noexcept;

    // MD4 of the password's UTF-16LE bytes.
    [[nodiscard]] int ntHash(uint8_t* out) noexcept;

private:
    [[nodiscard]] int hmacMd5(const uint8_t* key, const uint8_t* first, size_t firstLength, const uint8_t* second,
                              size_t secondLength, uint8_t* out) noexcept;
    [[nodiscard]] int responsesV1(const uint8_t* hash, const uint8_t* clientChallenge) noexcept;
    [[nodiscard]] int responsesV2(const uint8_t* hash, const uint8_t* clientChallenge) noexcept;
};

class KaNTLMDomain : public KaSecurityServices {
public:
    KaNTLMAuthenticate authenticate;
    KaNTLMNegotiate negotiate;
    KaNTLMChallenge challenge;
    KaNTLMRandomSource randomSource;

    // versions: the allowed OpenSSL versions, borrowed (null: the default list).
    explicit KaNTLMDomain(const char* allowedVersions = nullptr) noexcept;
    ~KaNTLMDomain() override;
    KaNTLMDomain(const KaNTLMDomain&) = delete;
    KaNTLMDomain& operator=(const KaNTLMDomain&) = delete;

    // NTLM names no target: both forms do nothing.
    [[nodiscard]] int importTargetName(const uint16_t* name) noexcept override;
    [[nodiscard]] int importTargetNameA(const char* name) noexcept override;
    // No input: the negotiate message. The challenge as input: the
    // authenticate message. A message longer than the capacity is refused
    // whole; a failed step copies nothing. 0, or 1 with the diagnostic.
    [[nodiscard]] int initContextStep(const void* input, size_t inputLength, void* output, size_t outputCapacity,
                                      size_t* outputLength, int32_t* continueNeeded) noexcept override;
    // NTLM brings no security layer of its own: the reply is empty.
    [[nodiscard]] int negotiateSecurityLayer(const void* serverToken, size_t serverTokenLength, void* reply,
                                             size_t replyCapacity, size_t* replyLength) noexcept override;

    // Domain and workstation lengths in units, KA_NTLM_NTS for
    // NUL-terminated texts; libraryPath null or empty for the default
    // library. 0, or 1 with the diagnostic posted.
    [[nodiscard]] int initialize(const uint16_t* user, size_t userLength, const uint16_t* password,
                                 size_t passwordLength, const uint16_t* domain, int16_t domainLength,
                                 const uint16_t* workstation, int16_t workstationLength, int32_t sendWorkstation,
                                 const char* libraryPath, int32_t useNTLMv2) noexcept;

private:
    int32_t ready = 0;  // initialize succeeded

    [[nodiscard]] int copyOut(const KaNTLMBuffer& message, void* output, size_t outputCapacity,
                              size_t* outputLength) noexcept;
};

// Each set flag's name from the highest bit down, each followed by "|",
// for trace output; 0, or 1 when the text cannot grow.
[[nodiscard]] int KaNTLMFlagsText(uint32_t flags, KaStringW& out) noexcept;

// The DES key of seven key bytes: their 56 bits spread seven to a byte in
// the upper bits, odd parity in the lowest.
void kaNTLMDesKey(const uint8_t* seven, uint8_t* key) noexcept;
