// The cipher call mapper, its symbol table and KaCipherAPI.
#include "security/kacipherapi.h"

#include <cstring>

#include "foundation/errpost.h"
#include "foundation/fast.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

// Row positions of the cipher table; each row's index is its position.
enum CipherRow : uint32_t {
    ROW_ERR_get_error,
    ROW_EVP_des_ede_cbc,
    ROW_EVP_des_ede3_cbc,
    ROW_EVP_aes_128_cbc,
    ROW_EVP_aes_192_cbc,
    ROW_EVP_aes_256_cbc,
    ROW_EVP_CIPHER_CTX_cleanup,
    ROW_EVP_CIPHER_CTX_free,
    ROW_EVP_CIPHER_CTX_init,
    ROW_EVP_CIPHER_CTX_new,
    ROW_EVP_CIPHER_CTX_reset,
    ROW_EVP_CIPHER_CTX_set_key_length,
    ROW_EVP_CIPHER_CTX_set_padding,
    ROW_EVP_DecryptInit_ex,
    ROW_EVP_DecryptUpdate,
    ROW_EVP_EncryptInit_ex,
    ROW_EVP_EncryptUpdate,
    ROW_EVP_md5,
    ROW_EVP_rc4,
    ROW_EVP_sha1,
    ROW_EVP_sha256,
    ROW_EVP_sha512,
    ROW_HMAC_CTX_cleanup,
    ROW_HMAC_CTX_reset,
    ROW_HMAC_CTX_free,
    ROW_HMAC_CTX_init,
    ROW_HMAC_CTX_new,
    ROW_HMAC_Init_ex,
    ROW_HMAC_Final,
    ROW_HMAC,
    ROW_HMAC_Update,
    ROW_MD4,
    ROW_MD5,
    ROW_PEM_read_bio_RSA_PUBKEY,
    ROW_RAND_bytes,
    ROW_RSA_free,
    ROW_RSA_verify,
    ROW_RSA_private_decrypt,
    ROW_RSA_public_encrypt,
    ROW_RSA_size,
    ROW_SHA1,
    ROW_SHA256,
    ROW_SHA256_Init,
    ROW_SHA256_Update,
    ROW_SHA256_Final,
    ROW_SHA384,
    ROW_SHA512,
    ROW_SHA512_Final,
    ROW_SHA512_Init,
    ROW_SHA512_Update,
    CIPHER_ROWS
};

#define KA_ROW(name, mask)                                                                                             \
    {                                                                                                                  \
#name, ROW_##name, mask                                                                                        \
    }
constexpr uint32_t B = KA_OPENSSL_NEED_BOTH;
constexpr uint32_t V102 = KA_OPENSSL_NEED_102;
constexpr uint32_t V111 = KA_OPENSSL_NEED_111;
const CallMapperSymbol cipherRows[CIPHER_ROWS] = {
    KA_ROW(ERR_get_error, B),
    KA_ROW(EVP_des_ede_cbc, B),
    KA_ROW(EVP_des_ede3_cbc, B),
    KA_ROW(EVP_aes_128_cbc, B),
    KA_ROW(EVP_aes_192_cbc, B),
    KA_ROW(EVP_aes_256_cbc, B),
    KA_ROW(EVP_CIPHER_CTX_cleanup, V102),
    KA_ROW(EVP_CIPHER_CTX_free, V111),
    KA_ROW(EVP_CIPHER_CTX_init, V102),
    KA_ROW(EVP_CIPHER_CTX_new, V111),
    KA_ROW(EVP_CIPHER_CTX_reset, V111),
    KA_ROW(EVP_CIPHER_CTX_set_key_length, B),
    KA_ROW(EVP_CIPHER_CTX_set_padding, B),
    KA_ROW(EVP_DecryptInit_ex, B),
    KA_ROW(EVP_DecryptUpdate, B),
    KA_ROW(EVP_EncryptInit_ex, B),
    KA_ROW(EVP_EncryptUpdate, B),
    KA_ROW(EVP_md5, B),
    KA_ROW(EVP_rc4, B),
    KA_ROW(EVP_sha1, B),
    KA_ROW(EVP_sha256, B),
    KA_ROW(EVP_sha512, B),
    KA_ROW(HMAC_CTX_cleanup, V102),
    KA_ROW(HMAC_CTX_reset, V111),
    KA_ROW(HMAC_CTX_free, V111),
    KA_ROW(HMAC_CTX_init, V102),
    KA_ROW(HMAC_CTX_new, V111),
    KA_ROW(HMAC_Init_ex, B),
    KA_ROW(HMAC_Final, B),
    KA_ROW(HMAC, B),
    KA_ROW(HMAC_Update, B),
    KA_ROW(MD4, B),
    KA_ROW(MD5, B),
    KA_ROW(PEM_read_bio_RSA_PUBKEY, B),
    KA_ROW(RAND_bytes, B),
    KA_ROW(RSA_free, B),
    KA_ROW(RSA_verify, B),
    KA_ROW(RSA_private_decrypt, B),
    KA_ROW(RSA_public_encrypt, B),
    KA_ROW(RSA_size, B),
    KA_ROW(SHA1, B),
    KA_ROW(SHA256, B),
    KA_ROW(SHA256_Init, B),
    KA_ROW(SHA256_Update, B),
    KA_ROW(SHA256_Final, B),
    KA_ROW(SHA384, B),
    KA_ROW(SHA512, B),
    KA_ROW(SHA512_Final, B),
    KA_ROW(SHA512_Init, B),
    KA_ROW(SHA512_Update, B),
};
#undef KA_ROW

