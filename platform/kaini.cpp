// Ini files: the process-wide cache of whole-file images, the profile-string
// readers and writers over it, and KaIni.
#include "platform/kaini.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unicode/ustring.h>

#include "foundation/icucache.h"
#include "foundation/kaerror.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bos.h"
#include "platform/bosenv.h"
#include "platform/bosfile.h"
#include "platform/bosname.h"
#include "platform/initext.h"

namespace {

// How long a writer waits for another writer's lock: attempts of 10 ms.
constexpr int kIniLockAttempts = 3000;
constexpr uint16_t kIniLockPollMs = 10;
// Times a writer retries when the file was replaced while it waited.
constexpr int kIniReopenAttempts = 100;
// The byte that every writer of these files locks (as bosfopen does).
constexpr off_t kIniLockOffset = 1;

// Guards the creation of the list in its process slot.
KaCriticalSection iniListLock{0, kKaLockPlain};

// The "]" that closes the bracket on the same line, else null.
const char* closingBracket(const char* bracket, const char* end)
{
    for (const char* p = bracket; p < end && !iniIsLineEnd(*p); ++p)
        if (*p == ']')
            return p;
    return nullptr;
}

// Past the end of the line at p and one line end ("\r\n", "\n" or "\r").
const char* pastLineEnd(const char* p, const char* end)
{
    while (p < end && !iniIsLineEnd(*p))
        ++p;
    if (p < end && *p == '\r')
        ++p;
    if (p < end && *p == '\n')
        ++p;
    return p;
}

bool textEquals(const char* a, size_t aLen, const char* b, size_t bLen, int32_t ignoreCase)
{
    if (aLen != bLen)
        return false;
    return ignoreCase ? strncasecmp(a, b, aLen) == 0 : memcmp(a, b, aLen) == 0;
}

bool traceOn(uint64_t bit) { return (bosDebugFlags & bit) != 0; }

bool containsNoCase(const char* text, size_t len, const char* word)
{
    size_t w = strlen(word);
    for (size_t i = 0; i + w <= len; ++i)
        if (strncasecmp(text + i, word, w) == 0)
            return true;
    return false;
}

bool secretKey(const char* key, size_t len)
{
    return containsNoCase(key, len, "PWD") || containsNoCase(key, len, "PASSWORD") ||
           containsNoCase(key, len, "SECRET");
}

// Value as trace output shows it: secrets never.
const char* shownValue(const char* key, const char* value)
{
    if (value && key && KaIniIsSecretKey(key))
        return "****";
    return value ? value : "NULL";
}

// Prints a file image line by line with the values of secret keys masked.
void traceImage(const char* image, uint64_t length)
{
    const char* p = image;
    const char* end = image + length;
    while (p < end) {
        const char* e = p;
        while (e < end && *e != '\n')
            ++e;
        const char* eq = static_cast<const char*>(memchr(p, '=', static_cast<size_t>(e - p)));
        if (eq && secretKey(p, static_cast<size_t>(eq - p)))
            printf("%.*s=****\n", static_cast<int>(eq - p), p);
        else
            printf("%.*s\n", static_cast<int>(e - p), p);
        p = e < end ? e + 1 : e;
    }
}

// A missing file name fails with the diagnostic that bosfopen posts for it.
void postMissingFileName()
{
    int32_t fd = 0;
    static_cast<void>(bosfopen(nullptr, 0, &fd));
}

bool hasErrorList() { return KaErrorCurrentList() != nullptr; }

size_t errorCount()
{
    KaErrorList* list = KaErrorCurrentList();
    return list ? list->recordCount() + list->outOfMemoryMark : 0;
}

// Removes the diagnostics posted since errorCount() gave `before`.
void discardSince(size_t before)
{
    while (errorCount() > before)
        KaErrorDiscardLast();
}

bool isOdbcinstName(const char* name)
{
    if (strcasecmp(name, "ODBCINST.INI") == 0 || strcasecmp(name, ".odbcinst.ini") == 0)
        return true;
    const char* env = bosGetEnv("ODBCINST");
    return env && strcmp(env, name) == 0;
}

// UTF-16 to UTF-8 (file names, as bosfopenW converts them): length or -1.
int64_t utf16ToUtf8Name(char* out, size_t size, const uint16_t* in)
{
    UErrorCode status = U_ZERO_ERROR;
    int32_t len = 0;
    u_strToUTF8(out, static_cast<int32_t>(size), &len, reinterpret_cast<const UChar*>(in), -1,
                &status);
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING ||
        static_cast<size_t>(len) >= size) {
        if (status == U_BUFFER_OVERFLOW_ERROR || static_cast<size_t>(len) >= size)
            bosMapError(ENAMETOOLONG, nullptr);
        else
            icuErrorToDiag(status);
        return -1;
    }
    return len;
}

bool validUtf8(const char* text, size_t len)
{
    UErrorCode status = U_ZERO_ERROR;
    int32_t units = 0;
    u_strFromUTF8(nullptr, 0, &units, text, static_cast<int32_t>(len), &status);
    return status == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(status);
}

// Narrow ini text to UTF-16: UTF-8 when asked or when it is valid UTF-8,
// else ISO-8859-1. At most units-1 units and a 0; returns the units stored
// before the 0.
int32_t iniTextToUtf16(const char* text, size_t len, bool utf8, uint16_t* out, int32_t units)
{
    if (units <= 0)
        return 0;
    size_t cap = static_cast<size_t>(units) - 1;
    size_t n = 0;
    if (utf8 || validUtf8(text, len)) {
        size_t i = 0;
        while (i < len && n < cap) {
            UChar32 c;
            int32_t ii = static_cast<int32_t>(i);
            U8_NEXT(reinterpret_cast<const uint8_t*>(text), ii, static_cast<int32_t>(len), c);
            i = static_cast<size_t>(ii);
            if (c < 0)
                c = 0xFFFD;
            if (c > 0xFFFF) {
                if (n + 2 > cap)
                    break;
                out[n++] = static_cast<uint16_t>(U16_LEAD(c));
                out[n++] = static_cast<uint16_t>(U16_TRAIL(c));
            } else {
                out[n++] = static_cast<uint16_t>(c);
            }
        }
    } else {
        for (size_t i = 0; i < len && n < cap; ++i)
            out[n++] = static_cast<uint8_t>(text[i]);
    }
    out[n] = 0;
    return static_cast<int32_t>(n);
}

int32_t copyDefaultW(const uint16_t* def, uint16_t* out, int32_t units)
{
    if (!out || units <= 0)
        return 0;
    int32_t n = 0;
    if (def)
        while (def[n] && n < units - 1) {
            out[n] = def[n];
            ++n;
        }
    out[n] = 0;
    return n;
}

// Waits for the exclusive lock of the ini byte on an open file description.
// Description locks, unlike process record locks, survive the closing of
// other descriptors of the same file in this process (the driver manager
// reads these files too), and they conflict with the record locks that other
// processes take on the same byte.
int lockForWrite(int32_t fd, const char* path)
{
    struct flock fl;
    memset(&fl, 0, sizeof fl);
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kIniLockOffset;
    fl.l_len = 1;
    for (int attempt = 0;; ++attempt) {
        if (fcntl(fd, F_OFD_SETLK, &fl) == 0)
            return 0;
        int err = errno;
        if (err != EAGAIN && err != EACCES && err != EINTR) {
            bosMapError(err, path);
            return 1;
        }
        if (attempt >= kIniLockAttempts) {
            bosMapError(EAGAIN, path);
            return 1;
        }
        bosSleep(kIniLockPollMs);
    }
}

