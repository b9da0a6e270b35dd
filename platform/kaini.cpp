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

#include "foundation/fast.h"
#include "foundation/icucache.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
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

// Guards the creation of the list in its task slot.
KaCriticalSection iniListLock{0, kKaLockPlain};

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

// Ini text holds passwords: its memory is wiped before it goes back.
void freeText(char* text, size_t bytes)
{
    if (!text)
        return;
    fastMemzero(text, bytes);
    ramFree(text);
}

// The bytes of an entry's image that hold the file's text, and its 0.
size_t imageBytes(const KaIniFileCache& entry)
{
    return static_cast<size_t>(entry.imageLength) + 1;
}

// The text of a loaded image, past a UTF-8 byte order mark.
const char* textAfterMark(const KaIniFileCache& entry)
{
    return entry.image + (entry.utf8Marked ? 3 : 0);
}

bool traceOn(uint64_t bit)
{
    return (bosDebugFlags & bit) != 0;
}

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

bool hasErrorList()
{
    return KaErrorCurrentList() != nullptr;
}

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
    u_strToUTF8(out, static_cast<int32_t>(size), &len, reinterpret_cast<const UChar*>(in), -1, &status);
    if (U_FAILURE(status) || status == U_STRING_NOT_TERMINATED_WARNING || static_cast<size_t>(len) >= size) {
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
    fl.l_start = BOS_FILE_LOCK_OFFSET;
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

    IniOut() = default;
    IniOut(const IniOut&) = delete;
    IniOut& operator=(const IniOut&) = delete;
    ~IniOut() { freeText(data, cap); }
    void put(const char* p, size_t n)
    {
        if (failed || n == 0)
            return;
        if (len + n > cap && !grow(len + n)) {
            failed = true;
            return;
        }
        memcpy(data + len, p, n);
        len += n;
    }
    // A larger buffer; the old one is wiped, never left behind by realloc.
    bool grow(size_t needed)
    {
        size_t want = cap ? cap * 2 : 4096;
        while (want < needed)
            want *= 2;
        char* block = static_cast<char*>(ramAlloc(want));
        if (!block)
            return false;
        if (len)
            memcpy(block, data, len);
        freeText(data, cap);
        data = block;
        cap = want;
        return true;
    }
    void put(const char* s) { put(s, strlen(s)); }
    void put(const char* from, const char* to)
    {
        if (to > from)
            put(from, static_cast<size_t>(to - from));
    }
    bool endsWithLineEnd() const { return len > 0 && iniIsLineEnd(data[len - 1]); }
    const char* text() const { return data ? data : ""; }
};

// One change to a file: a key set (key and value), a key deleted (null
// value) or a section deleted (null key).
struct IniEdit {
    const char* header;  // "[" section "]"
    const char* section;
    const char* key;
    const char* value;

    bool addsLine() const { return key && value; }
    // New keys of the ODBC sections go right under the header.
    bool odbcSection() const { return strcmp(section, "ODBC") == 0 || strcmp(section, "ODBC Data Sources") == 0; }
};

constexpr char kPutTrace[] = "PutProfileString:";

// True when text holds a line end or one of the extra characters.
bool breaksLine(const char* text, const char* extra)
{
    for (; *text; ++text)
        if (iniIsLineEnd(*text) || (extra && strchr(extra, *text)))
            return true;
    return false;
}

// The part of a write whose text would change the structure of the file,
// named for the diagnostic; null when all can be written.
const char* unwritablePart(const char* section, const char* key, const char* value)
{
    if (breaksLine(section, "]") || !*section)
        return "the section name";
    if (key && (breaksLine(key, "=") || !*key || strchr("[;#", *key)))
        return "the key name";
    if (key && value && breaksLine(value, nullptr))
        return "the value";
    return nullptr;
}

// A descriptor that is closed when the scope ends.
struct IniDescriptor {
    int32_t fd = 0;

