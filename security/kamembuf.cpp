// The encrypted in-memory holder of one UTF-16 text.
#include "security/kamembuf.h"

#include <atomic>
#include <cstring>

#include "foundation/fast.h"
#include "foundation/kaerror.h"
#include "foundation/kalock.h"
#include "foundation/kaowner.h"
#include "foundation/karandom.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "security/kacipherapi.h"

namespace {

constexpr uint64_t kUnitBytes = 2;
// Longest text whose ciphertext size still fits in 64 bits.
constexpr uint64_t kMaxUnits = (UINT64_MAX - KA_DES_BLOCK_SIZE) / kUnitBytes - 1;

const uint8_t kZeroKey[KA_MEMBUF_KEY_SIZE] = {};

// Room of the allowed-versions list the library path keeps.
constexpr size_t kVersionsSize = 64;

// The library the holders' DES goes through; read under the lock.
struct CipherLibrary {
    KaCriticalSection lock;
    std::atomic<bool> on{false};
    int32_t pathGiven = 0;
    char path[KA_CIPHER_LIBRARY_PATH] = {};
    int32_t versionsGiven = 0;
    char versions[kVersionsSize] = {};
};

CipherLibrary& cipherLibrary() noexcept
{
    static CipherLibrary library;
    return library;
}

// DES-CBC of size bytes (whole blocks) from in to out through the library:
// EDE with both keys equal. False when anything on the way failed; out is
// then to be rewritten by the software path.
bool libraryDes(int direction, const uint8_t* key, const uint8_t* iv, const void* in, void* out, uint64_t size) noexcept
{
    CipherLibrary& lib = cipherLibrary();
    char versions[kVersionsSize];
    char path[KA_CIPHER_LIBRARY_PATH];
    bool pathGiven;
    bool versionsGiven;
    {
        KaLockGuard guard(lib.lock);
        pathGiven = lib.pathGiven != 0;
        versionsGiven = lib.versionsGiven != 0;
        memcpy(path, lib.path, sizeof path);
        memcpy(versions, lib.versions, sizeof versions);
    }
    if (size > uint64_t(INT32_MAX))
        return false;
    // The holder's caller knows nothing of the library: what the load posts
    // is kept from its diagnostics.
    KaErrorList quiet;
    bool done = false;
    {
        KaErrorListScope scope(&quiet);
        KaCipherAPI api(versionsGiven ? versions : nullptr);
        if (pathGiven)
            api.setLibraryPath(path);
        if (api.newContext() == 0) {
            KaCipherCallMapper* m = api.cipherMapper;
            uint8_t twoKeys[2 * KA_DES_KEY_SIZE];
            memcpy(twoKeys, key, KA_DES_KEY_SIZE);
            memcpy(twoKeys + KA_DES_KEY_SIZE, key, KA_DES_KEY_SIZE);
            const void* cipher = m->EVP_des_ede_cbc();
            int produced = 0;
            auto* target = static_cast<uint8_t*>(out);
            const auto* source = static_cast<const uint8_t*>(in);
            if (direction == KA_CRYPT_ENCRYPT)
                done = cipher != nullptr &&
                       m->EVP_EncryptInit_ex(api.cipherContext, cipher, nullptr, twoKeys, iv) == 1 &&
                       m->EVP_CIPHER_CTX_set_padding(api.cipherContext, 0) == 1 &&
                       m->EVP_EncryptUpdate(api.cipherContext, target, &produced, source, int(size)) == 1;
            else
                done = cipher != nullptr &&
                       m->EVP_DecryptInit_ex(api.cipherContext, cipher, nullptr, twoKeys, iv) == 1 &&
                       m->EVP_CIPHER_CTX_set_padding(api.cipherContext, 0) == 1 &&
                       m->EVP_DecryptUpdate(api.cipherContext, target, &produced, source, int(size)) == 1;
            done = done && uint64_t(produced) == size;
            fastMemzero(twoKeys, sizeof twoKeys);
        }
    }
    return done;
}

uint64_t cipherSize(uint64_t units)
{
    return (units * kUnitBytes + KA_DES_BLOCK_SIZE - 1) / KA_DES_BLOCK_SIZE * KA_DES_BLOCK_SIZE;
}

void postState(uint64_t number)
{
    errPost(MSG_MEMORY_BUFFER_STATE)
        ->addParamUnsigned(number)
        ->setSqlstate("HY000")
        ->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR);
}

