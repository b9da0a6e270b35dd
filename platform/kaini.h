// Ini files (odbc.ini, odbcinst.ini and the library's own): a process-wide
// cache of whole-file images, the profile-string readers and writers over it,
// and the KaIni wrapper. Used by the install-directory lookup, the connect
// path, connection options, pooling and data-source setup.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaarray.h"
#include "foundation/kalock.h"
#include "foundation/kaobject.h"
#include "platform/bos.h"

// Work-buffer limits of the reader and writer.
constexpr size_t kIniValueBuffer = 2048;       // a value read (at most 2047 bytes)
constexpr size_t kIniHeaderBuffer = 528;       // "[" section "]" and its 0
constexpr size_t kIniIntDigits = 19;           // characters the integer reader reads
constexpr size_t kIniPathMax = BOS_PATH_SIZE;  // a file name and its 0
constexpr size_t kIniWideSectionUtf8 = 512;    // a UTF-16 section converted to UTF-8

// Open modes given to KaIniOpen and KaIniFileCacheList::findOrOpen.
constexpr int32_t kIniOpenRead = 0;
constexpr int32_t kIniOpenCreate = 4;

// One cached ini file. Fields are guarded by the entry's semaphore.
class KaIniFileCache : public KaObject {
public:
    KaIniFileCache() noexcept;
    ~KaIniFileCache() override;

    // Reloads the image when the file's time or size changed on disk: 0 when
    // the image is current, else the result of the reload; 1 when the file's
    // status cannot be read.
    [[nodiscard]] int32_t refresh() noexcept;

    // Section header "[" name "]" (brackets included): 1 when found, with the
    // "[" and the start of the next section (or the image's end).
    [[nodiscard]] int32_t findSection(const char* header, char** sectionStart, char** nextSection) noexcept;
    // Key within [*lineStart, sectionEnd): 1 when found; *lineStart becomes the
    // key's line, the value runs from *valueStart to *valueEnd. keyMode 1
    // compares ignoring case.
    [[nodiscard]] int32_t findKey(const char* key, char** lineStart, const char* sectionEnd, char** valueStart,
                                  char** valueEnd, int32_t keyMode) noexcept;

    // 1 when the file (reloaded when it changed) holds the section.
    [[nodiscard]] int32_t hasSection(const char* section) noexcept;

    int32_t getProfileString(const char* section, const char* key, const char* defaultValue, char* output, int32_t size,
                             int32_t keyMode) noexcept;
    int32_t getProfileStringW(const uint16_t* section, const uint16_t* key, const uint16_t* defaultValue,
                              uint16_t* output, int32_t units) noexcept;
    int64_t getProfileInt(const char* section, const char* key, int64_t defaultValue) noexcept;
    int32_t getProfileSection(const char* section, char* output, int32_t size) noexcept;
    // key and value: set; null value: delete the key; null key: delete the
    // section. 1 written, 0 not.
    [[nodiscard]] int32_t writeProfileString(const char* section, const char* key, const char* value) noexcept;

    void addRef() noexcept;
    // Drops one reference; 1 when none is left (the caller deletes it then).
    [[nodiscard]] int32_t dropRef() noexcept;

    // The entry's semaphore, for callers that cannot hold it through
    // KaLockGuard<KaSemaphore>.
    void lock() noexcept;
    void unlock() noexcept;

    int32_t descriptor = 0;
    uint64_t imageSize = 0;
    int32_t openFlags = 0;
    char* path = nullptr;
    uint16_t* pathW = nullptr;
    int32_t utf8Marked = 0;
    int32_t modTime = 0;
    int32_t refCount = 1;
    char* image = nullptr;
    bool loaded = false;
    KaSemaphore semaphore;

