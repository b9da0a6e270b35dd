// The crypto part of the TLS socket: the crypto mapper and the key-store
// readers.
//
// The own key-store format keeps the key that enciphers the PKCS#12
// password in the same file (kind "A" even in plain hexadecimal), so the
// encipherment hides the password from nobody who has the file. Files in it
// are still read, as users have them; the driver never writes one.
#include "security/kakeystore.h"

#include <unistd.h>

#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/fast.h"
#include "kamessages.h"
#include "platform/bosenv.h"
#include "security/kacipher.h"
#include "security/kaentrycall.h"
#include "security/kaevpcipher.h"

const uint8_t KA_KEYSTORE_DES_IV[8] = {0x4B, 0x61, 0x53, 0x74, 0x6F, 0x72, 0x65, 0x31};
const uint8_t KA_KEYSTORE_AES_IV[16] = {0x4B, 0x61, 0x4B, 0x65, 0x79, 0x53, 0x74, 0x6F,
                                        0x72, 0x65, 0x41, 0x45, 0x53, 0x49, 0x56, 0x31};

namespace {

// BIO_ctrl's command that opens a file, and its read mode.
constexpr int kBioCtrlReadFilename = 108;
constexpr long kBioOpenRead = 3;
// The DES key and the enciphered password within a decoded kind "A" field.
constexpr size_t kDesKeyAt = 1;
constexpr size_t kDesDataAt = 9;
constexpr size_t kAesKeyAt = 1;
constexpr size_t kAesDataAt = 17;
constexpr size_t kAesKeyLength = 16;
constexpr size_t kBoundPasswordLength = 16;
constexpr size_t kSha1Length = 20;

int hexValue(uint8_t c) noexcept
{
    // Letters are taken as lower case, as the key store writes them.
    return c > 96 ? c - 87 : c - 48;
}

// Reads exactly count bytes; 1 when the file held them.
bool readExactly(KaCryptoCallMapper* m, void* bio, void* out, size_t count) noexcept
{
    return call(m->slot(KA_CRYPTO_BIO_read), -1, bio, out, int(count)) == int(count);
}

}  // namespace

void kaKeyStoreDecodeHex(const uint8_t* field, uint8_t* bytes) noexcept
{
    bytes[0] = uint8_t(hexValue(field[0]));
    for (size_t i = 1; i <= 32; ++i)
        bytes[i] = uint8_t(hexValue(field[2 * i - 1]) * 16 + hexValue(field[2 * i]));
}

int kaKeyStoreDesPassword(const uint8_t* field, char* password) noexcept
{
    uint8_t bytes[33];
    kaKeyStoreDecodeHex(field, bytes);
    DESwCBCEncryptor des;
    des.setIV(KA_KEYSTORE_DES_IV);
    des.setKey(bytes + kDesKeyAt, KA_CRYPT_DECRYPT);
    uint8_t plain[KA_KEYSTORE_DES_PASSWORD];
    des.decrypt(bytes + kDesDataAt, plain, sizeof plain);
    int rc = 1;
    uint8_t n = plain[KA_KEYSTORE_DES_PASSWORD - 1];
    if (n >= 1 && n <= KA_KEYSTORE_DES_PASSWORD) {
        memcpy(password, plain, KA_KEYSTORE_DES_PASSWORD);
        password[KA_KEYSTORE_DES_PASSWORD - n] = '\0';
        password[KA_KEYSTORE_DES_PASSWORD] = '\0';
        rc = 0;
    }
    des.wipe();
    fastMemzero(bytes, sizeof bytes);
    fastMemzero(plain, sizeof plain);
    return rc;
}

void kaKeyStoreBindPassword(const uint8_t* digest, char* password) noexcept
{
    for (size_t i = 0; i < kBoundPasswordLength; ++i)
        password[i] = char((digest[i] & 0x7F) % 127 + 1);
    password[kBoundPasswordLength] = '\0';
}

KaCryptoAPI::~KaCryptoAPI()
{
    KaCryptoAPI::release();
}

void KaCryptoAPI::release() noexcept
{
    delete cryptoMapper;
    cryptoMapper = nullptr;
}

void KaCryptoAPI::setCryptoLibraryPath(const char* path) noexcept
{
    if (path == nullptr || path[0] == '\0')
        return;
    size_t n = strnlen(path, KA_OPENSSL_PATH_MAX);
    memcpy(cryptoLibraryPath, path, n);
    cryptoLibraryPath[n] = '\0';
    cryptoLibraryPathGiven = 1;
}