// A source must be encrypted, and its size must match its length: a block
// left null by a failed allocation, or fields out of step with each other,
// would make the cipher read beyond the block.
bool usableSource(const KaMemoryBuffer& source)
{
    if (source.length > kMaxUnits || source.size != cipherSize(source.length))
        return false;
    if (source.size != 0 && source.cipherKind != KA_MEMBUF_CIPHER_DES)
        return false;
    return (source.data == nullptr) == (source.size == 0);
}

}  // namespace

void kaMemoryBufferUseCipherLibrary(bool on, const char* allowedVersions, const char* libraryPath) noexcept
{
    CipherLibrary& lib = cipherLibrary();
    KaLockGuard guard(lib.lock);
    lib.versionsGiven = allowedVersions != nullptr && strlen(allowedVersions) < kVersionsSize ? 1 : 0;
    lib.versions[0] = '\0';
    if (lib.versionsGiven)
        memcpy(lib.versions, allowedVersions, strlen(allowedVersions) + 1);
    lib.pathGiven = libraryPath != nullptr && libraryPath[0] != '\0' && strlen(libraryPath) < KA_CIPHER_LIBRARY_PATH;
    lib.path[0] = '\0';
    if (lib.pathGiven)
        memcpy(lib.path, libraryPath, strlen(libraryPath) + 1);
    lib.on = on;
}

bool kaMemoryBufferUsesCipherLibrary() noexcept
{
    return cipherLibrary().on;
}

KaMemoryBuffer::KaMemoryBuffer() noexcept
    : data(nullptr), length(0), size(0), state(KA_MEMBUF_ENCRYPTED), cipherKind(KA_MEMBUF_CIPHER_NONE), iv{}
{}

KaMemoryBuffer::~KaMemoryBuffer()
{
    release();
}

void* KaMemoryBuffer::operator new(size_t bytes) noexcept
{
    return ramAlloc(bytes);
}

void KaMemoryBuffer::operator delete(void* block) noexcept
{
    ramFree(block);
}

void KaMemoryBuffer::release() noexcept
{
    if (data != nullptr) {
        fastMemzero(data, size);
        ramFree(data);
    }
    data = nullptr;
}

void KaMemoryBuffer::resetCipher() noexcept
{
    // No key material stays in the object between operations.
    cipher.setIV(kZeroKey);
    cipher.setKey(kZeroKey, KA_CRYPT_DECRYPT);
}

void KaMemoryBuffer::clear() noexcept
{
    release();
    length = 0;
    size = 0;
}

int KaMemoryBuffer::setEncrypted(const uint16_t* text, int64_t count, const uint8_t* key) noexcept
{
    if (state != KA_MEMBUF_ENCRYPTED) {
        postState(KA_MEMBUF_ERR_NOT_ENCRYPTED);
        return 1;
    }
    release();
    uint64_t units = 0;
    if (count == KA_MEMBUF_NTS) {
        if (text != nullptr)
            while (text[units] != 0)
                ++units;
    } else if (text != nullptr) {
        units = static_cast<uint64_t>(count);
    }
    if (units > kMaxUnits) {
        // A failed buffer: null data, nonzero size.
        length = 0;
        size = KA_DES_BLOCK_SIZE;
        ramOutOfMemory();
        return 1;
    }
    length = units;
    size = cipherSize(units);
    cipherKind = KA_MEMBUF_CIPHER_NONE;
    if (size == 0)
        return 0;
    if (KaRandomBytes(iv, sizeof iv) != 0) {
        length = 0;
        size = 0;
        postState(KA_MEMBUF_ERR_NO_RANDOM);
        return 1;
    }
    data = static_cast<uint16_t*>(ramAlloc(size));
    if (data == nullptr)
        return 1;
    cipherKind = KA_MEMBUF_CIPHER_DES;
    fastMemcpy(data, text, units * kUnitBytes);
    // The padding of the last block carries no meaning; zeros keep it from
    // carrying leftovers of the heap either.
    fastMemset(reinterpret_cast<uint8_t*>(data) + units * kUnitBytes, 0, size - units * kUnitBytes);
    if (cipherLibrary().on) {
        if (libraryDes(KA_CRYPT_ENCRYPT, key, iv, data, data, size))
            return 0;
        // A failed library call may have left part of the block enciphered.
        fastMemcpy(data, text, units * kUnitBytes);
        fastMemset(reinterpret_cast<uint8_t*>(data) + units * kUnitBytes, 0, size - units * kUnitBytes);
    }
    cipher.setIV(iv);
    cipher.setKey(key, KA_CRYPT_ENCRYPT);
    cipher.encrypt(data, data, size);
    resetCipher();
    return 0;
}

