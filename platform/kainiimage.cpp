// In-memory images of odbc.ini and odbcinst.ini and the application code
// page derived from them.
#include "platform/kainiimage.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unicode/ustring.h>

#include "foundation/codepage.h"
#include "foundation/fast.h"
#include "foundation/ram.h"
#include "platform/bosfile.h"
#include "platform/initext.h"
#include "platform/kaini.h"

KaIniImage odbcIniImage = {nullptr, 0};
KaIniImage odbcInstImage = {nullptr, 0};

namespace {

// Digits the integer readers accumulate; more would overflow 64 bits.
constexpr int kImageIntDigits = 18;

// The path named by the first set variable, else $HOME/homeName; false when
// none is set or the path does not fit.
bool imagePath(char* out, const char* var1, const char* var2, const char* homeName)
{
    const char* v = getenv(var1);
    if (!v)
        v = getenv(var2);
    size_t n;
    if (v) {
        n = strlen(v);
        if (n >= kIniPathMax)
            return false;
        memcpy(out, v, n + 1);
        return true;
    }
    const char* home = getenv("HOME");
    if (!home)
        return false;
    n = strlen(home);
    size_t m = strlen(homeName);
    if (n + 1 + m >= kIniPathMax)
        return false;
    memcpy(out, home, n);
    out[n] = '/';
    memcpy(out + n + 1, homeName, m + 1);
    // No file of the user's: the system's, as unixODBC keeps them.
    struct stat st;
    if (stat(out, &st) != 0) {
        char system[kIniPathMax];
        if (bosSystemConfigPath(system, sizeof system, strcmp(var1, "ODBCINI") == 0))
            memcpy(out, system, strlen(system) + 1);
    }
    return true;
}

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
    char* block = static_cast<char*>(ramAlloc(size + 1));
    if (!block) {
        close(fd);
        return -1;
    }
    size_t got = 0;
    ssize_t r = 0;
    while (got < size) {
        r = read(fd, block + got, size - got);
        if (r < 0) {
            // What was read of the file may hold passwords.
            fastMemzero(block, size + 1);
            ramFree(block);
            close(fd);
            return -1;
        }
        if (r == 0)
            break;
        got += static_cast<size_t>(r);
    }
    block[got] = 0;
    image->data = block;
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
    if (imagePath(path, "ODBCINI", "ODBC_INI", ".odbc.ini"))
        rc = readImage(path, &odbcIniImage);
    if (imagePath(path, "ODBCINST", "ODBCINSTINI", ".odbcinst.ini"))
        rc = readImage(path, &odbcInstImage);
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

int32_t getOdbcIniImageString(const char* section, const char* key, const char* defaultValue, char* output,
                              int32_t size) noexcept
{
    if (!odbcIniImage.data)
        return copyDefault(defaultValue, output, size);
    return getProfileStringFromImage(odbcIniImage.data, odbcIniImage.length, section, key, defaultValue, output, size);
}

int32_t getOdbcInstImageString(const char* section, const char* key, const char* defaultValue, char* output,
                               int32_t size) noexcept
{
    if (!odbcInstImage.data)
        return copyDefault(defaultValue, output, size);
    return getProfileStringFromImage(odbcInstImage.data, odbcInstImage.length, section, key, defaultValue, output,
                                     size);
}

int64_t getOdbcIniImageInt(const char* section, const char* key, int64_t defaultValue) noexcept
{
    // odbc.ini values may stand in braces; odbcinst.ini's are read as they are.
    return imageInt(odbcIniImage, section, key, defaultValue, true);
}

int64_t getOdbcInstImageInt(const char* section, const char* key, int64_t defaultValue) noexcept
{
    return imageInt(odbcInstImage, section, key, defaultValue, false);
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
    return kCodePageLatin1;
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