const KaOpenSSLTables cipherTables = {
    {cipherRows, CIPHER_ROWS, KA_OPENSSL_RESOLVE_ANY},
    {cipherRows, CIPHER_ROWS, KA_OPENSSL_NEED_102},
    {cipherRows, CIPHER_ROWS, KA_OPENSSL_NEED_111},
};

// Sizes of the 1.0.2 library's context structures, which its callers allocate.
constexpr size_t kCipherContext102 = 168;
constexpr size_t kHmacContext102 = 288;
constexpr size_t kSha256Context = 112;
constexpr size_t kSha512Context = 216;

void* allocContext(size_t size) noexcept
{
    return ramAlloc(size);  // reports out of memory itself
}

}  // namespace

const KaOpenSSLTables& kaCipherTables() noexcept
{
    return cipherTables;
}

KaCipherCallMapper::~KaCipherCallMapper() = default;

// Calls the entry at a row with the caller's arguments; an empty slot gives
// the call's failure value.
#define KA_FORWARD(Ret, name, fail, params, args)                                                                      \
    Ret KaCipherCallMapper::name params noexcept                                                                       \
    {                                                                                                                  \
        using Fn = Ret(*) params;                                                                                      \
        auto fn = reinterpret_cast<Fn>(slot(ROW_##name));                                                              \
        return fn != nullptr ? fn args : fail;                                                                         \
    }

KA_FORWARD(unsigned long, ERR_get_error, 0, (), ())
KA_FORWARD(const void*, EVP_des_ede_cbc, nullptr, (), ())
KA_FORWARD(const void*, EVP_des_ede3_cbc, nullptr, (), ())
KA_FORWARD(const void*, EVP_aes_128_cbc, nullptr, (), ())
KA_FORWARD(const void*, EVP_aes_192_cbc, nullptr, (), ())
KA_FORWARD(const void*, EVP_aes_256_cbc, nullptr, (), ())
KA_FORWARD(const void*, EVP_rc4, nullptr, (), ())
KA_FORWARD(const void*, EVP_md5, nullptr, (), ())
KA_FORWARD(const void*, EVP_sha1, nullptr, (), ())
KA_FORWARD(const void*, EVP_sha256, nullptr, (), ())
KA_FORWARD(const void*, EVP_sha512, nullptr, (), ())
KA_FORWARD(int, EVP_CIPHER_CTX_set_key_length, 0, (void* c, int n), (c, n))
KA_FORWARD(int, EVP_CIPHER_CTX_set_padding, 0, (void* c, int p), (c, p))
KA_FORWARD(int, EVP_EncryptInit_ex, 0, (void* c, const void* ci, void* e, const uint8_t* k, const uint8_t* iv),
           (c, ci, e, k, iv))
KA_FORWARD(int, EVP_DecryptInit_ex, 0, (void* c, const void* ci, void* e, const uint8_t* k, const uint8_t* iv),
           (c, ci, e, k, iv))
KA_FORWARD(int, EVP_EncryptUpdate, 0, (void* c, uint8_t* o, int* ol, const uint8_t* i, int il), (c, o, ol, i, il))
KA_FORWARD(int, EVP_DecryptUpdate, 0, (void* c, uint8_t* o, int* ol, const uint8_t* i, int il), (c, o, ol, i, il))
KA_FORWARD(int, HMAC_Init_ex, 0, (void* c, const void* k, int kl, const void* d, void* e), (c, k, kl, d, e))
KA_FORWARD(int, HMAC_Update, 0, (void* c, const uint8_t* d, size_t n), (c, d, n))
KA_FORWARD(int, HMAC_Final, 0, (void* c, uint8_t* o, unsigned* ol), (c, o, ol))
KA_FORWARD(uint8_t*, HMAC, nullptr,
           (const void* d, const void* k, int kl, const uint8_t* data, size_t n, uint8_t* o, unsigned* ol),
           (d, k, kl, data, n, o, ol))
KA_FORWARD(uint8_t*, MD4, nullptr, (const uint8_t* d, size_t n, uint8_t* o), (d, n, o))
KA_FORWARD(uint8_t*, MD5, nullptr, (const uint8_t* d, size_t n, uint8_t* o), (d, n, o))
KA_FORWARD(uint8_t*, SHA1, nullptr, (const uint8_t* d, size_t n, uint8_t* o), (d, n, o))
KA_FORWARD(uint8_t*, SHA256, nullptr, (const uint8_t* d, size_t n, uint8_t* o), (d, n, o))
KA_FORWARD(uint8_t*, SHA384, nullptr, (const uint8_t* d, size_t n, uint8_t* o), (d, n, o))
KA_FORWARD(uint8_t*, SHA512, nullptr, (const uint8_t* d, size_t n, uint8_t* o), (d, n, o))
KA_FORWARD(int, SHA256_Init, 0, (void* c), (c))
KA_FORWARD(int, SHA256_Update, 0, (void* c, const void* d, size_t n), (c, d, n))
KA_FORWARD(int, SHA256_Final, 0, (uint8_t * o, void* c), (o, c))
KA_FORWARD(int, SHA512_Init, 0, (void* c), (c))
KA_FORWARD(int, SHA512_Update, 0, (void* c, const void* d, size_t n), (c, d, n))
KA_FORWARD(int, SHA512_Final, 0, (uint8_t * o, void* c), (o, c))
KA_FORWARD(int, RAND_bytes, 0, (uint8_t * o, int n), (o, n))
#undef KA_FORWARD

namespace {

template <typename Ret, typename... Args>
Ret callRow(const KaCipherCallMapper& m, uint32_t row, Ret fail, Args... args) noexcept
{
    auto fn = reinterpret_cast<Ret (*)(Args...)>(m.entryPoint(row));
    return fn != nullptr ? fn(args...) : fail;
}

template <typename... Args>
void callRowVoid(const KaCipherCallMapper& m, uint32_t row, Args... args) noexcept
{
    auto fn = reinterpret_cast<void (*)(Args...)>(m.entryPoint(row));
    if (fn != nullptr)
        fn(args...);
}

}  // namespace

void* KaCipherCallMapper10::newCipherContext() noexcept
{
    return allocContext(kCipherContext102);
}

void KaCipherCallMapper10::freeCipherContext(void* context) noexcept
{
    if (context == nullptr)
        return;
    cleanupCipherContext(context);
    // The context held the key schedule.
    fastMemzero(context, kCipherContext102);
    ramFree(context);
}

void KaCipherCallMapper10::cleanupCipherContext(void* context) noexcept
{
    (void)callRow(*this, ROW_EVP_CIPHER_CTX_cleanup, 0, context);
}

void* KaCipherCallMapper10::newHmacContext() noexcept
{
    return allocContext(kHmacContext102);
}

void KaCipherCallMapper10::freeHmacContext(void* context) noexcept
{
    if (context == nullptr)
        return;
    cleanupHmacContext(context);
    fastMemzero(context, kHmacContext102);
    ramFree(context);
}

int KaCipherCallMapper10::initCipherContext(void* context) noexcept
{
    callRowVoid(*this, ROW_EVP_CIPHER_CTX_init, context);
    return 1;
}

int KaCipherCallMapper10::initHmacContext(void* context) noexcept
{
    callRowVoid(*this, ROW_HMAC_CTX_init, context);
    return 1;
}

void KaCipherCallMapper10::cleanupHmacContext(void* context) noexcept
{
    callRowVoid(*this, ROW_HMAC_CTX_cleanup, context);
}

void* KaCipherCallMapper10::newSha256Context() noexcept
{
    return allocContext(kSha256Context);
}
void KaCipherCallMapper10::freeSha256Context(void* context) noexcept
{
    ramFree(context);
}
void* KaCipherCallMapper10::newSha512Context() noexcept
{
    return allocContext(kSha512Context);
}
void KaCipherCallMapper10::freeSha512Context(void* context) noexcept
{
    ramFree(context);
}

void* KaCipherCallMapper11::newCipherContext() noexcept
{
    return callRow<void*>(*this, ROW_EVP_CIPHER_CTX_new, nullptr);
}

void KaCipherCallMapper11::freeCipherContext(void* context) noexcept
{
    callRowVoid(*this, ROW_EVP_CIPHER_CTX_free, context);
}

void KaCipherCallMapper11::cleanupCipherContext(void* context) noexcept
{
    (void)callRow(*this, ROW_EVP_CIPHER_CTX_reset, 0, context);
}

void* KaCipherCallMapper11::newHmacContext() noexcept
{
    return callRow<void*>(*this, ROW_HMAC_CTX_new, nullptr);
}

void KaCipherCallMapper11::freeHmacContext(void* context) noexcept
{
    callRowVoid(*this, ROW_HMAC_CTX_free, context);
}

int KaCipherCallMapper11::initCipherContext(void* context) noexcept
{
    return callRow(*this, ROW_EVP_CIPHER_CTX_reset, 0, context);
}

int KaCipherCallMapper11::initHmacContext(void* context) noexcept
{
    return callRow(*this, ROW_HMAC_CTX_reset, 0, context);
}

void KaCipherCallMapper11::cleanupHmacContext(void* context) noexcept
{
    (void)initHmacContext(context);
}

void* KaCipherCallMapper11::newSha256Context() noexcept
{
    return allocContext(kSha256Context);
}
void KaCipherCallMapper11::freeSha256Context(void* context) noexcept
{
    ramFree(context);
}
void* KaCipherCallMapper11::newSha512Context() noexcept
{
    return allocContext(kSha512Context);
}
void KaCipherCallMapper11::freeSha512Context(void* context) noexcept
{
    ramFree(context);
}

void KaCipherAPI::setLibraryPath(const char* path) noexcept
{
    if (path == nullptr || path[0] == '\0')
        return;
    size_t n = strnlen(path, KA_CIPHER_LIBRARY_PATH - 1);
    memcpy(libraryPath, path, n);
    libraryPath[n] = '\0';
    libraryPathGiven = 1;
}

int KaCipherAPI::createMapper() noexcept
{
    KaOpenSSLCallMapperLoader* created = nullptr;
    if (KaOpenSSLCallMapperLoader::create(&created, allowedVersions, libraryPathGiven ? libraryPath : nullptr,
                                          &cipherTables) != 0)
        return 1;
    std::unique_ptr<KaOpenSSLCallMapperLoader> loader(created);
    std::unique_ptr<KaCipherCallMapper> made;
    if (loader->versionCode == KA_OPENSSL_102) {
        made.reset(new KaCipherCallMapper10());
    } else if (loader->versionCode == KA_OPENSSL_111) {
        made.reset(new KaCipherCallMapper11());
    } else {
        errPost(MSG_OPENSSL_VERSION_UNKNOWN)->addParamText(allowedVersions != nullptr ? allowedVersions : "");
        return 1;
    }
    if (made == nullptr) {
        errPost(MSG_OPENSSL_CIPHER_SETUP_FAILED)->addParamText("Error allocating CipherCallMapper.");
        return 1;
    }
    loader->handOver(*made);
    loader.reset();
    if (made->initializeOnce() != 0)
        return 1;
    if (keyLength != 0)
        made->keyLength = keyLength;
    cipherMapper = made.release();
    return 0;
}

KaCipherCallMapper* KaCipherAPI::mapper() noexcept
{
    if (cipherMapper == nullptr && createMapper() != 0)
        return nullptr;
    return cipherMapper;
}

int KaCipherAPI::newContext() noexcept
{
    if (mapper() == nullptr)
        return 1;
    cipherContext = cipherMapper->newCipherContext();
    if (cipherContext == nullptr) {
        errPost(MSG_OPENSSL_CIPHER_SETUP_FAILED)->addParamText("Error allocating EVP Context.");
        return 1;
    }
    (void)cipherMapper->initCipherContext(cipherContext);
    return 0;
}

void KaCipherAPI::freeContext() noexcept
{
    if (cipherMapper == nullptr)
        return;
    if (cipherMapper->mapper != nullptr && cipherMapper->mapper->loaded && cipherContext != nullptr)
        cipherMapper->freeCipherContext(cipherContext);
    cipherContext = nullptr;
    delete cipherMapper;
    cipherMapper = nullptr;
}
