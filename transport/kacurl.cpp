// The libcurl binding and the HTTP connection: request bodies handed to
// libcurl as they are written, responses through one paused buffer, the
// session cookie, the Negotiate header and the certificate check of the SSL
// context callback.
#include "transport/kacurl.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "foundation/errpost.h"
#include "foundation/fast.h"
#include "foundation/kaencode.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bos.h"
#include "platform/boslib.h"
#include "security/kaopenssl.h"
#include "transport/katlssock.h"

namespace {

constexpr uint32_t R = KA_CURL_REQUIRED;
constexpr uint32_t O = KA_CURL_OPTIONAL;

#define KA_CURL_ROW(name, flags)                                                                                       \
    {                                                                                                                  \
#name, KA_CURL_##name, flags                                                                                   \
    }
#define KA_CURL_API(name, flags)                                                                                       \
    {                                                                                                                  \
        "curl_" #name, KA_CURL_##name, flags                                                                           \
    }
#define KA_CURL_SSL(name, flags)                                                                                       \
    {                                                                                                                  \
        "KA_" #name, KA_CURL_##name, flags                                                                             \
    }
const CallMapperSymbol curlRows[] = {
    KA_CURL_API(easy_cleanup, R),
    KA_CURL_API(easy_duphandle, R),
    KA_CURL_API(easy_escape, R),
    KA_CURL_API(easy_getinfo, R),
    KA_CURL_API(easy_init, R),
    KA_CURL_API(easy_pause, R),
    KA_CURL_API(easy_perform, R),
    KA_CURL_API(easy_recv, R),
    KA_CURL_API(easy_reset, R),
    KA_CURL_API(easy_send, R),
    KA_CURL_API(easy_setopt, R),
    KA_CURL_API(easy_strerror, R),
    KA_CURL_API(easy_unescape, R),
    KA_CURL_API(free, R),
    KA_CURL_API(global_cleanup, R),
    KA_CURL_API(global_init, R),
    KA_CURL_API(global_init_mem, R),
    KA_CURL_API(multi_init, R),
    KA_CURL_API(multi_add_handle, R),
    KA_CURL_API(multi_remove_handle, R),
    KA_CURL_API(multi_cleanup, R),
    KA_CURL_API(multi_perform, R),
    KA_CURL_API(multi_wait, R),
    KA_CURL_API(multi_strerror, R),
    KA_CURL_API(share_cleanup, R),
    KA_CURL_API(share_init, R),
    KA_CURL_API(share_setopt, R),
    KA_CURL_API(share_strerror, R),
    KA_CURL_API(slist_append, R),
    KA_CURL_API(slist_free_all, R),
    KA_CURL_API(version, R),
    KA_CURL_API(version_info, R),
    KA_CURL_SSL(SSL_CTX_get_cert_store, O),
    KA_CURL_SSL(SSL_CTX_load_verify_locations, R),
    KA_CURL_SSL(sk_X509_num, R),
    KA_CURL_SSL(X509_STORE_add_cert, R),
    KA_CURL_SSL(X509_free, R),
    KA_CURL_SSL(EVP_PKEY_free, R),
    KA_CURL_SSL(X509_VERIFY_PARAM_new, O),
    KA_CURL_SSL(X509_VERIFY_PARAM_free, O),
    KA_CURL_SSL(SSL_CTX_set1_param, O),
    KA_CURL_SSL(X509_VERIFY_PARAM_set_hostflags, R),
    KA_CURL_SSL(X509_VERIFY_PARAM_set1_host, R),
    KA_CURL_SSL(X509_VERIFY_PARAM_set1_ip_asc, R),
    KA_CURL_SSL(SSL_CTX_set_verify, O),
    KA_CURL_SSL(BIO_new, R),
    KA_CURL_SSL(BIO_s_file, R),
    KA_CURL_SSL(BIO_ctrl, R),
    KA_CURL_SSL(d2i_PKCS12_bio, R),
    KA_CURL_SSL(PKCS12_parse, R),
    KA_CURL_SSL(BIO_free, R),
    KA_CURL_SSL(sk_X509_value, R),
    KA_CURL_SSL(sk_X509_pop_free, O),
};
#undef KA_CURL_ROW
#undef KA_CURL_API
#undef KA_CURL_SSL
static_assert(sizeof curlRows / sizeof curlRows[0] == KA_CURL_ENTRIES);
const CallMapperTable curlTable = {curlRows, KA_CURL_ENTRIES, KA_CURL_REQUIRED};

// OpenSSL values the SSL context callback passes through the KA_ helpers.
constexpr int kBioSetFileName = 108;         // BIO_C_SET_FILENAME
constexpr long kBioCloseForReading = 3;      // BIO_CLOSE | BIO_FP_READ
constexpr unsigned kNoPartialWildcards = 4;  // X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS
// X509_V_ERR_HOSTNAME_MISMATCH and X509_V_ERR_IP_ADDRESS_MISMATCH.
constexpr long kHostMismatch = 62;
constexpr long kAddressMismatch = 64;
// Room of an address literal (INET6_ADDRSTRLEN).
constexpr size_t kIpTextSize = 46;
// How libcurl's error text begins for a name the resolver did not know.
constexpr char kCurlUnresolved[] = "Could not resolve host";
// libcurl's complaint about an answer without an HTTP status line.
constexpr char kCurlNotHttp[] = "HTTP/0.9";

// Longest wait of one multi-interface wait, so that the time-out is looked
// at again even when libcurl asks for none.
constexpr int kCurlWaitSliceMs = 200;
// Bytes of a refusal's body that go into the diagnostic.
constexpr size_t kCurlBodyExcerpt = 200;

using FnEasyGetinfo = CURLcode (*)(CURL*, CURLINFO, ...);
using FnEasySetopt = CURLcode (*)(CURL*, CURLoption, ...);
using FnEasyInit = CURL* (*)();
using FnEasyCleanup = void (*)(CURL*);
using FnEasyDuphandle = CURL* (*)(CURL*);
using FnShareInit = CURLSH* (*)();
using FnShareSetopt = CURLSHcode (*)(CURLSH*, CURLSHoption, ...);
using FnShareCleanup = CURLSHcode (*)(CURLSH*);
using FnShareStrerror = const char* (*)(CURLSHcode);
using FnEasyPause = CURLcode (*)(CURL*, int);
using FnEasyStrerror = const char* (*)(CURLcode);
using FnGlobalInit = CURLcode (*)(long);
using FnGlobalCleanup = void (*)();
using FnMultiInit = CURLM* (*)();
using FnMultiHandle = CURLMcode (*)(CURLM*, CURL*);
using FnMultiCleanup = CURLMcode (*)(CURLM*);
using FnMultiPerform = CURLMcode (*)(CURLM*, int*);
using FnMultiWait = CURLMcode (*)(CURLM*, curl_waitfd*, unsigned, int, int*);
using FnMultiStrerror = const char* (*)(CURLMcode);
using FnSlistAppend = curl_slist* (*)(curl_slist*, const char*);
using FnSlistFreeAll = void (*)(curl_slist*);

using FnGetCertStore = void* (*)(const void*);
using FnLoadVerifyLocations = int (*)(void*, const char*, const char*);
using FnSkNum = int (*)(const void*);
using FnSkValue = void* (*)(const void*, int);
using FnSkPopFree = void (*)(void*);
using FnStoreAddCert = int (*)(void*, void*);
using FnFree = void (*)(void*);
using FnParamNew = void* (*)();
using FnSet1Param = int (*)(void*, void*);
using FnSetHostflags = void (*)(void*, unsigned);
using FnSet1Host = int (*)(void*, const char*, size_t);
using FnSet1IpAsc = int (*)(void*, const char*);
using FnSetVerify = void (*)(void*, int, void*);
using FnBioNew = void* (*)(const void*);
using FnBioMethod = const void* (*)();
using FnBioCtrl = long (*)(void*, int, long, void*);
using FnD2iPkcs12 = void* (*)(void*, void**);
using FnPkcs12Parse = int (*)(void*, const char*, void**, void**, void**);
using FnBioFree = int (*)(void*);

int64_t nowMs() noexcept
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void freeText(char*& text) noexcept
{
    ramFree(text);
    text = nullptr;
}

size_t readCallback(char* out, size_t size, size_t count, void* data) noexcept
{
    return static_cast<KaCurlConnection*>(data)->readBody(out, size * count);
}

size_t writeCallback(char* in, size_t size, size_t count, void* data) noexcept
{
    return static_cast<KaCurlConnection*>(data)->writeResponse(in, size * count);
}

CURLcode sslContextCallback(CURL* /*easy*/, void* context, void* data) noexcept
{
    return static_cast<KaCurlConnection*>(data)->sslContext(context);
}

}  // namespace

