// The TLS transport over the run-time-loaded OpenSSL.
#include "transport/katlssock.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <cstdio>
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/fast.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bosname.h"
#include "security/kaentrycall.h"
#include "security/kamembuf.h"
#include "security/kaopenssl.h"
#include "transport/basesocket.h"

namespace {

// SSL_CTX_ctrl's command that sets mode bits, and the mode that lets a
// blocking read or write go on after a renegotiation by itself.
constexpr int kCtrlSetMode = 33;
constexpr uint64_t kModeAutoRetry = 4;
// SSL_get_error's answer for a failed system call.
constexpr int kSslErrorSyscall = 5;
// SSL_get_error's answer when a write would block (its time-out ran out).
constexpr int kSslErrorWantWrite = 3;
// SSL_get_error's answer when the peer closed the TLS session.
constexpr int kSslErrorZeroReturn = 6;
// SSL_FILETYPE_PEM and SSL_FILETYPE_ASN1.
constexpr int kFilePem = 1;
constexpr int kFileAsn1 = 2;
// NID_commonName.
constexpr int kNidCommonName = 13;
// X509_V_OK and the codes the table below names.
constexpr long kVerifyOk = 0;
constexpr long kFirstCatalogued = 2;
constexpr long kLastCatalogued = 28;
constexpr long kFirstIssuerNotice = 29;
constexpr long kLastIssuerNotice = 31;
// Room of OpenSSL's text of one queued error, and of the whole queue text.
constexpr size_t kErrorTextSize = 1024;
constexpr size_t kQueueTextSize = 4096;
// Protocol errors after which the connection retries without option bits.
const char* const kProtocolRefusals[] = {"14077102", "unsupported protocol", "140943E8"};

// The socket whose handshake runs on this thread: OpenSSL calls the verify
// callback in the thread that called SSL_connect.
thread_local KaSSLSock* handshakeSocket = nullptr;

int waitOn(void* transport) noexcept
{
    auto* socket = static_cast<KaSSLSock*>(transport);
    if (socket->handshakeDeadline != 0) {
        // Each wait of the handshake gets what is left of its budget.
        int64_t left = socket->handshakeDeadline - baseSocketNowMs();
        if (left <= 0)
            return KA_SOCK_NOTHING_YET;
        socket->waitTimeout = int32_t(left < socket->handshakeTimeout ? left : socket->handshakeTimeout);
    }
    return socket->waitReadable();
}

char* dupText(const char* text) noexcept
{
    size_t n = strlen(text);
    auto* copy = static_cast<char*>(ramAlloc(n + 1));
    if (copy != nullptr)
        memcpy(copy, text, n + 1);
    return copy;
}

// Frees a text that may hold a secret.
void freeSecret(char*& text) noexcept
{
    if (text != nullptr) {
        fastMemzero(text, strlen(text));
        ramFree(text);
        text = nullptr;
    }
}

void freeText(char*& text) noexcept
{
    ramFree(text);
    text = nullptr;
}

// A narrow copy of the connection's UTF-16 text; null for an absent text,
// *failed set when the copy could not be made.
char* narrowCopy(const uint16_t* text, bool* failed) noexcept
{
    if (text == nullptr)
        return nullptr;
    size_t units = 0;
    while (text[units] != 0)
        ++units;
    size_t size = units * 3 + 1;
    auto* out = static_cast<char*>(ramAlloc(size));
    if (out == nullptr || KaUtf16ToUtf8(out, size, text) < 0) {
        ramFree(out);
        *failed = true;
        return nullptr;
    }
    return out;
}

bool empty(const char* text) noexcept
{
    return text == nullptr || text[0] == '\0';
}

void appendText(char* out, size_t size, const char* text) noexcept
{
    size_t used = strnlen(out, size);
    if (used + 1 >= size)
        return;
    snprintf(out + used, size - used, "%s", text);
}

}  // namespace

bool kaIsIpAddress(const char* name) noexcept
{
    unsigned char buffer[sizeof(in6_addr)];
    return name != nullptr && (inet_pton(AF_INET, name, buffer) == 1 || inet_pton(AF_INET6, name, buffer) == 1);
}

bool kaTlsAnswerNotTls(const char* errorText) noexcept
{
    // What the library says when the first bytes back are no TLS record.
    static const char* const kNotTls[] = {"wrong version number", "packet length too long", "unknown protocol",
                                          "http request", "record layer failure"};
    if (errorText == nullptr)
        return false;
    for (const char* mark : kNotTls)
        if (strcasestr(errorText, mark) != nullptr)
            return true;
    return false;
}

static_assert(MSG_TLS_CERT_ERROR_28 - MSG_TLS_CERT_ERROR_2 == kLastCatalogued - kFirstCatalogued,
              "one message per catalogued verification code, in code order");

KaX509Verdict x509ErrorMessage(long code, bool final) noexcept
{
    if (code == kVerifyOk)
        return {true, 0};
    if (code >= kFirstCatalogued && code <= kLastCatalogued)
        return {false, uint16_t(MSG_TLS_CERT_ERROR_2 + (code - kFirstCatalogued))};
    // The issuer-lookup notices come while the chain is searched; as the
    // final answer they mean the chain did not hold. A missing keyCertSign
    // bit is always fatal: such an issuer may not sign certificates.
    if (code >= kFirstIssuerNotice && code <= kLastIssuerNotice && !final)
        return {true, 0};
    if (code == KA_SSL_HOST_MISMATCH)
        return {false, MSG_TLS_CERT_APPLICATION_REFUSED};
    return {false, MSG_TLS_CERTIFICATE_REFUSED};
}

