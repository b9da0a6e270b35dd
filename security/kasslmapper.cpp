// The SSL and crypto call mappers: tables, adapters and factories.
#include "security/kasslmapper.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/kalock.h"
#include "foundation/kaowner.h"
#include "kamessages.h"
#include "platform/bosenv.h"
#include "security/kaentrycall.h"

namespace {

constexpr uint32_t B = KA_OPENSSL_NEED_BOTH;
constexpr uint32_t V102 = KA_OPENSSL_NEED_102;
constexpr uint32_t V111 = KA_OPENSSL_NEED_111;
constexpr uint32_t ALIAS = KA_OPENSSL_ALIAS_111;

#define KA_SSL(name, mask)                                                                                             \
    {                                                                                                                  \
#name, KA_SSL_##name, mask                                                                                     \
    }
// In table order: the two certificate-file rows stand swapped against their slots.
const CallMapperSymbol sslRows[] = {
    KA_SSL(OPENSSL_init_ssl, V111),
    KA_SSL(SSL_connect, B),
    KA_SSL(SSL_CIPHER_get_name, B),
    KA_SSL(SSL_CTX_check_private_key, B),
    KA_SSL(SSL_CTX_ctrl, B),
    KA_SSL(SSL_CTX_free, B),
    KA_SSL(SSL_CTX_get_cert_store, B),
    KA_SSL(SSL_CTX_load_verify_locations, B),
    KA_SSL(SSL_CTX_new, B),
    KA_SSL(SSL_CTX_set_cert_store, B),
    KA_SSL(SSL_CTX_set_cipher_list, B),
    KA_SSL(SSL_CTX_set_default_passwd_cb, B),
    KA_SSL(SSL_CTX_set_default_passwd_cb_userdata, B),
    KA_SSL(SSL_CTX_set_default_verify_paths, B),
    KA_SSL(SSL_CTX_set_options, V111),
    KA_SSL(SSL_CTX_set_verify, B),
    KA_SSL(SSL_CTX_set_verify_depth, B),
    KA_SSL(SSL_CTX_use_certificate, B),
    KA_SSL(SSL_CTX_use_certificate_chain_file, B),
    KA_SSL(SSL_CTX_use_certificate_file, B),
    KA_SSL(SSL_CTX_use_PrivateKey, B),
    KA_SSL(SSL_CTX_use_PrivateKey_file, B),
    KA_SSL(SSL_free, B),
    KA_SSL(SSL_get_current_cipher, B),
    KA_SSL(SSL_get_error, B),
    KA_SSL(SSL_get_ex_data, B),
    KA_SSL(SSL_get_peer_certificate, B),
    KA_SSL(SSL_get_rbio, B),
    KA_SSL(SSL_get_verify_mode, B),
    KA_SSL(SSL_get_verify_result, B),
    KA_SSL(SSL_get_version, B),
    KA_SSL(SSL_library_init, V102),
    KA_SSL(SSL_load_error_strings, V102),
    KA_SSL(SSL_new, B),
    KA_SSL(SSL_read, B),
    KA_SSL(SSL_set_bio, B),
    KA_SSL(SSL_set_ex_data, B),
    KA_SSL(SSL_set_fd, B),
    KA_SSL(SSL_shutdown, B),
    KA_SSL(SSL_write, B),
    KA_SSL(SSLv2_client_method, V102),
    KA_SSL(SSLv23_client_method, V102),
    KA_SSL(SSLv3_client_method, B),
    KA_SSL(TLS_client_method, V111),
    KA_SSL(TLSv1_client_method, B),
    KA_SSL(BIO_set_callback, V111),
    KA_SSL(BIO_set_callback_arg, V111),
};
#undef KA_SSL
static_assert(sizeof sslRows / sizeof sslRows[0] == KA_SSL_ROWS);

#define KA_CR(name, mask)                                                                                              \
    {                                                                                                                  \
#name, KA_CRYPTO_##name, mask                                                                                  \
    }
#define KA_CRA(name, slotName)                                                                                         \
    {                                                                                                                  \
#name, KA_CRYPTO_##slotName, ALIAS                                                                             \
    }
const CallMapperSymbol cryptoRows[] = {
    KA_CR(ASN1_STRING_data, B),
    KA_CR(ASN1_STRING_length, B),
    KA_CR(BIO_ctrl, B),
    KA_CR(PKCS12_free, B),
    KA_CR(BIO_free, B),
    KA_CR(BIO_new, B),
    KA_CR(BIO_set, V102),
    KA_CR(BIO_set_callback_arg, B),
    KA_CR(BIO_get_callback_arg, B),
    KA_CR(BIO_set_init, V111),
    KA_CR(BIO_s_datagram, B),
    KA_CR(BIO_s_file, B),
    KA_CR(BIO_read, B),
    KA_CR(BIO_gets, B),
    KA_CR(BIO_write, B),
    KA_CR(BIO_puts, B),
    KA_CR(BIO_new_mem_buf, B),
    KA_CR(BIO_meth_new, V111),
    KA_CR(BIO_meth_free, V111),
    KA_CR(BIO_meth_set_write, V111),
    KA_CR(BIO_meth_set_read, V111),
    KA_CR(BIO_meth_set_puts, V111),
    KA_CR(BIO_meth_set_gets, V111),
    KA_CR(BIO_meth_set_ctrl, V111),
    KA_CR(BIO_meth_set_create, V111),
    KA_CR(BIO_meth_set_destroy, V111),
    KA_CR(BIO_meth_set_callback_ctrl, V111),
    KA_CR(CRYPTO_free, B),
    KA_CR(d2i_PKCS12_bio, B),
    KA_CR(d2i_PKCS8PrivateKey_bio, B),
    KA_CR(ERR_error_string_n, B),
    KA_CR(ERR_get_error, B),
    KA_CR(ERR_peek_error, B),
    KA_CR(ERR_print_errors_fp, B),
    KA_CR(EVP_cleanup, V102),
    KA_CR(EVP_PKEY_free, B),
    KA_CR(EVP_PKEY_new, B),
    KA_CR(EVP_PKEY_get1_RSA, B),
    KA_CR(OBJ_nid2sn, B),
    KA_CR(OBJ_obj2nid, B),
    KA_CR(OPENSSL_add_all_algorithms_conf, V102),
    KA_CR(OPENSSL_init_crypto, V111),
    KA_CR(PEM_read_bio_PrivateKey, B),
    KA_CR(PEM_read_bio_X509_AUX, B),
    KA_CR(PEM_read_PrivateKey, B),
    KA_CR(PKCS12_parse, B),
    KA_CR(RAND_file_name, B),
    KA_CR(RAND_load_file, B),
    KA_CR(RAND_poll, B),
    KA_CR(sk_num, V102),
    KA_CRA(OPENSSL_sk_num, sk_num),
    KA_CR(sk_value, V102),
    KA_CRA(OPENSSL_sk_value, sk_value),
    KA_CR(X509V3_EXT_get, B),
    KA_CR(X509_EXTENSION_get_data, B),
    KA_CR(X509_EXTENSION_get_object, B),
    KA_CR(X509_free, B),
    KA_CR(sk_pop_free, V102),
    KA_CRA(OPENSSL_sk_pop_free, sk_pop_free),
    KA_CR(X509_get_ext, B),
    KA_CR(X509_get_ext_count, B),
    KA_CR(X509_get_subject_name, B),
    KA_CR(X509_get_pubkey, B),
    KA_CR(X509_NAME_ENTRY_get_data, B),
    KA_CR(X509_NAME_get_entry, B),
    KA_CR(X509_NAME_get_index_by_NID, B),
    KA_CR(X509_new, B),
    KA_CR(X509_STORE_free, B),
    KA_CR(X509_STORE_new, B),
    KA_CR(X509_STORE_add_cert, B),
    KA_CR(X509_STORE_set_flags, B),
    KA_CR(X509_check_host, V111),
    KA_CR(ASN1_item_d2i, B),
    KA_CR(CRYPTO_set_id_callback, V102),
    KA_CR(CRYPTO_set_locking_callback, V102),
};
#undef KA_CR
#undef KA_CRA
constexpr uint32_t kCryptoRowCount = sizeof cryptoRows / sizeof cryptoRows[0];
static_assert(kCryptoRowCount == KA_CRYPTO_INDEXES + 3);

// Resolution walks rows in order; the registry sizes the entry array by the
// count, so the crypto descriptors count rows (which exceed the indexes).
const KaOpenSSLTables sslTables = {
    {sslRows, KA_SSL_ROWS, KA_OPENSSL_RESOLVE_ANY},
    {sslRows, KA_SSL_ROWS, KA_OPENSSL_NEED_102},
    {sslRows, KA_SSL_ROWS, KA_OPENSSL_NEED_111},
};
const KaOpenSSLTables cryptoTables = {
    {cryptoRows, kCryptoRowCount, KA_OPENSSL_RESOLVE_ANY},
    {cryptoRows, kCryptoRowCount, KA_OPENSSL_NEED_102},
    {cryptoRows, kCryptoRowCount, KA_OPENSSL_NEED_111},
};

// OpenSSL option bits that turn on every bug workaround of each series.
constexpr uint64_t kAllWorkarounds102 = 0x80000BFF;
constexpr uint64_t kAllWorkarounds111 = 0x80000854;
constexpr int kCtrlSetOptions = 32;
// OPENSSL_init_crypto: load the configuration and add every cipher and digest.
constexpr uint64_t kInitCryptoAll = 76;
constexpr size_t kRandFileName = 1024;
constexpr int64_t kDefaultSeedBytes = 32;

// Where OpenSSL 1.0.2's public BIO structure keeps its callback and the
// callback's argument.
constexpr size_t kBio102CallbackOffset = 8;
constexpr size_t kBio102CallbackArgOffset = 16;
// CRYPTO_LOCK in the locking callback's mode.
constexpr int kCryptoLockRequest = 1;

using BioCallback = long (*)(void*, int, const char*, int, long, long);

void** bio102Field(void* bio, size_t offset) noexcept
{
    return reinterpret_cast<void**>(static_cast<char*>(bio) + offset);
}

// Waits through the argument before a read; the read goes ahead on 1.
long readWait(void* found, long result) noexcept
{
    auto* wait = static_cast<KaSSLReadWait*>(found);
    if (wait != nullptr && !wait->active)
        return result;
    if (wait == nullptr || wait->transport == nullptr || wait->waitReadable == nullptr) {
        if (wait != nullptr)
            wait->lastWait = int(KA_SSL_READ_NO_TRANSPORT);
        return KA_SSL_READ_NO_TRANSPORT;
    }
    int rc = wait->waitReadable(wait->transport);
    wait->lastWait = rc;
    return rc == 0 ? result : long(rc);
}

KaCriticalSection& opensslGlobalLock() noexcept
{
    static KaCriticalSection lock(0, kKaLockRecursive);
    return lock;
}

void postUnknown(int64_t code) noexcept
{
    char text[32];
    snprintf(text, sizeof text, "%lld", static_cast<long long>(code));
    errPost(MSG_OPENSSL_VERSION_UNKNOWN)->addParamText(text);
}

}  // namespace