KaCURLCallMapper::KaCURLCallMapper(const char* name) noexcept : UtlLibCallMapper(name, &curlTable) {}

KaCURLCallMapper::~KaCURLCallMapper() = default;

int kaCurlLibraryName(const char* baseName, char* out, size_t size) noexcept
{
    if (baseName == nullptr)
        return 1;
    const char* slash = std::strrchr(baseName, '/');
    const char* name = slash != nullptr ? slash + 1 : baseName;
    size_t n = std::strlen(name);
    // The extension, when the base name carries one, is not part of the name.
    if (const char* dot = std::strrchr(name, '.'); dot != nullptr)
        n = size_t(dot - name);
    if (n > 0 && (name[n - 1] == 'R' || name[n - 1] == 'r'))
        --n;
    if (n < 2)
        return 1;
    int written = std::snprintf(out, size, "lib%.2scurl%.2s.so", name, name + n - 2);
    return written < 0 || size_t(written) >= size ? 1 : 0;
}

KaCurlConnection::KaCurlConnection() noexcept = default;

KaCurlConnection::~KaCurlConnection()
{
    freeText(url);
    freeText(cookieName);
    freeText(encodedHost);
    if (negotiateHeader != nullptr)
        fastMemzero(negotiateHeader, std::strlen(negotiateHeader));
    freeText(negotiateHeader);
    slistFreeAll(baseHeaders);
    baseHeaders = nullptr;
    slistFreeAll(requestHeaders);
    requestHeaders = nullptr;
    delete mapper;
}

int KaCurlConnection::loadLibraryNamed(const char* fileName) noexcept
{
    std::unique_ptr<KaCURLCallMapper> made(new KaCURLCallMapper(fileName));
    if (made == nullptr || made->attach() != 0)
        return 1;
    delete mapper;
    mapper = made.release();
    return 0;
}