int sslVerifyCallback(int preverified, void* storeContext)
{
    if (preverified != 0)
        return preverified;
    KaSSLSock* socket = handshakeSocket;
    if (socket == nullptr)
        return 0;
    if (socket->validationMode == KA_SSL_VALIDATE_NONE)
        return 1;
    long code = socket->storeContextError != nullptr ? socket->storeContextError(storeContext) : -1;
    KaX509Verdict verdict = x509ErrorMessage(code, false);
    if (verdict.accept)
        return 1;
    if (socket->postErrors) {
        KaError* e = errPost(verdict.message);
        if (verdict.message == MSG_TLS_CERTIFICATE_REFUSED)
            e->addParamSigned(code)->addParamText(socket->verifyErrorText != nullptr ? socket->verifyErrorText(code)
                                                                                     : "unknown");
        e->setSqlstateMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT);
    }
    return 0;
}

int sslPasswordCallback(char* buffer, int size, int, void* userData)
{
    if (userData == nullptr) {
        if (size > 0)
            buffer[0] = '\0';
        return 0;
    }
    if (size <= 0)
        return 0;
    const char* password = static_cast<const char*>(userData);
    size_t n = strnlen(password, size_t(size) - 1);
    memcpy(buffer, password, n);
    buffer[n] = '\0';
    return int(n);
}

KaSSLSock::KaSSLSock(const char* versions) noexcept : KaCryptoAPI(versions), allowedVersions(versions)
{
    initFields();
}

KaSSLSock::KaSSLSock(KaTCPIP& plain, const char* versions, int takeOver) noexcept
    : KaTCPIP(plain, takeOver), KaCryptoAPI(versions), allowedVersions(versions)
{
    timeout = plain.timeout;
    initFields();
}

void KaSSLSock::initFields() noexcept
{
    kind = KA_SOCK_KIND_TLS;
    readWait.waitReadable = &waitOn;
}

KaSSLSock::~KaSSLSock()
{
    if (sslCreated && sslMapper != nullptr) {
        // The owner disconnects first; a session left over is freed without
        // a close_notify.
        sslMapper->freeSession(ssl);
        ssl = nullptr;
    }
    freeTexts();
    if (context != nullptr && sslMapper != nullptr)
        callVoid(sslMapper->slot(KA_SSL_SSL_CTX_free), context);
    context = nullptr;
    delete sslMapper;
    sslMapper = nullptr;
    freeText(ownedVersions);
    freeText(ownedCipherList);
    freeText(ownedSeedFile);
}

void KaSSLSock::freeTexts() noexcept
{
    freeText(trustStore);
    freeSecret(trustStorePassword);
    freeText(keyStore);
    freeSecret(keyStorePassword);
    freeSecret(keyPassword);
    freeText(hostNameInCertificate);
    freeText(serverName);
}

int KaSSLSock::setTrustStore(const char* path, const char* password) noexcept
{
    freeText(trustStore);
    freeSecret(trustStorePassword);
    if (path != nullptr && (trustStore = dupText(path)) == nullptr)
        return 1;
    if (password != nullptr && (trustStorePassword = dupText(password)) == nullptr)
        return 1;
    return 0;
}

int KaSSLSock::setKeyStore(const char* path, const char* storePassword, const char* keyPasswordText) noexcept
{
    freeText(keyStore);
    freeSecret(keyStorePassword);
    freeSecret(keyPassword);
    if (path != nullptr && (keyStore = dupText(path)) == nullptr)
        return 1;
    if (storePassword != nullptr && (keyStorePassword = dupText(storePassword)) == nullptr)
        return 1;
    if (keyPasswordText != nullptr && (keyPassword = dupText(keyPasswordText)) == nullptr)
        return 1;
    return 0;
}

int KaSSLSock::setHostNameInCertificate(const char* name) noexcept
{
    if (name == nullptr)
        return 1;
    char* copy = dupText(name);
    if (copy == nullptr)
        return 1;
    freeText(hostNameInCertificate);
    hostNameInCertificate = copy;
    return 0;
}

void KaSSLSock::setSSLLibraryPath(const char* path) noexcept
{
    if (empty(path))
        return;
    size_t n = strnlen(path, KA_OPENSSL_PATH_MAX);
    memcpy(sslLibraryPath, path, n);
    sslLibraryPath[n] = '\0';
    sslLibraryPathGiven = 1;
}