const KaOpenSSLTables& kaSSLTables() noexcept
{
    return sslTables;
}
const KaOpenSSLTables& kaCryptoTables() noexcept
{
    return cryptoTables;
}

KaSSLCallMapper::~KaSSLCallMapper() = default;

int KaSSLCallMapper::initialize()
{
    if (initLibrary() == 1)
        return 0;
    errPost(MSG_OPENSSL_LOAD_FAILED);
    return 1;
}

KaSSLCallMapper* KaSSLCallMapper::selectMapper(KaOpenSSLCallMapperLoader& loader) noexcept
{
    std::unique_ptr<KaSSLCallMapper> made;
    if (loader.versionCode == KA_OPENSSL_102) {
        made.reset(new KaSSLCallMapper10());
    } else if (loader.versionCode == KA_OPENSSL_111) {
        made.reset(new KaSSLCallMapper11());
    } else {
        postUnknown(loader.versionCode);
        return nullptr;
    }
    if (made == nullptr)
        return nullptr;
    loader.handOver(*made);
    if (made->initializeOnce() != 0)
        return nullptr;
    return made.release();
}

int KaSSLCallMapper10::initLibrary() noexcept
{
    return call(slot(KA_SSL_SSL_library_init), 0);
}

void KaSSLCallMapper10::freeSession(void* ssl) noexcept
{
    callVoid(slot(KA_SSL_SSL_free), ssl);
}