int KaCurlConnection::loadLibrary() noexcept
{
    if (mapper != nullptr)
        return 0;
    const char* base = openSSLDriverBaseName();
    char name[KA_CURL_NAME_MAX];
    if (kaCurlLibraryName(base, name, sizeof name) != 0) {
        errPost(MSG_HTTP_LIBRARY_UNAVAILABLE)->addParamText(base)->setSqlstateMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT);
        return -1;
    }
    if (loadLibraryNamed(name) == 0)
        return 0;
    KaErrorDiscardLast();
    char path[BOS_PATH_SIZE + KA_CURL_NAME_MAX];
    const char* slash = std::strrchr(base, '/');
    int rc = 1;
    if (slash != nullptr) {
        int written = std::snprintf(path, sizeof path, "%.*s/%s", int(slash - base), base, name);
        rc = written > 0 && size_t(written) < sizeof path ? loadLibraryNamed(path) : 1;
    } else if (LocateFile(path, name, BOS_SEARCH_INSTALL | BOS_SEARCH_LIBPATH) == 0) {
        rc = loadLibraryNamed(path);
    } else {
        rc = loadLibraryNamed(name);
    }
    if (rc == 0)
        return 0;
    errPost(MSG_HTTP_LIBRARY_UNAVAILABLE)->addParamText(name)->setSqlstateMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT);
    return -1;
}

CURLcode KaCurlConnection::setLong(CURLoption option, long value) noexcept
{
    auto fn = mapper != nullptr ? mapper->entry<FnEasySetopt>(KA_CURL_easy_setopt) : nullptr;
    return fn != nullptr && easy != nullptr ? fn(easy, option, value) : CURLE_FAILED_INIT;
}

CURLcode KaCurlConnection::setText(CURLoption option, const char* value) noexcept
{
    auto fn = mapper != nullptr ? mapper->entry<FnEasySetopt>(KA_CURL_easy_setopt) : nullptr;
    return fn != nullptr && easy != nullptr ? fn(easy, option, value) : CURLE_FAILED_INIT;
}

CURLcode KaCurlConnection::setPointer(CURLoption option, void* value) noexcept
{
    auto fn = mapper != nullptr ? mapper->entry<FnEasySetopt>(KA_CURL_easy_setopt) : nullptr;
    return fn != nullptr && easy != nullptr ? fn(easy, option, value) : CURLE_FAILED_INIT;
}

curl_slist* KaCurlConnection::slistAppend(curl_slist* list, const char* text) noexcept
{
    auto fn = mapper != nullptr ? mapper->entry<FnSlistAppend>(KA_CURL_slist_append) : nullptr;
    return fn != nullptr ? fn(list, text) : nullptr;
}

void KaCurlConnection::slistFreeAll(curl_slist* list) noexcept
{
    auto fn = mapper != nullptr ? mapper->entry<FnSlistFreeAll>(KA_CURL_slist_free_all) : nullptr;
    if (fn != nullptr && list != nullptr)
        fn(list);
}

int KaCurlConnection::init() noexcept
{
    if (easy != nullptr)
        return 0;
    auto globalInit = mapper != nullptr ? mapper->entry<FnGlobalInit>(KA_CURL_global_init) : nullptr;
    auto easyInit = mapper != nullptr ? mapper->entry<FnEasyInit>(KA_CURL_easy_init) : nullptr;
    if (globalInit == nullptr || easyInit == nullptr || globalInit(CURL_GLOBAL_ALL) != CURLE_OK)
        return 1;
    globalInitDone = 1;
    easy = easyInit();
    if (easy == nullptr)
        return 1;
    // libcurl's reason for a failed connect goes into the diagnostic; no
    // signals, since the driver runs inside the application's process.
    return setPointer(CURLOPT_ERRORBUFFER, errorBuffer) != CURLE_OK || setLong(CURLOPT_NOSIGNAL, 1L) != CURLE_OK ? 1
                                                                                                                 : 0;
}

void KaCurlConnection::postEasyError(uint16_t message, CURLcode code) noexcept
{
    auto fn = mapper != nullptr ? mapper->entry<FnEasyStrerror>(KA_CURL_easy_strerror) : nullptr;
    errPost(message)->addParamText(fn != nullptr ? fn(code) : "")->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
}

void KaCurlConnection::postTransferError(CURLMcode code) noexcept
{
    auto fn = mapper != nullptr ? mapper->entry<FnMultiStrerror>(KA_CURL_multi_strerror) : nullptr;
    errPost(MSG_HTTP_TRANSFER_FAILED)
        ->addParamText(fn != nullptr ? fn(code) : "")
        ->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
}