int KaSSLSock::applySettings(const BaseSocketTlsSettings& tls, int32_t encryptionMethod, int32_t tlsTunnel) noexcept
{
    bool failed = false;
    if (tls.allowedOpenSSLVersions != nullptr) {
        char* versions = narrowCopy(tls.allowedOpenSSLVersions, &failed);
        if (failed)
            return 1;
        freeText(ownedVersions);
        ownedVersions = versions;
        allowedVersions = versions;
        KaCryptoAPI::allowedVersions = versions;
    }
    optionBits |= tls.openSSLOptions;
    modeBits |= tls.openSSLMode;
    if (tls.cipherList != nullptr) {
        char* list = narrowCopy(tls.cipherList, &failed);
        if (failed)
            return 1;
        freeText(ownedCipherList);
        ownedCipherList = list;
        cipherList = list;
    }
    switch (encryptionMethod) {
    case 0:
        if (tlsTunnel)
            protocolSelector = KA_SSL_PROTOCOL_NEGOTIATE;
        break;
    case 1:
    case 6:
    case 7: protocolSelector = KA_SSL_PROTOCOL_NEGOTIATE; break;
    case 3: protocolSelector = KA_SSL_PROTOCOL_SSLV3; break;
    case 4: protocolSelector = KA_SSL_PROTOCOL_SSLV2; break;
    case 5: protocolSelector = KA_SSL_PROTOCOL_TLSV1; break;
    default: break;
    }
    char* texts[8] = {};
    const uint16_t* sources[8] = {tls.trustStore,  tls.trustStorePassword,    tls.keyStore,   tls.keyStorePassword,
                                  tls.keyPassword, tls.hostNameInCertificate, tls.sslLibName, tls.cryptoLibName};
    for (size_t i = 0; i < 8 && !failed; ++i)
        texts[i] = narrowCopy(sources[i], &failed);
    int rc = failed ? 1 : 0;
    if (rc == 0 && texts[0] != nullptr)
        rc = setTrustStore(texts[0], texts[1]);
    if (rc == 0 && texts[2] != nullptr)
        rc = setKeyStore(texts[2], texts[3], texts[4]);
    if (rc == 0 && texts[5] != nullptr)
        rc = setHostNameInCertificate(texts[5]);
    validationMode = tls.validateServerCertificate;
    if (rc == 0) {
        setSSLLibraryPath(texts[6]);
        setCryptoLibraryPath(texts[7]);
    }
    for (char*& t : texts)
        freeSecret(t);
    if (rc != 0)
        return 1;

    if (tls.prngSeedFile != nullptr) {
        char* seed = narrowCopy(tls.prngSeedFile, &failed);
        if (failed)
            return 1;
        freeText(ownedSeedFile);
        ownedSeedFile = seed;
    }
    int16_t source = 0;
    if (tls.prngSeedSource != nullptr && tls.prngSeedSource[0] >= u'0' && tls.prngSeedSource[0] <= u'9')
        source = int16_t(tls.prngSeedSource[0] - u'0');
    setPRNGSettings(ownedSeedFile, tls.prngMaxBytes, source);
    return loadCryptoMapper();
}

void KaSSLSock::appendErrorQueue(char* out, size_t size) noexcept
{
    if (cryptoMapper == nullptr)
        return;
    if (sslMapper != nullptr)
        sslMapper->loadErrorStrings();
    for (;;) {
        unsigned long error = call<unsigned long>(cryptoMapper->slot(KA_CRYPTO_ERR_get_error), 0UL);
        if (error == 0)
            break;
        char text[kErrorTextSize] = {};
        callVoid(cryptoMapper->slot(KA_CRYPTO_ERR_error_string_n), error, text, sizeof text);
        appendText(out, size, "[");
        appendText(out, size, text);
        appendText(out, size, "]");
    }
}

bool KaSSLSock::trustFileMissing() noexcept
{
    if (cryptoMapper == nullptr)
        return false;
    if (sslMapper != nullptr)
        sslMapper->loadErrorStrings();
    unsigned long error = call<unsigned long>(cryptoMapper->slot(KA_CRYPTO_ERR_peek_error), 0UL);
    if (error == 0)
        return false;
    char text[kErrorTextSize] = {};
    callVoid(cryptoMapper->slot(KA_CRYPTO_ERR_error_string_n), error, text, sizeof text);
    return strstr(text, "No such file") != nullptr || strstr(text, "File not found") != nullptr;
}

void KaSSLSock::postQueued(uint16_t message, uint16_t sqlstate, const char* prefix) noexcept
{
    if (!postErrors)
        return;
    char text[kQueueTextSize] = {};
    appendText(text, sizeof text, prefix);
    size_t before = strlen(text);
    appendErrorQueue(text, sizeof text);
    if (strlen(text) == before)
        text[0] = '\0';
    errPost(message)->addParamText(text)->setSqlstateMsg(sqlstate);
}

