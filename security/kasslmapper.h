// The SSL and crypto call mappers over the run-time-loaded OpenSSL libraries:
// their symbol tables, the 1.0.2 and 1.1.1 adapters and the factories that
// pick one by the loader's version. The TLS socket and the key-store reader
// reach OpenSSL through them.
#pragma once
#include <cstdint>

#include "security/kaopenssl.h"

const KaOpenSSLTables& kaSSLTables() noexcept;
const KaOpenSSLTables& kaCryptoTables() noexcept;

// Slots of the SSL table that the adapters and tests name.
enum KaSSLRow : uint32_t {
    KA_SSL_OPENSSL_init_ssl,
    KA_SSL_SSL_connect,
    KA_SSL_SSL_CIPHER_get_name,
    KA_SSL_SSL_CTX_check_private_key,
    KA_SSL_SSL_CTX_ctrl,
    KA_SSL_SSL_CTX_free,
    KA_SSL_SSL_CTX_get_cert_store,
    KA_SSL_SSL_CTX_load_verify_locations,
    KA_SSL_SSL_CTX_new,
    KA_SSL_SSL_CTX_set_cert_store,
    KA_SSL_SSL_CTX_set_cipher_list,
    KA_SSL_SSL_CTX_set_default_passwd_cb,
    KA_SSL_SSL_CTX_set_default_passwd_cb_userdata,
    KA_SSL_SSL_CTX_set_default_verify_paths,
    KA_SSL_SSL_CTX_set_options,
    KA_SSL_SSL_CTX_set_verify,
    KA_SSL_SSL_CTX_set_verify_depth,
    KA_SSL_SSL_CTX_use_certificate,
    KA_SSL_SSL_CTX_use_certificate_file,
    KA_SSL_SSL_CTX_use_certificate_chain_file,
    KA_SSL_SSL_CTX_use_PrivateKey,
    KA_SSL_SSL_CTX_use_PrivateKey_file,
    KA_SSL_SSL_free,
    KA_SSL_SSL_get_current_cipher,
    KA_SSL_SSL_get_error,
    KA_SSL_SSL_get_ex_data,
    KA_SSL_SSL_get_peer_certificate,
    KA_SSL_SSL_get_rbio,
    KA_SSL_SSL_get_verify_mode,
    KA_SSL_SSL_get_verify_result,
    KA_SSL_SSL_get_version,
    KA_SSL_SSL_library_init,
    KA_SSL_SSL_load_error_strings,
    KA_SSL_SSL_new,
    KA_SSL_SSL_read,
    KA_SSL_SSL_set_bio,
    KA_SSL_SSL_set_ex_data,
    KA_SSL_SSL_set_fd,
    KA_SSL_SSL_shutdown,
    KA_SSL_SSL_write,
    KA_SSL_SSLv2_client_method,
    KA_SSL_SSLv23_client_method,
    KA_SSL_SSLv3_client_method,
    KA_SSL_TLS_client_method,
    KA_SSL_TLSv1_client_method,
    KA_SSL_BIO_set_callback,
    KA_SSL_BIO_set_callback_arg,
    KA_SSL_ROWS
};