    // Bytes of the file held in image (the terminating 0 not counted); the
    // file may have changed size between measuring and reading it.
    uint64_t imageLength = 0;
    // 1 while the list holds the one reference of the keeping operations,
    // so that the list can give exactly that reference back when it goes.
    bool keptByList = false;
    // 1 once the list that held the entry is gone; the last holder deletes it.
    bool detached = false;

private:
    // Reads the whole open file into image, with its time and size: 0/1.
    [[nodiscard]] int32_t loadImage(int32_t fd) noexcept;
    void dropImage() noexcept;
    // The file's name (the UTF-16 one in UTF-8 when set) under the entry's
    // lock: 0/1.
    [[nodiscard]] int32_t copyName(char (&name)[kIniPathMax]) noexcept;
    int32_t listSections(char* output, int32_t size) noexcept;
    int32_t listKeys(const char* sectionStart, const char* sectionEnd, char* output, int32_t size) noexcept;
    // getProfileString within the section of header, under the entry's
    // lock: the length stored, or -1 when the default applies.
    int32_t readSection(const char* header, const char* section, const char* key, char* output, int32_t size,
                        int32_t keyMode) noexcept;
    // writeProfileString once the text is known to be writable: 1 written,
    // 0 not.
    int32_t rewrite(const char* section, const char* key, const char* value) noexcept;
    // Under the entry's lock: locks the file, reads it again, applies the
    // change and puts the new text in place. 0 done, 1 failed (posted).
    [[nodiscard]] int32_t rewriteLocked(const char* header, const char* section, const char* key,
                                        const char* value) noexcept;
    friend int32_t KaIniOpen(KaIniFileCache*, const char*, int32_t) noexcept;
};

// The process-wide list of cached files, kept in the task slot
// KA_TASK_SLOT_INI_CACHE.
class KaIniFileCacheList : public KaObject {
public:
    KaIniFileCacheList() noexcept;
    // Gives back the list's own references; entries still held by callers
    // stay alive, detached, until their holders release them.
    ~KaIniFileCacheList() override;

    [[nodiscard]] KaIniFileCache* findOrOpen(const char* fileName, int32_t openMode) noexcept;
    void release(KaIniFileCache* entry) noexcept;
    // Turns the caller's reference into the list's keeping reference (at most
    // one per entry).
    void keep(KaIniFileCache* entry) noexcept;

    KaSemaphore semaphore;
    KaArray entries;
};

// The list in its task slot, created when asked for and missing; null only
// when it cannot be created.
KaIniFileCacheList* KaIniFileCacheListGet(int32_t create) noexcept;

// Loads the file into the entry: 0 on success, 1 on failure.
[[nodiscard]] int32_t KaIniOpen(KaIniFileCache* entry, const char* fileName, int32_t openMode) noexcept;

// Holding an entry: open (kIniOpenCreate, created when missing) and release.
[[nodiscard]] KaIniFileCache* KaIniFileOpenCached(const char* fileName) noexcept;
void KaIniFileRelease(KaIniFileCache* entry) noexcept;

// The profile operations on an entry the caller holds.
int32_t KaIniFileGetString(KaIniFileCache* entry, const char* section, const char* key, const char* defaultValue,
                           char* output, int32_t size) noexcept;
int32_t KaIniFileGetStringW(KaIniFileCache* entry, const uint16_t* section, const uint16_t* key,
                            const uint16_t* defaultValue, uint16_t* output, int32_t units) noexcept;
int64_t KaIniFileGetInt(KaIniFileCache* entry, const char* section, const char* key, int64_t defaultValue) noexcept;
int64_t KaIniFileGetIntW(KaIniFileCache* entry, const uint16_t* section, const uint16_t* key,
                         int64_t defaultValue) noexcept;
[[nodiscard]] int32_t KaIniFileWriteString(KaIniFileCache* entry, const char* section, const char* key,
                                           const char* value) noexcept;
[[nodiscard]] int32_t KaIniFileWriteStringW(KaIniFileCache* entry, const uint16_t* section, const uint16_t* key,
                                            const uint16_t* value) noexcept;

// The profile operations by file name. The plain forms keep the file in the
// cache; the Release and W forms give their reference back. As unixODBC
// looks data sources and drivers up, a section that the user's odbc.ini or
// odbcinst.ini (named "ODBC.INI", ".odbc.ini", "ODBCINST.INI" or
// ".odbcinst.ini") lacks is read from the system's file ($ODBCSYSINI, else
// /etc) when that one holds it, and written there too.
int32_t KaGetPrivateProfileString(const char* section, const char* key, const char* defaultValue, char* output,
                                  int32_t size, const char* fileName) noexcept;
int32_t KaGetPrivateProfileStringRelease(const char* section, const char* key, const char* defaultValue, char* output,
                                         int32_t size, const char* fileName) noexcept;
int32_t KaGetPrivateProfileStringW(const uint16_t* section, const uint16_t* key, const uint16_t* defaultValue,
                                   uint16_t* output, int32_t units, const uint16_t* fileName) noexcept;
int64_t KaGetPrivateProfileInt(const char* section, const char* key, int64_t defaultValue,
                               const char* fileName) noexcept;