int KaSSLSock::initSSL(int loadOnly) noexcept
{
    KaOpenSSLCallMapperLoader* loader = nullptr;
    int rc = -1;
    KaOpenSSLCallMapperLoader* cryptoLoader = nullptr;
    do {
        if (KaOpenSSLCallMapperLoader::create(&loader, allowedVersions, sslLibraryPathGiven ? sslLibraryPath : nullptr,
                                              &kaSSLTables()) != 0)
            break;
        int64_t sslVersion = loader->versionCode;
        if (sslMapper == nullptr) {
            sslMapper = KaSSLCallMapper::selectMapper(*loader);
            if (sslMapper == nullptr) {
                if (postErrors)
                    errPost(MSG_TLS_MAPPER_FAILED)->addParamText("Error allocating SSLCallMapper.");
                break;
            }
        }
        delete loader;
        loader = nullptr;
        if (KaOpenSSLCallMapperLoader::create(&cryptoLoader, allowedVersions,
                                              cryptoLibraryPathGiven ? cryptoLibraryPath : nullptr,
                                              &kaCryptoTables()) != 0)
            break;
        if (createCryptoMapper(*cryptoLoader) != 0)
            break;
        if (cryptoMapper->versionCode != sslVersion) {
            if (postErrors) {
                char cryptoText[KA_OPENSSL_VERSION_TEXT];
                char sslText[KA_OPENSSL_VERSION_TEXT];
                openSSLVersionText(cryptoMapper->versionCode, cryptoText);
                openSSLVersionText(sslVersion, sslText);
                errPost(MSG_TLS_LIBRARY_VERSIONS_DIFFER)
                    ->addParamText(cryptoLibraryPathGiven ? cryptoLibraryPath : "<default>")
                    ->addParamText(sslLibraryPathGiven ? sslLibraryPath : "<default>")
                    ->addParamText(cryptoText)
                    ->addParamText(sslText);
            }
            break;
        }
        // The library loads: the credential holders may use its cipher too.
        if (!kaMemoryBufferUsesCipherLibrary())
            kaMemoryBufferUseCipherLibrary(true, allowedVersions, cryptoLibraryPathGiven ? cryptoLibraryPath : nullptr);
        cryptoMapper->setThreadIdCallback(&opensslThreadIdCallback);
        cryptoMapper->setLockingCallback(&opensslLockingCallback);
        void* library = sslMapper->mapper != nullptr ? sslMapper->mapper->library : nullptr;
        if (library != nullptr) {
            storeContextError =
                reinterpret_cast<int (*)(const void*)>(bosGetProcAddress(library, "X509_STORE_CTX_get_error"));
            verifyErrorText =
                reinterpret_cast<const char* (*)(long)>(bosGetProcAddress(library, "X509_verify_cert_error_string"));
            checkIpAddress = reinterpret_cast<int (*)(void*, const char*, unsigned)>(
                bosGetProcAddress(library, "X509_check_ip_asc"));
        }
        if (loadOnly) {
            rc = 0;
            break;
        }
        if (context != nullptr) {
            callVoid(sslMapper->slot(KA_SSL_SSL_CTX_free), context);
            context = nullptr;
        }
        switch (protocolSelector) {
        case KA_SSL_PROTOCOL_SSLV2: clientMethod = sslMapper->sslv2Method(); break;
        case KA_SSL_PROTOCOL_SSLV3:
            clientMethod = call<const void*>(sslMapper->slot(KA_SSL_SSLv3_client_method), nullptr);
            break;
        case KA_SSL_PROTOCOL_TLSV1:
            clientMethod = call<const void*>(sslMapper->slot(KA_SSL_TLSv1_client_method), nullptr);
            break;
        case KA_SSL_PROTOCOL_NEGOTIATE:
        case KA_SSL_PROTOCOL_DEFAULT: clientMethod = sslMapper->negotiatingMethod(); break;
        default: clientMethod = nullptr; break;
        }
        if (clientMethod != nullptr)
            context = call<void*>(sslMapper->slot(KA_SSL_SSL_CTX_new), nullptr, clientMethod);
        if (context == nullptr) {
            if (postErrors)
                errPost(MSG_TLS_NO_METHOD);
            break;
        }
        (void)call<long>(sslMapper->slot(KA_SSL_SSL_CTX_ctrl), 0L, context, kCtrlSetMode, long(kModeAutoRetry),
                         static_cast<void*>(nullptr));
        (void)sslMapper->setOptions(context, optionBits, allWorkarounds);
        (void)call<long>(sslMapper->slot(KA_SSL_SSL_CTX_ctrl), 0L, context, kCtrlSetMode, long(modeBits),
                         static_cast<void*>(nullptr));
        callVoid(sslMapper->slot(KA_SSL_SSL_CTX_set_default_passwd_cb), context, &sslPasswordCallback);
        if (cipherList != nullptr &&
            call(sslMapper->slot(KA_SSL_SSL_CTX_set_cipher_list), 0, context, cipherList) != 1) {
            if (postErrors)
                errPost(MSG_CIPHER_LIST_INVALID);
            break;
        }
        rc = 0;
    } while (false);
    delete loader;
    delete cryptoLoader;
    if (rc != 0) {
        if (KaError* last = KaErrorGetLast(); last != nullptr && postErrors)
            last->setSqlstateMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT);
        return -1;
    }
    return 0;
}