// 1 when the open descriptor still is the file that path names.
bool sameFile(int32_t fd, const char* path)
{
    struct stat a, b;
    if (fstat(fd, &a) != 0 || stat(path, &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A growable output buffer for the rewrite.
struct IniOut {
    char* data = nullptr;
    size_t len = 0;
    size_t cap = 0;
    bool failed = false;

    ~IniOut() { ramFree(data); }
    void put(const char* p, size_t n)
    {
        if (failed || n == 0)
            return;
        if (len + n > cap) {
            size_t want = cap ? cap * 2 : 4096;
            while (want < len + n)
                want *= 2;
            void* block = data;
            if (!block) {
                block = ramAlloc(want);
                if (!block) {
                    failed = true;
                    return;
                }
            } else if (ramRealloc(&block, want) != 0) {
                failed = true;
                return;
            }
            data = static_cast<char*>(block);
            cap = want;
        }
        memcpy(data + len, p, n);
        len += n;
    }
    void put(const char* s) { put(s, strlen(s)); }
    void put(const char* from, const char* to)
    {
        if (to > from)
            put(from, static_cast<size_t>(to - from));
    }
    bool endsWithLineEnd() const { return len > 0 && iniIsLineEnd(data[len - 1]); }
};

// Count of line feeds that end the text, counting only a run made of line ends.
size_t trailingLineFeeds(const char* from, const char* to)
{
    size_t n = 0;
    while (to > from && iniIsLineEnd(to[-1])) {
        if (to[-1] == '\n')
            ++n;
        --to;
    }
    return n;
}

// Adds what separates a new section header from the text before it: an
// empty line, unless the text is empty or only line ends.
void separate(IniOut& out, const char* head, const char* headEnd)
{
    if (headEnd <= head)
        return;
    bool onlyLineEnds = true;
    for (const char* p = head; p < headEnd; ++p)
        if (!iniIsLineEnd(*p))
            onlyLineEnds = false;
    if (onlyLineEnds)
        return;
    size_t lf = trailingLineFeeds(head, headEnd);
    if (!iniIsLineEnd(headEnd[-1]))
        out.put("\n\n");
    else if (lf < 2)
        out.put("\n");
}

// Writes data to a fresh file beside path and renames it over path. 0 done,
// 1 failed (posted; path untouched), 2 no file can be made in the directory.
int replaceFile(const char* realPath, const struct stat& original, const char* data, size_t len,
                int32_t recordedTime, uint64_t recordedSize, bool* adjusted)
{
    char tmp[kIniPathMax];
    int n = snprintf(tmp, sizeof tmp, "%s.XXXXXX", realPath);
    if (n < 0 || static_cast<size_t>(n) >= sizeof tmp)
        return 2;
    int fd = mkostemp(tmp, O_CLOEXEC);
    if (fd < 0)
        return 2;
    // The new file takes the old one's owner and mode; until then it is
    // private (mkostemp makes it 0600), so secrets never show.
    // Only root may give a file away; a failure leaves the caller's own.
    int ignored = fchown(fd, original.st_uid, original.st_gid);
    (void)ignored;
    int rc = bosfwrite(fd, 0, data, len);
    struct stat st;
    if (rc == 0 && fstat(fd, &st) == 0 && static_cast<int32_t>(st.st_mtime) == recordedTime &&
        static_cast<uint64_t>(st.st_size) == recordedSize) {
        // Other processes see a change only by time and size: make the size differ.
        if (len > 2 && data[len - 1] == '\n' && data[len - 2] == '\n')
            rc = bosftrunc(fd, static_cast<int64_t>(len - 1));
        else
            rc = bosfwrite(fd, static_cast<int64_t>(len), "\n", 1);
        *adjusted = true;
    }
    if (rc == 0 && fchmod(fd, original.st_mode & 07777) != 0) {
        bosMapError(errno, realPath);
        rc = 1;
    }
    if (rc == 0 && fsync(fd) != 0) {
        bosMapError(errno, realPath);
        rc = 1;
    }
    close(fd);
    if (rc == 0 && rename(tmp, realPath) != 0) {
        bosMapError(errno, realPath);
        rc = 1;
    }
    if (rc != 0)
        unlink(tmp);
    return rc;
}

} // namespace

int32_t KaIniIsSecretKey(const char* key) noexcept
{
    return key && secretKey(key, strlen(key)) ? 1 : 0;
}

int32_t strCopyTrunc(char* dest, const char* src, int32_t size) noexcept
{
    if (!dest || size <= 0)
        return 0;
    if (!src)
        src = "";
    size_t len = strlen(src);
    if (len < static_cast<size_t>(size)) {
        memcpy(dest, src, len + 1);
        return static_cast<int32_t>(len);
    }
    memcpy(dest, src, static_cast<size_t>(size) - 1);
    dest[size - 1] = 0;
    return size - 1;
}

// ---- KaIniFileCache -----------------------------------------------------

KaIniFileCache::KaIniFileCache() noexcept : semaphore(nullptr, 0) {}

KaIniFileCache::~KaIniFileCache()
{
    if (descriptor > 0)
        bosfclose(descriptor);
    ramFree(path);
    ramFree(pathW);
    ramFree(image);
}

void KaIniFileCache::lock() noexcept { semaphore.wait(); }
void KaIniFileCache::unlock() noexcept { semaphore.post(); }

void KaIniFileCache::addRef() noexcept
{
    lock();
    ++refCount;
    unlock();
}

int32_t KaIniFileCache::dropRef() noexcept
{
    lock();
    int32_t last = (refCount <= 1) ? 1 : 0;
    if (refCount > 0)
        --refCount;
    unlock();
    return last;
}

void KaIniFileCache::dropImage() noexcept
{
    ramFree(image);
    image = nullptr;
    imageLength = 0;
    loaded = 0;
    utf8Marked = 0;
}

int32_t KaIniFileCache::loadImage(int32_t fd) noexcept
{
    struct stat st;
    if (fstat(fd, &st) != 0) {
        bosMapError(errno, path);
        return 1;
    }
    uint64_t size = static_cast<uint64_t>(st.st_size);
    char* block = static_cast<char*>(ramAlloc(size + 1));
    if (!block)
        return 1;
    // Read what the file held when measured; a file that grew since is
    // seen complete at the next refresh, since its size then differs.
    uint64_t got = 0;
    while (got < size) {
        uint64_t count = 0;
        if (bosfread(fd, static_cast<int64_t>(got), block + got, size - got, &count) != 0) {
            ramFree(block);
            return 1;
        }
        if (count == 0)
            break;
        got += count;
    }
    block[got] = 0;
    ramFree(image);
    image = block;
    imageLength = got;
    imageSize = size;
    modTime = static_cast<int32_t>(st.st_mtime);
    loaded = 1;
    utf8Marked = (got >= 3 && static_cast<uint8_t>(block[0]) == 0xEF &&
                  static_cast<uint8_t>(block[1]) == 0xBB && static_cast<uint8_t>(block[2]) == 0xBF)
                     ? 1
                     : 0;
    return 0;
}

int32_t KaIniOpen(KaIniFileCache* entry, const char* fileName, int32_t openMode) noexcept
{
    if (!entry)
        return 1;
    if (traceOn(BOS_TRACE_INI_OPEN))
        printf("KaIniOpen: File:%s \n", fileName ? fileName : "<NULL>");
    uint32_t flags = static_cast<uint32_t>(openMode) | BOS_OPEN_CONFIG | BOS_OPEN_READWRITE;
    if (!fileName) {
        postMissingFileName();
        return 1;
    }
    char name[kIniPathMax];
    size_t len = strlen(fileName);
    if (len >= sizeof name) {
        bosMapError(ENAMETOOLONG, nullptr);
        return 1;
    }
    bool odbcinst = isOdbcinstName(fileName);
    int32_t fd = 0;
    for (;;) {
        memcpy(name, fileName, len + 1);
        if (bosfopen(name, flags, &fd) == 0 && fd > 0)
            break;
        fd = 0;
        bool list = hasErrorList();
        if (!odbcinst) {
            if (!list) {
                if (flags & BOS_OPEN_READWRITE) {
                    flags &= ~(BOS_OPEN_READWRITE | BOS_OPEN_CREATE_MISSING);
                    continue;
                }
                return 1;
            }
            uint16_t native = KaErrorGetLastNative();
            if ((flags & BOS_OPEN_READWRITE) &&
                (native == 1508 || native == 1519 || native == 30040 || native == 30049)) {
                flags &= ~BOS_OPEN_READWRITE;
                KaErrorDiscardLast();
                continue;
            }
            KaErrorSetLastWarning(1);
            return 1;
        }
        if (flags & BOS_OPEN_READWRITE) {
            if (list)
                KaErrorDiscardLast();
            flags &= ~(BOS_OPEN_READWRITE | BOS_OPEN_CREATE_MISSING);
            continue;
        }
        // A missing odbcinst file reads as empty: the entry stays unloaded.
        if (!list)
            return 0;
        if (KaErrorGetLastNative() != 1509)
            return 1;
        KaErrorDiscardLast();
        return 0;
    }
    entry->openFlags = static_cast<int32_t>(flags);
    entry->descriptor = fd;
    size_t nameLen = strlen(name);
    char* copy = static_cast<char*>(ramAlloc(nameLen + 1));
    if (!copy) {
        bosfclose(fd);
        entry->descriptor = 0;
        return 1;
    }
    memcpy(copy, name, nameLen + 1);
    ramFree(entry->path);
    entry->path = copy;
    int32_t rc = entry->loadImage(fd);
    bosfclose(fd);
    entry->descriptor = 0;
    if (rc != 0) {
        ramFree(entry->path);
        entry->path = nullptr;
        return 1;
    }
    if (traceOn(BOS_TRACE_INI_OPEN))
        printf("KaIniOpen: File:%s FileSize %d\n", entry->path, static_cast<int>(entry->imageSize));
    return 0;
}

int32_t KaIniFileCache::refresh() noexcept
{
    char name[kIniPathMax];
    lock();
    if (pathW) {
        if (utf16ToUtf8Name(name, sizeof name, pathW) < 0) {
            unlock();
            return 1;
        }
    } else if (path && strlen(path) < sizeof name) {
        memcpy(name, path, strlen(path) + 1);
    } else {
        unlock();
        return 1;
    }
    unlock();
    int32_t t = 0;
    uint64_t size = 0;
    if (bosGetFileTimeSize(name, &t, &size) != 0)
        return 1;
    lock();
    if (loaded && t == modTime && size == imageSize) {
        unlock();
        return 0;
    }
    ramFree(path);
    path = nullptr;
    ramFree(pathW);
    pathW = nullptr;
    dropImage();
    int32_t rc = KaIniOpen(this, name, kIniOpenRead);
    unlock();
    return rc;
}

int32_t KaIniFileCache::findSection(const char* header, char** sectionStart,
                                    char** nextSection) noexcept
{
    if (!image || !header)
        return 0;
    const char* end = image + imageLength;
    const char* p = image + (utf8Marked ? 3 : 0);
    size_t hlen = strlen(header);
    while (p < end) {
        const char* b = iniSectionBracket(p, end);
        if (b) {
            const char* close = closingBracket(b, end);
            if (close && textEquals(b, static_cast<size_t>(close - b + 1), header, hlen, 1)) {
                *sectionStart = const_cast<char*>(p);
                *nextSection = const_cast<char*>(iniNextSectionLine(iniNextLine(close, end), end));
                return 1;
            }
        }
        p = iniNextLine(p, end);
    }
    return 0;
}

int32_t KaIniFileCache::findKey(const char* key, char** lineStart, const char* sectionEnd,
                                char** valueStart, char** valueEnd, int32_t keyMode) noexcept
{
    const char* end = sectionEnd;
    size_t klen = strlen(key);
    const char* p = iniNextLine(*lineStart, end);
    while (p < end) {
        const char* q = p;
        while (q < end && iniIsBlank(*q))
            ++q;
        if (q >= end)
            return 0;
        if (*q == ';' || *q == '#' || iniIsLineEnd(*q)) {
            p = iniNextLine(q, end);
            continue;
        }
        if (*q == '[')
            return 0;
        const char* e = q;
        while (e < end && !iniIsLineEnd(*e) && *e != '=')
            ++e;
        if (e >= end || *e != '=') {
            p = iniNextLine(e, end);
            continue;
        }
        const char* keyEnd = e;
        while (keyEnd > q && iniIsBlank(keyEnd[-1]))
            --keyEnd;
        if (textEquals(q, static_cast<size_t>(keyEnd - q), key, klen, keyMode == 1)) {
            const char* v = e + 1;
            while (v < end && iniIsBlank(*v))
                ++v;
            const char* ve = v;
            while (ve < end && !iniIsLineEnd(*ve))
                ++ve;
            *lineStart = const_cast<char*>(p);
            *valueStart = const_cast<char*>(v);
            *valueEnd = const_cast<char*>(ve);
            return 1;
        }
        p = iniNextLine(e, end);
    }
    return 0;
}

int32_t KaIniFileCache::listSections(char* output, int32_t size) noexcept
{
    const char* end = image + imageLength;
    const char* p = image + (utf8Marked ? 3 : 0);
    int32_t pos = 0;
    while (p < end) {
        const char* b = iniSectionBracket(p, end);
        if (b) {
            const char* close = closingBracket(b, end);
            if (close) {
                int32_t n = static_cast<int32_t>(close - b - 1);
                if (pos + n + 1 > size - 1)
                    break;
                memcpy(output + pos, b + 1, static_cast<size_t>(n));
                pos += n;
                output[pos++] = 0;
            }
        }
        p = iniNextLine(p, end);
    }
    output[pos++] = 0;
    return pos;
}

int32_t KaIniFileCache::listKeys(const char* sectionStart, const char* sectionEnd, char* output,
                                 int32_t size) noexcept
{
    int32_t pos = 0;
    const char* p = iniNextLine(sectionStart, sectionEnd);
    while (p < sectionEnd) {
        const char* q = p;
        while (q < sectionEnd && iniIsBlank(*q))
            ++q;
        const char* e = q;
        while (e < sectionEnd && !iniIsLineEnd(*e) && *e != '=')
            ++e;
        if (q < sectionEnd && *q != ';' && *q != '#' && e < sectionEnd && *e == '=') {
            const char* keyEnd = e;
            while (keyEnd > q && iniIsBlank(keyEnd[-1]))
                --keyEnd;
            int32_t n = static_cast<int32_t>(keyEnd - q);
            if (pos + n + 1 > size - 1)
                break;
            memcpy(output + pos, q, static_cast<size_t>(n));
            pos += n;
            output[pos++] = 0;
            if (traceOn(BOS_TRACE_INI_READ))
                printf("GetProfileString: Entry %.*s Len=%d\n", n, q, n);
        }
        p = iniNextLine(q, sectionEnd);
    }
    output[pos++] = 0;
    return pos;
}

int32_t KaIniFileCache::getProfileString(const char* section, const char* key,
                                         const char* defaultValue, char* output, int32_t size,
                                         int32_t keyMode) noexcept
{
    if (!output || size <= 0)
        return 0;
    const bool trace = traceOn(BOS_TRACE_INI_READ);
    const char* pre = "GetProfileString:";
    if (trace) {
        lock();
        printf("GetProfileString: File:%s Section:[%s] Entry:\n%s\n", path ? path : "<NULL>",
               section ? section : "NULL", key ? key : "NULL");
        unlock();
        if (defaultValue)
            printf("%s defaultStr:\n%s\n", pre, shownValue(key, defaultValue));
    }
    int32_t result = -1;
    if (!section) {
        if (trace)
            printf("%s Multi-Entry Output Requested.\n", pre);
        if (refresh() == 0) {
            lock();
            if (loaded && image)
                result = listSections(output, size);
            unlock();
        }
    } else {
        char header[kIniHeaderBuffer];
        size_t slen = strlen(section);
        if (slen + 3 <= sizeof header && refresh() == 0) {
            header[0] = '[';
            memcpy(header + 1, section, slen);
            header[slen + 1] = ']';
            header[slen + 2] = 0;
            lock();
            char* start = nullptr;
            char* next = nullptr;
            if (loaded && findSection(header, &start, &next)) {
                if (trace)
                    printf("%s Section %s found.\n", pre, header);
                if (!key) {
                    if (trace) {
                        printf("%s Multi-Entry Output Requested.\n", pre);
                        if (traceOn(BOS_TRACE_INI_WRITE))
                            printf("%s Fecthing all entries for %s\n", pre, section);
                    }
                    if (iniNextLine(start, next) < next)
                        result = listKeys(start, next, output, size);
                } else {
                    char* line = start;
                    char* vs = nullptr;
                    char* ve = nullptr;
                    if (findKey(key, &line, next, &vs, &ve, keyMode) && ve > vs) {
                        size_t n = static_cast<size_t>(ve - vs);
                        if (n < static_cast<size_t>(size)) {
                            memcpy(output, vs, n);
                            output[n] = 0;
                            result = static_cast<int32_t>(n);
                        } else {
                            memcpy(output, vs, static_cast<size_t>(size) - 1);
                            output[size - 1] = 0;
                            result = size;
                        }
                        if (trace) {
                            printf("%s Entry %s found.\n", pre, key);
                            printf("%s Value=%s\n", pre, shownValue(key, output));
                        }
                    } else if (trace) {
                        printf("%s Entry %s not found.\n", pre, key);
                    }
                }
            } else if (trace) {
                printf("%s Section %s not found.\n", pre, header);
            }
            unlock();
        }
    }
    if (result < 0)
        result = strCopyTrunc(output, defaultValue ? defaultValue : "", size);
    if (trace)
        printf("%s Return Len=%d returnBuf=%s\n", pre, result,
               (key || !section) ? shownValue(key, output) : "");
    return result;
}

int32_t KaIniFileCache::getProfileSection(const char* section, char* output, int32_t size) noexcept
{
    if (!output || size <= 0)
        return 0;
    if (traceOn(BOS_TRACE_INI_READ)) {
        lock();
        printf("GetProfileSection: File:%s Section:[%s] \n", path ? path : "<NULL>",
               section ? section : "NULL");
        unlock();
    }
    output[0] = 0;
    if (!section)
        return 0;
    char header[kIniHeaderBuffer];
    size_t slen = strlen(section);
    if (slen + 3 > sizeof header || refresh() != 0)
        return 0;
    header[0] = '[';
    memcpy(header + 1, section, slen);
    header[slen + 1] = ']';
    header[slen + 2] = 0;
    int32_t result = 0;
    lock();
    char* start = nullptr;
    char* next = nullptr;
    if (loaded && findSection(header, &start, &next) && iniNextLine(start, next) < next) {
        result = listKeys(start, next, output, size);
        if (result <= 1) {
            output[0] = 0;
            result = 0;
        }
    } else if (traceOn(BOS_TRACE_INI_READ)) {
        printf("GetProfileSection: No data found.\n");
    }
    unlock();
    return result;
}

int64_t KaIniFileCache::getProfileInt(const char* section, const char* key,
                                      int64_t defaultValue) noexcept
{
    char buf[kIniIntDigits + 1];
    if (getProfileString(section, key, "", buf, sizeof buf, 1) <= 0)
        return defaultValue;
    uint64_t value = 0;
    size_t digits = 0;
    while (digits < kIniIntDigits && buf[digits] >= '0' && buf[digits] <= '9') {
        value = value * 10 + static_cast<uint64_t>(buf[digits] - '0');
        ++digits;
    }
    if (digits == 0 || value > UINT32_MAX)
        return defaultValue;
    return static_cast<int64_t>(value);
}

int32_t KaIniFileCache::getProfileStringW(const uint16_t* section, const uint16_t* key,
                                          const uint16_t* defaultValue, uint16_t* output,
                                          int32_t units) noexcept
{
    if (!output || units <= 0)
        return 0;
    if (!section) {
        output[0] = 0;
        if (units <= 1)
            return 0;
        char* list = static_cast<char*>(ramAlloc(static_cast<size_t>(units)));
        if (!list)
            return 0;
        int32_t n = getProfileString(nullptr, nullptr, "", list, units, 1);
        // Names keep their 0 separators; each decodes on its own.
        int32_t produced = 0;
        int32_t i = 0;
        while (i < n && produced < units - 1) {
            int32_t len = static_cast<int32_t>(strnlen(list + i, static_cast<size_t>(n - i)));
            int32_t got = iniTextToUtf16(list + i, static_cast<size_t>(len), utf8Marked != 0,
                                         output + produced, units - produced);
            produced += got + 1;
            i += len + 1;
        }
        if (produced >= units)
            produced = units - 1;
        output[produced] = 0;
        ramFree(list);
        return produced;
    }
    if (!key)
        return copyDefaultW(defaultValue, output, units);

    char sectionN[kIniWideSectionUtf8];
    char keyN[kIniPathMax];
    char value[kIniValueBuffer];
    int32_t got = 0;
    bool utf8 = utf8Marked != 0;
    // Unmarked files hold ISO-8859-1 or UTF-8 (the UTF-16 writers write
    // UTF-8): look the names up in ISO-8859-1 first, then in UTF-8.
    for (int pass = 0; pass < 2 && got <= 0; ++pass) {
        bool asUtf8 = utf8 || pass == 1;
        if (pass == 1 && utf8)
            break;
        int64_t s, k;
        if (asUtf8) {
            s = KaUtf16ToUtf8(sectionN, sizeof sectionN, section);
            k = KaUtf16ToUtf8(keyN, sizeof keyN, key);
        } else {
            s = KaUtf16ToLocal(sectionN, sizeof sectionN, section);
            k = KaUtf16ToLocal(keyN, sizeof keyN, key);
        }
        if (s <= 0 || k <= 0)
            continue;
        memset(value, 0, sizeof value);
        got = getProfileString(sectionN, keyN, "", value, sizeof value - 1, 1);
    }
    if (got <= 0)
        return copyDefaultW(defaultValue, output, units);
    size_t len = strnlen(value, sizeof value - 1);
    // A value cut by the buffer may end inside a UTF-8 character.
    if (len == sizeof value - 2)
        while (len > 0 && (static_cast<uint8_t>(value[len - 1]) & 0xC0) == 0x80)
            --len;
    return iniTextToUtf16(value, len, utf8, output, units);
}

int32_t KaIniFileCache::writeProfileString(const char* section, const char* key,
                                           const char* value) noexcept
{
    lock();
    int32_t isLoaded = loaded;
    if (traceOn(BOS_TRACE_INI_WRITE)) {
        printf("PutProfileString: File:%s Section:[%s] Entry:\n%s\n", path ? path : "<NULL>",
               section ? section : "NULL", key ? key : "NULL");
        printf("PutProfileString: newStr:\n%s\n", shownValue(key, value));
    }
    unlock();
    if (!isLoaded)
        return 0;
    if (!section)
        return 0;
    // Text that would change the structure of the file cannot be written.
    auto bad = [](const char* s, const char* extra) {
        for (; *s; ++s)
            if (iniIsLineEnd(*s) || (extra && strchr(extra, *s)))
                return true;
        return false;
    };
    const char* what = nullptr;
    if (bad(section, "]") || !*section)
        what = "the section name";
    else if (key && (bad(key, "=") || !*key || strchr("[;#", *key)))
        what = "the key name";
    else if (key && value && bad(value, nullptr))
        what = "the value";
    if (what) {
        errPost(MSG_INI_TEXT_INVALID)->addParamText(what);
        return 0;
    }
    if (refresh() != 0)
        return 0;
    return rewrite(section, key, value);
}

int32_t KaIniFileCache::rewrite(const char* section, const char* key, const char* value) noexcept
{
    const bool trace = traceOn(BOS_TRACE_INI_WRITE);
    const char* pre = "PutProfileString:";
    char header[kIniHeaderBuffer];
    size_t slen = strlen(section);
    if (slen + 3 > sizeof header) {
        bosMapError(ENAMETOOLONG, section);
        return 0;
    }
    header[0] = '[';
    memcpy(header + 1, section, slen);
    header[slen + 1] = ']';
    header[slen + 2] = 0;
    const bool odbcSection = strcmp(section, "ODBC") == 0 || strcmp(section, "ODBC Data Sources") == 0;

    lock();
    char name[kIniPathMax];
    if (!loaded || !path || strlen(path) >= sizeof name) {
        unlock();
        return 0;
    }
    memcpy(name, path, strlen(path) + 1);

    // Open and lock the file that the name designates now; another writer
    // may replace it while this one waits, so check that it still does.
    int32_t fd = 0;
    int attempt = 0;
    for (;; ++attempt) {
        char buf[kIniPathMax];
        memcpy(buf, name, strlen(name) + 1);
        if (bosfopen(buf, BOS_OPEN_READWRITE | BOS_OPEN_CREATE_MISSING | BOS_OPEN_NO_LOCK, &fd) != 0 ||
            fd <= 0) {
            unlock();
            return 0;
        }
        if (lockForWrite(fd, name) != 0) {
            bosfclose(fd);
            unlock();
            return 0;
        }
        if (sameFile(fd, name))
            break;
        bosfclose(fd);
        fd = 0;
        if (attempt >= kIniReopenAttempts) {
            bosMapError(EAGAIN, name);
            unlock();
            return 0;
        }
    }

    // Under the lock the file is read again: the change applies to what is
    // on disk now, so concurrent writers never undo each other's keys.
    struct stat original;
    int32_t loadFailed = 0;
    if (fstat(fd, &original) != 0) {
        bosMapError(errno, name);
        loadFailed = 1;
    } else {
        loadFailed = loadImage(fd);
    }
    if (loadFailed) {
        bosfclose(fd);
        unlock();
        return 0;
    }
    const int32_t recordedTime = modTime;
    const uint64_t recordedSize = imageSize;

    const char* img = image;
    const char* end = image + imageLength;
    char* s = nullptr;
    char* next = nullptr;
    const bool found = findSection(header, &s, &next) != 0;
    const bool newLine = key && value;
    IniOut out;
    if (trace)
        printf(found ? "%s Section %s found.\n" : "%s Section %s not found.\n", pre, header);

    if (!found) {
        out.put(img, end);
        if (newLine) {
            separate(out, img, end);
            out.put(header);
            out.put("\n");
            out.put(key);
            out.put("=");
            out.put(value);
            out.put("\n");
            if (trace)
                printf("%s Section missing adding it.\n|->%s\n", pre, header);
        }
    } else if (!key) {
        if (trace)
            printf("%s Deleting section %s\n", pre, section);
        out.put(img, s);
        out.put(next, end);
    } else {
        // The header line with its line end.
        const char* headerEnd = pastLineEnd(s, next);
        char* line = s;
        char* vs = nullptr;
        char* ve = nullptr;
        const bool keyFound = findKey(key, &line, next, &vs, &ve, 1) != 0;
        const char* head = keyFound ? line : s;
        const char* tail = headerEnd;
        if (keyFound) {
            tail = ve;
            if (tail < end && *tail == '\r')
                ++tail;
            if (tail < end && *tail == '\n')
                ++tail;
            if (trace) {
                if (value)
                    printf("%s %s %s\n", pre, "Updating Entry Value with:", shownValue(key, value));
                else
                    printf("%s %s %s\n", pre, "Deleting Entry:", key);
            }
        }
        out.put(img, head);
        if (!keyFound) {
            if (newLine)
                separate(out, img, head);
            out.put(s, headerEnd);
            if (!out.endsWithLineEnd())
                out.put("\n");
        }
        // A changed key keeps its place (a later duplicate of it would
        // otherwise shadow the new value); a new one goes under the header of
        // the ODBC sections, after the last entry of the others.
        const bool hereNow = newLine && (odbcSection || keyFound);
        if (hereNow) {
            out.put(key);
            out.put("=");
            out.put(value);
            out.put("\n");
            if (trace && !keyFound)
                printf("%s Entry missing adding it.\n|->%s=%s\n", pre, key, shownValue(key, value));
        }
        // The section's own lines; its trailing empty lines are held back so
        // that a new entry goes after the last entry.
        const char* tailEnd = next;
        const char* held = next;
        if (tail < next && trailingLineFeeds(tail, next) > 1) {
            held = next;
            while (held > tail && iniIsLineEnd(held[-1]))
                --held;
            tailEnd = held;
            if (tailEnd < next && tailEnd[0] == '\r')
                ++tailEnd;
            if (tailEnd < next && tailEnd[0] == '\n')
                ++tailEnd;
            held = tailEnd;
        }
        out.put(tail, tailEnd);
        if (newLine && !hereNow) {
            if (out.len > 0 && !out.endsWithLineEnd())
                out.put("\n");
            out.put(key);
            out.put("=");
            out.put(value);
            out.put("\n");
            if (trace && !keyFound)
                printf("%s Entry missing adding it.\n|->%s=%s\n", pre, key, shownValue(key, value));
        }
        out.put(held, end);
    }
    if (out.failed) {
        bosfclose(fd);
        unlock();
        return 0;
    }

    char realName[PATH_MAX];
    bool adjusted = false;
    int rc = 2;
    if (realpath(name, realName) && strlen(realName) < kIniPathMax)
        rc = replaceFile(realName, original, out.data ? out.data : "", out.len, recordedTime,
                         recordedSize, &adjusted);
    if (rc == 2) {
        // No new file can be made beside it (a directory the caller may not
        // write): rewrite in place, still under the lock.
        rc = bosfwrite(fd, 0, out.data ? out.data : "", out.len) != 0 ||
                     bosftrunc(fd, static_cast<int64_t>(out.len)) != 0
                 ? 1
                 : 0;
        struct stat st;
        if (rc == 0 && fstat(fd, &st) == 0 && static_cast<int32_t>(st.st_mtime) == recordedTime &&
            static_cast<uint64_t>(st.st_size) == recordedSize) {
            if (out.len > 2 && out.data[out.len - 1] == '\n' && out.data[out.len - 2] == '\n')
                rc = bosftrunc(fd, static_cast<int64_t>(out.len - 1));
            else
                rc = bosfwrite(fd, static_cast<int64_t>(out.len), "\n", 1);
        }
    }
    bosfclose(fd);
    modTime = 0;
    imageSize = 0;
    unlock();
    if (rc != 0)
        return 0;
    refresh();
    if (trace) {
        lock();
        if (image && imageLength) {
            printf("%s Updated FileCache: Len=%d\n", pre, static_cast<int>(imageLength));
            printf("%s Updated FileCache:\n|->", pre);
            traceImage(image, imageLength);
        } else {
            printf("%s FileCache is empty.\n", pre);
        }
        unlock();
    }
    return 1;
}

// ---- KaIniFileCacheList -------------------------------------------------

KaIniFileCacheList::KaIniFileCacheList() noexcept : semaphore(nullptr, 0), entries(16, 0) {}

KaIniFileCacheList::~KaIniFileCacheList()
{
    semaphore.wait();
    for (size_t i = 0; i < entries.count; ++i) {
        auto* entry = static_cast<KaIniFileCache*>(entries.items[i]);
        entry->lock();
        if (entry->keptByList) {
            entry->keptByList = 0;
            --entry->refCount;
        }
        bool last = entry->refCount <= 0;
        entry->detached = last ? 0 : 1;
        entry->unlock();
        if (last)
            delete entry;
    }
    entries.count = 0;
    semaphore.post();
}

KaIniFileCache* KaIniFileCacheList::findOrOpen(const char* fileName, int32_t openMode) noexcept
{
    char name[kIniPathMax];
    int32_t fd = 0;
    if (!fileName) {
        postMissingFileName();
        return nullptr;
    }
    size_t len = strlen(fileName);
    if (len >= sizeof name) {
        bosMapError(ENAMETOOLONG, nullptr);
        return nullptr;
    }
    memcpy(name, fileName, len + 1);
    if (bosfopen(name, BOS_OPEN_RESOLVE_ONLY | BOS_OPEN_CONFIG, &fd) != 0)
        return nullptr;
    semaphore.wait();
    for (size_t i = 0; i < entries.count; ++i) {
        auto* entry = static_cast<KaIniFileCache*>(entries.items[i]);
        entry->lock();
        bool same = entry->path && strcmp(entry->path, name) == 0;
        if (same)
            ++entry->refCount;
        entry->unlock();
        if (same) {
            semaphore.post();
            return entry;
        }
    }
    auto* entry = new KaIniFileCache();
    if (entry && KaIniOpen(entry, fileName, openMode) != 0) {
        delete entry;
        entry = nullptr;
    }
    if (entry && entries.append(entry) != 0) {
        delete entry;
        entry = nullptr;
    }
    semaphore.post();
    return entry;
}

void KaIniFileCacheList::release(KaIniFileCache* entry) noexcept
{
    if (!entry)
        return;
    semaphore.wait();
    size_t i = 0;
    while (i < entries.count && entries.items[i] != entry)
        ++i;
    if (entry->dropRef()) {
        if (i < entries.count)
            entries.removeAt(i);
        delete entry;
    }
    semaphore.post();
}

void KaIniFileCacheList::keep(KaIniFileCache* entry) noexcept
{
    if (!entry)
        return;
    semaphore.wait();
    bool inList = entries.contains(entry) != 0;
    entry->lock();
    bool drop = true;
    if (inList && entry->loaded && !entry->keptByList) {
        entry->keptByList = 1;
        drop = false;
    }
    entry->unlock();
    semaphore.post();
    if (drop)
        release(entry);
}

namespace {

// Run by the task slots when the last environment goes: the list is taken
// out of its slot under the same lock that guards its creation.
void releaseIniCacheList() noexcept
{
    KaCriticalSection& lock = iniListLock;
    lock.enter();
    auto* list = static_cast<KaIniFileCacheList*>(taskGetSlot(KA_TASK_SLOT_INI_CACHE));
    taskSetSlot(KA_TASK_SLOT_INI_CACHE, nullptr);
    lock.leave();
    delete list;
}

}  // namespace

KaIniFileCacheList* KaIniFileCacheListGet(int32_t create) noexcept
{
    iniListLock.enter();
    auto* list = static_cast<KaIniFileCacheList*>(taskGetSlot(KA_TASK_SLOT_INI_CACHE));
    if (!list && create) {
        list = new KaIniFileCacheList();
        if (list) {
            taskSetSlot(KA_TASK_SLOT_INI_CACHE, list);
            taskSetIniCacheRelease(releaseIniCacheList);
        }
    }
    iniListLock.leave();
    return list;
}

KaIniFileCache* KaIniFileOpenCached(const char* fileName) noexcept
{
    KaIniFileCacheList* list = KaIniFileCacheListGet(1);
    return list ? list->findOrOpen(fileName, kIniOpenCreate) : nullptr;
}

void KaIniFileRelease(KaIniFileCache* entry) noexcept
{
    if (!entry)
        return;
    KaIniFileCacheList* list = KaIniFileCacheListGet(0);
    if (list) {
        list->release(entry);
    } else if (entry->dropRef()) {
        delete entry;
    }
}

// ---- Operations on a held entry -----------------------------------------

int32_t KaIniFileGetString(KaIniFileCache* entry, const char* section, const char* key,
                           const char* defaultValue, char* output, int32_t size) noexcept
{
    if (!entry)
        return strCopyTrunc(output, defaultValue, size);
    return entry->getProfileString(section, key, defaultValue, output, size, 1);
}

int32_t KaIniFileGetStringW(KaIniFileCache* entry, const uint16_t* section, const uint16_t* key,
                            const uint16_t* defaultValue, uint16_t* output, int32_t units) noexcept
{
    if (!entry)
        return copyDefaultW(defaultValue, output, units);
    return entry->getProfileStringW(section, key, defaultValue, output, units);
}

int64_t KaIniFileGetInt(KaIniFileCache* entry, const char* section, const char* key,
                        int64_t defaultValue) noexcept
{
    return entry ? entry->getProfileInt(section, key, defaultValue) : defaultValue;
}

int64_t KaIniFileGetIntW(KaIniFileCache* entry, const uint16_t* section, const uint16_t* key,
                         int64_t defaultValue) noexcept
{
    char s[kIniPathMax];
    char k[kIniPathMax];
    if (!entry || KaUtf16ToLocal(s, sizeof s, section) < 0 || KaUtf16ToLocal(k, sizeof k, key) < 0)
        return defaultValue;
    return entry->getProfileInt(section ? s : nullptr, key ? k : nullptr, defaultValue);
}

int32_t KaIniFileWriteString(KaIniFileCache* entry, const char* section, const char* key,
                             const char* value) noexcept
{
    return entry ? entry->writeProfileString(section, key, value) : 0;
}

namespace {
// The UTF-16 writers' arguments in UTF-8; a null stays null. 0/1.
int wideArgsToUtf8(const uint16_t* section, const uint16_t* key, const uint16_t* value, char* s,
                   char* k, char* v, const char** sOut, const char** kOut, const char** vOut)
{
    *sOut = *kOut = *vOut = nullptr;
    if (section) {
        if (KaUtf16ToUtf8(s, kIniPathMax, section) < 0)
            return 1;
        *sOut = s;
    }
    if (key) {
        if (KaUtf16ToUtf8(k, kIniPathMax, key) < 0)
            return 1;
        *kOut = k;
    }
    if (value) {
        if (KaUtf16ToUtf8(v, kIniPathMax, value) < 0)
            return 1;
        *vOut = v;
    }
    return 0;
}
} // namespace

int32_t KaIniFileWriteStringW(KaIniFileCache* entry, const uint16_t* section, const uint16_t* key,
                              const uint16_t* value) noexcept
{
    char s[kIniPathMax], k[kIniPathMax], v[kIniPathMax];
    const char *sp, *kp, *vp;
    if (!entry || wideArgsToUtf8(section, key, value, s, k, v, &sp, &kp, &vp) != 0)
        return 0;
    return entry->writeProfileString(sp, kp, vp);
}

// ---- Operations by file name --------------------------------------------

namespace {
KaIniFileCache* openByName(const char* fileName, int32_t mode, KaIniFileCacheList** list)
{
    *list = KaIniFileCacheListGet(1);
    return *list ? (*list)->findOrOpen(fileName, mode) : nullptr;
}

int32_t readString(const char* section, const char* key, const char* defaultValue, char* output,
                   int32_t size, const char* fileName, bool keeping)
{
    size_t before = errorCount();
    KaIniFileCacheList* list = nullptr;
    KaIniFileCache* entry = openByName(fileName, kIniOpenRead, &list);
    if (!entry) {
        // A missing file is an ordinary case for the releasing reader.
        if (!keeping)
            discardSince(before);
        return strCopyTrunc(output, defaultValue, size);
    }
    int32_t n = entry->getProfileString(section, key, defaultValue, output, size, 1);
    if (keeping)
        list->keep(entry);
    else
        list->release(entry);
    return n;
}

int64_t readInt(const char* section, const char* key, int64_t defaultValue, const char* fileName,
                bool keeping)
{
    KaIniFileCacheList* list = nullptr;
    KaIniFileCache* entry = openByName(fileName, kIniOpenRead, &list);
    if (!entry)
        return defaultValue;
    int64_t n = entry->getProfileInt(section, key, defaultValue);
    if (keeping)
        list->keep(entry);
    else
        list->release(entry);
    return n;
}

int32_t writeString(const char* section, const char* key, const char* value, const char* fileName,
                    bool keeping)
{
    KaIniFileCacheList* list = nullptr;
    KaIniFileCache* entry = openByName(fileName, kIniOpenCreate, &list);
    if (!entry)
        return 0;
    int32_t rc = entry->writeProfileString(section, key, value);
    if (keeping)
        list->keep(entry);
    else
        list->release(entry);
    return rc;
}
} // namespace

int32_t KaGetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                  char* output, int32_t size, const char* fileName) noexcept
{
    return readString(section, key, defaultValue, output, size, fileName, true);
}

int32_t KaGetPrivateProfileStringRelease(const char* section, const char* key,
                                         const char* defaultValue, char* output, int32_t size,
                                         const char* fileName) noexcept
{
    return readString(section, key, defaultValue, output, size, fileName, false);
}

int32_t KaGetPrivateProfileStringW(const uint16_t* section, const uint16_t* key,
                                   const uint16_t* defaultValue, uint16_t* output, int32_t units,
                                   const uint16_t* fileName) noexcept
{
    if (!output || units <= 0)
        return 0;
    char name[kIniPathMax + 1];
    size_t before = errorCount();
    KaIniFileCacheList* list = nullptr;
    KaIniFileCache* entry = nullptr;
    if (fileName && utf16ToUtf8Name(name, sizeof name, fileName) >= 0)
        entry = openByName(name, kIniOpenRead, &list);
    else if (!fileName)
        entry = openByName(nullptr, kIniOpenRead, &list);
    if (!entry) {
        discardSince(before);
        return copyDefaultW(defaultValue, output, units);
    }
    int32_t n = entry->getProfileStringW(section, key, defaultValue, output, units);
    list->release(entry);
    return n;
}

int64_t KaGetPrivateProfileInt(const char* section, const char* key, int64_t defaultValue,
                               const char* fileName) noexcept
{
    return readInt(section, key, defaultValue, fileName, true);
}

int64_t KaGetPrivateProfileIntRelease(const char* section, const char* key, int64_t defaultValue,
                                      const char* fileName) noexcept
{
    return readInt(section, key, defaultValue, fileName, false);
}

int64_t KaGetPrivateProfileIntW(const uint16_t* section, const uint16_t* key, int64_t defaultValue,
                                const uint16_t* fileName) noexcept
{
    char name[kIniPathMax + 1];
    char s[kIniPathMax];
    char k[kIniPathMax];
    if (!fileName || utf16ToUtf8Name(name, sizeof name, fileName) < 0)
        return defaultValue;
    if (KaUtf16ToLocal(s, sizeof s, section) < 0 || KaUtf16ToLocal(k, sizeof k, key) < 0)
        return defaultValue;
    return readInt(section ? s : nullptr, key ? k : nullptr, defaultValue, name, false);
}

int32_t KaGetPrivateProfileSection(const char* section, char* output, int32_t size,
                                   const char* fileName) noexcept
{
    KaIniFileCacheList* list = nullptr;
    KaIniFileCache* entry = openByName(fileName, kIniOpenRead, &list);
    if (!entry) {
        if (output && size > 0)
            output[0] = 0;
        return 0;
    }
    int32_t n = entry->getProfileSection(section, output, size);
    list->keep(entry);
    return n;
}

int32_t KaWritePrivateProfileString(const char* section, const char* key, const char* value,
                                    const char* fileName) noexcept
{
    return writeString(section, key, value, fileName, true);
}

int32_t KaWritePrivateProfileStringRelease(const char* section, const char* key, const char* value,
                                           const char* fileName) noexcept
{
    return writeString(section, key, value, fileName, false);
}

int32_t KaWritePrivateProfileStringW(const uint16_t* section, const uint16_t* key,
                                     const uint16_t* value, const uint16_t* fileName) noexcept
{
    char name[kIniPathMax + 1];
    char s[kIniPathMax], k[kIniPathMax], v[kIniPathMax];
    const char *sp, *kp, *vp;
    if (!fileName || utf16ToUtf8Name(name, sizeof name, fileName) < 0)
        return 0;
    if (wideArgsToUtf8(section, key, value, s, k, v, &sp, &kp, &vp) != 0)
        return 0;
    return writeString(sp, kp, vp, name, false);
}

// ---- One-shot operations ------------------------------------------------

int64_t bosGetProfileStringFile(const char* section, const char* key, const char* defaultValue,
                                char* output, int32_t size, const char* fileName) noexcept
{
    KaIniFileCache* entry = new KaIniFileCache();
    if (!entry)
        return 1;
    int64_t rc = 1;
    if (KaIniOpen(entry, fileName, kIniOpenRead) == 0)
        rc = entry->getProfileString(section, key, defaultValue, output, size, 1);
    delete entry;
    return rc;
}

int64_t bosGetProfileIntFile(const char* section, const char* key, int64_t defaultValue,
                             const char* fileName) noexcept
{
    KaIniFileCache* entry = new KaIniFileCache();
    if (!entry)
        return 1;
    int64_t rc = 1;
    if (KaIniOpen(entry, fileName, kIniOpenRead) == 0)
        rc = entry->getProfileInt(section, key, defaultValue);
    delete entry;
    return rc;
}

int64_t bosWriteProfileStringFile(const char* section, const char* key, const char* value,
                                  const char* fileName) noexcept
{
    KaIniFileCache* entry = new KaIniFileCache();
    if (!entry)
        return 1;
    int64_t rc = 1;
    if (KaIniOpen(entry, fileName, kIniOpenCreate) == 0)
        rc = entry->writeProfileString(section, key, value);
    delete entry;
    return rc;
}

// ---- Line reader ----------------------------------------------------------

void bosIniReadLine(const char* text, int64_t* position, char* output, int64_t capacity,
                    int64_t* length) noexcept
{
    if (!text || !position || !output || capacity <= 0 || !length) {
        if (length)
            *length = -1;
        return;
    }
    const char* p = text + *position;
    if (*p == 0 || *p == 26) {
        output[0] = 0;
        *length = -1;
        return;
    }
    int64_t n = 0;
    int64_t lineLen = 0;
    char quote = 0;
    bool comment = (*p == ';');
    while (*p && *p != 26) {
        char c = *p;
        if (c == '\n' && !quote)
            break;
        ++p;
        if (quote && c == quote)
            quote = 0;
        else if (!quote && (c == '"' || c == '\''))
            quote = c;
        // A carriage return right before the line's end is dropped.
        if (c == '\r' && !quote && *p == '\n')
            continue;
        if (comment && lineLen >= 1)
            continue;
        if (n < capacity - 1)
            output[n++] = c;
        ++lineLen;
    }
    if (*p == '\n')
        ++p;
    output[n] = 0;
    *position = p - text;
    *length = (lineLen > capacity - 1) ? -2 : lineLen;
}

// ---- Record-lock list -----------------------------------------------------

namespace {

struct BosLockRecord : public KaObject {
    uint64_t thread = 0;
    uint64_t inode = 0;
    uint64_t device = 0;
    uint64_t offset = 0;
    uint64_t length = 0;
    int64_t uses = 0;
};

KaCriticalSection bosLockListLock{0, kKaLockPlain};
KaArray bosLockList{16, KaArray::ownsElements};

bool overlaps(const BosLockRecord& r, uint64_t offset, uint64_t length)
{
    return offset < r.offset + r.length && r.offset < offset + length;
}

} // namespace

int32_t bosLockRange(int32_t fd, uint64_t offset, uint64_t length, int32_t mode) noexcept
{
    struct stat st;
    if (fd <= 0 || fstat(fd, &st) != 0) {
        bosMapError(fd <= 0 ? EBADF : errno, nullptr);
        return 1;
    }
    const uint64_t self = bosGetThreadId();
    struct flock fl;
    memset(&fl, 0, sizeof fl);
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    bosLockListLock.enter();
    size_t found = bosLockList.count;
    for (size_t i = 0; i < bosLockList.count; ++i) {
        auto* r = static_cast<BosLockRecord*>(bosLockList.items[i]);
        if (r->inode != st.st_ino || r->device != st.st_dev)
            continue;
        if (r->thread == self && r->offset == offset && r->length == length) {
            found = i;
            break;
        }
        if (mode != kLockRangeFree && r->thread != self && overlaps(*r, offset, length)) {
            bosLockListLock.leave();
            bosMapError(EAGAIN, nullptr);
            return 1;
        }
    }
    int32_t rc = 0;
    if (mode == kLockRangeFree) {
        if (found < bosLockList.count) {
            auto* r = static_cast<BosLockRecord*>(bosLockList.items[found]);
            if (--r->uses <= 0) {
                fl.l_type = F_UNLCK;
                fcntl(fd, F_SETLK, &fl);
                bosLockList.deleteAt(found);
            }
        }
    } else if (found < bosLockList.count) {
        ++static_cast<BosLockRecord*>(bosLockList.items[found])->uses;
    } else {
        fl.l_type = (mode == kLockRangeWrite) ? F_WRLCK : F_RDLCK;
        if (fcntl(fd, F_SETLK, &fl) != 0) {
            int err = errno;
            // A range held by another process reads as locked, not as denied.
            bosMapError(err == EACCES ? EAGAIN : err, nullptr);
            rc = 1;
        } else {
            auto* r = new BosLockRecord();
            if (!r || bosLockList.append(r) != 0) {
                delete r;
                fl.l_type = F_UNLCK;
                fcntl(fd, F_SETLK, &fl);
                bosMapError(ENOMEM, nullptr);
                rc = 1;
            } else {
                r->thread = self;
                r->inode = st.st_ino;
                r->device = st.st_dev;
                r->offset = offset;
                r->length = length;
                r->uses = 1;
            }
        }
    }
    bosLockListLock.leave();
    return rc;
}

// ---- KaIni ------------------------------------------------------------------

KaIni::KaIni() noexcept = default;

KaIni::~KaIni()
{
    close();
}

int32_t KaIni::open(const char* name) noexcept
{
    close();
    KaIniFileCache* e = KaIniFileOpenCached(name);
    if (!e)
        return 1;
    size_t len = strlen(name);
    char* copy = static_cast<char*>(ramAlloc(len + 1));
    if (!copy) {
        KaIniFileRelease(e);
        return 1;
    }
    memcpy(copy, name, len + 1);
    entry = e;
    fileName = copy;
    return 0;
}

int32_t KaIni::close() noexcept
{
    if (entry)
        KaIniFileRelease(entry);
    entry = nullptr;
    ramFree(fileName);
    fileName = nullptr;
    return 0;
}

int32_t KaIni::checkOpen() noexcept
{
    if (entry)
        return 1;
    errPost(MSG_INI_FILE_NOT_OPEN);
    return 0;
}

int32_t KaIni::getProfileStringMode(const char* section, const char* key, const char* defaultValue,
                                    char* output, int32_t size, int32_t keyMode) noexcept
{
    if (!checkOpen())
        return strCopyTrunc(output, defaultValue, size);
    return entry->getProfileString(section, key, defaultValue, output, size, keyMode);
}

int32_t KaIni::getProfileString(const char* section, const char* key, const char* defaultValue,
                                char* output, int32_t size) noexcept
{
    return getProfileStringMode(section, key, defaultValue, output, size, 1);
}

int16_t KaIni::getProfileInt(const char* section, const char* key, int16_t defaultValue) noexcept
{
    if (!checkOpen())
        return defaultValue;
    return static_cast<int16_t>(entry->getProfileInt(section, key, defaultValue));
}

int32_t KaIni::getProfileSection(const char* section, char* output, int32_t size) noexcept
{
    if (!checkOpen()) {
        if (output && size > 0)
            output[0] = 0;
        return 0;
    }
    return entry->getProfileSection(section, output, size);
}

int32_t KaIni::writeProfileString(const char* section, const char* key, const char* value) noexcept
{
    if (!checkOpen())
        return 0;
    entry->writeProfileString(section, key, value);
    return 0;
}

int32_t KaIni::deleteProfileKey(const char* section, const char* key) noexcept
{
    return writeProfileString(section, key, nullptr);
}
