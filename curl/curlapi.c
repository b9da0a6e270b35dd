/* libcurl's 32 entry points as this library's own exports: the driver
 * binds them by name from this library. Each forwards to the libcurl that
 * this library links, found through that library's own handle, so that a
 * libcurl of another flavour loaded into the process beforehand (whose
 * OpenSSL would not be the one of the KA_ helpers) never answers for it. */
/* The forwarders take the options as libcurl's own prototypes declare
 * them, not through the type-checking macros of the header. */
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <dlfcn.h>
#include <stdarg.h>
#include <stddef.h>

#define VY_EXPORT __attribute__((visibility("default")))

/* The soname of libcurl's OpenSSL flavour, which the link records. */
#define VY_CURL_SONAME "libcurl.so.4"

#define VY_CURL_NAMES(X)                                                                                               \
    X(curl_easy_cleanup)                                                                                               \
    X(curl_easy_duphandle)                                                                                             \
    X(curl_easy_escape)                                                                                                \
    X(curl_easy_getinfo)                                                                                               \
    X(curl_easy_init)                                                                                                  \
    X(curl_easy_pause)                                                                                                 \
    X(curl_easy_perform)                                                                                               \
    X(curl_easy_recv)                                                                                                  \
    X(curl_easy_reset)                                                                                                 \
    X(curl_easy_send)                                                                                                  \
    X(curl_easy_setopt)                                                                                                \
    X(curl_easy_strerror)                                                                                              \
    X(curl_easy_unescape)                                                                                              \
    X(curl_free)                                                                                                       \
    X(curl_global_cleanup)                                                                                             \
    X(curl_global_init)                                                                                                \
    X(curl_global_init_mem)                                                                                            \
    X(curl_multi_init)                                                                                                 \
    X(curl_multi_add_handle)                                                                                           \
    X(curl_multi_remove_handle)                                                                                        \
    X(curl_multi_cleanup)                                                                                              \
    X(curl_multi_perform)                                                                                              \
    X(curl_multi_wait)                                                                                                 \
    X(curl_multi_strerror)                                                                                             \
    X(curl_share_cleanup)                                                                                              \
    X(curl_share_init)                                                                                                 \
    X(curl_share_setopt)                                                                                               \
    X(curl_share_strerror)                                                                                             \
    X(curl_slist_append)                                                                                               \
    X(curl_slist_free_all)                                                                                             \
    X(curl_version)                                                                                                    \
    X(curl_version_info)

#define VY_INDEX(name) VY_##name,
#define VY_TEXT(name) #name,
enum { VY_CURL_NAMES(VY_INDEX) VY_CURL_COUNT };
static const char* const vyNames[VY_CURL_COUNT] = {VY_CURL_NAMES(VY_TEXT)};
static void* vyReal[VY_CURL_COUNT];

/* Runs while this library is loaded, when libcurl (a dependency) already
 * is: the handle only finds it. A name that is not found stays null, and
 * its forwarder fails as libcurl would without memory. */
__attribute__((constructor)) static void vyBindCurl(void)
{
    void* curl = dlopen(VY_CURL_SONAME, RTLD_LAZY | RTLD_NOLOAD);
    if (curl == NULL)
        return;
    for (int i = 0; i < VY_CURL_COUNT; ++i)
        vyReal[i] = dlsym(curl, vyNames[i]);
    dlclose(curl);
}

/* The bound function under its own type. */
#define VY_REAL(name) ((__typeof__(&name))vyReal[VY_##name])

#define VY_FORWARD(ret, name, failed, params, args)                                                                    \
    VY_EXPORT ret name params                                                                                          \
    {                                                                                                                  \
        __typeof__(&name) real = VY_REAL(name);                                                                        \
        return real != NULL ? real args : failed;                                                                      \
    }
#define VY_FORWARD_VOID(name, params, args)                                                                            \
    VY_EXPORT void name params                                                                                         \
    {                                                                                                                  \
        __typeof__(&name) real = VY_REAL(name);                                                                        \
        if (real != NULL)                                                                                              \
            real args;                                                                                                 \
    }

VY_FORWARD_VOID(curl_easy_cleanup, (CURL * h), (h))
VY_FORWARD(CURL*, curl_easy_duphandle, NULL, (CURL * h), (h))
VY_FORWARD(char*, curl_easy_escape, NULL, (CURL * h, const char* s, int n), (h, s, n))
VY_FORWARD(CURL*, curl_easy_init, NULL, (void), ())
VY_FORWARD(CURLcode, curl_easy_pause, CURLE_FAILED_INIT, (CURL * h, int mask), (h, mask))
VY_FORWARD(CURLcode, curl_easy_perform, CURLE_FAILED_INIT, (CURL * h), (h))
VY_FORWARD(CURLcode, curl_easy_recv, CURLE_FAILED_INIT, (CURL * h, void* b, size_t n, size_t* got), (h, b, n, got))
VY_FORWARD_VOID(curl_easy_reset, (CURL * h), (h))
VY_FORWARD(CURLcode, curl_easy_send, CURLE_FAILED_INIT, (CURL * h, const void* b, size_t n, size_t* sent),
           (h, b, n, sent))