int KaSSLSock::useKeyStore() noexcept
{
    bool certificateFailed = call(sslMapper->slot(KA_SSL_SSL_CTX_use_certificate_chain_file), 0, context,
                                  static_cast<const char*>(keyStore)) != 1 &&
                             call(sslMapper->slot(KA_SSL_SSL_CTX_use_certificate_file), 0, context,
                                  static_cast<const char*>(keyStore), kFilePem) != 1 &&
                             call(sslMapper->slot(KA_SSL_SSL_CTX_use_certificate_file), 0, context,
                                  static_cast<const char*>(keyStore), kFileAsn1) != 1;
    bool keyFailed = call(sslMapper->slot(KA_SSL_SSL_CTX_use_PrivateKey_file), 0, context,
                          static_cast<const char*>(keyStore), kFilePem) != 1 &&
                     call(sslMapper->slot(KA_SSL_SSL_CTX_use_PrivateKey_file), 0, context,
                          static_cast<const char*>(keyStore), kFileAsn1) != 1;
    if (!certificateFailed && !keyFailed) {
        if (call(sslMapper->slot(KA_SSL_SSL_CTX_check_private_key), 0, static_cast<const void*>(context)) != 0) {
            // The attempts that failed on the way left their errors behind.
            char drained[kQueueTextSize] = {};
            appendErrorQueue(drained, sizeof drained);
            return 0;
        }
        return 1;
    }
    void* certificate = nullptr;
    void* key = nullptr;
    void* caList = nullptr;
    int read = readPKCS12(keyStore, keyStorePassword, &certificate, &key, &caList);
    if (read != 1) {
        freeReaderResults(certificate, key, caList);
        certificate = key = caList = nullptr;
        read = readKeyStore(keyStore, &certificate, &key, &caList);
    }
    int rc = 1;
    if (read == 1 && certificate != nullptr && key != nullptr &&
        call(sslMapper->slot(KA_SSL_SSL_CTX_use_certificate), 0, context, certificate) == 1 &&
        call(sslMapper->slot(KA_SSL_SSL_CTX_use_PrivateKey), 0, context, key) == 1 &&
        call(sslMapper->slot(KA_SSL_SSL_CTX_check_private_key), 0, static_cast<const void*>(context)) != 0) {
        char drained[kQueueTextSize] = {};
        appendErrorQueue(drained, sizeof drained);
        rc = 0;
    }
    freeReaderResults(certificate, key, caList);
    return rc;
}

int KaSSLSock::useTrustStore() noexcept
{
    if (empty(trustStore)) {
        // Without a trust store of its own the connection trusts what the
        // system trusts.
        return call(sslMapper->slot(KA_SSL_SSL_CTX_set_default_verify_paths), 0, context) == 1 ? 0 : 1;
    }
    struct stat info;
    if (stat(trustStore, &info) == 0 && S_ISDIR(info.st_mode))
        return call(sslMapper->slot(KA_SSL_SSL_CTX_load_verify_locations), 0, context,
                    static_cast<const char*>(nullptr), static_cast<const char*>(trustStore)) == 1
                   ? 0
                   : 1;
    void* certificate = nullptr;
    void* key = nullptr;
    void* caList = nullptr;
    int read = readPKCS12(trustStore, trustStorePassword, &certificate, &key, &caList);
    if (read != 1) {
        freeReaderResults(certificate, key, caList);
        certificate = key = caList = nullptr;
        if (trustFileMissing())
            return 1;
        read = readKeyStore(trustStore, &certificate, &key, &caList);
    }
    if (read != 1) {
        freeReaderResults(certificate, key, caList);
        // The PKCS#12 and own-format attempts failed on the way.
        char drained[kQueueTextSize] = {};
        appendErrorQueue(drained, sizeof drained);
        return call(sslMapper->slot(KA_SSL_SSL_CTX_load_verify_locations), 0, context,
                    static_cast<const char*>(trustStore), static_cast<const char*>(nullptr)) == 1
                   ? 0
                   : 1;
    }
    int rc = 0;
    int count = caList != nullptr ? call(cryptoMapper->slot(KA_CRYPTO_sk_num), 0, static_cast<const void*>(caList)) : 0;
    if (count > 0) {
        trustX509Store = call<void*>(cryptoMapper->slot(KA_CRYPTO_X509_STORE_new), nullptr);
        if (trustX509Store == nullptr) {
            rc = 1;
        } else {
            for (int i = 0; i < count; ++i) {
                void* x =
                    call<void*>(cryptoMapper->slot(KA_CRYPTO_sk_value), nullptr, static_cast<const void*>(caList), i);
                (void)call(cryptoMapper->slot(KA_CRYPTO_X509_STORE_add_cert), 0, trustX509Store, x);
            }
            callVoid(sslMapper->slot(KA_SSL_SSL_CTX_set_cert_store), context, trustX509Store);
        }
    }
    freeReaderResults(certificate, key, caList);
    return rc;
}

