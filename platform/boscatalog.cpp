// The message catalogue through the operating-system layer, and the message
// source that gives diagnostics their texts from it. Texts the catalogue file
// cannot give come from the English texts built into the library.
#include "platform/boscatalog.h"

#include <locale.h>
#include <nl_types.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include <unicode/ucnv.h>

#include "foundation/icucache.h"
#include "foundation/kalock.h"
#include "foundation/kathread.h"
#include "foundation/numtext.h"
#include "kamessagetexts.h"
#include "platform/bos.h"
#include "platform/bosinternal.h"
#include "platform/boslib.h"

namespace {

constexpr size_t kLocaleNameSize = 256;
constexpr char kFallbackLanguage[] = "en_US";

// Serialises lookups: catgets is not assumed to be thread-safe, and the
// catalogue is closed only while no lookup reads it.
KaCriticalSection& lookupLock()
{
    static KaCriticalSection lock(0, kKaLockPlain);
    return lock;
}

// Constant-initialised, so that it is valid before any static initialiser
// runs; -1 (catopen's failure value) means no catalogue is open.
constexpr intptr_t kNoCatalogueValue = -1;
intptr_t catalogueValue = kNoCatalogueValue;

nl_catd noCatalogue()
{
    return reinterpret_cast<nl_catd>(kNoCatalogueValue);
}

// The language of the catalogue: the locale's messages category, else (in
// the C locale) LC_MESSAGES or LANG of the environment, else en_US.
const char* catalogueLanguage(const char* locale)
{
    if (strcmp(locale, "C") != 0)
        return locale[0] ? locale : kFallbackLanguage;
    const char* v = bosEnvValue("LC_MESSAGES");
    if (v == nullptr || strcmp(v, "C") == 0)
        v = bosEnvValue("LANG");
    return v && strcmp(v, "C") != 0 ? v : kFallbackLanguage;
}

constexpr size_t kCatalogueFileSize = BOS_PATH_SIZE * 2;

// The file tried is left in file (empty when its name does not fit).
nl_catd openCatalogueIn(const char* language, const char* baseName, char (&file)[kCatalogueFileSize])
{
    int n = snprintf(file, sizeof file, "%s/locale/%s/LC_MESSAGES/%s.mo", bosInstallDir, language, baseName);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof file) {
        file[0] = 0;
        return noCatalogue();
    }
    return catopen(file, 0);
}

// Called under the strings lock, which guards the install directory.
nl_catd openCatalogue(const char* baseName)
{
    char locale[kLocaleNameSize] = "";
    const char* current = setlocale(LC_MESSAGES, nullptr);
    if (current)
        snprintf(locale, sizeof locale, "%s", current);
    const char* language = catalogueLanguage(locale);
    if (bosTraced(BOS_TRACE_STRINGS)) {
        printf("OpenStrings: HINST=%s\n", baseName);
        fflush(stdout);
        printf("OpenStrings: Default LC_MESSAGES=%s\n", locale);
        fflush(stdout);
        printf("OpenStrings: Using LC_MESSAGES=%s\n", language);
        fflush(stdout);
    }
    char first[kCatalogueFileSize];
    nl_catd cat = openCatalogueIn(language, baseName, first);
    if (cat != noCatalogue())
        return cat;
    char second[kCatalogueFileSize];
    cat = openCatalogueIn(kFallbackLanguage, baseName, second);
    // Only the trace tells: a diagnostic here would turn every success of
    // the call that opens the catalogue into a success with information.
    if (cat == noCatalogue() && bosTraced(BOS_TRACE_STRINGS)) {
        printf("OpenStrings: catalogue not found at %s or %s; using the built-in English texts\n",
               first[0] ? first : "(name too long)", second[0] ? second : "(name too long)");
        fflush(stdout);
    }
    return cat;
}

// The English text built into the library for a message number; null for a
// number the driver does not know.
const char* builtInText(uint32_t number)
{
    const KaBuiltInMessage* end = std::end(kKaBuiltInMessages);
    const KaBuiltInMessage* at = std::lower_bound(std::begin(kKaBuiltInMessages), end, number,
                                                  [](const KaBuiltInMessage& m, uint32_t n) { return m.number < n; });
    return at != end && at->number == number ? at->text : nullptr;
}

int64_t lookup(nl_catd cat, uint32_t number, char* buffer, size_t size)
{
    char decimal[kDecimalTextSize];
    snprintf(decimal, sizeof decimal, "%u", number);
    const char* text = decimal;
    if (cat != noCatalogue())
        text = catgets(cat, 1, static_cast<int>(number), decimal);
    // Without the file, or with a file older than the library, the built-in
    // text keeps the SQLSTATE and the message of a diagnostic right.
    if (text == decimal) {
        const char* builtIn = builtInText(number);
        if (builtIn != nullptr)
            text = builtIn;
    }
    if (bosTraced(BOS_TRACE_STRINGS)) {
        printf("LoadStringFromOpenFile: idResource=%s\n", decimal);
        fflush(stdout);
        printf("LoadStringFromOpenFile: Lookup returns: %s\n", text);
        fflush(stdout);
    }
    size_t n = strnlen(text, size - 1);
    memcpy(buffer, text, n);
    buffer[n] = 0;
    return static_cast<int64_t>(n);
}

// Stores text (n bytes, each below 0x80 or taken as ISO-8859-1) widened into
// buffer, cut to units - 1 and terminated; the units stored.
int64_t widenBytes(const char* text, int64_t n, uint16_t* buffer, size_t units)
{
    if (n > static_cast<int64_t>(units - 1))
        n = static_cast<int64_t>(units - 1);
    for (int64_t i = 0; i < n; ++i)
        buffer[i] = static_cast<unsigned char>(text[i]);
    buffer[n] = 0;
    return n;
}

