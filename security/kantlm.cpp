// NTLMSSP messages and the NTLMv1 and NTLMv2 responses.
#include "security/kantlm.h"

#include <unicode/ustring.h>

#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/fast.h"
#include "foundation/kaowner.h"
#include "foundation/karandom.h"
#include "foundation/kastringw.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

const uint8_t kSignature[KA_NTLM_SIGNATURE_SIZE] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
// Buffers never grow past this: every field is 16 bits long, so no message
// the mechanism reads or writes comes near it.
constexpr uint32_t kBufferLimit = 1u << 24;

size_t unitLength(const uint16_t* text) noexcept
{
    size_t n = 0;
    if (text != nullptr)
        while (text[n] != 0)
            ++n;
    return n;
}

void freeBytes(uint8_t*& bytes, size_t n) noexcept
{
    if (bytes != nullptr) {
        fastMemzero(bytes, n);
        ramFree(bytes);
        bytes = nullptr;
    }
}

uint8_t* copyBytes(const uint8_t* source, size_t n) noexcept
{
    auto* copy = static_cast<uint8_t*>(ramAlloc(n == 0 ? 1 : n));
    if (copy != nullptr && n != 0)
        memcpy(copy, source, n);
    return copy;
}

// UTF-16LE bytes of n units into out.
void unitsToBytes(const uint16_t* text, size_t n, uint8_t* out) noexcept
{
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = uint8_t(text[i] & 0xFF);
        out[2 * i + 1] = uint8_t(text[i] >> 8);
    }
}

int postTooLong(const char* what, size_t bytes) noexcept
{
    errPost(MSG_NTLM_FIELD_TOO_LONG)->addParamText(what)->addParamUnsigned(bytes);
    return 1;
}

int drawRandom(KaNTLMRandomSource source, void* out, size_t n) noexcept
{
    if ((source != nullptr ? source : &KaRandomBytes)(out, n) != 0) {
        errPost(MSG_NTLM_NO_RANDOM);
        return 1;
    }
    return 0;
}

}  // namespace

void kaNTLMDesKey(const uint8_t* seven, uint8_t* key) noexcept
{
    uint64_t bits = 0;
    for (int i = 0; i < 7; ++i)
        bits = (bits << 8) | seven[i];
    for (int i = 0; i < 8; ++i) {
        auto b = uint8_t(((bits >> (49 - 7 * i)) & 0x7F) << 1);
        // Odd parity over the whole byte.
        uint8_t ones = 0;
        for (uint8_t v = b; v != 0; v &= uint8_t(v - 1))
            ++ones;
        key[i] = uint8_t(b | ((ones & 1) == 0 ? 1 : 0));
    }
}

// --- texts ---

void KaNTLMText::clear() noexcept
{
    if (data != nullptr) {
        fastMemzero(data, size_t(length) * 2);
        ramFree(data);
        data = nullptr;
    }
    length = 0;
}

int KaNTLMText::set(const uint16_t* text, size_t n) noexcept
{
    clear();
    if (text == nullptr)
        return 0;
    data = static_cast<uint16_t*>(ramAlloc((n + 1) * 2));
    if (data == nullptr)
        return 1;
    if (n != 0)
        memcpy(data, text, n * 2);
    data[n] = 0;
    length = int32_t(n);
    return 0;
}

int KaNTLMText::setFromBytes(const uint8_t* bytes, size_t n) noexcept
{
    clear();
    size_t units = n / 2;
    data = static_cast<uint16_t*>(ramAlloc((units + 1) * 2));
    if (data == nullptr)
        return 1;
    for (size_t i = 0; i < units; ++i)
        data[i] = uint16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    data[units] = 0;
    length = int32_t(units);
    return 0;
}

int KaNTLMText::setUpper(const uint16_t* text, size_t n) noexcept
{
    clear();
    if (text == nullptr)
        return 0;
    UErrorCode status = U_ZERO_ERROR;
    int32_t needed = u_strToUpper(nullptr, 0, reinterpret_cast<const UChar*>(text), int32_t(n), "", &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status))
        return set(text, n);
    data = static_cast<uint16_t*>(ramAlloc((size_t(needed) + 1) * 2));
    if (data == nullptr)
        return 1;
    status = U_ZERO_ERROR;
    length = u_strToUpper(reinterpret_cast<UChar*>(data), needed + 1, reinterpret_cast<const UChar*>(text), int32_t(n),
                          "", &status);
    if (U_FAILURE(status))
        return set(text, n);
    data[length] = 0;
    return 0;
}

// --- the byte buffer ---

void KaNTLMBuffer::release() noexcept
{
    if (owned && bytes != nullptr) {
        fastMemzero(bytes, capacity);
        ramFree(bytes);
    }
    bytes = nullptr;
    capacity = used = position = 0;
    owned = 0;
}

