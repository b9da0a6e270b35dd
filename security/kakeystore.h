// KaCryptoAPI: the part of the TLS socket that owns the crypto call mapper,
// carries the random-seed settings and reads certificates and keys from
// PKCS#12 files, PEM files and the driver's own key-store format. The TLS
// socket (transport/katlssock.h) derives from it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "security/kaopenssl.h"
#include "security/kasslmapper.h"

// The own key-store file: magic, format versions and password kinds.
constexpr uint8_t KA_KEYSTORE_MAGIC[3] = {0xA1, 0xF8, 0x4E};
constexpr size_t KA_KEYSTORE_HEADER = 12;
// Kind "A": 65 hexadecimal characters holding a DES key and 24 enciphered bytes.
constexpr size_t KA_KEYSTORE_DES_FIELD = 65;
constexpr size_t KA_KEYSTORE_DES_PASSWORD = 24;
// Kind "!": 33 bytes holding an AES-128 key and 16 enciphered bytes.
constexpr size_t KA_KEYSTORE_AES_FIELD = 33;
constexpr size_t KA_KEYSTORE_AES_PASSWORD = 16;
// The fixed initialisation vectors of the two kinds.
extern const uint8_t KA_KEYSTORE_DES_IV[8];
extern const uint8_t KA_KEYSTORE_AES_IV[16];
// Room of the host-and-user text that version "8" binds the password to.
constexpr size_t KA_KEYSTORE_BINDING = 512;

class KaCryptoAPI {
public:
    const char* allowedVersions = nullptr;  // borrowed: the socket's list
    KaCryptoCallMapper* cryptoMapper = nullptr;
    int32_t cryptoLibraryPathGiven = 0;
    char cryptoLibraryPath[KA_OPENSSL_PATH_MAX + 1] = {};
    const char* prngSeedFile = nullptr;  // borrowed
    int64_t prngMaxBytes = 0;
    int16_t prngSeedSource = 0;

    explicit KaCryptoAPI(const char* versions) noexcept : allowedVersions(versions) {}
    virtual ~KaCryptoAPI();
    KaCryptoAPI(const KaCryptoAPI&) = delete;
    KaCryptoAPI& operator=(const KaCryptoAPI&) = delete;

    // Releases the crypto mapper; the next createCryptoMapper builds a new one.
    virtual void release() noexcept;

    void setCryptoLibraryPath(const char* path) noexcept;
    void setPRNGSettings(const char* seedFile, int64_t maxBytes, int16_t seedSource) noexcept;
    // 0, or 1 with the diagnostics posted; the caller keeps the loader.
    [[nodiscard]] int createCryptoMapper(KaOpenSSLCallMapperLoader& loader) noexcept;
    // A loader from the part's own list and path, then createCryptoMapper.
    [[nodiscard]] int loadCryptoMapper() noexcept;

    // The readers give 1 and the objects (owned by the caller: X509_free,
    // EVP_PKEY_free, freeCaList) or 0; they post nothing and leave OpenSSL's
    // error queue to the caller.
    [[nodiscard]] int readPKCS12(const char* path, const char* password, void** certificate, void** key,
                                 void** caList) noexcept;
    [[nodiscard]] int readKeyStore(const char* path, void** certificate, void** key, void** caList) noexcept;
    void* readPEMCertificate(const char* path, const char* password) noexcept;
    void* readPEMPrivateKey(const char* path, const char* password) noexcept;

    // Frees what the readers returned; null pointers are skipped.
    void freeReaderResults(void* certificate, void* key, void* caList) noexcept;

private:
    // Opens the file for reading through a file BIO; null when it cannot be opened.
    void* openFile(const char* path) noexcept;
    [[nodiscard]] int parsePKCS12(void* bio, const char* password, void** certificate, void** key,
                                  void** caList) noexcept;
};

// Decodes a kind "A" field (KA_KEYSTORE_DES_FIELD characters) into its 33
// bytes, as the key store writes them: byte i from characters 2i-1 and 2i.
void kaKeyStoreDecodeHex(const uint8_t* field, uint8_t* bytes) noexcept;
// The password of a kind "A" field into password (KA_KEYSTORE_DES_PASSWORD
// + 1 bytes); 1 when the padding count is not valid.
[[nodiscard]] int kaKeyStoreDesPassword(const uint8_t* field, char* password) noexcept;
// Version "8": the password bound to host and user (16 characters from
// 1 to 127), from HMAC-SHA1 over the deciphered password.
void kaKeyStoreBindPassword(const uint8_t* digest, char* password) noexcept;