// Widens a catalogue text through the default converter; -1 when no
// converter can be had or the conversion fails. Posting a diagnostic reads
// the catalogue through here, so nothing in this path may post.
int64_t widenQuietly(const char* text, int64_t n, uint16_t* buffer, size_t units)
{
    KaConvCallbackContext* ctx;
    UConverter* c = bosNameConverters().acquireQuiet(kCodePageDefault, &ctx);
    if (c == nullptr)
        return -1;
    UErrorCode st = U_ZERO_ERROR;
    int32_t len = ucnv_toUChars(c, reinterpret_cast<UChar*>(buffer), static_cast<int32_t>(units - 1), text,
                                static_cast<int32_t>(n), &st);
    bosNameConverters().release(kCodePageDefault, c, ctx);
    if (st == U_BUFFER_OVERFLOW_ERROR || st == U_STRING_NOT_TERMINATED_WARNING) {
        len = static_cast<int32_t>(units - 1);
        st = U_ZERO_ERROR;
    }
    if (U_FAILURE(st))
        return -1;
    buffer[len] = 0;
    return len;
}

int64_t catalogueText(uint32_t number, char* buffer, size_t size) noexcept
{
    return LoadStringFromOpenFile(nullptr, number, buffer, size);
}

int64_t catalogueTextW(uint32_t number, uint16_t* buffer, size_t units) noexcept
{
    return LoadStringFromOpenFileW(nullptr, number, buffer, units);
}

constexpr KaMessageSource kCatalogueSource = {catalogueText, catalogueTextW};

}  // namespace

KaCriticalSection& bosStringsLock()
{
    static KaCriticalSection lock(0, kKaLockPlain);
    return lock;
}

int OpenStrings(const char* baseName, void* reserved1, void* reserved2, int32_t* counter)
{
    // From here on diagnostics take their texts from the catalogue.
    errSetMessageSource(&kCatalogueSource);
    KaLockGuard<KaCriticalSection> guard(bosStringsLock());
    if (counter)
        ++*counter;
    if (catalogueValue == kNoCatalogueValue && baseName) {
        nl_catd cat = openCatalogue(baseName);
        KaLockGuard<KaCriticalSection> lookups(lookupLock());
        catalogueValue = reinterpret_cast<intptr_t>(cat);
    }
    return 0;
}

int CloseStrings(void* reserved, int32_t* counter)
{
    KaLockGuard<KaCriticalSection> guard(bosStringsLock());
    bool close = true;
    if (counter) {
        if (*counter > 0)
            --*counter;
        close = *counter == 0;
    }
    if (close && catalogueValue != kNoCatalogueValue) {
        KaLockGuard<KaCriticalSection> lookups(lookupLock());
        catclose(reinterpret_cast<nl_catd>(catalogueValue));
        catalogueValue = kNoCatalogueValue;
    }
    return 0;
}

bool bosCatalogueFileOpen()
{
    KaLockGuard<KaCriticalSection> guard(lookupLock());
    return catalogueValue != kNoCatalogueValue;
}

int64_t LoadStringFromOpenFile(const char* reserved, uint32_t number, char* buffer, size_t size)
{
    if (buffer == nullptr || size == 0)
        return 0;
    KaLockGuard<KaCriticalSection> guard(lookupLock());
    return lookup(reinterpret_cast<nl_catd>(catalogueValue), number, buffer, size);
}

int64_t LoadStringFromOpenFileW(const char* reserved, uint32_t number, uint16_t* buffer, size_t units)
{
    if (buffer == nullptr || units == 0)
        return 0;
    if (units > BOS_MESSAGE_UNITS_MAX)
        units = BOS_MESSAGE_UNITS_MAX;
    char narrow[BOS_MESSAGE_UNITS_MAX];
    int64_t n = LoadStringFromOpenFile(reserved, number, narrow, units);
    if (n == 0)
        return 0;
    // Catalogue texts are nearly always ASCII, which every default converter
    // maps to itself: widen those directly and skip the converter pool.
    int64_t ascii = 0;
    while (ascii < n && static_cast<unsigned char>(narrow[ascii]) < 0x80)
        ++ascii;
    if (ascii == n)
        return widenBytes(narrow, n, buffer, units);
    int64_t widened = widenQuietly(narrow, n, buffer, units);
    if (widened >= 0)
        return widened;
    static const char kFailed[] = "Failed!";
    return widenBytes(kFailed, sizeof kFailed - 1, buffer, units);
}

int OpenStringsHandle(const char* baseName, void** handle)
{
    if (handle == nullptr)
        return 0;
    *handle = nullptr;
    if (baseName == nullptr)
        return 0;
    nl_catd cat = noCatalogue();
    {
        KaLockGuard<KaCriticalSection> guard(bosStringsLock());
        cat = openCatalogue(baseName);
    }
    if (cat != noCatalogue())
        *handle = cat;
    return 0;
}

int CloseStringsHandle(void** handle)
{
    if (handle && *handle) {
        catclose(static_cast<nl_catd>(*handle));
        *handle = nullptr;
    }
    return 0;
}

int64_t LoadStringFromHandle(void* handle, uint32_t number, char* buffer, size_t size)
{
    if (buffer == nullptr || size == 0)
        return 0;
    return lookup(handle ? static_cast<nl_catd>(handle) : noCatalogue(), number, buffer, size);
}