int KaSSLSock::handshake() noexcept
{
    if (sslMapper == nullptr || cryptoMapper == nullptr || context == nullptr || record == nullptr)
        return -1;
    // Errors queued on this thread by earlier work are not this handshake's.
    char stale[kQueueTextSize] = {};
    appendErrorQueue(stale, sizeof stale);
    callVoid(sslMapper->slot(KA_SSL_SSL_CTX_set_default_passwd_cb_userdata), context,
             static_cast<void*>(empty(keyPassword) ? nullptr : keyPassword));
    if (!empty(keyStore) && useKeyStore() != 0) {
        if (postErrors) {
            char text[kQueueTextSize] = {};
            appendText(text, sizeof text, " SSL Error Queue: ");
            size_t before = strlen(text);
            appendErrorQueue(text, sizeof text);
            if (strlen(text) == before)
                text[0] = '\0';
            errPost(MSG_TLS_KEY_STORE_UNUSABLE)
                ->addParamText(keyStore)
                ->addParamText(text)
                ->setSqlstateMsg(MSG_SQLSTATE_INVALID_AUTHORIZATION);
        }
        return -1;
    }
    if (validationMode != KA_SSL_VALIDATE_NONE) {
        callVoid(sslMapper->slot(KA_SSL_SSL_CTX_set_verify), context, KA_SSL_VERIFY_PEER, &sslVerifyCallback);
        if (useTrustStore() != 0) {
            postQueued(MSG_TLS_TRUST_STORE_UNUSABLE, MSG_SQLSTATE_INVALID_AUTHORIZATION, " SSL Error Queue: ");
            return -1;
        }
    } else {
        callVoid(sslMapper->slot(KA_SSL_SSL_CTX_set_verify), context, KA_SSL_VERIFY_NONE, &sslVerifyCallback);
    }
    void* store = call<void*>(sslMapper->slot(KA_SSL_SSL_CTX_get_cert_store), nullptr, context);
    (void)call(cryptoMapper->slot(KA_CRYPTO_X509_STORE_set_flags), 0, store,
               static_cast<unsigned long>(validationMode == KA_SSL_VALIDATE_ISSUER_CHECK ? 1 : 0));

    if (ssl != nullptr)
        sslMapper->freeSession(ssl);
    ssl = call<void*>(sslMapper->slot(KA_SSL_SSL_new), nullptr, context);
    if (ssl == nullptr)
        return -1;
    sslCreated = 1;
    (void)call(sslMapper->slot(KA_SSL_SSL_set_fd), 0, ssl, record->socket);
    (void)call(sslMapper->slot(KA_SSL_SSL_set_ex_data), 0, ssl, 0, static_cast<void*>(this));
    if (customBio != nullptr)
        callVoid(sslMapper->slot(KA_SSL_SSL_set_bio), ssl, customBio, customBio);
    readBio = call<void*>(sslMapper->slot(KA_SSL_SSL_get_rbio), nullptr, static_cast<const void*>(ssl));

    int32_t savedWait = waitTimeout;
    if (readBio != nullptr) {
        readWait.transport = this;
        readWait.active = 1;
        if (sslMapper->setReadWaitCallback(readBio, &readWait) != 0)
            return -1;
        waitTimeout = handshakeTimeout;
    }
    readWait.lastWait = 0;
    handshakeTimedOut = 0;
    KaSSLSock* outer = handshakeSocket;
    handshakeSocket = this;
    int result = call(sslMapper->slot(KA_SSL_SSL_connect), -1, ssl);
    handshakeSocket = outer;
    waitTimeout = savedWait;
    bool budgetSpent = handshakeDeadline != 0 && baseSocketNowMs() >= handshakeDeadline;
    handshakeDeadline = 0;

    if (result != 1 && (readWait.lastWait == KA_SOCK_NOTHING_YET || readWait.lastWait == KA_SSL_READ_NO_TRANSPORT)) {
        char drained[kQueueTextSize] = {};
        appendErrorQueue(drained, sizeof drained);
        // The server took the connection and never answered: most likely
        // one that waits for a request in the clear. Out of the caller's
        // time-out it is a time-out, as a connect that takes too long is.
        handshakeTimedOut = budgetSpent && readWait.lastWait == KA_SOCK_NOTHING_YET ? 1 : 0;
        if (postErrors)
            errPost(MSG_TLS_HANDSHAKE_TIMED_OUT)
                ->setSqlstateMsg(budgetSpent ? MSG_SQLSTATE_TIMEOUT_EXPIRED : MSG_SQLSTATE_UNABLE_TO_CONNECT);
        return -1;
    }
    if (result == 1) {
        if (validationMode == KA_SSL_VALIDATE_NONE)
            return 0;
        long verified = checkHostName();
        if (verified == kVerifyOk)
            return 0;
        if (verified == KA_SSL_HOST_MISMATCH) {
            if (postErrors) {
                const char* expected =
                    empty(hostNameInCertificate) || strcmp(hostNameInCertificate, KA_SSL_SERVERNAME_MARK) == 0
                        ? (serverName != nullptr ? serverName : "")
                        : hostNameInCertificate;
                errPost(MSG_TLS_HOST_NAME_MISMATCH)
                    ->addParamText(expected)
                    ->setSqlstateMsg(MSG_SQLSTATE_INVALID_AUTHORIZATION);
            }
            return -1;
        }
        KaX509Verdict verdict = x509ErrorMessage(verified, true);
        if (verdict.accept)
            return 0;
        if (postErrors) {
            KaError* e = errPost(verdict.message);
            if (verdict.message == MSG_TLS_CERTIFICATE_REFUSED)
                e->addParamSigned(verified)->addParamText(verifyErrorText != nullptr ? verifyErrorText(verified)
                                                                                     : "unknown");
            e->setSqlstateMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT);
        }
        return -1;
    }
    (void)call(sslMapper->slot(KA_SSL_SSL_get_error), 0, static_cast<const void*>(ssl), result);
    char text[kQueueTextSize] = {};
    appendErrorQueue(text, sizeof text);
    if (text[0] == '\0') {
        if (result == 0)
            appendText(text, sizeof text, "[EOF observed which violates protocol]");
        else if (result == -1)
            appendText(text, sizeof text, "[Underlying BIO reported an I/O error]");
        else
            appendText(text, sizeof text, "[Unknown SSL Error]");
    }
    if (postErrors) {
        if (kaTlsAnswerNotTls(text))
            errPost(MSG_TLS_NOT_ANSWERED)->addParamText(text)->setSqlstateMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT);
        else
            errPost(MSG_TLS_HANDSHAKE_FAILED)->addParamText(text)->setSqlstate("08001");
    }
    for (const char* refusal : kProtocolRefusals) {
        if (strstr(text, refusal) != nullptr) {
            optionBits = 0;
            break;
        }
    }
    return -1;
}