// Slots of the crypto table; the 1.1.1 stack names share the 1.0.2 slots.
enum KaCryptoRow : uint32_t {
    KA_CRYPTO_ASN1_STRING_data,
    KA_CRYPTO_ASN1_STRING_length,
    KA_CRYPTO_BIO_ctrl,
    KA_CRYPTO_PKCS12_free,
    KA_CRYPTO_BIO_free,
    KA_CRYPTO_BIO_new,
    KA_CRYPTO_BIO_set,
    KA_CRYPTO_BIO_set_callback_arg,
    KA_CRYPTO_BIO_get_callback_arg,
    KA_CRYPTO_BIO_set_init,
    KA_CRYPTO_BIO_s_datagram,
    KA_CRYPTO_BIO_s_file,
    KA_CRYPTO_BIO_read,
    KA_CRYPTO_BIO_gets,
    KA_CRYPTO_BIO_write,
    KA_CRYPTO_BIO_puts,
    KA_CRYPTO_BIO_new_mem_buf,
    KA_CRYPTO_BIO_meth_new,
    KA_CRYPTO_BIO_meth_free,
    KA_CRYPTO_BIO_meth_set_write,
    KA_CRYPTO_BIO_meth_set_read,
    KA_CRYPTO_BIO_meth_set_puts,
    KA_CRYPTO_BIO_meth_set_gets,
    KA_CRYPTO_BIO_meth_set_ctrl,
    KA_CRYPTO_BIO_meth_set_create,
    KA_CRYPTO_BIO_meth_set_destroy,
    KA_CRYPTO_BIO_meth_set_callback_ctrl,
    KA_CRYPTO_CRYPTO_free,
    KA_CRYPTO_d2i_PKCS12_bio,
    KA_CRYPTO_d2i_PKCS8PrivateKey_bio,
    KA_CRYPTO_ERR_error_string_n,
    KA_CRYPTO_ERR_get_error,
    KA_CRYPTO_ERR_peek_error,
    KA_CRYPTO_ERR_print_errors_fp,
    KA_CRYPTO_EVP_cleanup,
    KA_CRYPTO_EVP_PKEY_free,
    KA_CRYPTO_EVP_PKEY_new,
    KA_CRYPTO_EVP_PKEY_get1_RSA,
    KA_CRYPTO_OBJ_nid2sn,
    KA_CRYPTO_OBJ_obj2nid,
    KA_CRYPTO_OPENSSL_add_all_algorithms_conf,
    KA_CRYPTO_OPENSSL_init_crypto,
    KA_CRYPTO_PEM_read_bio_PrivateKey,
    KA_CRYPTO_PEM_read_bio_X509_AUX,
    KA_CRYPTO_PEM_read_PrivateKey,
    KA_CRYPTO_PKCS12_parse,
    KA_CRYPTO_RAND_file_name,
    KA_CRYPTO_RAND_load_file,
    KA_CRYPTO_RAND_poll,
    KA_CRYPTO_sk_num,
    KA_CRYPTO_sk_value,
    KA_CRYPTO_X509V3_EXT_get,
    KA_CRYPTO_X509_EXTENSION_get_data,
    KA_CRYPTO_X509_EXTENSION_get_object,
    KA_CRYPTO_X509_free,
    KA_CRYPTO_sk_pop_free,
    KA_CRYPTO_X509_get_ext,
    KA_CRYPTO_X509_get_ext_count,
    KA_CRYPTO_X509_get_subject_name,
    KA_CRYPTO_X509_get_pubkey,
    KA_CRYPTO_X509_NAME_ENTRY_get_data,
    KA_CRYPTO_X509_NAME_get_entry,
    KA_CRYPTO_X509_NAME_get_index_by_NID,
    KA_CRYPTO_X509_new,
    KA_CRYPTO_X509_STORE_add_cert,
    KA_CRYPTO_X509_STORE_free,
    KA_CRYPTO_X509_STORE_new,
    KA_CRYPTO_X509_STORE_set_flags,
    KA_CRYPTO_X509_check_host,
    KA_CRYPTO_ASN1_item_d2i,
    KA_CRYPTO_CRYPTO_set_id_callback,
    KA_CRYPTO_CRYPTO_set_locking_callback,
    KA_CRYPTO_INDEXES
};

// The read-wait callback's argument. The TLS socket points transport at
// itself while a read may wait for data and supplies the wait, which the
// transport layer above implements; the callback records what the wait gave,
// since OpenSSL may fold the callback's result into a plain -1.
struct KaSSLReadWait {
    void* transport = nullptr;  // null: a read fails at once
    void* prelogin = nullptr;   // the pre-login record of the TLS-in-packets transport
    // KA_SOCK_OK when data can be read, else the transport result.
    int (*waitReadable)(void* transport) noexcept = nullptr;
    int lastWait = 0;
    // 0: reads go ahead without waiting. Switching this instead of the
    // callback keeps a read from touching the BIO registry.
    int32_t active = 1;
};

// OpenSSL's BIO callback operation code of a read, before it runs.
constexpr int KA_BIO_CB_READ = 0x02;
// A read without a transport to wait on.
constexpr long KA_SSL_READ_NO_TRANSPORT = -2;

class KaSSLCallMapper : public KaOpenSSLCallMapperLoader {
public:
    ~KaSSLCallMapper() override;

    // Initialises the library once per shared mapper; 0 or 1 with a diagnostic.
    int initialize() override;

    virtual int initLibrary() noexcept = 0;
    virtual void freeSession(void* ssl) noexcept = 0;
    // Every read of the BIO first waits through the argument; 0, or 1 when
    // the registration could not be made.
    [[nodiscard]] virtual int setReadWaitCallback(void* bio, KaSSLReadWait* argument) noexcept = 0;
    virtual void clearReadWaitCallback(void* bio, KaSSLReadWait* argument) noexcept = 0;
    virtual int setOptions(void* context, uint64_t options, int allWorkarounds) noexcept = 0;
    virtual uint64_t applyOptions(void* context, uint64_t options) noexcept = 0;
    virtual void loadErrorStrings() noexcept = 0;
    virtual const void* sslv2Method() noexcept = 0;
    virtual const void* negotiatingMethod() noexcept = 0;