int KaCurlConnection::setUrl(const uint16_t* host, const char* port, const uint16_t* path, int32_t ssl) noexcept
{
    if (host == nullptr || port == nullptr || easy == nullptr)
        return 1;
    size_t hostUnits = 0;
    while (host[hostUnits] != 0)
        ++hostUnits;
    size_t pathUnits = 0;
    while (path != nullptr && path[pathUnits] != 0)
        ++pathUnits;
    // UTF-8 takes at most three bytes per unit, percent-encoding three per byte.
    size_t hostSize = hostUnits * 9 + 1;
    size_t pathSize = pathUnits * 9 + 1;
    size_t portLength = std::strlen(port);
    if (portLength >= sizeof portText)
        return 1;
    std::memcpy(portText, port, portLength + 1);
    RamPtr<char> hostText = ramMake<char>(hostSize);
    RamPtr<char> pathText = ramMake<char>(pathSize);
    size_t hostLength = 0;
    size_t pathLength = 0;
    if (!hostText || !pathText) {
        ramOutOfMemory();
        return 1;
    }
    if (urlEncodeW(host, hostUnits, hostText.get(), hostSize, &hostLength, 0) == nullptr ||
        (path != nullptr && urlEncodeW(path, pathUnits, pathText.get(), pathSize, &pathLength, 1) == nullptr))
        return 1;
    size_t total = 8 + hostLength + 1 + portLength + 1 + pathLength + 1;
    RamPtr<char> made = ramMake<char>(total);
    if (!made) {
        ramOutOfMemory();
        return 1;
    }
    int n = std::snprintf(made.get(), total, "%s%s:%s%s%.*s", ssl ? "https://" : "http://", hostText.get(), port,
                          path != nullptr && (pathLength == 0 || pathText.get()[0] != '/') ? "/" : "", int(pathLength),
                          pathText.get());
    if (n <= 0 || size_t(n) >= total)
        return 1;
    freeText(url);
    url = made.release();
    freeText(encodedHost);
    encodedHost = hostText.release();
    if (CURLcode code = setText(CURLOPT_URL, url); code != CURLE_OK) {
        postEasyError(MSG_HTTP_URL_REJECTED, code);
        return 1;
    }
    if (multi == nullptr) {
        auto multiInit = mapper->entry<FnMultiInit>(KA_CURL_multi_init);
        auto add = mapper->entry<FnMultiHandle>(KA_CURL_multi_add_handle);
        multi = multiInit != nullptr ? multiInit() : nullptr;
        if (multi == nullptr || add == nullptr || add(multi, easy) != CURLM_OK)
            return 1;
    }
    if (ssl) {
        if (setPointer(CURLOPT_SSL_CTX_FUNCTION, reinterpret_cast<void*>(&sslContextCallback)) != CURLE_OK ||
            setPointer(CURLOPT_SSL_CTX_DATA, this) != CURLE_OK || setLong(CURLOPT_SSL_VERIFYPEER, 0L) != CURLE_OK ||
            setLong(CURLOPT_SSL_VERIFYHOST, 0L) != CURLE_OK)
            return 1;
    }
    return 0;
}

int KaCurlConnection::drive() noexcept
{
    auto perform = mapper->entry<FnMultiPerform>(KA_CURL_multi_perform);
    auto wait = mapper->entry<FnMultiWait>(KA_CURL_multi_wait);
    if (perform == nullptr || wait == nullptr || multi == nullptr)
        return 1;
    int64_t deadline = transferTimeoutMs > 0 ? nowMs() + transferTimeoutMs : 0;
    for (;;) {
        int running = 0;
        CURLMcode code = perform(multi, &running);
        if (code != CURLM_OK) {
            postTransferError(code);
            return 1;
        }
        if (running == 0) {
            transferDone = 1;
            return 0;
        }
        if (paused)
            return 0;
        int slice = kCurlWaitSliceMs;
        if (deadline != 0) {
            int64_t left = deadline - nowMs();
            // The transfer is abandoned: the next request starts it afresh.
            if (left <= 0)
                return -2;
            if (left < slice)
                slice = int(left);
        }
        int ready = 0;
        code = wait(multi, nullptr, 0, slice, &ready);
        if (code != CURLM_OK) {
            postTransferError(code);
            return 1;
        }
    }
}

size_t KaCurlConnection::readBody(char* out, size_t size) noexcept
{
    if (currentLeft == 0 && bodySent < bodyLength) {
        paused = 1;
        return CURL_READFUNC_PAUSE;
    }
    size_t k = size < currentLeft ? size : currentLeft;
    // The announced length is what the server reads: bytes beyond it
    // would lead the next request.
    if (k > bodyLength - bodySent)
        k = bodyLength - bodySent;
    std::memcpy(out, currentWrite, k);
    currentWrite += k;
    currentLeft -= k;
    bodySent += uint32_t(k);
    if (bodySent >= bodyLength)
        bodyLengthKnown = 0;
    return k;
}

size_t KaCurlConnection::writeResponse(const char* data, size_t size) noexcept
{
    if (responseFill + size > KA_CURL_RESPONSE_BUFFER) {
        paused = 1;
        return CURL_WRITEFUNC_PAUSE;
    }
    std::memcpy(response + responseFill, data, size);
    responseFill += size;
    return size;
}