void KaCryptoAPI::setPRNGSettings(const char* seedFile, int64_t maxBytes, int16_t seedSource) noexcept
{
    prngSeedFile = seedFile;
    prngMaxBytes = maxBytes;
    prngSeedSource = seedSource;
}

int KaCryptoAPI::createCryptoMapper(KaOpenSSLCallMapperLoader& loader) noexcept
{
    if (cryptoMapper != nullptr)
        return 0;
    cryptoMapper = KaCryptoCallMapper::selectMapper(loader);
    if (cryptoMapper == nullptr) {
        errPost(MSG_OPENSSL_CIPHER_SETUP_FAILED)->addParamText("Error allocating CryptoCallMapper.");
        return 1;
    }
    cryptoMapper->seedFile = prngSeedFile;
    cryptoMapper->seedMaxBytes = prngMaxBytes;
    cryptoMapper->seedSource = prngSeedSource;
    if (cryptoMapper->initializeOnce() != 0) {
        release();
        return 1;
    }
    return 0;
}

int KaCryptoAPI::loadCryptoMapper() noexcept
{
    KaOpenSSLCallMapperLoader* loader = nullptr;
    if (KaOpenSSLCallMapperLoader::create(&loader, allowedVersions,
                                          cryptoLibraryPathGiven ? cryptoLibraryPath : nullptr, &kaCryptoTables()) != 0)
        return 1;
    int rc = createCryptoMapper(*loader);
    delete loader;
    return rc;
}

void* KaCryptoAPI::openFile(const char* path) noexcept
{
    if (cryptoMapper == nullptr || path == nullptr)
        return nullptr;
    void* method = call<void*>(cryptoMapper->slot(KA_CRYPTO_BIO_s_file), nullptr);
    void* bio = call<void*>(cryptoMapper->slot(KA_CRYPTO_BIO_new), nullptr, method);
    if (bio == nullptr)
        return nullptr;
    if (call<long>(cryptoMapper->slot(KA_CRYPTO_BIO_ctrl), 0L, bio, kBioCtrlReadFilename, kBioOpenRead,
                   static_cast<void*>(const_cast<char*>(path))) <= 0) {
        cryptoMapper->freeBio(bio);
        return nullptr;
    }
    return bio;
}

int KaCryptoAPI::parsePKCS12(void* bio, const char* password, void** certificate, void** key, void** caList) noexcept
{
    KaCryptoCallMapper* m = cryptoMapper;
    void* p12 = call<void*>(m->slot(KA_CRYPTO_d2i_PKCS12_bio), nullptr, bio, static_cast<void*>(nullptr));
    if (p12 == nullptr)
        return 0;
    int rc = call(m->slot(KA_CRYPTO_PKCS12_parse), 0, p12, password, key, certificate, caList);
    callVoid(m->slot(KA_CRYPTO_PKCS12_free), p12);
    return rc == 1 ? 1 : 0;
}

int KaCryptoAPI::readPKCS12(const char* path, const char* password, void** certificate, void** key,
                            void** caList) noexcept
{
    void* bio = openFile(path);
    if (bio == nullptr)
        return 0;
    int rc = parsePKCS12(bio, password, certificate, key, caList);
    cryptoMapper->freeBio(bio);
    return rc;
}