    // A new mapper of the loader's version, which takes over the loader's
    // library; null with a diagnostic.
    static KaSSLCallMapper* selectMapper(KaOpenSSLCallMapperLoader& loader) noexcept;

    void* slot(uint32_t index) const noexcept { return entryPoint(index); }
};

class KaSSLCallMapper10 : public KaSSLCallMapper {
public:
    int initLibrary() noexcept override;
    void freeSession(void* ssl) noexcept override;
    int setReadWaitCallback(void* bio, KaSSLReadWait* argument) noexcept override;
    void clearReadWaitCallback(void* bio, KaSSLReadWait* argument) noexcept override;
    int setOptions(void* context, uint64_t options, int allWorkarounds) noexcept override;
    uint64_t applyOptions(void* context, uint64_t options) noexcept override;
    void loadErrorStrings() noexcept override;
    const void* sslv2Method() noexcept override;
    const void* negotiatingMethod() noexcept override;
};

class KaSSLCallMapper11 : public KaSSLCallMapper, private KaCallMapperCb {
public:
    ~KaSSLCallMapper11() override;
    int initLibrary() noexcept override;
    void freeSession(void* ssl) noexcept override;
    int setReadWaitCallback(void* bio, KaSSLReadWait* argument) noexcept override;
    void clearReadWaitCallback(void* bio, KaSSLReadWait* argument) noexcept override;
    int setOptions(void* context, uint64_t options, int allWorkarounds) noexcept override;
    uint64_t applyOptions(void* context, uint64_t options) noexcept override;
    void loadErrorStrings() noexcept override;
    const void* sslv2Method() noexcept override;
    const void* negotiatingMethod() noexcept override;
};

class KaCryptoCallMapper : public KaOpenSSLCallMapperLoader {
public:
    const char* seedFile = nullptr;  // borrowed
    int64_t seedMaxBytes = 0;
    int16_t seedSource = 0;

    ~KaCryptoCallMapper() override;

    // Seeds the random-number generator, then initialises the library.
    int initialize() override;

    virtual void freeBio(void* bio) noexcept;
    virtual int cleanupLibrary() noexcept = 0;
    virtual int initLibrary() noexcept = 0;
    virtual int checkHost(void* certificate, const char* name, size_t length, unsigned flags,
                          char** peerName) noexcept = 0;
    virtual void setThreadIdCallback(unsigned long (*function)()) noexcept = 0;
    virtual void setLockingCallback(void (*function)(int, int, const char*, int)) noexcept = 0;

    static KaCryptoCallMapper* selectMapper(KaOpenSSLCallMapperLoader& loader) noexcept;

    void* slot(uint32_t index) const noexcept { return entryPoint(index); }
};

class KaCryptoCallMapper10 : public KaCryptoCallMapper {
public:
    int cleanupLibrary() noexcept override;
    int initLibrary() noexcept override;
    // Not offered for the 1.0.2 call set: only X509_check_host compares
    // names by its rules (whole DNS names, wildcard in the leftmost label).
    int checkHost(void* certificate, const char* name, size_t length, unsigned flags,
                  char** peerName) noexcept override;
    void setThreadIdCallback(unsigned long (*function)()) noexcept override;
    void setLockingCallback(void (*function)(int, int, const char*, int)) noexcept override;
};

class KaCryptoCallMapper11 : public KaCryptoCallMapper, private KaCallMapperCb {
public:
    ~KaCryptoCallMapper11() override;
    void freeBio(void* bio) noexcept override;
    int cleanupLibrary() noexcept override;
    int initLibrary() noexcept override;
    int checkHost(void* certificate, const char* name, size_t length, unsigned flags,
                  char** peerName) noexcept override;
    void setThreadIdCallback(unsigned long (*function)()) noexcept override;
    void setLockingCallback(void (*function)(int, int, const char*, int)) noexcept override;
};

// The BIO callbacks that setReadWaitCallback installs, one per adapter.
long sslReadWaitCallback10(void* bio, int operation, const char* data, int length, long argument, long result);
long sslReadWaitCallback11(void* bio, int operation, const char* data, int length, long argument, long result);

// OpenSSL 1.0.2's thread support: every lock the library asks for is one
// recursive mutex of the process; 1.1.1 locks by itself.
void opensslLockingCallback(int mode, int lockNumber, const char* file, int line);
unsigned long opensslThreadIdCallback();