    IniDescriptor() = default;
    IniDescriptor(const IniDescriptor&) = delete;
    IniDescriptor& operator=(const IniDescriptor&) = delete;
    ~IniDescriptor() { bosfclose(fd); }
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

// Where the empty lines that end a section start, past the line end of its
// last line; next when it ends in at most one line feed.
const char* trailingEmptyLines(const char* tail, const char* next)
{
    if (tail >= next || trailingLineFeeds(tail, next) <= 1)
        return next;
    const char* p = next;
    while (p > tail && iniIsLineEnd(p[-1]))
        --p;
    return pastLineEnd(p, next);
}

void putEntry(IniOut& out, const IniEdit& edit, bool announce)
{
    out.put(edit.key);
    out.put("=");
    out.put(edit.value);
    out.put("\n");
    if (announce && traceOn(BOS_TRACE_INI_WRITE))
        printf("%s Entry missing adding it.\n|->%s=%s\n", kPutTrace, edit.key, shownValue(edit.key, edit.value));
}

// The section is missing: the text as it is, and a new section at its end
// when a key is set.
void addSection(IniOut& out, const char* text, const char* end, const IniEdit& edit)
{
    out.put(text, end);
    if (!edit.addsLine())
        return;
    separate(out, text, end);
    out.put(edit.header);
    out.put("\n");
    putEntry(out, edit, false);
    if (traceOn(BOS_TRACE_INI_WRITE))
        printf("%s Section missing adding it.\n|->%s\n", kPutTrace, edit.header);
}

// The text without the section that starts at sectionStart.
void dropSection(IniOut& out, const char* text, const char* end, const char* sectionStart, const char* next,
                 const IniEdit& edit)
{
    if (traceOn(BOS_TRACE_INI_WRITE))
        printf("%s Deleting section %s\n", kPutTrace, edit.section);
    out.put(text, sectionStart);
    out.put(next, end);
}

// The text with the key of the section that starts at sectionStart set,
// added or deleted.
void editKey(KaIniFileCache& entry, IniOut& out, const char* text, const char* end, char* sectionStart, char* next,
             const IniEdit& edit)
{
    // The header line with its line end.
    const char* headerEnd = pastLineEnd(sectionStart, next);
    char* line = sectionStart;
    char* valueStart = nullptr;
    char* valueEnd = nullptr;
    const bool keyFound = entry.findKey(edit.key, &line, next, &valueStart, &valueEnd, 1) != 0;
    const char* head = keyFound ? line : sectionStart;
    const char* tail = keyFound ? pastLineEnd(valueEnd, end) : headerEnd;
    if (keyFound && traceOn(BOS_TRACE_INI_WRITE)) {
        if (edit.value)
            printf("%s %s %s\n", kPutTrace, "Updating Entry Value with:", shownValue(edit.key, edit.value));
        else
            printf("%s %s %s\n", kPutTrace, "Deleting Entry:", edit.key);
    }
    out.put(text, head);
    if (!keyFound) {
        if (edit.addsLine())
            separate(out, text, head);
        out.put(sectionStart, headerEnd);
        if (!out.endsWithLineEnd())
            out.put("\n");
    }
    // A changed key keeps its place (a later duplicate of it would
    // otherwise shadow the new value); a new one goes under the header of
    // the ODBC sections, after the last entry of the others.
    const bool hereNow = edit.addsLine() && (edit.odbcSection() || keyFound);
    if (hereNow)
        putEntry(out, edit, !keyFound);
    // The section's own lines; its trailing empty lines are held back so
    // that a new entry goes after the last entry.
    const char* held = trailingEmptyLines(tail, next);
    out.put(tail, held);
    if (edit.addsLine() && !hereNow) {
        if (out.len > 0 && !out.endsWithLineEnd())
            out.put("\n");
        putEntry(out, edit, !keyFound);
    }
    out.put(held, end);
}

// The new text of the file: the edit applied to the image just read.
void composeEdit(KaIniFileCache& entry, const IniEdit& edit, IniOut& out)
{
    const char* text = entry.image;
    const char* end = entry.image + entry.imageLength;
    char* sectionStart = nullptr;
    char* next = nullptr;
    const bool found = entry.findSection(edit.header, &sectionStart, &next) != 0;
    if (traceOn(BOS_TRACE_INI_WRITE))
        printf(found ? "%s Section %s found.\n" : "%s Section %s not found.\n", kPutTrace, edit.header);
    if (!found)
        addSection(out, text, end, edit);
    else if (!edit.key)
        dropSection(out, text, end, sectionStart, next, edit);
    else
        editKey(entry, out, text, end, sectionStart, next, edit);
}

// Opens and locks the file that name designates now. Another writer may
// replace the file while this one waits for the lock, so the lock counts
// only when the name still leads to the locked file. 0 with *fd, else 1
// (posted).
int openForRewrite(const char* name, int32_t* fd)
{
    for (int attempt = 0;; ++attempt) {
        char resolved[kIniPathMax];
        memcpy(resolved, name, strlen(name) + 1);
        int32_t d = 0;
        if (bosfopen(resolved, BOS_OPEN_READWRITE | BOS_OPEN_CREATE_MISSING | BOS_OPEN_NO_LOCK, &d) != 0 || d <= 0)
            return 1;
        if (lockForWrite(d, name) != 0) {
            bosfclose(d);
            return 1;
        }
        if (sameFile(d, name)) {
            *fd = d;
            return 0;
        }
        bosfclose(d);
        if (attempt >= kIniReopenAttempts) {
            bosMapError(EAGAIN, name);
            return 1;
        }
    }
}

// Other processes see a change only by the file's time and size: when both
// still read as recorded, the size is made to differ. 0, or 1 (posted).
int showChange(int fd, const char* data, size_t len, int32_t recordedTime, uint64_t recordedSize)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || static_cast<int32_t>(st.st_mtime) != recordedTime ||
        static_cast<uint64_t>(st.st_size) != recordedSize)
        return 0;
    if (len > 2 && data[len - 1] == '\n' && data[len - 2] == '\n')
        return bosftrunc(fd, static_cast<int64_t>(len - 1));
    return bosfwrite(fd, static_cast<int64_t>(len), "\n", 1);
}

// What replaceFile gives when no file can be made beside the old one.
constexpr int kNoFileBeside = 2;

// Writes data to a fresh file beside path and renames it over path. 0 done,
// 1 failed (posted; path untouched), kNoFileBeside.
int replaceFile(const char* realPath, const struct stat& original, const char* data, size_t len, int32_t recordedTime,
                uint64_t recordedSize)
{
    char tmp[kIniPathMax];
    int n = snprintf(tmp, sizeof tmp, "%s.XXXXXX", realPath);
    if (n < 0 || static_cast<size_t>(n) >= sizeof tmp)
        return kNoFileBeside;
    int fd = mkostemp(tmp, O_CLOEXEC);
    if (fd < 0)
        return kNoFileBeside;
    // The new file takes the old one's owner and mode; until then it is
    // private (mkostemp makes it 0600), so secrets never show.
    // Only root may give a file away; a failure leaves the caller's own.
    int ignored = fchown(fd, original.st_uid, original.st_gid);
    (void)ignored;
    int rc = bosfwrite(fd, 0, data, len);
    if (rc == 0)
        rc = showChange(fd, data, len, recordedTime, recordedSize);
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

// Rewrites the locked file itself. 0, or 1 (posted).
int rewriteInPlace(int32_t fd, const char* data, size_t len, int32_t recordedTime, uint64_t recordedSize)
{
    if (bosfwrite(fd, 0, data, len) != 0 || bosftrunc(fd, static_cast<int64_t>(len)) != 0)
        return 1;
    return showChange(fd, data, len, recordedTime, recordedSize);
}

// Puts the new text in place of the locked file: a fresh file renamed over
// it, or, where no file can be made beside it (a directory the caller may
// not write), the file itself rewritten, still under the lock. 0, or 1
// (posted).
int storeText(int32_t fd, const char* name, const struct stat& original, const IniOut& out, int32_t recordedTime,
              uint64_t recordedSize)
{
    char realName[PATH_MAX];
    int rc = kNoFileBeside;
    if (realpath(name, realName) && strlen(realName) < kIniPathMax)
        rc = replaceFile(realName, original, out.text(), out.len, recordedTime, recordedSize);
    if (rc == kNoFileBeside)
        rc = rewriteInPlace(fd, out.text(), out.len, recordedTime, recordedSize);
    return rc;
}

// Prints the cache's image after a write.
void traceWritten(const char* image, uint64_t length)
{
    if (image && length) {
        printf("%s Updated FileCache: Len=%d\n", kPutTrace, static_cast<int>(length));
        printf("%s Updated FileCache:\n|->", kPutTrace);
        traceImage(image, length);
    } else {
        printf("%s FileCache is empty.\n", kPutTrace);
    }
}

}  // namespace

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
    freeText(image, imageBytes(*this));
}

