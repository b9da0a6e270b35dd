// In-memory images of odbc.ini and odbcinst.ini and the application code
// page derived from them.
#include "platform/kainiimage.h"

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include "foundation/codepage.h"
#include "foundation/fast.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "platform/bosfile.h"
#include "platform/initext.h"
#include "platform/kaini.h"

KaIniImage odbcIniImage = {nullptr, 0};
KaIniImage odbcInstImage = {nullptr, 0};
KaIniImage odbcIniSystemImage = {nullptr, 0};
KaIniImage odbcInstSystemImage = {nullptr, 0};

namespace {

// Digits the integer readers accumulate; more would overflow 64 bits.
constexpr int kImageIntDigits = 18;

// Reads a whole file. This runs from a static initialiser, before the rest
// of the platform layer is set up, so it calls the system directly. Returns
// the last system call's result (negative on failure).
int64_t readImage(const char* path, KaIniImage* image)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_size < 0) {
        close(fd);
        return -1;
    }
    size_t size = static_cast<size_t>(st.st_size);
    // What is read of the file may hold passwords: wiped unless handed on.
    RamWipedPtr<char> owned(static_cast<char*>(ramAlloc(size + 1)), size + 1);
    if (!owned) {
        close(fd);
        return -1;
    }
    char* block = owned.get();
    size_t got = 0;
    ssize_t r = 0;
    while (got < size) {
        r = read(fd, block + got, size - got);
        if (r < 0) {
            close(fd);
            return -1;
        }
        if (r == 0)
            break;
        got += static_cast<size_t>(r);
    }
    block[got] = 0;
    image->data = owned.release();
    image->length = static_cast<int64_t>(got) + 1;
    return close(fd);
}

// The images hold the files' passwords: wiped before their memory goes back.
void freeImage(KaIniImage* image)
{
    if (image->data)
        fastMemzero(image->data, static_cast<size_t>(image->length));
    ramFree(image->data);
    image->data = nullptr;
    image->length = 0;
}

int32_t copyDefault(const char* def, char* out, int32_t size)
{
    return strCopyTrunc(out, def ? def : "", size);
}

// Text of key in section of an image, "&" when absent: the integer readers.
int32_t readForInt(const KaIniImage& image, const char* section, const char* key, char* buf, int32_t size)
{
    if (!image.data)
        return copyDefault("&", buf, size);
    return getProfileStringFromImage(image.data, image.length, section, key, "&", buf, size);
}

int64_t accumulate(const char* p, bool negative)
{
    int64_t v = 0;
    for (int i = 0; i < kImageIntDigits && *p >= '0' && *p <= '9'; ++i, ++p)
        v = v * 10 + (*p - '0');
    return negative ? -v : v;
}

// The integer of key in section of an image: blanks, a "-" and the leading
// digits (after a "{" when braces are read); the default when absent.
int64_t imageInt(const KaIniImage& image, const char* section, const char* key, int64_t defaultValue, bool braces)
{
    char buf[kIniImageIntBuffer];
    readForInt(image, section, key, buf, sizeof buf);
    if (buf[0] == '&')
        return defaultValue;
    const char* p = buf;
    if (braces && *p == '{')
        ++p;
    while (iniIsBlank(*p))
        ++p;
    bool negative = (*p == '-');
    if (negative)
        ++p;
    return accumulate(p, negative);
}

struct ImageLoader {
    ImageLoader()
    {
        loadIniImages();
        atexit(freeIniImagesNow);
    }
};
ImageLoader imageLoader;

}  // namespace

int64_t loadIniImagesChecked() noexcept
{
    freeIniImagesNow();
    char path[kIniPathMax];
    int64_t rc = 0;
    // A missing odbc.ini does not keep odbcinst.ini from being read: the
    // code page may be set in either.
    if (bosUserConfigPath(path, sizeof path, true))
        rc = readImage(path, &odbcIniImage);
    if (bosUserConfigPath(path, sizeof path, false))
        rc = readImage(path, &odbcInstImage);
    // The system files, where unixODBC keeps system data sources and the
    // registered drivers; a section the user's file lacks is read there.
    // Only existing ones are read, so they do not change the result.
    char system[kIniPathMax];
    if (bosSystemConfigPath(system, sizeof system, true))
        (void)readImage(system, &odbcIniSystemImage);
    if (bosSystemConfigPath(system, sizeof system, false))
        (void)readImage(system, &odbcInstSystemImage);
    return rc;
}

