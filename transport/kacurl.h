// The HTTP connection of the HTTP transport: KaCURLCallMapper binds the
// libcurl library that the driver loads at run time (libVYcurl28.so, with
// its KA_ OpenSSL helpers), and KaCurlConnection drives libcurl's multi
// interface so that one Thrift message goes out as the body of one POST,
// handed over in several writes, and its reply is read in pieces. The HTTP
// sockets (transport/basehttpsocket.h) own one connection each.
#pragma once
#include <curl/curl.h>

#include <cstddef>
#include <cstdint>

#include "platform/callmapper.h"

// Entry points of the libcurl library, in table order.
enum : uint32_t {
    KA_CURL_easy_cleanup,
    KA_CURL_easy_duphandle,
    KA_CURL_easy_escape,
    KA_CURL_easy_getinfo,
    KA_CURL_easy_init,
    KA_CURL_easy_pause,
    KA_CURL_easy_perform,
    KA_CURL_easy_recv,
    KA_CURL_easy_reset,
    KA_CURL_easy_send,
    KA_CURL_easy_setopt,
    KA_CURL_easy_strerror,
    KA_CURL_easy_unescape,
    KA_CURL_free,
    KA_CURL_global_cleanup,
    KA_CURL_global_init,
    KA_CURL_global_init_mem,
    KA_CURL_multi_init,
    KA_CURL_multi_add_handle,
    KA_CURL_multi_remove_handle,
    KA_CURL_multi_cleanup,
    KA_CURL_multi_perform,
    KA_CURL_multi_wait,
    KA_CURL_multi_strerror,
    KA_CURL_share_cleanup,
    KA_CURL_share_init,
    KA_CURL_share_setopt,
    KA_CURL_share_strerror,
    KA_CURL_slist_append,
    KA_CURL_slist_free_all,
    KA_CURL_version,
    KA_CURL_version_info,
    KA_CURL_SSL_CTX_get_cert_store,
    KA_CURL_SSL_CTX_load_verify_locations,
    KA_CURL_sk_X509_num,
    KA_CURL_X509_STORE_add_cert,
    KA_CURL_X509_free,
    KA_CURL_EVP_PKEY_free,
    KA_CURL_X509_VERIFY_PARAM_new,
    KA_CURL_X509_VERIFY_PARAM_free,
    KA_CURL_SSL_CTX_set1_param,
    KA_CURL_X509_VERIFY_PARAM_set_hostflags,
    KA_CURL_X509_VERIFY_PARAM_set1_host,
    KA_CURL_X509_VERIFY_PARAM_set1_ip_asc,
    KA_CURL_SSL_CTX_set_verify,
    KA_CURL_BIO_new,
    KA_CURL_BIO_s_file,
    KA_CURL_BIO_ctrl,
    KA_CURL_d2i_PKCS12_bio,
    KA_CURL_PKCS12_parse,
    KA_CURL_BIO_free,
    KA_CURL_sk_X509_value,
    // Frees the CA list a PKCS#12 trust store gave; optional.
    KA_CURL_sk_X509_pop_free,
    KA_CURL_ENTRIES
};

// Table flags: a required entry fails the load when missing.
constexpr uint32_t KA_CURL_REQUIRED = 16;
constexpr uint32_t KA_CURL_OPTIONAL = 32;

// Bytes of the response buffer; libcurl is paused while it is full.
constexpr size_t KA_CURL_RESPONSE_BUFFER = 16384;
// Bytes of libcurl's error buffer.
constexpr size_t KA_CURL_ERROR_BUFFER = 256;
// The driver's curl library file name is at most this long.
constexpr size_t KA_CURL_NAME_MAX = 1024;
// Cookie modes: the configured name, or the three well-known session cookies.
constexpr int32_t KA_CURL_COOKIE_NAMED = 0;
constexpr int32_t KA_CURL_COOKIE_WELL_KNOWN = 1;
// The name of the host in certificate that means "the server's own name".
constexpr char KA_CURL_SERVERNAME_MARK[] = "#SERVERNAME#";

class KaCURLCallMapper : public UtlLibCallMapper {
public:
    explicit KaCURLCallMapper(const char* name) noexcept;
    ~KaCURLCallMapper() override;

    // The entry as its function type; null before a load or when missing.
    template <typename F>
    F entry(uint32_t index) const noexcept
    {
        return reinterpret_cast<F>(entryPoint(index));
    }
};

// The driver's curl library name for its base name (without directory):
// "lib", the first two characters, "curl", the two characters before the
// end (before a final 'R' or 'r'), ".so". 0, or 1 when it does not fit.
[[nodiscard]] int kaCurlLibraryName(const char* baseName, char* out, size_t size) noexcept;

class KaCurlConnection {
public:
    KaCurlConnection() noexcept;
    ~KaCurlConnection();
    KaCurlConnection(const KaCurlConnection&) = delete;
    KaCurlConnection& operator=(const KaCurlConnection&) = delete;