void KaIniFileCache::lock() noexcept
{
    semaphore.wait();
}
void KaIniFileCache::unlock() noexcept
{
    semaphore.post();
}

void KaIniFileCache::addRef() noexcept
{
    KaLockGuard<KaSemaphore> guard(semaphore);
    ++refCount;
}

int32_t KaIniFileCache::dropRef() noexcept
{
    KaLockGuard<KaSemaphore> guard(semaphore);
    int32_t last = (refCount <= 1) ? 1 : 0;
    if (refCount > 0)
        --refCount;
    return last;
}

void KaIniFileCache::dropImage() noexcept
{
    freeText(image, imageBytes(*this));
    image = nullptr;
    imageLength = 0;
    loaded = false;
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
            freeText(block, size + 1);
            return 1;
        }
        if (count == 0)
            break;
        got += count;
    }
    block[got] = 0;
    freeText(image, imageBytes(*this));
    image = block;
    imageLength = got;
    imageSize = size;
    modTime = static_cast<int32_t>(st.st_mtime);
    loaded = true;
    utf8Marked = (got >= 3 && static_cast<uint8_t>(block[0]) == 0xEF && static_cast<uint8_t>(block[1]) == 0xBB &&
                  static_cast<uint8_t>(block[2]) == 0xBF)
                     ? 1
                     : 0;
    return 0;
}

namespace {

// Diagnostics of an open that failed for want of write access: the file may
// still be read.
bool refusedWriting(uint16_t native)
{
    return native == MSG_FILE_ACCESS_DENIED || native == MSG_OPERATION_NOT_PERMITTED ||
           native == MSG_FILE_NAME_MISSING || native == MSG_READ_ONLY_FILE_SYSTEM;
}

enum IniOpenResult { kIniOpened, kIniOpenFailed, kIniOdbcinstMissing };

// Opens a configuration file (name: its resolved name on return), read-write
// where the caller may write it, else read-only; *flags end as the ones
// that opened it. A missing odbcinst file is no failure: it reads as empty,
// and its diagnostic is taken back.
IniOpenResult openConfigFile(const char* fileName, char (&name)[kIniPathMax], uint32_t* flags, int32_t* fd)
{
    const size_t len = strlen(fileName);
    const bool odbcinst = isOdbcinstName(fileName);
    for (;;) {
        memcpy(name, fileName, len + 1);
        if (bosfopen(name, *flags, fd) == 0 && *fd > 0)
            return kIniOpened;
        *fd = 0;
        const bool list = hasErrorList();
        const bool readWrite = (*flags & BOS_OPEN_READWRITE) != 0;
        if (!odbcinst) {
            if (!list) {
                if (!readWrite)
                    return kIniOpenFailed;
                *flags &= ~(BOS_OPEN_READWRITE | BOS_OPEN_CREATE_MISSING);
                continue;
            }
            if (readWrite && refusedWriting(KaErrorGetLastNative())) {
                *flags &= ~BOS_OPEN_READWRITE;
                KaErrorDiscardLast();
                continue;
            }
            KaErrorSetLastWarning(1);
            return kIniOpenFailed;
        }
        if (readWrite) {
            if (list)
                KaErrorDiscardLast();
            *flags &= ~(BOS_OPEN_READWRITE | BOS_OPEN_CREATE_MISSING);
            continue;
        }
        if (!list)
            return kIniOdbcinstMissing;
        if (KaErrorGetLastNative() != MSG_FILE_NOT_FOUND)
            return kIniOpenFailed;
        KaErrorDiscardLast();
        return kIniOdbcinstMissing;
    }
}

}  // namespace