void loadIniImages() noexcept
{
    loadIniImagesChecked();
}

void freeIniImages(void*) noexcept
{
    freeIniImagesNow();
}

void freeIniImagesNow() noexcept
{
    freeImage(&odbcIniImage);
    freeImage(&odbcInstImage);
    freeImage(&odbcIniSystemImage);
    freeImage(&odbcInstSystemImage);
}

int32_t findSectionInImage(const char* image, int64_t length, const char* header, const char** sectionStart,
                           const char** nextSection) noexcept
{
    // A header longer than the parser's limit matches nothing.
    if (!image || !header || length <= 0 || strlen(header) > kIniImageKeyMax)
        return 0;
    const char* end = image + strnlen(image, static_cast<size_t>(length));
    IniSection found;
    if (!iniFindSection(image, end, header, &found))
        return 0;
    *sectionStart = found.bracket;
    *nextSection = found.next;
    return 1;
}

int32_t findKeyInImage(const char* image, const char* key, const char** lineStart, const char* sectionEnd,
                       const char** valueStart, const char** valueEnd) noexcept
{
    (void)image;
    const char* end = sectionEnd;
    size_t klen = strlen(key);
    IniKeyLine k;
    for (const char* p = iniNextLine(*lineStart, end); iniFindKeyLine(p, end, &k); p = iniNextLine(k.equals, end)) {
        // Here the key text reaches up to "=" with any blanks before it.
        size_t n = static_cast<size_t>(k.equals - k.key);
        if (n > kIniImageKeyMax || n != klen || strncasecmp(k.key, key, n) != 0)
            continue;
        *lineStart = k.line;
        iniKeyValue(k, end, true, valueStart, valueEnd);
        return 1;
    }
    return 0;
}

int32_t getProfileStringFromImage(const char* image, int64_t length, const char* section, const char* key,
                                  const char* defaultValue, char* output, int32_t size) noexcept
{
    if (!output || size <= 0)
        return 0;
    if (!image || !section || length <= 0)
        return copyDefault(defaultValue, output, size);
    char header[kIniImageHeaderMax + 1];
    if (!iniSectionHeader(header, section))
        return copyDefault(defaultValue, output, size);
    const char* start = nullptr;
    const char* next = nullptr;
    if (!findSectionInImage(image, length, header, &start, &next))
        return copyDefault(defaultValue, output, size);
    if (!key) {
        int32_t pos = iniListKeys(start, next, output, size, [](const char*, int32_t) {});
        if (pos == 0)
            return copyDefault(defaultValue, output, size);
        output[pos++] = 0;
        return pos;
    }
    const char* line = start;
    const char* vs = nullptr;
    const char* ve = nullptr;
    if (!findKeyInImage(image, key, &line, next, &vs, &ve) || ve == vs)
        return copyDefault(defaultValue, output, size);
    size_t n = static_cast<size_t>(ve - vs);
    if (n < static_cast<size_t>(size)) {
        memcpy(output, vs, n);
        output[n] = 0;
        return static_cast<int32_t>(n);
    }
    memcpy(output, vs, static_cast<size_t>(size) - 1);
    output[size - 1] = 0;
    return size - 1;
}

namespace {
// True when an image holds the section.
bool imageHasSection(const KaIniImage& image, const char* section)
{
    char header[kIniImageHeaderMax + 1];
    int n = section ? snprintf(header, sizeof header, "[%s]", section) : -1;
    const char* start = nullptr;
    const char* next = nullptr;
    return n > 0 && static_cast<size_t>(n) < sizeof header && image.data &&
           findSectionInImage(image.data, image.length, header, &start, &next) != 0;
}

// The image a section is read from, as unixODBC looks data sources up: the
// user's file, and the system's when only that one has the section.
const KaIniImage& imageFor(const KaIniImage& user, const KaIniImage& system, const char* section)
{
    return !imageHasSection(user, section) && imageHasSection(system, section) ? system : user;
}

int32_t imageString(const KaIniImage& image, const char* section, const char* key, const char* defaultValue,
                    char* output, int32_t size)
{
    if (!image.data)
        return copyDefault(defaultValue, output, size);
    return getProfileStringFromImage(image.data, image.length, section, key, defaultValue, output, size);
}
}  // namespace

