// The cipher call mapper: symmetric ciphers, digests, HMAC and random bytes
// of the run-time-loaded OpenSSL crypto library, with adapters for the 1.0.2
// and 1.1.1 call sets, and KaCipherAPI, the part each library-backed cipher
// object carries (AES, triple DES and RC4 encryptors, NTLM, SCRAM, key stores).
#pragma once
#include <cstddef>
#include <cstdint>

#include "security/kaopenssl.h"

// Key length of a new cipher mapper, in bytes.
constexpr uint64_t KA_CIPHER_DEFAULT_KEY_LENGTH = 32;

// The cipher table's descriptors (any version, 1.0.2, 1.1.1).
const KaOpenSSLTables& kaCipherTables() noexcept;

class KaCipherCallMapper : public KaOpenSSLCallMapperLoader {
public:
    uint64_t keyLength = KA_CIPHER_DEFAULT_KEY_LENGTH;

    ~KaCipherCallMapper() override;

    virtual void* newCipherContext() noexcept = 0;
    virtual void freeCipherContext(void* context) noexcept = 0;
    virtual void cleanupCipherContext(void* context) noexcept = 0;
    virtual void* newHmacContext() noexcept = 0;
    virtual void freeHmacContext(void* context) noexcept = 0;
    virtual int initCipherContext(void* context) noexcept = 0;
    virtual int initHmacContext(void* context) noexcept = 0;
    virtual void cleanupHmacContext(void* context) noexcept = 0;
    virtual void* newSha256Context() noexcept = 0;
    virtual void freeSha256Context(void* context) noexcept = 0;
    virtual void* newSha512Context() noexcept = 0;
    virtual void freeSha512Context(void* context) noexcept = 0;

    // Forwarders, named after the OpenSSL functions; an empty slot gives
    // the failure value of the call (0 or null).
    unsigned long ERR_get_error() noexcept;
    const void* EVP_des_ede_cbc() noexcept;
    const void* EVP_des_ede3_cbc() noexcept;
    const void* EVP_aes_128_cbc() noexcept;
    const void* EVP_aes_192_cbc() noexcept;
    const void* EVP_aes_256_cbc() noexcept;
    const void* EVP_rc4() noexcept;
    const void* EVP_md5() noexcept;
    const void* EVP_sha1() noexcept;
    const void* EVP_sha256() noexcept;
    const void* EVP_sha512() noexcept;
    int EVP_CIPHER_CTX_set_key_length(void* context, int length) noexcept;
    int EVP_CIPHER_CTX_set_padding(void* context, int padding) noexcept;
    int EVP_EncryptInit_ex(void* context, const void* cipher, void* engine, const uint8_t* key,
                           const uint8_t* iv) noexcept;
    int EVP_DecryptInit_ex(void* context, const void* cipher, void* engine, const uint8_t* key,
                           const uint8_t* iv) noexcept;
    int EVP_EncryptUpdate(void* context, uint8_t* out, int* outLength, const uint8_t* in, int inLength) noexcept;
    int EVP_DecryptUpdate(void* context, uint8_t* out, int* outLength, const uint8_t* in, int inLength) noexcept;
    int HMAC_Init_ex(void* context, const void* key, int keyLength, const void* digest, void* engine) noexcept;
    int HMAC_Update(void* context, const uint8_t* data, size_t length) noexcept;
    int HMAC_Final(void* context, uint8_t* out, unsigned* outLength) noexcept;
    uint8_t* HMAC(const void* digest, const void* key, int keyLength, const uint8_t* data, size_t length, uint8_t* out,
                  unsigned* outLength) noexcept;
    uint8_t* MD4(const uint8_t* data, size_t length, uint8_t* out) noexcept;
    uint8_t* MD5(const uint8_t* data, size_t length, uint8_t* out) noexcept;
    uint8_t* SHA1(const uint8_t* data, size_t length, uint8_t* out) noexcept;
    uint8_t* SHA256(const uint8_t* data, size_t length, uint8_t* out) noexcept;
    uint8_t* SHA384(const uint8_t* data, size_t length, uint8_t* out) noexcept;
    uint8_t* SHA512(const uint8_t* data, size_t length, uint8_t* out) noexcept;
    int SHA256_Init(void* context) noexcept;
    int SHA256_Update(void* context, const void* data, size_t length) noexcept;
    int SHA256_Final(uint8_t* out, void* context) noexcept;
    int SHA512_Init(void* context) noexcept;
    int SHA512_Update(void* context, const void* data, size_t length) noexcept;
    int SHA512_Final(uint8_t* out, void* context) noexcept;
    int RAND_bytes(uint8_t* out, int count) noexcept;

protected:
    void* slot(uint32_t index) const noexcept { return entryPoint(index); }
};

// Contexts sized as the 1.0.2 library's structures, allocated here.
class KaCipherCallMapper10 : public KaCipherCallMapper {
public:
    void* newCipherContext() noexcept override;
    void freeCipherContext(void* context) noexcept override;
    void cleanupCipherContext(void* context) noexcept override;
    void* newHmacContext() noexcept override;
    void freeHmacContext(void* context) noexcept override;
    int initCipherContext(void* context) noexcept override;
    int initHmacContext(void* context) noexcept override;
    void cleanupHmacContext(void* context) noexcept override;
    void* newSha256Context() noexcept override;
    void freeSha256Context(void* context) noexcept override;
    void* newSha512Context() noexcept override;
    void freeSha512Context(void* context) noexcept override;
};

// The 1.1.1 library allocates its cipher and HMAC contexts itself.
class KaCipherCallMapper11 : public KaCipherCallMapper {
public:
    void* newCipherContext() noexcept override;
    void freeCipherContext(void* context) noexcept override;
    void cleanupCipherContext(void* context) noexcept override;
    void* newHmacContext() noexcept override;
    void freeHmacContext(void* context) noexcept override;
    int initCipherContext(void* context) noexcept override;
    int initHmacContext(void* context) noexcept override;
    void cleanupHmacContext(void* context) noexcept override;
    void* newSha256Context() noexcept override;
    void freeSha256Context(void* context) noexcept override;
    void* newSha512Context() noexcept override;
    void freeSha512Context(void* context) noexcept override;
};

constexpr size_t KA_CIPHER_LIBRARY_PATH = 1024;

class KaCipherAPI {
public:
    void* cipherContext = nullptr;
    KaCipherCallMapper* cipherMapper = nullptr;
    int32_t libraryPathGiven = 0;
    char libraryPath[KA_CIPHER_LIBRARY_PATH] = {};
    uint64_t keyLength = 0;
    const char* allowedVersions = nullptr;  // borrowed

    explicit KaCipherAPI(const char* versions) noexcept : allowedVersions(versions) {}
    ~KaCipherAPI() { freeContext(); }
    KaCipherAPI(const KaCipherAPI&) = delete;
    KaCipherAPI& operator=(const KaCipherAPI&) = delete;

    void setLibraryPath(const char* path) noexcept;
    [[nodiscard]] int createMapper() noexcept;
    KaCipherCallMapper* mapper() noexcept;
    [[nodiscard]] int newContext() noexcept;
    void freeContext() noexcept;
};