int KaMemoryBuffer::decryptFrom(const KaMemoryBuffer& source, const uint8_t* key) noexcept
{
    if (source.state != KA_MEMBUF_ENCRYPTED) {
        postState(KA_MEMBUF_ERR_NOT_ENCRYPTED);
        return 1;
    }
    if (!usableSource(source)) {
        postState(KA_MEMBUF_ERR_DECRYPT_SOURCE);
        return 1;
    }
    // The plain block is made before this buffer's own is released, so that
    // a buffer may decrypt itself.
    uint64_t units = source.length;
    uint64_t textBytes = units * kUnitBytes + kUnitBytes;
    uint64_t n = units == 0 ? kUnitBytes : (source.size > textBytes ? source.size : textBytes);
    auto* block = static_cast<uint16_t*>(ramAlloc(n));
    if (block != nullptr && units != 0) {
        if (!cipherLibrary().on || !libraryDes(KA_CRYPT_DECRYPT, key, source.iv, source.data, block, source.size)) {
            cipher.setIV(source.iv);
            cipher.setKey(key, KA_CRYPT_DECRYPT);
            cipher.decrypt(source.data, block, source.size);
            resetCipher();
        }
        // The decrypted padding of the last block goes too.
        if (n > textBytes)
            fastMemzero(reinterpret_cast<uint8_t*>(block) + textBytes, n - textBytes);
    }
    release();
    state = KA_MEMBUF_PLAIN;
    if (block == nullptr) {
        length = 0;
        size = 0;
        return 1;
    }
    block[units] = 0;
    data = block;
    length = units;
    size = n;
    return 0;
}

int KaMemoryBuffer::copyFrom(const KaMemoryBuffer& source) noexcept
{
    if (source.state != KA_MEMBUF_ENCRYPTED) {
        postState(KA_MEMBUF_ERR_NOT_ENCRYPTED);
        return 1;
    }
    if (!usableSource(source)) {
        postState(KA_MEMBUF_ERR_COPY_SOURCE);
        return 1;
    }
    if (&source == this)
        return 0;
    uint16_t* block = nullptr;
    if (source.size != 0) {
        block = static_cast<uint16_t*>(ramAlloc(source.size));
        if (block != nullptr)
            fastMemcpy(block, source.data, source.size);
    }
    release();
    state = KA_MEMBUF_ENCRYPTED;
    data = block;
    length = source.length;
    size = source.size;
    cipherKind = source.cipherKind;
    fastMemcpy(iv, source.iv, sizeof iv);
    return source.size != 0 && block == nullptr ? 1 : 0;
}

int KaMemoryBuffer::allocPlain(uint64_t n) noexcept
{
    release();
    state = KA_MEMBUF_PLAIN;
    length = 0;
    size = 0;
    if (n > kMaxUnits) {
        ramOutOfMemory();
        return 1;
    }
    uint64_t bytes = n == 0 ? 1 : n * kUnitBytes;
    data = static_cast<uint16_t*>(ramAlloc(bytes));
    if (data == nullptr)
        return 1;
    fastMemset(data, 0, bytes);
    length = n;
    size = bytes;
    return 0;
}