VY_FORWARD(const char*, curl_easy_strerror, "libcurl is not available", (CURLcode code), (code))
VY_FORWARD(char*, curl_easy_unescape, NULL, (CURL * h, const char* s, int n, int* out), (h, s, n, out))
VY_FORWARD_VOID(curl_free, (void* p), (p))
VY_FORWARD_VOID(curl_global_cleanup, (void), ())
VY_FORWARD(CURLcode, curl_global_init, CURLE_FAILED_INIT, (long flags), (flags))
VY_FORWARD(CURLcode, curl_global_init_mem, CURLE_FAILED_INIT,
           (long flags, curl_malloc_callback m, curl_free_callback f, curl_realloc_callback r, curl_strdup_callback s,
            curl_calloc_callback c),
           (flags, m, f, r, s, c))
VY_FORWARD(CURLM*, curl_multi_init, NULL, (void), ())
VY_FORWARD(CURLMcode, curl_multi_add_handle, CURLM_INTERNAL_ERROR, (CURLM * m, CURL* h), (m, h))
VY_FORWARD(CURLMcode, curl_multi_remove_handle, CURLM_INTERNAL_ERROR, (CURLM * m, CURL* h), (m, h))
VY_FORWARD(CURLMcode, curl_multi_cleanup, CURLM_INTERNAL_ERROR, (CURLM * m), (m))
VY_FORWARD(CURLMcode, curl_multi_perform, CURLM_INTERNAL_ERROR, (CURLM * m, int* running), (m, running))
VY_FORWARD(CURLMcode, curl_multi_wait, CURLM_INTERNAL_ERROR,
           (CURLM * m, struct curl_waitfd* extra, unsigned int count, int ms, int* ready), (m, extra, count, ms, ready))
VY_FORWARD(const char*, curl_multi_strerror, "libcurl is not available", (CURLMcode code), (code))
VY_FORWARD(CURLSHcode, curl_share_cleanup, CURLSHE_NOT_BUILT_IN, (CURLSH * s), (s))
VY_FORWARD(CURLSH*, curl_share_init, NULL, (void), ())
VY_FORWARD(const char*, curl_share_strerror, "libcurl is not available", (CURLSHcode code), (code))
VY_FORWARD(struct curl_slist*, curl_slist_append, NULL, (struct curl_slist * list, const char* text), (list, text))
VY_FORWARD_VOID(curl_slist_free_all, (struct curl_slist * list), (list))
VY_FORWARD(char*, curl_version, NULL, (void), ())
VY_FORWARD(curl_version_info_data*, curl_version_info, NULL, (CURLversion which), (which))

/* The variadic three take one argument after the option, whose type the
 * option's number range gives (libcurl reads it the same way). */
VY_EXPORT CURLcode curl_easy_setopt(CURL* h, CURLoption option, ...)
{
    __typeof__(&curl_easy_setopt) f = VY_REAL(curl_easy_setopt);
    if (f == NULL)
        return CURLE_FAILED_INIT;
    va_list ap;
    va_start(ap, option);
    CURLcode rc;
    if (option < CURLOPTTYPE_OBJECTPOINT)
        rc = f(h, option, va_arg(ap, long));
    else if (option < CURLOPTTYPE_FUNCTIONPOINT)
        rc = f(h, option, va_arg(ap, void*));
    else if (option < CURLOPTTYPE_OFF_T)
        rc = f(h, option, va_arg(ap, void (*)(void)));
    else if (option < CURLOPTTYPE_BLOB)
        rc = f(h, option, va_arg(ap, curl_off_t));
    else
        rc = f(h, option, va_arg(ap, void*));
    va_end(ap);
    return rc;
}

/* Every CURLINFO answers into a pointer. */
VY_EXPORT CURLcode curl_easy_getinfo(CURL* h, CURLINFO info, ...)
{
    __typeof__(&curl_easy_getinfo) f = VY_REAL(curl_easy_getinfo);
    if (f == NULL)
        return CURLE_FAILED_INIT;
    va_list ap;
    va_start(ap, info);
    CURLcode rc = f(h, info, va_arg(ap, void*));
    va_end(ap);
    return rc;
}

VY_EXPORT CURLSHcode curl_share_setopt(CURLSH* s, CURLSHoption option, ...)
{
    __typeof__(&curl_share_setopt) f = VY_REAL(curl_share_setopt);
    if (f == NULL)
        return CURLSHE_NOT_BUILT_IN;
    va_list ap;
    va_start(ap, option);
    CURLSHcode rc;
    switch (option) {
    case CURLSHOPT_SHARE:
    case CURLSHOPT_UNSHARE: rc = f(s, option, va_arg(ap, int)); break;
    case CURLSHOPT_LOCKFUNC:
    case CURLSHOPT_UNLOCKFUNC: rc = f(s, option, va_arg(ap, void (*)(void))); break;
    case CURLSHOPT_USERDATA: rc = f(s, option, va_arg(ap, void*)); break;
    default: rc = f(s, option); break;
    }
    va_end(ap);
    return rc;
}