int64_t KaGetPrivateProfileIntRelease(const char* section, const char* key, int64_t defaultValue,
                                      const char* fileName) noexcept;
int64_t KaGetPrivateProfileIntW(const uint16_t* section, const uint16_t* key, int64_t defaultValue,
                                const uint16_t* fileName) noexcept;
int32_t KaGetPrivateProfileSection(const char* section, char* output, int32_t size, const char* fileName) noexcept;
// The writers: 1 written, 0 not.
[[nodiscard]] int32_t KaWritePrivateProfileString(const char* section, const char* key, const char* value,
                                                  const char* fileName) noexcept;
[[nodiscard]] int32_t KaWritePrivateProfileStringRelease(const char* section, const char* key, const char* value,
                                                         const char* fileName) noexcept;
[[nodiscard]] int32_t KaWritePrivateProfileStringW(const uint16_t* section, const uint16_t* key, const uint16_t* value,
                                                   const uint16_t* fileName) noexcept;

// 1 when name (UTF-16) names a data source that neither the user's nor the
// system's odbc.ini defines (no Driver key), and no [Default] data source
// stands in for unknown names as unixODBC's DEFAULT does; userFile and
// systemFile (size bytes each) then hold the paths of the two files. 0
// for an empty name, "Default" itself, or a defined data source.
int32_t KaDataSourceMissing(const uint16_t* name, char* userFile, char* systemFile, size_t size) noexcept;

// One-shot forms on a private entry, outside the cache: 1 when the file
// cannot be loaded, else the entry operation's result.
int64_t bosGetProfileStringFile(const char* section, const char* key, const char* defaultValue, char* output,
                                int32_t size, const char* fileName) noexcept;
int64_t bosGetProfileIntFile(const char* section, const char* key, int64_t defaultValue, const char* fileName) noexcept;
[[nodiscard]] int64_t bosWriteProfileStringFile(const char* section, const char* key, const char* value,
                                                const char* fileName) noexcept;

// Copies src into dest of size bytes: whole with its 0 when shorter than
// size (its length returned), else size-1 bytes and a 0 (size-1 returned).
int32_t strCopyTrunc(char* dest, const char* src, int32_t size) noexcept;

// Copies one line of text from *position into output (capacity bytes, a 0
// always stored) and advances *position past it. *length: the line's length,
// -1 at the end of the text, -2 when the line did not fit.
void bosIniReadLine(const char* text, int64_t* position, char* output, int64_t capacity, int64_t* length) noexcept;

// Record locks on byte ranges of an open descriptor, counted per thread in a
// process-wide list. mode: kLockRangeRead shared, kLockRangeWrite exclusive
// (neither waits), kLockRangeFree frees one use of the range. 0 done, 1
// failed (posted; MSG_RESOURCE_TEMPORARILY_UNAVAILABLE when the range is
// held elsewhere).
constexpr int32_t kLockRangeFree = 0;
constexpr int32_t kLockRangeRead = 1;
constexpr int32_t kLockRangeWrite = 2;
[[nodiscard]] int32_t bosLockRange(int32_t fd, uint64_t offset, uint64_t length, int32_t mode) noexcept;

// 1 when a key names a secret whose value trace output must not show.
int32_t KaIniIsSecretKey(const char* key) noexcept;

// One ini file held open through the cache.
class KaIni : public KaObject {
public:
    KaIni() noexcept;
    ~KaIni() override;
    [[nodiscard]] virtual int32_t open(const char* fileName) noexcept;
    virtual int32_t close() noexcept;

    int32_t getProfileStringMode(const char* section, const char* key, const char* defaultValue, char* output,
                                 int32_t size, int32_t keyMode) noexcept;
    int32_t getProfileString(const char* section, const char* key, const char* defaultValue, char* output,
                             int32_t size) noexcept;
    int16_t getProfileInt(const char* section, const char* key, int16_t defaultValue) noexcept;
    int32_t getProfileSection(const char* section, char* output, int32_t size) noexcept;
    int32_t writeProfileString(const char* section, const char* key, const char* value) noexcept;
    int32_t deleteProfileKey(const char* section, const char* key) noexcept;
    // 1 when a file is open; else posts MSG_INI_FILE_NOT_OPEN and gives 0.
    [[nodiscard]] int32_t checkOpen() noexcept;

    KaIniFileCache* entry = nullptr;
    char* fileName = nullptr;
};