int32_t getOdbcIniImageString(const char* section, const char* key, const char* defaultValue, char* output,
                              int32_t size) noexcept
{
    return imageString(imageFor(odbcIniImage, odbcIniSystemImage, section), section, key, defaultValue, output, size);
}

int32_t getOdbcInstImageString(const char* section, const char* key, const char* defaultValue, char* output,
                               int32_t size) noexcept
{
    return imageString(imageFor(odbcInstImage, odbcInstSystemImage, section), section, key, defaultValue, output, size);
}

int64_t getOdbcIniImageInt(const char* section, const char* key, int64_t defaultValue) noexcept
{
    // odbc.ini values may stand in braces; odbcinst.ini's are read as they are.
    return imageInt(imageFor(odbcIniImage, odbcIniSystemImage, section), section, key, defaultValue, true);
}

int64_t getOdbcInstImageInt(const char* section, const char* key, int64_t defaultValue) noexcept
{
    return imageInt(imageFor(odbcInstImage, odbcInstSystemImage, section), section, key, defaultValue, false);
}

int64_t codePageFromCodeset(const char* codeset) noexcept
{
    if (!codeset || !*codeset)
        return kCodePageUtf8;
    // glibc spells UTF-8 in several ways ("UTF-8", "utf8").
    if (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0)
        return kCodePageUtf8;
    int64_t cp = ianaNumberFromName(codeset);
    if (cp == kCodePageNone) {
        // Names as locale names carry them ("iso88591", "eucjp"): ICU's alias
        // matching ignores case and punctuation.
        UErrorCode status = U_ZERO_ERROR;
        const char* standard = ucnv_getStandardName(codeset, "IANA", &status);
        if (U_SUCCESS(status) && standard)
            cp = ianaNumberFromName(standard);
        if (cp == kCodePageNone) {
            status = U_ZERO_ERROR;
            const char* canonical = ucnv_getCanonicalName(codeset, "", &status);
            if (U_SUCCESS(status) && canonical)
                cp = ianaNumberFromName(canonical);
        }
    }
    // ASCII (the C locale) is a subset of UTF-8, which then keeps every
    // character; a codeset without a number of its own gets UTF-8 too.
    return cp == kCodePageNone || cp == kCodePageAscii ? kCodePageUtf8 : cp;
}

int64_t localeAppCodePage() noexcept
{
    const char* current = setlocale(LC_CTYPE, nullptr);
    if (current && strcmp(current, "C") != 0 && strcmp(current, "POSIX") != 0)
        return codePageFromCodeset(nl_langinfo(CODESET));
    // An application that never chose a locale: the environment's.
    const char* name = nullptr;
    for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* v = getenv(var);
        if (v && *v) {
            name = v;
            break;
        }
    }
    if (!name)
        return kCodePageUtf8;
    locale_t loc = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
    if (loc) {
        int64_t cp = codePageFromCodeset(nl_langinfo_l(CODESET, loc));
        freelocale(loc);
        return cp;
    }
    // A locale that is not installed: the codeset its name carries
    // (language_TERRITORY.codeset@modifier).
    const char* dot = strchr(name, '.');
    if (!dot)
        return kCodePageUtf8;
    char codeset[64];
    size_t n = strcspn(dot + 1, "@");
    if (n == 0 || n >= sizeof codeset)
        return kCodePageUtf8;
    memcpy(codeset, dot + 1, n);
    codeset[n] = 0;
    return codePageFromCodeset(codeset);
}

namespace {
// A value that names a code page: neither absent nor -1.
bool isSet(int64_t v)
{
    return v != kIniImageAbsent && v != -1;
}

// IANAAppCodePage, then AppCodePage mapped, in one section: true with *cp.
bool codePageIn(int64_t (*reader)(const char*, const char*, int64_t) noexcept, const char* section, int64_t* cp)
{
    int64_t v = reader(section, "IANAAppCodePage", kIniImageAbsent);
    if (isSet(v)) {
        *cp = v;
        return true;
    }
    v = reader(section, "AppCodePage", kIniImageAbsent);
    if (isSet(v)) {
        int64_t mapped = ianaFromAppCodePage(v);
        if (mapped != kCodePageNotInTable) {
            *cp = mapped;
            return true;
        }
    }
    return false;
}
}  // namespace