bool KaSSLSock::hostMatchesSubject(void* certificate, const char* name, size_t length) noexcept
{
    void* subject = call<void*>(cryptoMapper->slot(KA_CRYPTO_X509_get_subject_name), nullptr, certificate);
    if (subject == nullptr)
        return false;
    int position = -1;
    for (;;) {
        position =
            call(cryptoMapper->slot(KA_CRYPTO_X509_NAME_get_index_by_NID), -1, subject, kNidCommonName, position);
        if (position < 0)
            return false;
        void* entry = call<void*>(cryptoMapper->slot(KA_CRYPTO_X509_NAME_get_entry), nullptr, subject, position);
        void* data = call<void*>(cryptoMapper->slot(KA_CRYPTO_X509_NAME_ENTRY_get_data), nullptr, entry);
        if (data == nullptr)
            continue;
        int n = call(cryptoMapper->slot(KA_CRYPTO_ASN1_STRING_length), -1, static_cast<const void*>(data));
        auto* bytes = call<const char*>(cryptoMapper->slot(KA_CRYPTO_ASN1_STRING_data), nullptr, data);
        if (bytes != nullptr && n >= 0 && size_t(n) == length && strncasecmp(bytes, name, length) == 0)
            return true;
    }
}

long KaSSLSock::checkHostName() noexcept
{
    // The host is always checked: with no name of its own the setting
    // stands for the host connected to.
    const char* expected = hostNameInCertificate;
    if (empty(expected) || strcmp(expected, KA_SSL_SERVERNAME_MARK) == 0)
        expected = serverName;
    if (empty(expected))
        return KA_SSL_HOST_MISMATCH;
    size_t length = strlen(expected);
    void* certificate =
        call<void*>(sslMapper->slot(KA_SSL_SSL_get_peer_certificate), nullptr, static_cast<const void*>(ssl));
    if (certificate == nullptr)
        return KA_SSL_HOST_MISMATCH;
    bool match;
    if (kaIsIpAddress(expected))
        match = checkIpAddress != nullptr && checkIpAddress(certificate, expected, 0) > 0;
    else
        match = cryptoMapper->checkHost(certificate, expected, length, 0, nullptr) > 0;
    if (!match && !kaIsIpAddress(expected))
        match = hostMatchesSubject(certificate, expected, length);
    callVoid(cryptoMapper->slot(KA_CRYPTO_X509_free), certificate);
    if (!match)
        return KA_SSL_HOST_MISMATCH;
    return call<long>(sslMapper->slot(KA_SSL_SSL_get_verify_result), -1L, static_cast<const void*>(ssl));
}

int KaSSLSock::startSSL() noexcept
{
    if (initSSL(0) == 0 && handshake() == 0)
        return 0;
    (void)disconnect();
    return -1;
}

int KaSSLSock::connectBasic(uint16_t port, const uint16_t* hostW, const char* host, const uint16_t* service) noexcept
{
    return connect(port, hostW, host, service, 0);
}

int KaSSLSock::connect(uint16_t port, const uint16_t* hostW, const char* host, const uint16_t* service,
                       int32_t flags) noexcept
{
    char* name = nullptr;
    if (!empty(host)) {
        name = dupText(host);
    } else if (hostW != nullptr && hostW[0] != 0) {
        bool failed = false;
        name = narrowCopy(hostW, &failed);
    }
    if (name != nullptr) {
        // Blanks before the name do not count, as for the TCP connect.
        char* start = name;
        while (*start == ' ' || *start == '\t')
            ++start;
        memmove(name, start, strlen(start) + 1);
        freeText(serverName);
        serverName = name;
    } else if (!empty(host) || (hostW != nullptr && hostW[0] != 0)) {
        return KA_SOCK_FAILED;
    }
    if (initSSL(0) != 0)
        return KA_SOCK_FAILED;
    // The time-out covers the TCP connect and the handshake together.
    int64_t deadline = timeout != 0 ? baseSocketNowMs() + int64_t(timeout) : 0;
    if (int rc = KaTCPIP::connect(port, hostW, host, service, flags); rc != KA_SOCK_OK)
        return rc == KA_SOCK_TIMED_OUT ? rc : KA_SOCK_FAILED;
    handshakeDeadline = deadline;
    int shaken = handshake();
    handshakeDeadline = 0;
    if (shaken == 0)
        return KA_SOCK_OK;
    (void)disconnect();
    return handshakeTimedOut ? KA_SOCK_TIMED_OUT : KA_SOCK_FAILED;
}

void KaSSLSock::shutdownSSL() noexcept
{
    if (!sslCreated)
        return;
    if (sslMapper != nullptr) {
        if (ssl != nullptr) {
            if (record != nullptr && connected) {
                (void)call(sslMapper->slot(KA_SSL_SSL_shutdown), 0, ssl);
                // A session that never completed its handshake refuses the
                // shutdown; its complaint must not reach the next diagnostic.
                char drained[kQueueTextSize] = {};
                appendErrorQueue(drained, sizeof drained);
            }
            sslMapper->freeSession(ssl);
        }
        if (context != nullptr)
            callVoid(sslMapper->slot(KA_SSL_SSL_CTX_free), context);
    }
    ssl = nullptr;
    context = nullptr;
    readBio = nullptr;
    customBio = nullptr;
    trustX509Store = nullptr;
    delete sslMapper;
    sslMapper = nullptr;
    sslCreated = 0;
    release();
}

int KaSSLSock::disconnect() noexcept
{
    shutdownSSL();
    return KaTCPIP::disconnect();
}