int KaCryptoAPI::readKeyStore(const char* path, void** certificate, void** key, void** caList) noexcept
{
    void* bio = openFile(path);
    if (bio == nullptr)
        return 0;
    KaCryptoCallMapper* m = cryptoMapper;
    int rc = 0;
    uint8_t header[KA_KEYSTORE_HEADER];
    uint8_t field[KA_KEYSTORE_DES_FIELD];
    // Room for the longest password of either kind and its terminator.
    char password[KA_KEYSTORE_DES_PASSWORD + 1] = {};
    size_t passwordLength = 0;
    bool ok = readExactly(m, bio, header, sizeof header) && memcmp(header, KA_KEYSTORE_MAGIC, 3) == 0 &&
              (header[3] == '6' || header[3] == '7' || header[3] == '8') && header[4] == 0 && header[5] == 0 &&
              header[6] == 0 && (header[7] == 5 || header[7] == 6);
    if (ok && header[11] == 'A') {
        ok = readExactly(m, bio, field, KA_KEYSTORE_DES_FIELD) && kaKeyStoreDesPassword(field, password) == 0;
        passwordLength = KA_KEYSTORE_DES_PASSWORD;
    } else if (ok && header[11] == '!') {
        ok = readExactly(m, bio, field, KA_KEYSTORE_AES_FIELD);
        if (ok) {
            AESwCBCEncryptor aes(allowedVersions);
            if (cryptoLibraryPathGiven && cryptoLibraryPath[0] != '\0')
                aes.setLibraryPath(cryptoLibraryPath);
            aes.setKeyLength(kAesKeyLength);
            aes.setIV(KA_KEYSTORE_AES_IV);
            aes.setPadding(0);
            ok = aes.newContext() == 0;
            if (ok) {
                aes.setKey(field + kAesKeyAt, KA_CRYPT_DECRYPT);
                aes.decrypt(field + kAesDataAt, password, KA_KEYSTORE_AES_PASSWORD);
                password[KA_KEYSTORE_AES_PASSWORD] = '\0';
            }
        }
        passwordLength = KA_KEYSTORE_AES_PASSWORD;
    } else {
        ok = false;
    }
    if (ok && header[3] == '8') {
        char binding[KA_KEYSTORE_BINDING] = {};
        ok = gethostname(binding, sizeof binding - 1) == 0;
        size_t used = strnlen(binding, sizeof binding);
        ok = ok && used + 1 < sizeof binding && bosGetUserName(binding + used, sizeof binding - used) == 0;
        if (ok) {
            AESwCBCEncryptor hmacSource(allowedVersions);
            if (cryptoLibraryPathGiven && cryptoLibraryPath[0] != '\0')
                hmacSource.setLibraryPath(cryptoLibraryPath);
            KaCipherCallMapper* cm = hmacSource.mapper();
            uint8_t digest[kSha1Length] = {};
            unsigned digestLength = 0;
            ok = cm != nullptr &&
                 cm->HMAC(cm->EVP_sha1(), binding, int(strnlen(binding, sizeof binding)),
                          reinterpret_cast<const uint8_t*>(password), passwordLength, digest,
                          &digestLength) != nullptr &&
                 digestLength >= kBoundPasswordLength;
            if (ok)
                kaKeyStoreBindPassword(digest, password);
            fastMemzero(digest, sizeof digest);
        }
        fastMemzero(binding, sizeof binding);
    }
    if (ok)
        rc = parsePKCS12(bio, password, certificate, key, caList);
    fastMemzero(password, sizeof password);
    fastMemzero(field, sizeof field);
    m->freeBio(bio);
    return rc;
}

void* KaCryptoAPI::readPEMCertificate(const char* path, const char* password) noexcept
{
    void* bio = openFile(path);
    if (bio == nullptr)
        return nullptr;
    void* x =
        call<void*>(cryptoMapper->slot(KA_CRYPTO_PEM_read_bio_X509_AUX), nullptr, bio, static_cast<void*>(nullptr),
                    static_cast<void*>(nullptr), static_cast<void*>(const_cast<char*>(password)));
    cryptoMapper->freeBio(bio);
    return x;
}

void* KaCryptoAPI::readPEMPrivateKey(const char* path, const char* password) noexcept
{
    void* bio = openFile(path);
    if (bio == nullptr)
        return nullptr;
    void* k =
        call<void*>(cryptoMapper->slot(KA_CRYPTO_PEM_read_bio_PrivateKey), nullptr, bio, static_cast<void*>(nullptr),
                    static_cast<void*>(nullptr), static_cast<void*>(const_cast<char*>(password)));
    cryptoMapper->freeBio(bio);
    return k;
}

void KaCryptoAPI::freeReaderResults(void* certificate, void* key, void* caList) noexcept
{
    if (cryptoMapper == nullptr)
        return;
    if (certificate != nullptr)
        callVoid(cryptoMapper->slot(KA_CRYPTO_X509_free), certificate);
    if (key != nullptr)
        callVoid(cryptoMapper->slot(KA_CRYPTO_EVP_PKEY_free), key);
    if (caList != nullptr)
        callVoid(cryptoMapper->slot(KA_CRYPTO_sk_pop_free), caList, cryptoMapper->slot(KA_CRYPTO_X509_free));
}