    // 0, or -1 with 7572 (SQLSTATE 08001) posted.
    [[nodiscard]] int loadLibrary() noexcept;
    // Binds a library by its file name (the loader's search applies): the
    // second try of loadLibrary, and tests. 0 or 1 (2733/2734 posted).
    [[nodiscard]] int loadLibraryNamed(const char* fileName) noexcept;
    [[nodiscard]] int init() noexcept;
    [[nodiscard]] int setUrl(const uint16_t* host, const char* port, const uint16_t* path, int32_t ssl) noexcept;
    // Request body bytes; 0, 1 on failure, -2 when the transfer time-out ran out.
    [[nodiscard]] int post(const void* data, size_t length) noexcept;
    // Response body bytes; 0, -1, or -2 on a time-out.
    [[nodiscard]] int read(void* buffer, size_t size, size_t* received) noexcept;
    // Whether the body of the current response has been read to its end,
    // waiting for more of it when none is buffered: 1 it has, 0 more
    // follows, -1 on failure, -2 on a time-out.
    [[nodiscard]] int responseEnded() noexcept;
    [[nodiscard]] int hasSessionCookie() noexcept;
    [[nodiscard]] int setNegotiateHeader(const void* token, size_t length) noexcept;
    [[nodiscard]] int setConnectTimeout(int64_t seconds) noexcept;
    [[nodiscard]] int setClientKey(const char* keyFile, const char* keyPassword) noexcept;
    void setTrustStore(const char* path, const char* password) noexcept;
    void close() noexcept;

    // libcurl options through the bound library; CURLE_FAILED_INIT without one.
    CURLcode setLong(CURLoption option, long value) noexcept;
    CURLcode setText(CURLoption option, const char* value) noexcept;
    CURLcode setPointer(CURLoption option, void* value) noexcept;
    curl_slist* slistAppend(curl_slist* list, const char* text) noexcept;
    void slistFreeAll(curl_slist* list) noexcept;

    // Called by libcurl.
    size_t readBody(char* out, size_t size) noexcept;
    size_t writeResponse(const char* data, size_t size) noexcept;
    CURLcode sslContext(void* context) noexcept;

    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    char* url = nullptr;
    char errorBuffer[KA_CURL_ERROR_BUFFER] = {};
    char* negotiateHeader = nullptr;
    char* cookieName = nullptr;
    int32_t cookieMode = KA_CURL_COOKIE_WELL_KNOWN;
    long authToRestore = 0;
    KaCURLCallMapper* mapper = nullptr;
    uint8_t response[KA_CURL_RESPONSE_BUFFER];
    size_t responseRead = 0;
    size_t responseFill = 0;
    curl_slist* baseHeaders = nullptr;
    int32_t paused = 0;
    const char* trustStore = nullptr;
    const char* trustStorePassword = nullptr;
    const char* hostNameInCertificate = nullptr;
    int16_t validate = 0;
    uint32_t bodyLength = 0;
    int32_t bodyLengthKnown = 0;
    uint32_t bodySent = 0;
    const uint8_t* currentWrite = nullptr;
    size_t currentLeft = 0;
    char* encodedHost = nullptr;
    // The reads and writes of a transfer wait at most this long (0: no
    // limit); libcurl's own connect time-out bounds only the connect.
    int64_t transferTimeoutMs = 0;
    // The transfer of the current request has ended (its result in
    // transferResult): a reply read to its end is not waited for again.
    int32_t transferDone = 0;
    CURLcode transferResult = CURLE_OK;
    // Port as given to setUrl, for the diagnostics of a failed connect.
    char portText[16] = {};
    // The base headers plus the Negotiate header of the current request:
    // libcurl reads the list while the request runs, so it is freed only
    // when the next request replaces it.
    curl_slist* requestHeaders = nullptr;
    // curl_global_init succeeded and is owed its cleanup.
    int32_t globalInitDone = 0;
    // What the easy handles of this connection share: the session cookies
    // (when cookie authentication is on) and the TLS sessions.
    CURLSH* share = nullptr;
    // The easy handle has run a transfer: the next request gets a copy.
    int32_t easyUsed = 0;

private:
    // Runs the transfer until it pauses, ends or fails; 0, 1 with 7517
    // posted, or -2 when the transfer time-out ran out.
    [[nodiscard]] int drive() noexcept;
    // Before a new request: bytes already wait on the connection that the
    // last transfer ended on (a reply nobody asked for, or the rest of one
    // longer than its Content-Length) would be taken for the new request's
    // response. 1 with the 08S01 diagnostic posted, else 0.
    [[nodiscard]] int strayBytesWaiting() noexcept;
    // With the response buffer read through: lets libcurl go on until it
    // buffers more of the body or the transfer ends; 0, -1 or -2 as read.
    [[nodiscard]] int refill() noexcept;
    // Gives a new request an easy handle that has not run a transfer yet,
    // with the share attached; 0, or 1 with a diagnostic posted.
    [[nodiscard]] int renewEasy() noexcept;
    void postTransferError(CURLMcode code) noexcept;
    void postEasyError(uint16_t message, CURLcode code) noexcept;
};