void KaSSLSock::close() noexcept
{
    if (sslCreated && sslMapper != nullptr) {
        sslMapper->freeSession(ssl);
        ssl = nullptr;
        readBio = nullptr;
    }
    KaTCPIP::close();
}

void KaSSLSock::postIoFailure(const char* doing, int result) noexcept
{
    if (!postErrors)
        return;
    int error = call(sslMapper->slot(KA_SSL_SSL_get_error), 0, static_cast<const void*>(ssl), result);
    char text[kQueueTextSize] = {};
    appendErrorQueue(text, sizeof text);
    if (text[0] == '\0') {
        if ((error == kSslErrorSyscall && result == 0) || error == kSslErrorZeroReturn)
            appendText(text, sizeof text, "the server closed the connection");
        else if (error == kSslErrorSyscall)
            appendText(text, sizeof text, "a system call failed");
        else
            snprintf(text, sizeof text, "SSL error %d", error);
    }
    errPost(MSG_TLS_IO_FAILED)->addParamText(doing)->addParamText(text)->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
}

int KaSSLSock::writeChunks(const uint8_t* data, size_t length) noexcept
{
    size_t sent = 0;
    while (sent < length) {
        size_t chunk = length - sent < KA_SSL_CHUNK ? length - sent : KA_SSL_CHUNK;
        // With partial writes allowed the library may take part of a
        // chunk; the rest goes again until all of it is written.
        int n = call(sslMapper->slot(KA_SSL_SSL_write), -1, ssl, static_cast<const void*>(data + sent), int(chunk));
        if (n <= 0) {
            if (timeout != 0 && call(sslMapper->slot(KA_SSL_SSL_get_error), 0, static_cast<const void*>(ssl), n) ==
                                    kSslErrorWantWrite) {
                // The peer took nothing within the time-out. Part of a
                // record may be out: the stream cannot go on.
                char drained[kQueueTextSize] = {};
                appendErrorQueue(drained, sizeof drained);
                connected = 0;
                return KA_SOCK_TIMED_OUT;
            }
            postIoFailure("writing", n);
            return KA_SOCK_FAILED;
        }
        sent += size_t(n);
    }
    return KA_SOCK_OK;
}

int KaSSLSock::send(const void* data, size_t length, int32_t) noexcept
{
    if (record == nullptr || !connected || ssl == nullptr || sslMapper == nullptr)
        return KA_SOCK_LOST;
    if (traceMode != 0)
        traceData(data, length, KA_TRACE_SENDING, 0);
    // The socket blocks in a write at most the transport's time-out, as
    // the plain transport's writes do.
    timeval limit = {time_t(timeout / 1000), suseconds_t(timeout % 1000) * 1000};
    (void)setsockopt(record->socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    return writeChunks(static_cast<const uint8_t*>(data), length);
}

int KaSSLSock::readChunk(void* buffer, size_t size, size_t* received) noexcept
{
    *received = 0;
    readWait.lastWait = 0;
    int n = call(sslMapper->slot(KA_SSL_SSL_read), -1, ssl, buffer, int(size < KA_SSL_CHUNK ? size : KA_SSL_CHUNK));
    if (n > 0) {
        *received = size_t(n);
        return KA_SOCK_OK;
    }
    if (readWait.lastWait == KA_SOCK_NOTHING_YET || readWait.lastWait == KA_SSL_READ_NO_TRANSPORT) {
        char drained[kQueueTextSize] = {};
        appendErrorQueue(drained, sizeof drained);
        return readWait.lastWait == KA_SOCK_NOTHING_YET ? KA_SOCK_NOTHING_YET : KA_SOCK_TIMED_OUT;
    }
    if (readWait.lastWait == KA_SOCK_LOST || readWait.lastWait == KA_SOCK_FAILED) {
        // The wait posted the transport's diagnostic already.
        char drained[kQueueTextSize] = {};
        appendErrorQueue(drained, sizeof drained);
        return KA_SOCK_FAILED;
    }
    postIoFailure("reading", n);
    return KA_SOCK_FAILED;
}

int KaSSLSock::recv(void* buffer, size_t size, size_t* received, int32_t wait) noexcept
{
    *received = 0;
    if (record == nullptr || !connected || ssl == nullptr || sslMapper == nullptr)
        return KA_SOCK_LOST;
    int32_t savedWait = waitTimeout;
    bool replaced = false;
    // The callback stays installed from the handshake on; each read only
    // says whether it waits, so that no read allocates.
    if (wait) {
        timedOut = false;
        readWait.transport = this;
        readWait.active = 1;
    } else if (timeout != 0) {
        readWait.transport = this;
        readWait.active = 1;
        waitTimeout = timeout > uint32_t(INT32_MAX) ? INT32_MAX : int32_t(timeout);
        replaced = true;
    } else {
        readWait.active = 0;
    }
    int rc = readChunk(buffer, size, received);
    if (replaced)
        waitTimeout = savedWait;
    if (rc == KA_SOCK_OK && traceMode != 0)
        traceData(buffer, *received, KA_TRACE_READING, int64_t(size));
    if (rc == KA_SOCK_NOTHING_YET) {
        if (wait) {
            timedOut = true;
            return KA_SOCK_NOTHING_YET;
        }
        return KA_SOCK_TIMED_OUT;
    }
    return rc;
}