int KaNTLMBuffer::startWriting(uint32_t room) noexcept
{
    release();
    if (room < KA_NTLM_MIN_CAPACITY)
        room = KA_NTLM_MIN_CAPACITY;
    bytes = static_cast<uint8_t*>(ramAlloc(room));
    if (bytes == nullptr)
        return 1;
    capacity = room;
    owned = 1;
    return 0;
}

int KaNTLMBuffer::put(const void* data, size_t n) noexcept
{
    if (!owned && startWriting(KA_NTLM_MIN_CAPACITY) != 0)
        return 1;
    if (n > kBufferLimit - used) {
        ramOutOfMemory();
        return 1;
    }
    if (used + n > capacity) {
        uint32_t grown = capacity;
        while (used + n > grown)
            grown *= 2;
        auto* larger = static_cast<uint8_t*>(ramAlloc(grown));
        if (larger == nullptr)
            return 1;
        memcpy(larger, bytes, used);
        fastMemzero(bytes, capacity);
        ramFree(bytes);
        bytes = larger;
        capacity = grown;
    }
    if (n != 0)
        memcpy(bytes + used, data, n);
    used += uint32_t(n);
    return 0;
}

int KaNTLMBuffer::put16(uint16_t value) noexcept
{
    uint8_t b[2] = {uint8_t(value), uint8_t(value >> 8)};
    return put(b, sizeof b);
}