int64_t getAppCodePage(const char* dataSourceName) noexcept
{
    int64_t cp = 0;
    if (dataSourceName && *dataSourceName && codePageIn(getOdbcIniImageInt, dataSourceName, &cp))
        return cp;
    if (codePageIn(getOdbcIniImageInt, "ODBC", &cp))
        return cp;
    if (codePageIn(getOdbcInstImageInt, "ODBC", &cp))
        return cp;
    return localeAppCodePage();
}

namespace {

int64_t scanCodePage(const uint16_t* text, size_t length, uint16_t** dsn)
{
    return scanAppCodePageW(text, length, dsn);
}

int64_t scanCodePage(const char* text, size_t length, char** dsn)
{
    return scanAppCodePage(text, length, dsn);
}

// A data source's name as the files hold their section names: UTF-8 text.
class SectionName {
public:
    explicit SectionName(const char* dsn) : name_(dsn) {}
    explicit SectionName(const uint16_t* dsn)
    {
        if (!dsn)
            return;
        int32_t units = u_strlen(reinterpret_cast<const UChar*>(dsn));
        int32_t cap = units * 4 + 1;
        owned_ = static_cast<char*>(ramAllocInt(cap));
        if (!owned_)
            return;
        UErrorCode status = U_ZERO_ERROR;
        u_strToUTF8(owned_, cap, nullptr, reinterpret_cast<const UChar*>(dsn), units, &status);
        if (U_FAILURE(status)) {
            ramFree(owned_);
            owned_ = nullptr;
        }
        name_ = owned_;
    }
    ~SectionName() { ramFree(owned_); }
    SectionName(const SectionName&) = delete;
    SectionName& operator=(const SectionName&) = delete;

    const char* get() const { return name_; }

private:
    char* owned_ = nullptr;
    const char* name_ = nullptr;
};

// The code page a connection string names, else the one of the data source
// it names (or of no data source); the DSN goes to *dsnOut when asked for.
template <typename Unit>
int64_t connectionCodePage(const Unit* connectionString, int64_t length, Unit** dsnOut)
{
    Unit* localDsn = nullptr;
    Unit** dsn = dsnOut ? dsnOut : &localDsn;
    int64_t cp = kCodePageNotInTable;
    if (connectionString && length > 0)
        cp = scanCodePage(connectionString, static_cast<size_t>(length), dsn);
    if (cp == kCodePageNotInTable) {
        SectionName name(*dsn);
        cp = getAppCodePage(name.get());
    }
    if (localDsn)
        ucnvFree(localDsn);
    return cp;
}

}  // namespace

int64_t getAppCodePageW(const uint16_t* connectionString, int64_t length, uint16_t** dsnOut) noexcept
{
    return connectionCodePage(connectionString, length, dsnOut);
}

int64_t getAppCodePageA(const char* connectionString, int64_t length, char** dsnOut) noexcept
{
    return connectionCodePage(connectionString, length, dsnOut);
}

int32_t getOdbcProfileString(char* output, int32_t size, const char* dataSourceName, const char* driverName,
                             const char* key, const char* defaultValue) noexcept
{
    if (!output || size <= 0)
        return 0;
    int32_t n = 0;
    if (dataSourceName && *dataSourceName) {
        n = KaGetPrivateProfileStringRelease(dataSourceName, key, "", output, size, ".odbc.ini");
        if (n > 0)
            return n;
    }
    if (driverName && *driverName) {
        n = KaGetPrivateProfileStringRelease(driverName, key, "", output, size, ".odbcinst.ini");
        if (n > 0)
            return n;
    }
    n = KaGetPrivateProfileStringRelease("ODBC", key, "", output, size, ".odbc.ini");
    if (n > 0)
        return n;
    return KaGetPrivateProfileStringRelease("ODBC", key, defaultValue, output, size, ".odbcinst.ini");
}
