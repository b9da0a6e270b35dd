// KaMemoryBuffer: one UTF-16 text (a password, a whole connection string)
// kept DES-CBC encrypted under a caller's 8-byte key and a random IV of its
// own, decrypted only into short-lived plain buffers. Every block it gives up is wiped first. Used by
// the connection handle, the pools, the attribute-string parser and NTLM.
#pragma once
#include <cstddef>
#include <cstdint>

#include "security/kacipher.h"

// Key size of every operation.
constexpr size_t KA_MEMBUF_KEY_SIZE = KA_DES_KEY_SIZE;
// Length argument of setEncrypted meaning a NUL-terminated text (SQL_NTS).
constexpr int64_t KA_MEMBUF_NTS = -3;

// States.
constexpr uint64_t KA_MEMBUF_ENCRYPTED = 1;
constexpr uint64_t KA_MEMBUF_PLAIN = 2;

// Numbers carried by MSG_MEMORY_BUFFER_STATE.
constexpr uint64_t KA_MEMBUF_ERR_NOT_ENCRYPTED = 1;
constexpr uint64_t KA_MEMBUF_ERR_DECRYPT_SOURCE = 2;
constexpr uint64_t KA_MEMBUF_ERR_COPY_SOURCE = 4;
constexpr uint64_t KA_MEMBUF_ERR_NO_RANDOM = 8;

// The cipher that encrypted a holder. Each holder records its own, because a
// stronger cipher may become available (the TLS library loads) between the
// encryption of a text and its decryption. The software cipher is DES: the
// key is only 8 bytes drawn for one connection, and it lives in the same
// process as the ciphertext, so the holder keeps secrets out of dumps and
// stray reads rather than out of an attacker's reach.
constexpr uint32_t KA_MEMBUF_CIPHER_NONE = 0;
constexpr uint32_t KA_MEMBUF_CIPHER_DES = 1;

// Routes every holder's DES through the TLS library's cipher once the
// library is known to load (the TLS socket calls this after loading it):
// two-key triple DES with both halves equal is DES, so each path reads what
// the other wrote and the cipher record stays KA_MEMBUF_CIPHER_DES. A holder
// whose library call fails takes the software DES, without a diagnostic.
// on false switches the library path off again. The texts are copied.
void kaMemoryBufferUseCipherLibrary(bool on, const char* allowedVersions, const char* libraryPath) noexcept;
[[nodiscard]] bool kaMemoryBufferUsesCipherLibrary() noexcept;

// A plain structure embedded in its owner or allocated by it. Callers read
// `data` and `length` of a plain buffer directly: the text and its length.
struct KaMemoryBuffer {
    // Ciphertext (encrypted state) or UTF-16 text followed by a NUL (plain).
    uint16_t* data;
    // Text length in UTF-16 units, without a terminator.
    uint64_t length;
    // Encrypted: ciphertext bytes, 2 x length rounded up to 8 (null data with
    // a size other than 0 marks a failed allocation). Plain: the bytes of the
    // block, so that all of it is wiped.
    uint64_t size;
    uint64_t state;
    // Cipher and IV of the ciphertext: a fresh random IV per encryption, so
    // that equal texts under one key do not give equal ciphertexts.
    uint32_t cipherKind;
    uint8_t iv[KA_DES_BLOCK_SIZE];
    // Holds an all-zero key and IV between operations.
    DESwCBCEncryptor cipher;

    KaMemoryBuffer() noexcept;
    ~KaMemoryBuffer();
    KaMemoryBuffer(const KaMemoryBuffer&) = delete;
    KaMemoryBuffer& operator=(const KaMemoryBuffer&) = delete;

    static void* operator new(size_t bytes) noexcept;
    static void operator delete(void* block) noexcept;
    static void* operator new(size_t, void* place) noexcept { return place; }
    static void operator delete(void*, void*) noexcept {}

    // Wipes and frees the block; the state stays.
    void clear() noexcept;
    // Each returns 0, or 1 with the diagnostic posted (MSG_MEMORY_BUFFER_STATE
    // or out of memory).
    // count: units, or KA_MEMBUF_NTS (a null text then counts as empty).
    [[nodiscard]] int setEncrypted(const uint16_t* text, int64_t count, const uint8_t* key) noexcept;
    [[nodiscard]] int decryptFrom(const KaMemoryBuffer& source, const uint8_t* key) noexcept;
    [[nodiscard]] int copyFrom(const KaMemoryBuffer& source) noexcept;
    // A plain block of room for n units, for the caller to fill.
    [[nodiscard]] int allocPlain(uint64_t n) noexcept;

private:
    void release() noexcept;
    void resetCipher() noexcept;
};