int KaSSLCallMapper10::setReadWaitCallback(void* bio, KaSSLReadWait* argument) noexcept
{
    if (bio == nullptr)
        return 1;
    *bio102Field(bio, kBio102CallbackOffset) = reinterpret_cast<void*>(&sslReadWaitCallback10);
    *bio102Field(bio, kBio102CallbackArgOffset) = argument;
    return 0;
}

void KaSSLCallMapper10::clearReadWaitCallback(void* bio, KaSSLReadWait* argument) noexcept
{
    if (bio == nullptr)
        return;
    *bio102Field(bio, kBio102CallbackOffset) = nullptr;
    *bio102Field(bio, kBio102CallbackArgOffset) = argument;
}

int KaSSLCallMapper10::setOptions(void* context, uint64_t options, int allWorkarounds) noexcept
{
    if (allWorkarounds != 0)
        options |= kAllWorkarounds102;
    return static_cast<int>(applyOptions(context, options));
}

uint64_t KaSSLCallMapper10::applyOptions(void* context, uint64_t options) noexcept
{
    return static_cast<uint64_t>(call<long>(slot(KA_SSL_SSL_CTX_ctrl), 0L, context, kCtrlSetOptions,
                                            static_cast<long>(options), static_cast<void*>(nullptr)));
}