// Debian 12's libcurl (7.88.1) frees the stored headers of a finished
// transfer when the handle starts the next one but keeps a pointer to the
// last of them, and a header line that starts with a blank right after the
// status line continues that freed header. A handle that has never run a
// transfer has no such pointer, so each request after the first runs on a
// copy of the handle (its options, not its transfer state); the share keeps
// the cookies and TLS sessions, and the multi handle keeps the connections.
int KaCurlConnection::renewEasy() noexcept
{
    auto remove = mapper->entry<FnMultiHandle>(KA_CURL_multi_remove_handle);
    if (remove == nullptr)
        return 1;
    (void)remove(multi, easy);
    if (share == nullptr) {
        auto shareInit = mapper->entry<FnShareInit>(KA_CURL_share_init);
        auto shareSetopt = mapper->entry<FnShareSetopt>(KA_CURL_share_setopt);
        auto shareError = mapper->entry<FnShareStrerror>(KA_CURL_share_strerror);
        if (shareInit == nullptr || shareSetopt == nullptr || shareError == nullptr)
            return 1;
        share = shareInit();
        if (share == nullptr) {
            ramOutOfMemory();
            return 1;
        }
        // Cookies only where cookie authentication asked for them: a shared
        // cookie store turns libcurl's cookie handling on.
        CURLSHcode code = shareSetopt(share, CURLSHOPT_SHARE, int(CURL_LOCK_DATA_SSL_SESSION));
        if (code == CURLSHE_OK && cookieName != nullptr)
            code = shareSetopt(share, CURLSHOPT_SHARE, int(CURL_LOCK_DATA_COOKIE));
        if (code != CURLSHE_OK) {
            errPost(MSG_HTTP_TRANSFER_FAILED)
                ->addParamText(shareError(code))
                ->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
            if (auto cleanup = mapper->entry<FnShareCleanup>(KA_CURL_share_cleanup); cleanup != nullptr)
                (void)cleanup(share);
            share = nullptr;
            return 1;
        }
    } else if (easyUsed) {
        auto duphandle = mapper->entry<FnEasyDuphandle>(KA_CURL_easy_duphandle);
        auto cleanup = mapper->entry<FnEasyCleanup>(KA_CURL_easy_cleanup);
        CURL* copy = duphandle != nullptr && cleanup != nullptr ? duphandle(easy) : nullptr;
        if (copy == nullptr) {
            ramOutOfMemory();
            return 1;
        }
        cleanup(easy);
        easy = copy;
    } else {
        return 0;
    }
    easyUsed = 0;
    if (CURLcode code = setPointer(CURLOPT_SHARE, share); code != CURLE_OK) {
        postEasyError(MSG_HTTP_TRANSFER_FAILED, code);
        return 1;
    }
    return 0;
}

int KaCurlConnection::post(const void* data, size_t length) noexcept
{
    if (mapper == nullptr || easy == nullptr || multi == nullptr)
        return 1;
    if (length > UINT32_MAX) {
        errPost(MSG_HTTP_BODY_TOO_LONG)->addParamUnsigned(length)->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
        return 1;
    }
    // More of the body that libcurl is waiting for.
    if (paused && bodyLengthKnown && bodySent < bodyLength) {
        currentWrite = static_cast<const uint8_t*>(data);
        currentLeft = length;
        auto pause = mapper->entry<FnEasyPause>(KA_CURL_easy_pause);
        paused = 0;
        if (pause == nullptr || pause(easy, CURLPAUSE_CONT) != CURLE_OK)
            return 1;
        return drive();
    }
    if (strayBytesWaiting() != 0)
        return 1;
    if (renewEasy() != 0)
        return 1;
    responseRead = responseFill = 0;
    transferDone = 0;
    errorBuffer[0] = 0;
    bool authChanged = false;
    bool cookieAuth = cookieName != nullptr && hasSessionCookie();
    if (cookieAuth) {
        if (setLong(CURLOPT_HTTPAUTH, long(CURLAUTH_NONE)) != CURLE_OK)
            return 1;
        authChanged = true;
    }
    if (!bodyLengthKnown) {
        bodyLength = uint32_t(length);
        bodyLengthKnown = 1;
    }
    if (setLong(CURLOPT_POSTFIELDSIZE, long(bodyLength)) != CURLE_OK || setLong(CURLOPT_POST, 1L) != CURLE_OK)
        return 1;
    bodySent = 0;
    slistFreeAll(requestHeaders);
    requestHeaders = nullptr;
    curl_slist* headers = baseHeaders;
    if (!cookieAuth && negotiateHeader != nullptr) {
        if (setLong(CURLOPT_HTTPAUTH, long(CURLAUTH_NONE)) != CURLE_OK)
            return 1;
        authChanged = true;
        for (curl_slist* h = baseHeaders; h != nullptr; h = h->next) {
            curl_slist* grown = slistAppend(requestHeaders, h->data);
            if (grown == nullptr)
                return 1;
            requestHeaders = grown;
        }
        curl_slist* grown = slistAppend(requestHeaders, negotiateHeader);
        if (grown == nullptr)
            return 1;
        headers = requestHeaders = grown;
    }
    if (setPointer(CURLOPT_HTTPHEADER, headers) != CURLE_OK || setPointer(CURLOPT_READDATA, this) != CURLE_OK ||
        setPointer(CURLOPT_READFUNCTION, reinterpret_cast<void*>(&readCallback)) != CURLE_OK ||
        setPointer(CURLOPT_WRITEDATA, this) != CURLE_OK ||
        setPointer(CURLOPT_WRITEFUNCTION, reinterpret_cast<void*>(&writeCallback)) != CURLE_OK)
        return 1;
    auto remove = mapper->entry<FnMultiHandle>(KA_CURL_multi_remove_handle);
    auto add = mapper->entry<FnMultiHandle>(KA_CURL_multi_add_handle);
    if (remove == nullptr || add == nullptr)
        return 1;
    (void)remove(multi, easy);
    if (CURLMcode code = add(multi, easy); code != CURLM_OK) {
        postTransferError(code);
        return 1;
    }
    easyUsed = 1;
    currentWrite = static_cast<const uint8_t*>(data);
    currentLeft = length;
    paused = 0;
    int rc = drive();
    if (authChanged && setLong(CURLOPT_HTTPAUTH, authToRestore) != CURLE_OK && rc == 0)
        rc = 1;
    return rc;
}