int KaNTLMBuffer::put32(uint32_t value) noexcept
{
    uint8_t b[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
    return put(b, sizeof b);
}

int KaNTLMBuffer::putUnits(const uint16_t* text, size_t n) noexcept
{
    int rc = 0;
    for (size_t i = 0; i < n && rc == 0; ++i)
        rc = put16(text[i]);
    return rc;
}

int KaNTLMBuffer::putField(uint32_t length, uint32_t offset) noexcept
{
    return put16(uint16_t(length)) | put16(uint16_t(length)) | put32(offset);
}

void KaNTLMBuffer::startReading(const uint8_t* data, uint32_t length) noexcept
{
    release();
    // A read view: never written, never freed.
    bytes = const_cast<uint8_t*>(data);
    capacity = used = length;
}

int KaNTLMBuffer::get(void* out, size_t n) noexcept
{
    if (n > used - position) {
        position = used;
        errPost(MSG_NTLM_MESSAGE_ENDS_EARLY);
        return 1;
    }
    if (n != 0)
        memcpy(out, bytes + position, n);
    position += uint32_t(n);
    return 0;
}

int KaNTLMBuffer::get16(uint16_t* value) noexcept
{
    uint8_t b[2];
    if (get(b, sizeof b) != 0)
        return 1;
    *value = uint16_t(b[0] | (b[1] << 8));
    return 0;
}

int KaNTLMBuffer::get32(uint32_t* value) noexcept
{
    uint8_t b[4];
    if (get(b, sizeof b) != 0)
        return 1;
    *value = uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
    return 0;
}

int KaNTLMBuffer::skip(size_t n) noexcept
{
    position = n > used - position ? used : position + uint32_t(n);
    return 0;
}

int KaNTLMBuffer::seek(uint32_t to) noexcept
{
    if (to > used) {
        errPost(MSG_NTLM_MESSAGE_ENDS_EARLY);
        return 1;
    }
    position = to;
    return 0;
}

// --- negotiate ---

int KaNTLMNegotiate::build() noexcept
{
    bool sendWorkstation = (flags & KA_NTLM_NEGOTIATE_WORKSTATION_SUPPLIED) != 0;
    uint32_t wsBytes = sendWorkstation ? workstation.bytes() : 0;
    domainOffset = KA_NTLM_NEGOTIATE_HEADER;
    uint32_t wsOffset = sendWorkstation ? domainOffset + domain.bytes() : KA_NTLM_NEGOTIATE_HEADER;
    int rc = buffer.startWriting(KA_NTLM_BUILD_CAPACITY);
    if (rc != 0)
        return 1;
    rc |= buffer.put(kSignature, sizeof kSignature);
    rc |= buffer.put32(messageType);
    rc |= buffer.put32(flags);
    rc |= buffer.putField(domain.bytes(), domainOffset);
    rc |= buffer.putField(wsBytes, wsOffset);
    rc |= buffer.put8(KA_NTLM_VERSION_MAJOR) | buffer.put8(KA_NTLM_VERSION_MINOR) | buffer.put16(KA_NTLM_VERSION_BUILD);
    const uint8_t zeros[3] = {};
    rc |= buffer.put(zeros, sizeof zeros) | buffer.put8(KA_NTLM_REVISION);
    rc |= buffer.putUnits(domain.data, size_t(domain.length));
    if (sendWorkstation)
        rc |= buffer.putUnits(workstation.data, size_t(workstation.length));
    return rc != 0 ? 1 : 0;
}

// --- challenge ---

void KaNTLMChallenge::clear() noexcept
{
    targetName.clear();
    for (KaNTLMText& t : infoTexts)
        t.clear();
    infoTargetName.clear();
    freeBytes(channelBindings, channelBindingsLength);
    channelBindingsLength = 0;
    freeBytes(targetInfo, targetInfoBytes);
    targetInfoBytes = 0;
    buffer.release();
    flags = infoFlags = 0;
    timestamp[0] = timestamp[1] = 0;
    fastMemzero(serverChallenge, sizeof serverChallenge);
}

int KaNTLMChallenge::parse(const uint8_t* message, size_t length) noexcept
{
    int rc = parseMessage(message, length);
    // The caller's bytes are not kept past the parse.
    buffer.release();
    return rc;
}

int KaNTLMChallenge::parseMessage(const uint8_t* message, size_t length) noexcept
{
    clear();
    if (length > kBufferLimit) {
        errPost(MSG_NTLM_NOT_A_CHALLENGE);
        return 1;
    }
    buffer.startReading(message, uint32_t(length));
    int rc = 0;
    if (buffer.get(signature, sizeof signature) != 0)
        return 1;
    if (memcmp(signature, kSignature, 7) != 0) {
        errPost(MSG_NTLM_NOT_A_CHALLENGE);
        return 1;
    }
    if (buffer.get32(&messageType) != 0)
        return 1;
    if (messageType != KA_NTLM_TYPE_CHALLENGE) {
        errPost(MSG_NTLM_NOT_A_CHALLENGE);
        return 1;
    }
    uint16_t ignored16 = 0;
    rc |= buffer.get16(&targetNameLength) || buffer.get16(&ignored16) || buffer.get32(&targetNameOffset) ||
          buffer.get32(&flags) || buffer.get(serverChallenge, sizeof serverChallenge) || buffer.skip(8) ||
          buffer.get16(&targetInfoLength) || buffer.get16(&ignored16) || buffer.get32(&targetInfoOffset) ||
          buffer.get8(&versionMajor) || buffer.get8(&versionMinor) || buffer.get16(&versionBuild) || buffer.skip(3) ||
          buffer.get8(&revision);
    if (rc != 0)
        return 1;
    if (revision != KA_NTLM_REVISION) {
        errPost(MSG_NTLM_NOT_A_CHALLENGE);
        return 1;
    }
    // A field that is there lies behind the fixed part and inside the
    // message, and the two fields do not share bytes.
    bool hasInfo = (flags & KA_NTLM_NEGOTIATE_TARGET_INFO) != 0;
    auto beyond = [&](uint32_t offset, uint32_t n) { return n != 0 && uint64_t(offset) + n > length; };
    auto inHeader = [&](uint32_t offset, uint32_t n) { return n != 0 && offset < KA_NTLM_CHALLENGE_HEADER; };
    if (beyond(targetNameOffset, targetNameLength) || (hasInfo && beyond(targetInfoOffset, targetInfoLength))) {
        errPost(MSG_NTLM_MESSAGE_ENDS_EARLY);
        return 1;
    }
    if (inHeader(targetNameOffset, targetNameLength)) {
        errPost(MSG_NTLM_FIELD_MISPLACED)->addParamText("target name");
        return 1;
    }
    if (hasInfo && (inHeader(targetInfoOffset, targetInfoLength) ||
                    (targetNameLength != 0 && targetInfoLength != 0 &&
                     uint64_t(targetNameOffset) < uint64_t(targetInfoOffset) + targetInfoLength &&
                     uint64_t(targetInfoOffset) < uint64_t(targetNameOffset) + targetNameLength))) {
        errPost(MSG_NTLM_FIELD_MISPLACED)->addParamText("target information");
        return 1;
    }
    if (targetNameLength != 0 && targetName.setFromBytes(message + targetNameOffset, targetNameLength) != 0)
        return 1;
    if (hasInfo) {
        if (targetInfoLength > KA_NTLM_FIELD_MAX - KA_NTLM_V2_RESPONSE_FIXED)
            return postTooLong("target information", targetInfoLength);
        targetInfo = copyBytes(message + targetInfoOffset, targetInfoLength);
        if (targetInfo == nullptr)
            return 1;
        targetInfoBytes = targetInfoLength;
        if (parseTargetInfo(targetInfo, targetInfoBytes) != 0)
            return 1;
    }
    return 0;
}

int KaNTLMChallenge::parseTargetInfo(const uint8_t* items, uint32_t length) noexcept
{
    // The items are read from the target information alone, never from the
    // bytes that follow it in the message.
    KaNTLMBuffer in;
    in.startReading(items, length);
    for (;;) {
        uint16_t id = 0;
        uint16_t size = 0;
        if (in.get16(&id) != 0 || in.get16(&size) != 0)
            return 1;
        if (id == KA_NTLM_AV_EOL)
            return 0;
        if (size > in.used - in.position) {
            errPost(MSG_NTLM_MESSAGE_ENDS_EARLY);
            return 1;
        }
        const uint8_t* value = items + in.position;
        switch (id) {
        case KA_NTLM_AV_NB_COMPUTER:
        case KA_NTLM_AV_NB_DOMAIN:
        case KA_NTLM_AV_DNS_COMPUTER:
        case KA_NTLM_AV_DNS_DOMAIN:
        case KA_NTLM_AV_DNS_TREE:
            if (infoTexts[id - KA_NTLM_AV_NB_COMPUTER].setFromBytes(value, size) != 0)
                return 1;
            break;
        case KA_NTLM_AV_TARGET_NAME:
            if (infoTargetName.setFromBytes(value, size) != 0)
                return 1;
            break;
        case KA_NTLM_AV_FLAGS:
        case KA_NTLM_AV_TIMESTAMP: {
            uint32_t words = id == KA_NTLM_AV_FLAGS ? 1 : 2;
            if (size != 4 * words) {
                errPost(MSG_NTLM_MESSAGE_ENDS_EARLY);
                return 1;
            }
            KaNTLMBuffer item;
            item.startReading(value, size);
            if (item.get32(id == KA_NTLM_AV_FLAGS ? &infoFlags : &timestamp[0]) != 0 ||
                (words == 2 && item.get32(&timestamp[1]) != 0))
                return 1;
            break;
        }
        case KA_NTLM_AV_CHANNEL_BINDINGS:
            freeBytes(channelBindings, channelBindingsLength);
            channelBindingsLength = 0;
            channelBindings = copyBytes(value, size);
            if (channelBindings == nullptr)
                return 1;
            channelBindingsLength = size;
            break;
        case KA_NTLM_AV_SINGLE_HOST: errPost(MSG_NTLM_SINGLE_HOST); return 1;
        default: errPost(MSG_NTLM_TARGET_INFO_UNKNOWN)->addParamUnsigned(id); return 1;
        }
        (void)in.skip(size);
    }
}

int KaNTLMChallenge::checkFlags(uint32_t* authenticateFlags) const noexcept
{
    struct Rule {
        uint32_t flag;
        bool required;
        uint16_t message;
    };
    static const Rule kRules[] = {
        {KA_NTLM_NEGOTIATE_KEY_EXCH, true, MSG_NTLM_NO_KEY_EXCHANGE},
        {KA_NTLM_NEGOTIATE_128, true, MSG_NTLM_NO_128_BIT},
        {KA_NTLM_REQUEST_NON_NT_SESSION_KEY, false, MSG_NTLM_WEAK_SESSION_KEY},
        {KA_NTLM_NEGOTIATE_IDENTIFY, false, MSG_NTLM_IDENTIFY},
        {KA_NTLM_NEGOTIATE_EXTENDED_SESSIONSECURITY, true, MSG_NTLM_NO_EXTENDED_SECURITY},
        {KA_NTLM_NEGOTIATE_ANONYMOUS, false, MSG_NTLM_NULL_SESSION},
        {KA_NTLM_NEGOTIATE_LM_KEY, false, MSG_NTLM_WEAK_SESSION_KEY},
    };
    for (const Rule& r : kRules) {
        if (((flags & r.flag) != 0) != r.required) {
            errPost(r.message);
            return 1;
        }
    }
    *authenticateFlags =
        (flags & KA_NTLM_NEGOTIATE_56) != 0 ? KA_NTLM_AUTHENTICATE_FLAGS_56 : KA_NTLM_AUTHENTICATE_FLAGS;
    return 0;
}

// --- authenticate ---

KaNTLMAuthenticate::~KaNTLMAuthenticate()
{
    freeResponses();
    delete userName;
    delete password;
    fastMemzero(randomKey, sizeof randomKey);
    des.wipe();
}

void KaNTLMAuthenticate::freeResponses() noexcept
{
    freeBytes(lmResponse, lmLength);
    freeBytes(ntResponse, ntLength);
    lmLength = ntLength = 0;
    fastMemzero(sessionKey, sizeof sessionKey);
}

int KaNTLMAuthenticate::hmacMd5(const uint8_t* key, const uint8_t* first, size_t firstLength, const uint8_t* second,
                                size_t secondLength, uint8_t* out) noexcept
{
    size_t n = firstLength + secondLength;
    RamWipedPtr<uint8_t> data(static_cast<uint8_t*>(ramAlloc(n == 0 ? 1 : n)), n);
    if (!data)
        return 1;
    if (firstLength != 0)
        memcpy(data.get(), first, firstLength);
    if (secondLength != 0)
        memcpy(data.get() + firstLength, second, secondLength);
    unsigned outLength = 0;
    uint8_t* done = mapper->HMAC(mapper->EVP_md5(), key, int(KA_NTLM_HASH_SIZE), data.get(), n, out, &outLength);
    data.reset();
    if (done == nullptr || outLength != KA_NTLM_HASH_SIZE) {
        errPost(MSG_NTLM_CRYPTO_FAILED)->addParamText("HMAC-MD5");
        return 1;
    }
    return 0;
}

int KaNTLMAuthenticate::ntHash(uint8_t* out) noexcept
{
    if (mapper == nullptr || password == nullptr)
        return 1;
    KaMemoryBuffer plain;
    if (plain.decryptFrom(*password, randomKey) != 0)
        return 1;
    size_t n = size_t(plain.length) * 2;
    RamWipedPtr<uint8_t> bytes(static_cast<uint8_t*>(ramAlloc(n == 0 ? 1 : n)), n);
    if (!bytes)
        return 1;
    unitsToBytes(plain.data, size_t(plain.length), bytes.get());
    uint8_t* done = mapper->MD4(bytes.get(), n, out);
    bytes.reset();
    if (done == nullptr) {
        errPost(MSG_NTLM_CRYPTO_FAILED)->addParamText("MD4");
        return 1;
    }
    return 0;
}

int KaNTLMAuthenticate::responsesV1(const uint8_t* hash, const uint8_t* clientChallenge) noexcept
{
    if ((challenge->flags & KA_NTLM_NEGOTIATE_NTLM) == 0) {
        errPost(MSG_NTLM_WEAK_SESSION_KEY);
        return 1;
    }
    // Extended session security is always in force: the server challenge
    // is mixed with the client's before DES.
    uint8_t both[2 * KA_NTLM_CHALLENGE_SIZE];
    memcpy(both, challenge->serverChallenge, KA_NTLM_CHALLENGE_SIZE);
    memcpy(both + KA_NTLM_CHALLENGE_SIZE, clientChallenge, KA_NTLM_CHALLENGE_SIZE);
    uint8_t digest[KA_NTLM_HASH_SIZE];
    if (mapper->MD5(both, sizeof both, digest) == nullptr) {
        errPost(MSG_NTLM_CRYPTO_FAILED)->addParamText("MD5");
        return 1;
    }
    lmResponse = static_cast<uint8_t*>(ramAlloc(KA_NTLM_V1_RESPONSE_SIZE));
    ntResponse = static_cast<uint8_t*>(ramAlloc(KA_NTLM_V1_RESPONSE_SIZE));
    if (lmResponse == nullptr || ntResponse == nullptr) {
        fastMemzero(digest, sizeof digest);
        return 1;
    }
    lmLength = ntLength = uint16_t(KA_NTLM_V1_RESPONSE_SIZE);
    uint8_t padded[21] = {};
    memcpy(padded, hash, KA_NTLM_HASH_SIZE);
    for (int i = 0; i < 3; ++i) {
        uint8_t key[KA_DES_KEY_SIZE];
        kaNTLMDesKey(padded + 7 * i, key);
        des.setKey(key, KA_CRYPT_ENCRYPT);
        uint8_t* block = ntResponse + KA_DES_BLOCK_SIZE * i;
        memcpy(block, digest, KA_DES_BLOCK_SIZE);
        des.desBlock(block);
        fastMemzero(key, sizeof key);
    }
    des.wipe();
    fastMemzero(padded, sizeof padded);
    fastMemzero(digest, sizeof digest);
    memset(lmResponse, 0, KA_NTLM_V1_RESPONSE_SIZE);
    memcpy(lmResponse, clientChallenge, KA_NTLM_CHALLENGE_SIZE);
    if (mapper->MD4(hash, KA_NTLM_HASH_SIZE, sessionKey) == nullptr) {
        errPost(MSG_NTLM_CRYPTO_FAILED)->addParamText("MD4");
        return 1;
    }
    return 0;
}

int KaNTLMAuthenticate::responsesV2(const uint8_t* hash, const uint8_t* clientChallenge) noexcept
{
    KaMemoryBuffer plainUser;
    if (plainUser.decryptFrom(*userName, randomKey) != 0)
        return 1;
    KaNTLMText upper;
    if (upper.setUpper(plainUser.data, size_t(plainUser.length)) != 0)
        return 1;
    size_t identityBytes = upper.bytes() + domain.bytes();
    RamWipedPtr<uint8_t> identity(static_cast<uint8_t*>(ramAlloc(identityBytes == 0 ? 1 : identityBytes)),
                                  identityBytes);
    if (!identity)
        return 1;
    unitsToBytes(upper.data, size_t(upper.length), identity.get());
    unitsToBytes(domain.data, size_t(domain.length), identity.get() + upper.bytes());
    uint8_t v2Hash[KA_NTLM_HASH_SIZE];
    int rc = hmacMd5(hash, identity.get(), identityBytes, nullptr, 0, v2Hash);
    identity.reset();
    if (rc != 0)
        return 1;

    uint32_t info = challenge->targetInfoBytes;
    ntLength = uint16_t(KA_NTLM_V2_RESPONSE_FIXED + info);
    ntResponse = static_cast<uint8_t*>(ramAlloc(ntLength));
    lmResponse = static_cast<uint8_t*>(ramAlloc(KA_NTLM_V1_RESPONSE_SIZE));
    if (ntResponse == nullptr || lmResponse == nullptr) {
        fastMemzero(v2Hash, sizeof v2Hash);
        return 1;
    }
    lmLength = uint16_t(KA_NTLM_V1_RESPONSE_SIZE);
    // The blob: response versions 1 and 1, six zero bytes, a zero time
    // stamp, the client challenge, four zero bytes, the target information,
    // four zero bytes.
    uint8_t* blob = ntResponse + KA_NTLM_HASH_SIZE;
    memset(blob, 0, KA_NTLM_BLOB_FIXED + info);
    blob[0] = 1;
    blob[1] = 1;
    memcpy(blob + 16, clientChallenge, KA_NTLM_CHALLENGE_SIZE);
    if (info != 0)
        memcpy(blob + 28, challenge->targetInfo, info);
    rc = hmacMd5(v2Hash, challenge->serverChallenge, KA_NTLM_CHALLENGE_SIZE, blob, KA_NTLM_BLOB_FIXED + info,
                 ntResponse);
    if (rc == 0)
        rc = hmacMd5(v2Hash, challenge->serverChallenge, KA_NTLM_CHALLENGE_SIZE, clientChallenge,
                     KA_NTLM_CHALLENGE_SIZE, lmResponse);
    if (rc == 0) {
        memcpy(lmResponse + KA_NTLM_HASH_SIZE, clientChallenge, KA_NTLM_CHALLENGE_SIZE);
        rc = hmacMd5(v2Hash, ntResponse, KA_NTLM_HASH_SIZE, nullptr, 0, sessionKey);
    }
    fastMemzero(v2Hash, sizeof v2Hash);
    return rc;
}

int KaNTLMAuthenticate::computeResponses(const uint8_t* clientChallenge) noexcept
{
    freeResponses();
    if (challenge == nullptr || mapper == nullptr || userName == nullptr || password == nullptr)
        return 1;
    uint8_t hash[KA_NTLM_HASH_SIZE];
    if (ntHash(hash) != 0)
        return 1;
    int rc = useNTLMv1 ? responsesV1(hash, clientChallenge) : responsesV2(hash, clientChallenge);
    fastMemzero(hash, sizeof hash);
    if (rc != 0)
        freeResponses();
    return rc;
}

int KaNTLMAuthenticate::build() noexcept
{
    KaMemoryBuffer plainUser;
    if (plainUser.decryptFrom(*userName, randomKey) != 0)
        return 1;
    uint32_t userBytes = uint32_t(plainUser.length) * 2;
    uint32_t wsBytes = sendWorkstation ? workstation.bytes() : 0;
    lmOffset = KA_NTLM_AUTHENTICATE_HEADER;
    ntOffset = lmOffset + lmLength;
    domainOffset = ntOffset + ntLength;
    userOffset = domainOffset + domain.bytes();
    workstationOffset = userOffset + userBytes;
    sessionKeyOffset = workstationOffset + wsBytes;
    if (buffer.startWriting(KA_NTLM_BUILD_CAPACITY) != 0)
        return 1;
    int rc = 0;
    rc |= buffer.put(kSignature, sizeof kSignature);
    rc |= buffer.put32(messageType);
    rc |= buffer.putField(lmLength, lmOffset);
    rc |= buffer.putField(ntLength, ntOffset);
    rc |= buffer.putField(domain.bytes(), domainOffset);
    rc |= buffer.putField(userBytes, userOffset);
    rc |= buffer.putField(wsBytes, workstationOffset);
    rc |= buffer.putField(KA_NTLM_HASH_SIZE, sessionKeyOffset);
    rc |= buffer.put32(flags);
    rc |= buffer.put8(KA_NTLM_VERSION_MAJOR) | buffer.put8(KA_NTLM_VERSION_MINOR) | buffer.put16(KA_NTLM_VERSION_BUILD);
    const uint8_t zeros[3] = {};
    rc |= buffer.put(zeros, sizeof zeros) | buffer.put8(KA_NTLM_REVISION);
    rc |= buffer.put(lmResponse, lmLength);
    rc |= buffer.put(ntResponse, ntLength);
    rc |= buffer.putUnits(domain.data, size_t(domain.length));
    rc |= buffer.putUnits(plainUser.data, size_t(plainUser.length));
    if (sendWorkstation)
        rc |= buffer.putUnits(workstation.data, size_t(workstation.length));
    rc |= buffer.put(sessionKey, sizeof sessionKey);
    return rc != 0 ? 1 : 0;
}

// --- the mechanism ---

KaNTLMDomain::KaNTLMDomain(const char* allowedVersions) noexcept
    : authenticate(allowedVersions != nullptr ? allowedVersions : KA_OPENSSL_DEFAULT_VERSIONS),
      randomSource(&KaRandomBytes)
{}

KaNTLMDomain::~KaNTLMDomain()
{
    challenge.clear();
    negotiate.buffer.release();
    negotiate.workstation.clear();
    negotiate.domain.clear();
    authenticate.mapper = nullptr;
    authenticate.library.freeContext();
}

int KaNTLMDomain::importTargetName(const uint16_t*) noexcept
{
    return 0;
}

int KaNTLMDomain::importTargetNameA(const char*) noexcept
{
    return 0;
}

int KaNTLMDomain::negotiateSecurityLayer(const void*, size_t, void*, size_t, size_t* replyLength) noexcept
{
    *replyLength = 0;
    return 0;
}

int KaNTLMDomain::initialize(const uint16_t* user, size_t userLength, const uint16_t* pass, size_t passLength,
                             const uint16_t* domain, int16_t domainLength, const uint16_t* workstation,
                             int16_t workstationLength, int32_t sendWorkstation, const char* libraryPath,
                             int32_t useNTLMv2) noexcept
{
    KaNTLMAuthenticate& a = authenticate;
    ready = 0;
    size_t domainUnits = domainLength == KA_NTLM_NTS ? unitLength(domain) : domainLength < 0 ? 0 : size_t(domainLength);
    size_t wsUnits = workstationLength == KA_NTLM_NTS ? unitLength(workstation)
                     : workstationLength < 0          ? 0
                                                      : size_t(workstationLength);
    // Every text travels with a 16-bit byte length.
    if (domainUnits > KA_NTLM_FIELD_MAX / 2)
        return postTooLong("domain", domainUnits * 2);
    if (wsUnits > KA_NTLM_FIELD_MAX / 2)
        return postTooLong("workstation", wsUnits * 2);
    if (userLength > KA_NTLM_FIELD_MAX / 2)
        return postTooLong("user name", userLength * 2);

    if (libraryPath != nullptr && libraryPath[0] != '\0')
        a.library.setLibraryPath(libraryPath);
    if (a.library.cipherContext == nullptr && a.library.newContext() != 0)
        return 1;
    a.mapper = a.library.cipherMapper;
    if (a.domain.set(domain, domainUnits) != 0 || a.workstation.set(workstation, wsUnits) != 0)
        return 1;
    if (user == nullptr || userLength == 0) {
        errPost(MSG_NTLM_NO_USER);
        return 1;
    }
    if (pass == nullptr || passLength == 0) {
        errPost(MSG_NTLM_NO_PASSWORD);
        return 1;
    }
    if (drawRandom(randomSource, a.randomKey, sizeof a.randomKey) != 0)
        return 1;
    delete a.userName;
    delete a.password;
    a.userName = new KaMemoryBuffer();
    a.password = new KaMemoryBuffer();
    if (a.userName == nullptr || a.password == nullptr ||
        a.userName->setEncrypted(user, int64_t(userLength), a.randomKey) != 0 ||
        a.password->setEncrypted(pass, int64_t(passLength), a.randomKey) != 0)
        return 1;
    // Only a password that fits the LM limit of 14 may take NTLMv1.
    a.useNTLMv1 = passLength > 14 || useNTLMv2 == 1 ? 0 : 1;
    a.sendWorkstation = sendWorkstation;

    if (domain == nullptr) {
        errPost(MSG_NTLM_NO_DOMAIN);
        return 1;
    }
    if (workstation == nullptr) {
        errPost(MSG_NTLM_NO_WORKSTATION);
        return 1;
    }
    if (negotiate.domain.setUpper(domain, domainUnits) != 0 ||
        negotiate.workstation.setUpper(workstation, wsUnits) != 0)
        return 1;
    // Upper-casing may lengthen a text (one unit can become three).
    if (negotiate.domain.bytes() > KA_NTLM_FIELD_MAX)
        return postTooLong("domain", negotiate.domain.bytes());
    if (negotiate.workstation.bytes() > KA_NTLM_FIELD_MAX)
        return postTooLong("workstation", negotiate.workstation.bytes());
    negotiate.flags = KA_NTLM_NEGOTIATE_FLAGS;
    if (sendWorkstation == 0)
        negotiate.flags &= ~KA_NTLM_NEGOTIATE_WORKSTATION_SUPPLIED;
    ready = 1;
    return 0;
}

int KaNTLMDomain::copyOut(const KaNTLMBuffer& message, void* output, size_t outputCapacity,
                          size_t* outputLength) noexcept
{
    if (message.used > outputCapacity) {
        errPost(MSG_NTLM_TOKEN_TOO_LONG)->addParamUnsigned(message.used)->addParamUnsigned(outputCapacity);
        return 1;
    }
    memcpy(output, message.bytes, message.used);
    *outputLength = message.used;
    return 0;
}

int KaNTLMDomain::initContextStep(const void* input, size_t inputLength, void* output, size_t outputCapacity,
                                  size_t* outputLength, int32_t* continueNeeded) noexcept
{
    *outputLength = 0;
    *continueNeeded = 0;
    KaNTLMAuthenticate& a = authenticate;
    if (!ready) {
        errPost(MSG_NTLM_NOT_INITIALIZED);
        return 1;
    }
    if (input == nullptr || inputLength == 0) {
        if (negotiate.build() != 0 || copyOut(negotiate.buffer, output, outputCapacity, outputLength) != 0)
            return 1;
        *continueNeeded = 1;
        return 0;
    }
    if (challenge.parse(static_cast<const uint8_t*>(input), inputLength) != 0)
        return 1;
    if (challenge.checkFlags(&a.flags) != 0)
        return 1;
    a.challenge = &challenge;
    uint8_t clientChallenge[KA_NTLM_CHALLENGE_SIZE];
    if (drawRandom(randomSource, clientChallenge, sizeof clientChallenge) != 0)
        return 1;
    int rc = a.computeResponses(clientChallenge);
    if (rc == 0)
        rc = a.build();
    if (rc == 0)
        rc = copyOut(a.buffer, output, outputCapacity, outputLength);
    a.buffer.release();
    a.freeResponses();
    return rc;
}

int KaNTLMFlagsText(uint32_t flags, KaStringW& out) noexcept
{
    struct Name {
        uint32_t flag;
        const char* text;
    };
    static const Name kNames[] = {
        {0x80000000u, "NEGOTIATE_56"},
        {0x40000000u, "NEGOTIATE_KEY_EXCH"},
        {0x20000000u, "NEGOTIATE_128"},
        {0x02000000u, "NEGOTIATE_VERSION"},
        {0x00800000u, "NEGOTIATE_TARGET_INFO"},
        {0x00400000u, "REQUEST_NON_NT_SESSION_KEY"},
        {0x00100000u, "NEGOTIATE_IDENTIFY"},
        {0x00080000u, "NEGOTIATE_EXTENDED_SESSIONSECURITY"},
        {0x00020000u, "TARGET_TYPE_SERVER"},
        {0x00010000u, "TARGET_TYPE_DOMAIN"},
        {0x00008000u, "NEGOTIATE_ALWAYS_SIGN"},
        {0x00002000u, "NEGOTIATE_OEM_WORKSTATION_SUPPLIED"},
        {0x00001000u, "NEGOTIATE_OEM_DOMAIN_SUPPLIED"},
        {0x00000800u, "NEGOTIATE_ANONYMOUS"},
        {0x00000200u, "NEGOTIATE_NTLM"},
        {0x00000080u, "NEGOTIATE_LM_KEY"},
        {0x00000040u, "NEGOTIATE_DATAGRAM"},
        {0x00000020u, "NEGOTIATE_SEAL"},
        {0x00000010u, "NEGOTIATE_SIGN"},
        {0x00000004u, "REQUEST_TARGET"},
        {0x00000002u, "NEGOTIATE_OEM"},
        {0x00000001u, "NEGOTIATE_UNICODE"},
    };
    for (const Name& n : kNames) {
        if ((flags & n.flag) != 0 &&
            (out.appendNarrow(n.text, strlen(n.text)) != 0 || out.appendChar(uint16_t('|')) != 0))
            return 1;
    }
    return 0;
}