void KaSSLCallMapper10::loadErrorStrings() noexcept
{
    callVoid(slot(KA_SSL_SSL_load_error_strings));
}

const void* KaSSLCallMapper10::sslv2Method() noexcept
{
    return call<const void*>(slot(KA_SSL_SSLv2_client_method), nullptr);
}

const void* KaSSLCallMapper10::negotiatingMethod() noexcept
{
    return call<const void*>(slot(KA_SSL_SSLv23_client_method), nullptr);
}

KaSSLCallMapper11::~KaSSLCallMapper11()
{
    unregisterAll();
}

int KaSSLCallMapper11::initLibrary() noexcept
{
    return call(slot(KA_SSL_OPENSSL_init_ssl), 0, static_cast<uint64_t>(0), static_cast<const void*>(nullptr));
}

void KaSSLCallMapper11::freeSession(void* ssl) noexcept
{
    if (ssl == nullptr)
        return;
    unregisterHandle(call<void*>(slot(KA_SSL_SSL_get_rbio), nullptr, ssl));
    callVoid(slot(KA_SSL_SSL_free), ssl);
}

int KaSSLCallMapper11::setReadWaitCallback(void* bio, KaSSLReadWait* argument) noexcept
{
    if (bio == nullptr)
        return 1;
    unregisterHandle(bio);
    if (registerHandle(bio, argument) != 0)
        return 1;
    callVoid(slot(KA_SSL_BIO_set_callback), bio, static_cast<BioCallback>(&sslReadWaitCallback11));
    callVoid(slot(KA_SSL_BIO_set_callback_arg), bio, static_cast<void*>(argument));
    return 0;
}

void KaSSLCallMapper11::clearReadWaitCallback(void* bio, KaSSLReadWait* argument) noexcept
{
    if (bio == nullptr)
        return;
    unregisterHandle(bio);
    callVoid(slot(KA_SSL_BIO_set_callback), bio, static_cast<BioCallback>(nullptr));
    callVoid(slot(KA_SSL_BIO_set_callback_arg), bio, static_cast<void*>(argument));
}

int KaSSLCallMapper11::setOptions(void* context, uint64_t options, int allWorkarounds) noexcept
{
    if (allWorkarounds != 0)
        options |= kAllWorkarounds111;
    return static_cast<int>(applyOptions(context, options));
}

uint64_t KaSSLCallMapper11::applyOptions(void* context, uint64_t options) noexcept
{
    return call<uint64_t>(slot(KA_SSL_SSL_CTX_set_options), 0, context, options);
}

void KaSSLCallMapper11::loadErrorStrings() noexcept {}

const void* KaSSLCallMapper11::sslv2Method() noexcept
{
    return nullptr;
}

const void* KaSSLCallMapper11::negotiatingMethod() noexcept
{
    return call<const void*>(slot(KA_SSL_TLS_client_method), nullptr);
}

KaCryptoCallMapper::~KaCryptoCallMapper() = default;

void KaCryptoCallMapper::freeBio(void* bio) noexcept
{
    (void)call(slot(KA_CRYPTO_BIO_free), 0, bio);
}

