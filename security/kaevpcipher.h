// Block and stream ciphers carried out by the run-time-loaded OpenSSL crypto
// library through the cipher call mapper: AES-CBC, triple-DES-CBC and RC4.
// The key-store reader and NTLM use AES; the others complete the set.
// Calling order: construct, setKeyLength, setIV, setPadding, newContext,
// then setKey (it copies as many bytes as the mapper's key length says).
#pragma once
#include <cstdint>

#include "security/kacipher.h"
#include "security/kacipherapi.h"

constexpr size_t KA_AES_BLOCK_SIZE = 16;
// Key storage of the library-backed ciphers: the longest key they take.
constexpr size_t KA_EVP_KEY_STORE = 64;

class AESwCBCEncryptor : public KaCrypto, public KaCipherAPI {
public:
    uint8_t keyStore[KA_EVP_KEY_STORE] = {};
    uint8_t ivStore[KA_AES_BLOCK_SIZE] = {};
    uint8_t chainStore[KA_AES_BLOCK_SIZE] = {};
    int32_t padding = 0;

    explicit AESwCBCEncryptor(const char* allowedVersions) noexcept;
    ~AESwCBCEncryptor() override;

    // The direction is not used: the library context decides at each block.
    void setKey(const uint8_t* key, int direction) noexcept override;
    void setIV(const uint8_t* ivBytes) noexcept override;
    // The library keeps the CBC state; the chaining value is not used.
    void cryptBlock(uint8_t* block, const uint8_t* chaining, int direction) noexcept override;

    void setKeyLength(uint64_t length) noexcept;
    void setPadding(int32_t flag) noexcept;
};

class DES3Encryptor : public KaCrypto, public KaCipherAPI {
public:
    uint8_t keyStore[KA_DES3_KEY_SIZE] = {};
    uint8_t ivStore[KA_DES_BLOCK_SIZE] = {};
    uint8_t chainStore[KA_DES_BLOCK_SIZE] = {};
    int32_t padding = 0;

    explicit DES3Encryptor(const char* allowedVersions) noexcept;
    ~DES3Encryptor() override;

    // 16 key bytes with the two-key length (KA_DES3_TWO_KEY), else 24.
    void setKey(const uint8_t* key, int direction) noexcept override;
    void setIV(const uint8_t* ivBytes) noexcept override;
    void cryptBlock(uint8_t* block, const uint8_t* chaining, int direction) noexcept override;

    void setKeyLength(uint64_t length) noexcept;
    void setPadding(int32_t flag) noexcept;
};

class RC4Encryptor : public KaCrypto, public KaCipherAPI {
public:
    uint8_t keyStore[KA_EVP_KEY_STORE] = {};

    explicit RC4Encryptor(const char* allowedVersions) noexcept;
    ~RC4Encryptor() override;

    void setKey(const uint8_t* key, int direction) noexcept override;
    // A stream cipher has no IV.
    void setIV(const uint8_t* ivBytes) noexcept override;
    // The key stream runs on across calls; one call serves both directions.
    void cryptStream(size_t count, const uint8_t* source, uint8_t* destination) noexcept override;

    void setKeyLength(uint64_t length) noexcept;
};
