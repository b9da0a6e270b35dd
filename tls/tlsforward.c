/* The 1.1.1 names that OpenSSL 3 no longer exports, for the driver's TLS
 * binding: renamed functions forward to their new names, methods OpenSSL 3
 * dropped give no method, which the caller reports as any failed set-up. */
#include <openssl/ssl.h>
#include <openssl/x509.h>

#define VY_EXPORT __attribute__((visibility("default")))

/* OpenSSL 3 keeps the old name only as a macro. */
#undef SSL_get_peer_certificate
VY_EXPORT X509* SSL_get_peer_certificate(const SSL* ssl);
X509* SSL_get_peer_certificate(const SSL* ssl)
{
    return SSL_get1_peer_certificate(ssl);
}

/* SSL 3.0 is gone from OpenSSL 3. */
VY_EXPORT const SSL_METHOD* SSLv3_client_method(void);
const SSL_METHOD* SSLv3_client_method(void)
{
    return NULL;
}

/* RC4 lives in OpenSSL 3's legacy provider. It is fetched from a library
 * context of its own, so the process's default context keeps the providers
 * its other users chose. The cipher is fetched once and kept. */
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <pthread.h>

static pthread_once_t vyRc4Once = PTHREAD_ONCE_INIT;
static EVP_CIPHER* vyRc4Cipher;

static void vyFetchRc4(void)
{
    OSSL_LIB_CTX* context = OSSL_LIB_CTX_new();
    if (context == NULL)
        return;
    if (OSSL_PROVIDER_load(context, "legacy") == NULL || OSSL_PROVIDER_load(context, "default") == NULL)
        return;
    vyRc4Cipher = EVP_CIPHER_fetch(context, "RC4", NULL);
}

#undef EVP_rc4
VY_EXPORT const EVP_CIPHER* EVP_rc4(void);
const EVP_CIPHER* EVP_rc4(void)
{
    pthread_once(&vyRc4Once, vyFetchRc4);
    return vyRc4Cipher;
}