int32_t KaIniOpen(KaIniFileCache* entry, const char* fileName, int32_t openMode) noexcept
{
    if (!entry)
        return 1;
    if (traceOn(BOS_TRACE_INI_OPEN))
        printf("KaIniOpen: File:%s \n", fileName ? fileName : "<NULL>");
    if (!fileName) {
        postMissingFileName();
        return 1;
    }
    if (strlen(fileName) >= kIniPathMax) {
        bosMapError(ENAMETOOLONG, nullptr);
        return 1;
    }
    char name[kIniPathMax];
    uint32_t flags = static_cast<uint32_t>(openMode) | BOS_OPEN_CONFIG | BOS_OPEN_READWRITE;
    int32_t fd = 0;
    switch (openConfigFile(fileName, name, &flags, &fd)) {
    case kIniOpenFailed: return 1;
    case kIniOdbcinstMissing:
        // The entry stays unloaded.
        return 0;
    case kIniOpened: break;
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
    if (copyName(name) != 0)
        return 1;
    int32_t t = 0;
    uint64_t size = 0;
    if (bosGetFileTimeSize(name, &t, &size) != 0)
        return 1;
    KaLockGuard<KaSemaphore> guard(semaphore);
    if (loaded && t == modTime && size == imageSize)
        return 0;
    ramFree(path);
    path = nullptr;
    ramFree(pathW);
    pathW = nullptr;
    dropImage();
    return KaIniOpen(this, name, kIniOpenRead);
}

int32_t KaIniFileCache::copyName(char (&name)[kIniPathMax]) noexcept
{
    KaLockGuard<KaSemaphore> guard(semaphore);
    if (pathW)
        return utf16ToUtf8Name(name, sizeof name, pathW) < 0 ? 1 : 0;
    if (!path || strlen(path) >= sizeof name)
        return 1;
    memcpy(name, path, strlen(path) + 1);
    return 0;
}

int32_t KaIniFileCache::findSection(const char* header, char** sectionStart, char** nextSection) noexcept
{
    if (!image || !header)
        return 0;
    IniSection found;
    if (!iniFindSection(textAfterMark(*this), image + imageLength, header, &found))
        return 0;
    *sectionStart = const_cast<char*>(found.line);
    *nextSection = const_cast<char*>(found.next);
    return 1;
}

int32_t KaIniFileCache::findKey(const char* key, char** lineStart, const char* sectionEnd, char** valueStart,
                                char** valueEnd, int32_t keyMode) noexcept
{
    const char* end = sectionEnd;
    size_t klen = strlen(key);
    IniKeyLine k;
    for (const char* p = iniNextLine(*lineStart, end); iniFindKeyLine(p, end, &k); p = iniNextLine(k.equals, end)) {
        if (!textEquals(k.key, static_cast<size_t>(k.keyEnd - k.key), key, klen, keyMode == 1))
            continue;
        const char* v = nullptr;
        const char* ve = nullptr;
        iniKeyValue(k, end, false, &v, &ve);
        *lineStart = const_cast<char*>(k.line);
        *valueStart = const_cast<char*>(v);
        *valueEnd = const_cast<char*>(ve);
        return 1;
    }
    return 0;
}

int32_t KaIniFileCache::listSections(char* output, int32_t size) noexcept
{
    const char* end = image + imageLength;
    const char* p = textAfterMark(*this);
    int32_t pos = 0;
    while (p < end) {
        const char* b = iniSectionBracket(p, end);
        if (b) {
            const char* close = iniClosingBracket(b, end);
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

int32_t KaIniFileCache::listKeys(const char* sectionStart, const char* sectionEnd, char* output, int32_t size) noexcept
{
    const bool trace = traceOn(BOS_TRACE_INI_READ);
    int32_t pos = iniListKeys(sectionStart, sectionEnd, output, size, [trace](const char* key, int32_t n) {
        if (trace)
            printf("GetProfileString: Entry %.*s Len=%d\n", n, key, n);
    });
    output[pos++] = 0;
    return pos;
}

int32_t KaIniFileCache::getProfileString(const char* section, const char* key, const char* defaultValue, char* output,
                                         int32_t size, int32_t keyMode) noexcept
{
    if (!output || size <= 0)
        return 0;
    const bool trace = traceOn(BOS_TRACE_INI_READ);
    const char* pre = "GetProfileString:";
    if (trace) {
        {
            KaLockGuard<KaSemaphore> guard(semaphore);
            printf("GetProfileString: File:%s Section:[%s] Entry:\n%s\n", path ? path : "<NULL>",
                   section ? section : "NULL", key ? key : "NULL");
        }
        if (defaultValue)
            printf("%s defaultStr:\n%s\n", pre, shownValue(key, defaultValue));
    }
    int32_t result = -1;
    if (!section) {
        if (trace)
            printf("%s Multi-Entry Output Requested.\n", pre);
        if (refresh() == 0) {
            KaLockGuard<KaSemaphore> guard(semaphore);
            if (loaded && image)
                result = listSections(output, size);
        }
    } else {
        char header[kIniHeaderBuffer];
        if (iniSectionHeader(header, section) && refresh() == 0) {
            KaLockGuard<KaSemaphore> guard(semaphore);
            result = readSection(header, section, key, output, size, keyMode);
        }
    }
    if (result < 0)
        result = strCopyTrunc(output, defaultValue ? defaultValue : "", size);
    if (trace)
        printf("%s Return Len=%d returnBuf=%s\n", pre, result, (key || !section) ? shownValue(key, output) : "");
    return result;
}

int32_t KaIniFileCache::hasSection(const char* section) noexcept
{
    char header[kIniHeaderBuffer];
    if (!section || !iniSectionHeader(header, section) || refresh() != 0)
        return 0;
    KaLockGuard<KaSemaphore> guard(semaphore);
    char* start = nullptr;
    char* next = nullptr;
    return loaded && findSection(header, &start, &next) ? 1 : 0;
}

int32_t KaIniFileCache::readSection(const char* header, const char* section, const char* key, char* output,
                                    int32_t size, int32_t keyMode) noexcept
{
    const bool trace = traceOn(BOS_TRACE_INI_READ);
    const char* pre = "GetProfileString:";
    char* start = nullptr;
    char* next = nullptr;
    if (!loaded || !findSection(header, &start, &next)) {
        if (trace)
            printf("%s Section %s not found.\n", pre, header);
        return -1;
    }
    if (trace)
        printf("%s Section %s found.\n", pre, header);
    if (!key) {
        if (trace) {
            printf("%s Multi-Entry Output Requested.\n", pre);
            if (traceOn(BOS_TRACE_INI_WRITE))
                printf("%s Fecthing all entries for %s\n", pre, section);
        }
        return iniNextLine(start, next) < next ? listKeys(start, next, output, size) : -1;
    }
    char* line = start;
    char* vs = nullptr;
    char* ve = nullptr;
    if (!findKey(key, &line, next, &vs, &ve, keyMode) || ve <= vs) {
        if (trace)
            printf("%s Entry %s not found.\n", pre, key);
        return -1;
    }
    int32_t result;
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
    return result;
}

int32_t KaIniFileCache::getProfileSection(const char* section, char* output, int32_t size) noexcept
{
    if (!output || size <= 0)
        return 0;
    if (traceOn(BOS_TRACE_INI_READ)) {
        KaLockGuard<KaSemaphore> guard(semaphore);
        printf("GetProfileSection: File:%s Section:[%s] \n", path ? path : "<NULL>", section ? section : "NULL");
    }
    output[0] = 0;
    if (!section)
        return 0;
    char header[kIniHeaderBuffer];
    if (!iniSectionHeader(header, section) || refresh() != 0)
        return 0;
    KaLockGuard<KaSemaphore> guard(semaphore);
    char* start = nullptr;
    char* next = nullptr;
    if (!loaded || !findSection(header, &start, &next) || iniNextLine(start, next) >= next) {
        if (traceOn(BOS_TRACE_INI_READ))
            printf("GetProfileSection: No data found.\n");
        return 0;
    }
    int32_t result = listKeys(start, next, output, size);
    if (result <= 1) {
        output[0] = 0;
        result = 0;
    }
    return result;
}

int64_t KaIniFileCache::getProfileInt(const char* section, const char* key, int64_t defaultValue) noexcept
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

int32_t KaIniFileCache::getProfileStringW(const uint16_t* section, const uint16_t* key, const uint16_t* defaultValue,
                                          uint16_t* output, int32_t units) noexcept
{
    if (!output || units <= 0)
        return 0;
    if (!section) {
        output[0] = 0;
        if (units <= 1)
            return 0;
        RamPtr<char> names = ramMake<char>(static_cast<size_t>(units));
        if (!names)
            return 0;
        const char* list = names.get();
        int32_t n = getProfileString(nullptr, nullptr, "", names.get(), units, 1);
        // Names keep their 0 separators; each decodes on its own.
        int32_t produced = 0;
        int32_t i = 0;
        while (i < n && produced < units - 1) {
            int32_t len = static_cast<int32_t>(strnlen(list + i, static_cast<size_t>(n - i)));
            int32_t got = iniTextToUtf16(list + i, static_cast<size_t>(len), utf8Marked != 0, output + produced,
                                         units - produced);
            produced += got + 1;
            i += len + 1;
        }
        if (produced >= units)
            produced = units - 1;
        output[produced] = 0;
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

int32_t KaIniFileCache::writeProfileString(const char* section, const char* key, const char* value) noexcept
{
    bool isLoaded = false;
    {
        KaLockGuard<KaSemaphore> guard(semaphore);
        isLoaded = loaded;
        if (traceOn(BOS_TRACE_INI_WRITE)) {
            printf("PutProfileString: File:%s Section:[%s] Entry:\n%s\n", path ? path : "<NULL>",
                   section ? section : "NULL", key ? key : "NULL");
            printf("PutProfileString: newStr:\n%s\n", shownValue(key, value));
        }
    }
    if (!isLoaded || !section)
        return 0;
    if (const char* what = unwritablePart(section, key, value)) {
        errPost(MSG_INI_TEXT_INVALID)->addParamText(what);
        return 0;
    }
    if (refresh() != 0)
        return 0;
    return rewrite(section, key, value);
}

int32_t KaIniFileCache::rewrite(const char* section, const char* key, const char* value) noexcept
{
    char header[kIniHeaderBuffer];
    if (!iniSectionHeader(header, section)) {
        bosMapError(ENAMETOOLONG, section);
        return 0;
    }
    if (rewriteLocked(header, section, key, value) != 0)
        return 0;
    // The cache takes the new text from the file, as it takes any change
    // made on disk; a failed reload leaves that to the next read.
    static_cast<void>(refresh());
    if (traceOn(BOS_TRACE_INI_WRITE)) {
        KaLockGuard<KaSemaphore> guard(semaphore);
        traceWritten(image, imageLength);
    }
    return 1;
}

int32_t KaIniFileCache::rewriteLocked(const char* header, const char* section, const char* key,
                                      const char* value) noexcept
{
    KaLockGuard<KaSemaphore> guard(semaphore);
    char name[kIniPathMax];
    if (!loaded || !path || strlen(path) >= sizeof name)
        return 1;
    memcpy(name, path, strlen(path) + 1);
    IniDescriptor file;
    if (openForRewrite(name, &file.fd) != 0)
        return 1;
    // Under the lock the file is read again: the change applies to what is
    // on disk now, so concurrent writers never undo each other's keys.
    struct stat original;
    if (fstat(file.fd, &original) != 0) {
        bosMapError(errno, name);
        return 1;
    }
    if (loadImage(file.fd) != 0)
        return 1;
    const int32_t recordedTime = modTime;
    const uint64_t recordedSize = imageSize;
    IniOut out;
    composeEdit(*this, IniEdit{header, section, key, value}, out);
    if (out.failed)
        return 1;
    int rc = storeText(file.fd, name, original, out, recordedTime, recordedSize);
    // The image no longer shows the file: the next refresh reloads it.
    modTime = 0;
    imageSize = 0;
    return rc;
}

// ---- KaIniFileCacheList -------------------------------------------------

KaIniFileCacheList::KaIniFileCacheList() noexcept : semaphore(nullptr, 0), entries(16, 0) {}

namespace {

// Gives back the list's keeping reference of an entry as the list goes:
// true when no holder is left, else the entry stays, detached, for its
// holders.
bool detachFromList(KaIniFileCache* entry)
{
    KaLockGuard<KaSemaphore> guard(entry->semaphore);
    if (entry->keptByList) {
        entry->keptByList = false;
        --entry->refCount;
    }
    bool last = entry->refCount <= 0;
    entry->detached = !last;
    return last;
}

// Takes one more reference of the entry when it holds the file name.
bool shareIfNamed(KaIniFileCache* entry, const char* name)
{
    KaLockGuard<KaSemaphore> guard(entry->semaphore);
    bool same = entry->path && strcmp(entry->path, name) == 0;
    if (same)
        ++entry->refCount;
    return same;
}

// Turns the caller's reference into the list's keeping reference when the
// entry is loaded, in the list and not kept yet.
bool becomeKept(KaIniFileCacheList& list, KaIniFileCache* entry)
{
    KaLockGuard<KaSemaphore> listGuard(list.semaphore);
    bool inList = list.entries.contains(entry) != 0;
    KaLockGuard<KaSemaphore> entryGuard(entry->semaphore);
    if (!inList || !entry->loaded || entry->keptByList)
        return false;
    entry->keptByList = true;
    return true;
}

}  // namespace

KaIniFileCacheList::~KaIniFileCacheList()
{
    KaLockGuard<KaSemaphore> guard(semaphore);
    for (size_t i = 0; i < entries.count; ++i) {
        auto* entry = static_cast<KaIniFileCache*>(entries.items[i]);
        if (detachFromList(entry))
            delete entry;
    }
    entries.count = 0;
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
    KaLockGuard<KaSemaphore> guard(semaphore);
    for (size_t i = 0; i < entries.count; ++i) {
        auto* entry = static_cast<KaIniFileCache*>(entries.items[i]);
        if (shareIfNamed(entry, name))
            return entry;
    }
    std::unique_ptr<KaIniFileCache> entry(new KaIniFileCache());
    if (entry == nullptr || KaIniOpen(entry.get(), fileName, openMode) != 0 || entries.append(entry.get()) != 0)
        return nullptr;
    return entry.release();
}

void KaIniFileCacheList::release(KaIniFileCache* entry) noexcept
{
    if (!entry)
        return;
    KaLockGuard<KaSemaphore> guard(semaphore);
    size_t i = 0;
    while (i < entries.count && entries.items[i] != entry)
        ++i;
    if (entry->dropRef()) {
        if (i < entries.count)
            entries.removeAt(i);
        delete entry;
    }
}

void KaIniFileCacheList::keep(KaIniFileCache* entry) noexcept
{
    if (entry && !becomeKept(*this, entry))
        release(entry);
}

namespace {

// Run by the task slots when the last environment goes: the list is taken
// out of its slot under the same lock that guards its creation.
void releaseIniCacheList() noexcept
{
    KaIniFileCacheList* list = nullptr;
    {
        KaLockGuard<KaCriticalSection> guard(iniListLock);
        list = static_cast<KaIniFileCacheList*>(taskGetSlot(KA_TASK_SLOT_INI_CACHE));
        taskSetSlot(KA_TASK_SLOT_INI_CACHE, nullptr);
    }
    delete list;
}

}  // namespace

KaIniFileCacheList* KaIniFileCacheListGet(int32_t create) noexcept
{
    KaLockGuard<KaCriticalSection> guard(iniListLock);
    auto* list = static_cast<KaIniFileCacheList*>(taskGetSlot(KA_TASK_SLOT_INI_CACHE));
    if (!list && create) {
        list = new KaIniFileCacheList();
        if (list) {
            taskSetSlot(KA_TASK_SLOT_INI_CACHE, list);
            taskSetIniCacheRelease(releaseIniCacheList);
        }
    }
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

int32_t KaIniFileGetString(KaIniFileCache* entry, const char* section, const char* key, const char* defaultValue,
                           char* output, int32_t size) noexcept
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

int64_t KaIniFileGetInt(KaIniFileCache* entry, const char* section, const char* key, int64_t defaultValue) noexcept
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

int32_t KaIniFileWriteString(KaIniFileCache* entry, const char* section, const char* key, const char* value) noexcept
{
    return entry ? entry->writeProfileString(section, key, value) : 0;
}

namespace {
// The UTF-16 writers' arguments in UTF-8; a null stays null. 0/1.
int wideArgsToUtf8(const uint16_t* section, const uint16_t* key, const uint16_t* value, char* s, char* k, char* v,
                   const char** sOut, const char** kOut, const char** vOut)
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
}  // namespace

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
// Gives the caller's reference back, or leaves it to the list as its
// keeping reference.
void handBack(KaIniFileCacheList* list, KaIniFileCache* entry, bool keeping)
{
    if (keeping)
        list->keep(entry);
    else
        list->release(entry);
}

// 1 for the names of the user's odbc.ini, 2 for those of odbcinst.ini, else 0.
int userConfigName(const char* name)
{
    if (strcasecmp(name, "ODBC.INI") == 0 || strcasecmp(name, ".odbc.ini") == 0)
        return 1;
    return strcasecmp(name, "ODBCINST.INI") == 0 || strcasecmp(name, ".odbcinst.ini") == 0 ? 2 : 0;
}

bool entryPathIs(KaIniFileCache* entry, const char* path)
{
    KaLockGuard<KaSemaphore> guard(entry->semaphore);
    return entry->path && strcmp(entry->path, path) == 0;
}

// A section name in the forms a file may hold it: the 8-bit name, or a
// UTF-16 one in UTF-8 and in ISO-8859-1 (as the UTF-16 reader looks it up).
struct SectionForms {
    const char* forms[2] = {nullptr, nullptr};
    char utf8[kIniWideSectionUtf8];
    char latin1[kIniWideSectionUtf8];

    explicit SectionForms(const char* section) { forms[0] = section; }
    explicit SectionForms(const uint16_t* section)
    {
        if (section && KaUtf16ToUtf8(utf8, sizeof utf8, section) > 0)
            forms[0] = utf8;
        if (section && KaUtf16ToLocal(latin1, sizeof latin1, section) > 0)
            forms[1] = latin1;
    }
    bool any() const { return forms[0] || forms[1]; }
    bool in(KaIniFileCache* entry) const
    {
        for (const char* f : forms)
            if (f && entry->hasSection(f))
                return true;
        return false;
    }
};

// The entry a section of a user's configuration file is read from: the
// user's file (entry, may be null) when it holds the section, else the
// system's file when that one does. The reference not used goes back.
// userBefore: the diagnostics count before the user's file was opened.
KaIniFileCache* systemWhenMissing(KaIniFileCacheList* list, KaIniFileCache* entry, const char* fileName,
                                  const SectionForms& section, int32_t mode, size_t userBefore)
{
    const int kind = fileName ? userConfigName(fileName) : 0;
    if (kind == 0 || !section.any() || (entry && section.in(entry)))
        return entry;
    char system[kIniPathMax];
    if (!bosSystemConfigPath(system, sizeof system, kind == 1) || (entry && entryPathIs(entry, system)))
        return entry;
    size_t before = errorCount();
    KaIniFileCache* other = list->findOrOpen(system, mode);
    if (!other) {
        // An unreadable system file leaves the user's answer standing.
        discardSince(before);
        return entry;
    }
    if (!section.in(other)) {
        list->release(other);
        return entry;
    }
    if (entry)
        list->release(entry);
    else
        discardSince(userBefore);  // why the user's file could not be read
    return other;
}

KaIniFileCache* openByName(const char* fileName, int32_t mode, KaIniFileCacheList** list,
                           const SectionForms& section = SectionForms(static_cast<const char*>(nullptr)))
{
    *list = KaIniFileCacheListGet(1);
    if (!*list)
        return nullptr;
    size_t before = errorCount();
    KaIniFileCache* entry = (*list)->findOrOpen(fileName, mode);
    return systemWhenMissing(*list, entry, fileName, section, mode, before);
}

int32_t readString(const char* section, const char* key, const char* defaultValue, char* output, int32_t size,
                   const char* fileName, bool keeping)
{
    size_t before = errorCount();
    KaIniFileCacheList* list = nullptr;
    KaIniFileCache* entry = openByName(fileName, kIniOpenRead, &list, SectionForms(section));
    if (!entry) {
        // A missing file is an ordinary case for the releasing reader.
        if (!keeping)
            discardSince(before);
        return strCopyTrunc(output, defaultValue, size);
    }
    int32_t n = entry->getProfileString(section, key, defaultValue, output, size, 1);
    handBack(list, entry, keeping);
    return n;
}

int64_t readInt(const char* section, const char* key, int64_t defaultValue, const char* fileName, bool keeping)
{
    KaIniFileCacheList* list = nullptr;
    KaIniFileCache* entry = openByName(fileName, kIniOpenRead, &list, SectionForms(section));
    if (!entry)
        return defaultValue;
    int64_t n = entry->getProfileInt(section, key, defaultValue);
    handBack(list, entry, keeping);
    return n;
}

int32_t writeString(const char* section, const char* key, const char* value, const char* fileName, bool keeping)
{
    KaIniFileCacheList* list = nullptr;
    KaIniFileCache* entry = openByName(fileName, kIniOpenCreate, &list, SectionForms(section));
    if (!entry)
        return 0;
    int32_t rc = entry->writeProfileString(section, key, value);
    handBack(list, entry, keeping);
    return rc;
}
}  // namespace

int32_t KaGetPrivateProfileString(const char* section, const char* key, const char* defaultValue, char* output,
                                  int32_t size, const char* fileName) noexcept
{
    return readString(section, key, defaultValue, output, size, fileName, true);
}

int32_t KaGetPrivateProfileStringRelease(const char* section, const char* key, const char* defaultValue, char* output,
                                         int32_t size, const char* fileName) noexcept
{
    return readString(section, key, defaultValue, output, size, fileName, false);
}

int32_t KaGetPrivateProfileStringW(const uint16_t* section, const uint16_t* key, const uint16_t* defaultValue,
                                   uint16_t* output, int32_t units, const uint16_t* fileName) noexcept
{
    if (!output || units <= 0)
        return 0;
    char name[kIniPathMax + 1];
    size_t before = errorCount();
    KaIniFileCacheList* list = nullptr;
    KaIniFileCache* entry = nullptr;
    if (fileName && utf16ToUtf8Name(name, sizeof name, fileName) >= 0)
        entry = openByName(name, kIniOpenRead, &list, SectionForms(section));
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

int32_t KaGetPrivateProfileSection(const char* section, char* output, int32_t size, const char* fileName) noexcept
{
    KaIniFileCacheList* list = nullptr;
    KaIniFileCache* entry = openByName(fileName, kIniOpenRead, &list, SectionForms(section));
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

int32_t KaWritePrivateProfileStringW(const uint16_t* section, const uint16_t* key, const uint16_t* value,
                                     const uint16_t* fileName) noexcept
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

int32_t KaDataSourceMissing(const uint16_t* name, char* userFile, char* systemFile, size_t size) noexcept
{
    char text[kIniWideSectionUtf8];
    if (!name || !name[0] || !userFile || !systemFile || size == 0 || KaUtf16ToUtf8(text, sizeof text, name) <= 0 ||
        strcasecmp(text, "Default") == 0)
        return 0;
    static const uint16_t kDriver[] = {'D', 'r', 'i', 'v', 'e', 'r', 0};
    static const uint16_t kOdbcIni[] = {'.', 'o', 'd', 'b', 'c', '.', 'i', 'n', 'i', 0};
    static const uint16_t kEmpty[] = {0};
    uint16_t driver[kIniPathMax];
    if (KaGetPrivateProfileStringW(name, kDriver, kEmpty, driver, kIniPathMax, kOdbcIni) > 0)
        return 0;
    char defaultDriver[kIniPathMax];
    if (KaGetPrivateProfileStringRelease("Default", "Driver", "", defaultDriver, sizeof defaultDriver, ".odbc.ini") > 0)
        return 0;
    if (!bosUserConfigPath(userFile, size, true))
        strCopyTrunc(userFile, "~/.odbc.ini", static_cast<int32_t>(size));
    // The path is there whether the file exists or not.
    (void)bosSystemConfigPath(systemFile, size, true);
    return 1;
}

// ---- One-shot operations ------------------------------------------------

namespace {

// Runs an operation on a private entry loaded for it alone: 1 when the file
// cannot be loaded, else the operation's result.
template <typename Operation>
int64_t onPrivateEntry(const char* fileName, int32_t openMode, Operation operation)
{
    std::unique_ptr<KaIniFileCache> entry(new KaIniFileCache());
    if (entry == nullptr || KaIniOpen(entry.get(), fileName, openMode) != 0)
        return 1;
    return operation(*entry);
}

}  // namespace

int64_t bosGetProfileStringFile(const char* section, const char* key, const char* defaultValue, char* output,
                                int32_t size, const char* fileName) noexcept
{
    return onPrivateEntry(fileName, kIniOpenRead, [&](KaIniFileCache& entry) {
        return entry.getProfileString(section, key, defaultValue, output, size, 1);
    });
}

int64_t bosGetProfileIntFile(const char* section, const char* key, int64_t defaultValue, const char* fileName) noexcept
{
    return onPrivateEntry(fileName, kIniOpenRead,
                          [&](KaIniFileCache& entry) { return entry.getProfileInt(section, key, defaultValue); });
}

int64_t bosWriteProfileStringFile(const char* section, const char* key, const char* value,
                                  const char* fileName) noexcept
{
    return onPrivateEntry(fileName, kIniOpenCreate,
                          [&](KaIniFileCache& entry) { return entry.writeProfileString(section, key, value); });
}

// ---- Line reader ----------------------------------------------------------

void bosIniReadLine(const char* text, int64_t* position, char* output, int64_t capacity, int64_t* length) noexcept
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

}  // namespace

namespace {

// One request against the list and the descriptor's record locks, under the
// list's lock: 0, or the errno value to post.
int changeRangeLocks(int32_t fd, const struct stat& st, uint64_t offset, uint64_t length, int32_t mode)
{
    const uint64_t self = bosGetThreadId();
    struct flock fl;
    memset(&fl, 0, sizeof fl);
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    KaLockGuard<KaCriticalSection> guard(bosLockListLock);
    size_t found = bosLockList.count;
    for (size_t i = 0; i < bosLockList.count; ++i) {
        auto* r = static_cast<BosLockRecord*>(bosLockList.items[i]);
        if (r->inode != st.st_ino || r->device != st.st_dev)
            continue;
        if (r->thread == self && r->offset == offset && r->length == length) {
            found = i;
            break;
        }
        if (mode != kLockRangeFree && r->thread != self && overlaps(*r, offset, length))
            return EAGAIN;
    }
    if (mode == kLockRangeFree) {
        if (found < bosLockList.count) {
            auto* r = static_cast<BosLockRecord*>(bosLockList.items[found]);
            if (--r->uses <= 0) {
                fl.l_type = F_UNLCK;
                fcntl(fd, F_SETLK, &fl);
                bosLockList.deleteAt(found);
            }
        }
        return 0;
    }
    if (found < bosLockList.count) {
        ++static_cast<BosLockRecord*>(bosLockList.items[found])->uses;
        return 0;
    }
    fl.l_type = (mode == kLockRangeWrite) ? F_WRLCK : F_RDLCK;
    if (fcntl(fd, F_SETLK, &fl) != 0) {
        // A range held by another process reads as locked, not as denied.
        return errno == EACCES ? EAGAIN : errno;
    }
    auto* r = new BosLockRecord();
    if (!r || bosLockList.append(r) != 0) {
        delete r;
        fl.l_type = F_UNLCK;
        fcntl(fd, F_SETLK, &fl);
        return ENOMEM;
    }
    r->thread = self;
    r->inode = st.st_ino;
    r->device = st.st_dev;
    r->offset = offset;
    r->length = length;
    r->uses = 1;
    return 0;
}

}  // namespace

int32_t bosLockRange(int32_t fd, uint64_t offset, uint64_t length, int32_t mode) noexcept
{
    struct stat st;
    if (fd <= 0 || fstat(fd, &st) != 0) {
        bosMapError(fd <= 0 ? EBADF : errno, nullptr);
        return 1;
    }
    int err = changeRangeLocks(fd, st, offset, length, mode);
    if (err == 0)
        return 0;
    bosMapError(err, nullptr);
    return 1;
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

int32_t KaIni::getProfileStringMode(const char* section, const char* key, const char* defaultValue, char* output,
                                    int32_t size, int32_t keyMode) noexcept
{
    if (!checkOpen())
        return strCopyTrunc(output, defaultValue, size);
    return entry->getProfileString(section, key, defaultValue, output, size, keyMode);
}

int32_t KaIni::getProfileString(const char* section, const char* key, const char* defaultValue, char* output,
                                int32_t size) noexcept
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
    // The wrapper's writers give 0 either way; a failed write has posted its
    // diagnostic.
    static_cast<void>(entry->writeProfileString(section, key, value));
    return 0;
}

int32_t KaIni::deleteProfileKey(const char* section, const char* key) noexcept
{
    return writeProfileString(section, key, nullptr);
}