int KaCurlConnection::refill() noexcept
{
    if (responseRead < responseFill)
        return 0;
    responseRead = responseFill = 0;
    if (paused) {
        auto pause = mapper->entry<FnEasyPause>(KA_CURL_easy_pause);
        paused = 0;
        if (CURLcode code = pause != nullptr ? pause(easy, CURLPAUSE_CONT) : CURLE_FAILED_INIT; code != CURLE_OK) {
            postEasyError(MSG_HTTP_TRANSFER_FAILED, code);
            return -1;
        }
    }
    if (responseFill == 0 && !transferDone) {
        int rc = drive();
        if (rc != 0)
            return rc == -2 ? -2 : -1;
    }
    return 0;
}

int KaCurlConnection::strayBytesWaiting() noexcept
{
    // Only a transfer that ended leaves its connection idle and open; under
    // TLS the socket may hold records of the session, not of a reply.
    if (!easyUsed || !transferDone || url == nullptr || std::strncmp(url, "http://", 7) != 0)
        return 0;
    auto getinfo = mapper->entry<FnEasyGetinfo>(KA_CURL_easy_getinfo);
    curl_socket_t sock = CURL_SOCKET_BAD;
    if (getinfo == nullptr || getinfo(easy, CURLINFO_ACTIVESOCKET, &sock) != CURLE_OK || sock == CURL_SOCKET_BAD)
        return 0;
    pollfd ready{sock, POLLIN, 0};
    if (poll(&ready, 1, 0) <= 0 || (ready.revents & POLLIN) == 0)
        return 0;
    // A peer that closed the idle connection is no reply: libcurl opens
    // another one.
    char byte = 0;
    if (recv(sock, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0)
        return 0;
    errPost(MSG_HTTP_UNASKED_REPLY)->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
    return 1;
}

int KaCurlConnection::responseEnded() noexcept
{
    if (mapper == nullptr || easy == nullptr)
        return -1;
    if (int rc = refill(); rc != 0)
        return rc;
    return responseRead >= responseFill ? 1 : 0;
}

int KaCurlConnection::read(void* buffer, size_t size, size_t* received) noexcept
{
    *received = 0;
    auto getinfo = mapper != nullptr ? mapper->entry<FnEasyGetinfo>(KA_CURL_easy_getinfo) : nullptr;
    if (getinfo == nullptr || easy == nullptr)
        return -1;
    long status = 0;
    if (getinfo(easy, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK)
        status = 0;
    if (status == 0) {
        long verify = 0;
        const char* host = encodedHost != nullptr ? encodedHost : "";
        if (kaTlsAnswerNotTls(errorBuffer)) {
            // The verification result stays at its initial value when the
            // handshake never got to a certificate.
            errPost(MSG_TLS_NOT_ANSWERED)->addParamText(errorBuffer)->setSqlstateMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT);
        } else if (getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verify) == CURLE_OK &&
                   (verify == kHostMismatch || verify == kAddressMismatch)) {
            const char* expected = hostNameInCertificate != nullptr && hostNameInCertificate[0] != 0 &&
                                           std::strcmp(hostNameInCertificate, KA_CURL_SERVERNAME_MARK) != 0
                                       ? hostNameInCertificate
                                       : host;
            errPost(MSG_TLS_HOST_NAME_MISMATCH)
                ->addParamText(expected)
                ->setSqlstateMsg(MSG_SQLSTATE_INVALID_AUTHORIZATION);
        } else if (verify != 0) {
            errPost(MSG_TLS_CERTIFICATE_REFUSED)
                ->addParamSigned(verify)
                ->addParamText(errorBuffer)
                ->setSqlstateMsg(MSG_SQLSTATE_INVALID_AUTHORIZATION);
        } else if (std::strstr(errorBuffer, kCurlNotHttp) != nullptr) {
            errPost(MSG_HTTP_SERVER_NOT_HTTP)
                ->addParamText(host)
                ->addParamSigned(std::strtol(portText, nullptr, 10))
                ->addParamText(errorBuffer)
                ->setSqlstateMsg(MSG_SQLSTATE_UNABLE_TO_CONNECT);
        } else {
            char detail[sizeof errorBuffer + 128];
            std::snprintf(detail, sizeof detail, "%s", errorBuffer[0] != 0 ? errorBuffer : "no HTTP response");
            if (std::strncmp(errorBuffer, kCurlUnresolved, sizeof kCurlUnresolved - 1) == 0) {
                // libcurl does not say why: the resolver is asked again for
                // its reason.
                addrinfo hints = {};
                hints.ai_socktype = SOCK_STREAM;
                addrinfo* found = nullptr;
                int code = getaddrinfo(host, nullptr, &hints, &found);
                if (found != nullptr)
                    freeaddrinfo(found);
                if (code != 0) {
                    size_t used = std::strlen(detail);
                    std::snprintf(detail + used, sizeof detail - used, " (%s)", gai_strerror(code));
                }
            }
            errPost(MSG_SOCKET_CONNECT_FAILED)
                ->addParamText(host)
                ->addParamSigned(std::strtol(portText, nullptr, 10))
                ->addParamText(detail)
                ->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
        }
        return -1;
    }
    if (status != 200) {
        // What the server said goes into the diagnostic, its printable
        // characters only, cut to a line.
        char hint[KA_MESSAGE_TEXT_SIZE] = {};
        size_t at = 0;
        if (status == 401 || status == 404) {
            hint[at++] = ' ';
            at += errLoadMessage(hint + at, sizeof hint - at,
                                 status == 401 ? MSG_HTTP_STATUS_UNAUTHORIZED : MSG_HTTP_STATUS_NOT_FOUND);
        }
        size_t body = responseFill < kCurlBodyExcerpt ? responseFill : kCurlBodyExcerpt;
        if (body > 0 && at + body + 4 < sizeof hint) {
            hint[at++] = ' ';
            hint[at++] = '(';
            for (size_t i = 0; i < body; ++i) {
                char c = char(response[i]);
                if (c == '\n' || c == '\r')
                    break;
                hint[at++] = (c >= 0x20 && c < 0x7F) ? c : '?';
            }
            hint[at++] = ')';
            hint[at] = 0;
        }
        errPost(MSG_HTTP_STATUS)->addParamSigned(status)->addParamText(hint);
        return -1;
    }
    if (responseRead >= responseFill) {
        if (int rc = refill(); rc != 0)
            return rc;
        if (responseFill == 0) {
            errPost(MSG_HTTP_RESPONSE_ENDED)->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
            return -1;
        }
    }
    size_t k = responseFill - responseRead;
    if (k > size)
        k = size;
    std::memcpy(buffer, response + responseRead, k);
    responseRead += k;
    *received = k;
    return 0;
}