int KaCryptoCallMapper::initialize()
{
    if (seedSource == 0) {
        char generated[kRandFileName] = {};
        const char* file = seedFile;
        if (file == nullptr || file[0] == '\0') {
            file = "/dev/random";
        } else if (strcasecmp(file, "RANDFILE") == 0) {
            const char* named = call<const char*>(slot(KA_CRYPTO_RAND_file_name), nullptr, generated, sizeof generated);
            if (named == nullptr || named[0] == '\0' || access(named, W_OK) != 0) {
                errPost(MSG_OPENSSL_SEED_FILE_UNUSABLE);
                return 1;
            }
            file = named;
        }
        long count = (seedMaxBytes > 0 || seedMaxBytes == -1) ? static_cast<long>(seedMaxBytes) : kDefaultSeedBytes;
        if (call(slot(KA_CRYPTO_RAND_load_file), 0, file, count) != 0) {
            (void)initLibrary();
            return 0;
        }
    }
    if (call(slot(KA_CRYPTO_RAND_poll), 0) == 0)
        return 1;
    (void)initLibrary();
    return 0;
}

KaCryptoCallMapper* KaCryptoCallMapper::selectMapper(KaOpenSSLCallMapperLoader& loader) noexcept
{
    KaCryptoCallMapper* made = nullptr;
    if (loader.versionCode == KA_OPENSSL_102) {
        made = new KaCryptoCallMapper10();
    } else if (loader.versionCode == KA_OPENSSL_111) {
        made = new KaCryptoCallMapper11();
    } else {
        postUnknown(loader.versionCode);
        return nullptr;
    }
    if (made == nullptr)
        return nullptr;
    loader.handOver(*made);
    // The owner sets the seed fields and runs the initialisation.
    return made;
}

int KaCryptoCallMapper10::cleanupLibrary() noexcept
{
    callVoid(slot(KA_CRYPTO_EVP_cleanup));
    return 1;
}

int KaCryptoCallMapper10::initLibrary() noexcept
{
    callVoid(slot(KA_CRYPTO_OPENSSL_add_all_algorithms_conf));
    return 1;
}

int KaCryptoCallMapper10::checkHost(void* certificate, const char* name, size_t length, unsigned flags,
                                    char** peerName) noexcept
{
    // 1.0.2 has X509_check_host too; the table resolves it when the library
    // holds it. Without it no name matches.
    return call(slot(KA_CRYPTO_X509_check_host), 0, certificate, name, length, flags, peerName);
}

void KaCryptoCallMapper10::setThreadIdCallback(unsigned long (*function)()) noexcept
{
    callVoid(slot(KA_CRYPTO_CRYPTO_set_id_callback), function);
}

void KaCryptoCallMapper10::setLockingCallback(void (*function)(int, int, const char*, int)) noexcept
{
    callVoid(slot(KA_CRYPTO_CRYPTO_set_locking_callback), function);
}

KaCryptoCallMapper11::~KaCryptoCallMapper11()
{
    unregisterAll();
}

void KaCryptoCallMapper11::freeBio(void* bio) noexcept
{
    unregisterHandle(bio);
    KaCryptoCallMapper::freeBio(bio);
}

int KaCryptoCallMapper11::cleanupLibrary() noexcept
{
    return 1;
}

int KaCryptoCallMapper11::initLibrary() noexcept
{
    return call(slot(KA_CRYPTO_OPENSSL_init_crypto), 0, kInitCryptoAll, static_cast<const void*>(nullptr));
}

int KaCryptoCallMapper11::checkHost(void* certificate, const char* name, size_t length, unsigned flags,
                                    char** peerName) noexcept
{
    return call(slot(KA_CRYPTO_X509_check_host), 0, certificate, name, length, flags, peerName);
}

void KaCryptoCallMapper11::setThreadIdCallback(unsigned long (*)()) noexcept {}

void KaCryptoCallMapper11::setLockingCallback(void (*)(int, int, const char*, int)) noexcept {}

long sslReadWaitCallback10(void* bio, int operation, const char*, int, long, long result)
{
    if (operation != KA_BIO_CB_READ)
        return result;
    return readWait(*bio102Field(bio, kBio102CallbackArgOffset), result);
}

long sslReadWaitCallback11(void* bio, int operation, const char*, int, long, long result)
{
    if (operation != KA_BIO_CB_READ)
        return result;
    return readWait(KaCallMapperCb::findOwner(bio), result);
}

void opensslLockingCallback(int mode, int, const char*, int)
{
    if (mode & kCryptoLockRequest)
        opensslGlobalLock().enter();
    else
        opensslGlobalLock().leave();
}

unsigned long opensslThreadIdCallback()
{
    return static_cast<unsigned long>(bosGetThreadId());
}
