/* The OpenSSL helpers of the driver's HTTP binding, under the prefix "KA_":
 * the SSL context that libcurl hands to the driver's callback belongs to the
 * OpenSSL that libcurl links, and these reach that same OpenSSL. Macros of
 * OpenSSL 3 (the stack accessors) become functions here. */
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#define VY_EXPORT __attribute__((visibility("default")))

VY_EXPORT X509_STORE* KA_SSL_CTX_get_cert_store(const SSL_CTX* ctx);
X509_STORE* KA_SSL_CTX_get_cert_store(const SSL_CTX* ctx)
{
    return SSL_CTX_get_cert_store(ctx);
}

VY_EXPORT int KA_SSL_CTX_load_verify_locations(SSL_CTX* ctx, const char* file, const char* path);
int KA_SSL_CTX_load_verify_locations(SSL_CTX* ctx, const char* file, const char* path)
{
    return SSL_CTX_load_verify_locations(ctx, file, path);
}

VY_EXPORT int KA_sk_X509_num(const STACK_OF(X509) * stack);
int KA_sk_X509_num(const STACK_OF(X509) * stack)
{
    return sk_X509_num(stack);
}

VY_EXPORT X509* KA_sk_X509_value(const STACK_OF(X509) * stack, int i);
X509* KA_sk_X509_value(const STACK_OF(X509) * stack, int i)
{
    return sk_X509_value(stack, i);
}

VY_EXPORT int KA_X509_STORE_add_cert(X509_STORE* store, X509* cert);
int KA_X509_STORE_add_cert(X509_STORE* store, X509* cert)
{
    return X509_STORE_add_cert(store, cert);
}

VY_EXPORT void KA_X509_free(X509* cert);
void KA_X509_free(X509* cert)
{
    X509_free(cert);
}

VY_EXPORT void KA_EVP_PKEY_free(EVP_PKEY* key);
void KA_EVP_PKEY_free(EVP_PKEY* key)
{
    EVP_PKEY_free(key);
}

VY_EXPORT X509_VERIFY_PARAM* KA_X509_VERIFY_PARAM_new(void);
X509_VERIFY_PARAM* KA_X509_VERIFY_PARAM_new(void)
{
    return X509_VERIFY_PARAM_new();
}

VY_EXPORT void KA_X509_VERIFY_PARAM_free(X509_VERIFY_PARAM* param);
void KA_X509_VERIFY_PARAM_free(X509_VERIFY_PARAM* param)
{
    X509_VERIFY_PARAM_free(param);
}

VY_EXPORT int KA_SSL_CTX_set1_param(SSL_CTX* ctx, X509_VERIFY_PARAM* param);
int KA_SSL_CTX_set1_param(SSL_CTX* ctx, X509_VERIFY_PARAM* param)
{
    return SSL_CTX_set1_param(ctx, param);
}

VY_EXPORT void KA_X509_VERIFY_PARAM_set_hostflags(X509_VERIFY_PARAM* param, unsigned int flags);
void KA_X509_VERIFY_PARAM_set_hostflags(X509_VERIFY_PARAM* param, unsigned int flags)
{
    X509_VERIFY_PARAM_set_hostflags(param, flags);
}

VY_EXPORT int KA_X509_VERIFY_PARAM_set1_host(X509_VERIFY_PARAM* param, const char* name, size_t length);
int KA_X509_VERIFY_PARAM_set1_host(X509_VERIFY_PARAM* param, const char* name, size_t length)
{
    return X509_VERIFY_PARAM_set1_host(param, name, length);
}

VY_EXPORT int KA_X509_VERIFY_PARAM_set1_ip_asc(X509_VERIFY_PARAM* param, const char* address);
int KA_X509_VERIFY_PARAM_set1_ip_asc(X509_VERIFY_PARAM* param, const char* address)
{
    return X509_VERIFY_PARAM_set1_ip_asc(param, address);
}

VY_EXPORT void KA_SSL_CTX_set_verify(SSL_CTX* ctx, int mode, SSL_verify_cb callback);
void KA_SSL_CTX_set_verify(SSL_CTX* ctx, int mode, SSL_verify_cb callback)
{
    SSL_CTX_set_verify(ctx, mode, callback);
}

VY_EXPORT BIO* KA_BIO_new(const BIO_METHOD* method);
BIO* KA_BIO_new(const BIO_METHOD* method)
{
    return BIO_new(method);
}

VY_EXPORT const BIO_METHOD* KA_BIO_s_file(void);
const BIO_METHOD* KA_BIO_s_file(void)
{
    return BIO_s_file();
}

VY_EXPORT long KA_BIO_ctrl(BIO* bio, int command, long larg, void* parg);
long KA_BIO_ctrl(BIO* bio, int command, long larg, void* parg)
{
    return BIO_ctrl(bio, command, larg, parg);
}

VY_EXPORT PKCS12* KA_d2i_PKCS12_bio(BIO* bio, PKCS12** out);
PKCS12* KA_d2i_PKCS12_bio(BIO* bio, PKCS12** out)
{
    return d2i_PKCS12_bio(bio, out);
}

/* The parsed container is freed here: the caller has no PKCS12_free. */
VY_EXPORT int KA_PKCS12_parse(PKCS12* p12, const char* password, EVP_PKEY** key, X509** cert, STACK_OF(X509) * *ca);
int KA_PKCS12_parse(PKCS12* p12, const char* password, EVP_PKEY** key, X509** cert, STACK_OF(X509) * *ca)
{
    int rc = PKCS12_parse(p12, password, key, cert, ca);
    PKCS12_free(p12);
    return rc;
}

VY_EXPORT int KA_BIO_free(BIO* bio);
int KA_BIO_free(BIO* bio)
{
    return BIO_free(bio);
}

/* The CA list that KA_PKCS12_parse hands out, freed with its certificates
 * once the callback has added them to the store (which holds references of
 * its own). */
VY_EXPORT void KA_sk_X509_pop_free(STACK_OF(X509) * stack);
void KA_sk_X509_pop_free(STACK_OF(X509) * stack)
{
    sk_X509_pop_free(stack, X509_free);
}