int KaCurlConnection::hasSessionCookie() noexcept
{
    auto getinfo = mapper != nullptr ? mapper->entry<FnEasyGetinfo>(KA_CURL_easy_getinfo) : nullptr;
    if (getinfo == nullptr || easy == nullptr)
        return 0;
    curl_slist* cookies = nullptr;
    if (getinfo(easy, CURLINFO_COOKIELIST, &cookies) != CURLE_OK || cookies == nullptr)
        return 0;
    static const char* const kWellKnown[] = {"hive.server2.auth", "hadoop.auth", "JSESSIONID"};
    int found = 0;
    for (curl_slist* c = cookies; c != nullptr && !found; c = c->next) {
        if (c->data == nullptr)
            continue;
        if (cookieMode == KA_CURL_COOKIE_NAMED) {
            found = cookieName != nullptr && std::strstr(c->data, cookieName) != nullptr;
        } else {
            for (const char* name : kWellKnown)
                found = found || std::strstr(c->data, name) != nullptr;
        }
    }
    slistFreeAll(cookies);
    return found;
}

int KaCurlConnection::setNegotiateHeader(const void* token, size_t length) noexcept
{
    static const char kPrefix[] = "Authorization: Negotiate ";
    if (length > UINT32_MAX / 2)
        return 1;
    size_t encoded = KaBase64EncodedLength(uint32_t(length));
    size_t total = sizeof kPrefix - 1 + encoded + 1;
    auto* header = static_cast<char*>(ramAlloc(total));
    if (header == nullptr) {
        ramOutOfMemory();
        return 1;
    }
    std::memcpy(header, kPrefix, sizeof kPrefix - 1);
    char* end = KaBase64Encode(token, uint32_t(length), header + sizeof kPrefix - 1, KaBase64StandardAlphabet);
    *end = 0;
    if (negotiateHeader != nullptr)
        fastMemzero(negotiateHeader, std::strlen(negotiateHeader));
    freeText(negotiateHeader);
    negotiateHeader = header;
    return 0;
}

int KaCurlConnection::setConnectTimeout(int64_t seconds) noexcept
{
    return setLong(CURLOPT_CONNECTTIMEOUT, long(seconds)) != CURLE_OK ? 1 : 0;
}

int KaCurlConnection::setClientKey(const char* keyFile, const char* keyPassword) noexcept
{
    if (keyFile == nullptr || keyFile[0] == 0)
        return 0;
    return setText(CURLOPT_SSLKEY, keyFile) != CURLE_OK ||
                   setText(CURLOPT_KEYPASSWD, keyPassword != nullptr ? keyPassword : "") != CURLE_OK
               ? 1
               : 0;
}

void KaCurlConnection::setTrustStore(const char* path, const char* password) noexcept
{
    trustStore = path;
    trustStorePassword = password;
}

CURLcode KaCurlConnection::sslContext(void* context) noexcept
{
    if (validate == 0)
        return CURLE_OK;
    auto getStore = mapper->entry<FnGetCertStore>(KA_CURL_SSL_CTX_get_cert_store);
    auto paramNew = mapper->entry<FnParamNew>(KA_CURL_X509_VERIFY_PARAM_new);
    auto paramFree = mapper->entry<FnFree>(KA_CURL_X509_VERIFY_PARAM_free);
    auto set1Param = mapper->entry<FnSet1Param>(KA_CURL_SSL_CTX_set1_param);
    auto setVerify = mapper->entry<FnSetVerify>(KA_CURL_SSL_CTX_set_verify);
    // The context's own fields depend on the OpenSSL build behind libcurl:
    // without the helpers nothing can be verified, so the handshake fails
    // instead of accepting any certificate.
    if (getStore == nullptr || paramNew == nullptr || paramFree == nullptr || set1Param == nullptr ||
        setVerify == nullptr) {
        errPost(MSG_TLS_TRUST_STORE_UNUSABLE)->addParamText("")->setSqlstateMsg(MSG_SQLSTATE_INVALID_AUTHORIZATION);
        return CURLE_SSL_CERTPROBLEM;
    }
    if (trustStore != nullptr && trustStore[0] != 0) {
        auto bioNew = mapper->entry<FnBioNew>(KA_CURL_BIO_new);
        auto bioFile = mapper->entry<FnBioMethod>(KA_CURL_BIO_s_file);
        auto bioCtrl = mapper->entry<FnBioCtrl>(KA_CURL_BIO_ctrl);
        auto d2i = mapper->entry<FnD2iPkcs12>(KA_CURL_d2i_PKCS12_bio);
        auto parse = mapper->entry<FnPkcs12Parse>(KA_CURL_PKCS12_parse);
        auto bioFree = mapper->entry<FnBioFree>(KA_CURL_BIO_free);
        auto skNum = mapper->entry<FnSkNum>(KA_CURL_sk_X509_num);
        auto skValue = mapper->entry<FnSkValue>(KA_CURL_sk_X509_value);
        auto skPopFree = mapper->entry<FnSkPopFree>(KA_CURL_sk_X509_pop_free);
        auto addCert = mapper->entry<FnStoreAddCert>(KA_CURL_X509_STORE_add_cert);
        auto x509Free = mapper->entry<FnFree>(KA_CURL_X509_free);
        auto keyFree = mapper->entry<FnFree>(KA_CURL_EVP_PKEY_free);
        auto loadVerify = mapper->entry<FnLoadVerifyLocations>(KA_CURL_SSL_CTX_load_verify_locations);
        bool pkcs12 = false;
        void* bio = bioNew(bioFile());
        if (bio != nullptr) {
            if (bioCtrl(bio, kBioSetFileName, kBioCloseForReading, const_cast<char*>(trustStore)) > 0) {
                void* p12 = d2i(bio, nullptr);
                void* key = nullptr;
                void* cert = nullptr;
                void* ca = nullptr;
                if (p12 != nullptr &&
                    parse(p12, trustStorePassword != nullptr ? trustStorePassword : "", &key, &cert, &ca) == 1) {
                    pkcs12 = true;
                    void* store = getStore(context);
                    int count = ca != nullptr ? skNum(ca) : 0;
                    for (int i = 0; i < count; ++i)
                        (void)addCert(store, skValue(ca, i));
                    if (cert != nullptr)
                        x509Free(cert);
                    if (key != nullptr)
                        keyFree(key);
                    if (ca != nullptr && skPopFree != nullptr)
                        skPopFree(ca);
                }
            }
            (void)bioFree(bio);
        }
        if (!pkcs12 && loadVerify(context, trustStore, nullptr) != 1) {
            errPost(MSG_TLS_TRUST_STORE_UNUSABLE)->addParamText("")->setSqlstateMsg(MSG_SQLSTATE_INVALID_AUTHORIZATION);
            return CURLE_SSL_CERTPROBLEM;
        }
    }
    void* param = paramNew();
    if (param == nullptr)
        return CURLE_OUT_OF_MEMORY;
    const char* expected = hostNameInCertificate != nullptr && hostNameInCertificate[0] != 0 &&
                                   std::strcmp(hostNameInCertificate, KA_CURL_SERVERNAME_MARK) != 0
                               ? hostNameInCertificate
                               : encodedHost;
    mapper->entry<FnSetHostflags>(KA_CURL_X509_VERIFY_PARAM_set_hostflags)(param, kNoPartialWildcards);
    // An address is checked against the certificate's IP entries, as the
    // binary transport checks it; an IPv6 one comes bracketed from the URL.
    char address[kIpTextSize] = {};
    if (expected != nullptr) {
        size_t n = std::strlen(expected);
        if (n >= 2 && n - 2 < sizeof address && expected[0] == '[' && expected[n - 1] == ']')
            std::memcpy(address, expected + 1, n - 2);
        else if (n < sizeof address)
            std::memcpy(address, expected, n);
    }
    int hostSet = kaIsIpAddress(address)
                      ? mapper->entry<FnSet1IpAsc>(KA_CURL_X509_VERIFY_PARAM_set1_ip_asc)(param, address)
                      : mapper->entry<FnSet1Host>(KA_CURL_X509_VERIFY_PARAM_set1_host)(
                            param, expected != nullptr ? expected : "", 0);
    int paramSet = hostSet == 1 ? set1Param(context, param) : 0;
    paramFree(param);
    if (paramSet != 1)
        return CURLE_SSL_CERTPROBLEM;
    setVerify(context, KA_SSL_VERIFY_PEER, nullptr);
    return CURLE_OK;
}

void KaCurlConnection::close() noexcept
{
    if (mapper == nullptr)
        return;
    if (easy != nullptr) {
        if (multi != nullptr) {
            if (auto remove = mapper->entry<FnMultiHandle>(KA_CURL_multi_remove_handle); remove != nullptr)
                (void)remove(multi, easy);
            if (auto cleanup = mapper->entry<FnMultiCleanup>(KA_CURL_multi_cleanup); cleanup != nullptr)
                (void)cleanup(multi);
            multi = nullptr;
        }
        if (auto cleanup = mapper->entry<FnEasyCleanup>(KA_CURL_easy_cleanup); cleanup != nullptr)
            cleanup(easy);
        easy = nullptr;
    }
    // Only once no handle uses it.
    if (share != nullptr) {
        if (auto cleanup = mapper->entry<FnShareCleanup>(KA_CURL_share_cleanup); cleanup != nullptr)
            (void)cleanup(share);
        share = nullptr;
    }
    easyUsed = 0;
    if (globalInitDone) {
        if (auto cleanup = mapper->entry<FnGlobalCleanup>(KA_CURL_global_cleanup); cleanup != nullptr)
            cleanup();
        globalInitDone = 0;
    }
}
