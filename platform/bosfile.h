// Files of the operating-system layer: opening by a flag word (temporary,
// home-relative and configuration-file names included), the private
// temporary files every part of the driver makes, reading, writing,
// truncating, deleting and renaming, and the questions about a file's
// existence, size and access. Used by the ini files, the sort engine and
// every other part that keeps data on disk.
#pragma once
#include <cstddef>
#include <cstdint>

// Flag word of bosfopen.
enum : uint32_t {
    BOS_OPEN_CREATE = 0x1,          // O_RDWR|O_CREAT
    BOS_OPEN_READWRITE = 0x2,       // existing file read-write (else read-only)
    BOS_OPEN_CREATE_MISSING = 0x4,  // add O_CREAT when not an existing regular file
    BOS_OPEN_HOME = 0x8,            // name relative to $HOME
    BOS_OPEN_SEARCH = 0x10,         // on failure search along PATH and retry
    BOS_OPEN_EXCLUSIVE = 0x20,      // with CREATE: O_EXCL
    BOS_OPEN_TEMP = 0x40,           // fresh private temporary file (implies CREATE)
    BOS_OPEN_RESOLVE_ONLY = 0x100,  // resolve the name, open nothing, descriptor 0
    BOS_OPEN_CONFIG = 0x200,        // resolve odbc.ini, odbcinst.ini, .kalib.ini, .system.defaults
    BOS_OPEN_NO_LOCK = 0x400,
    BOS_OPEN_SHARED_LOCK = 0x800,
    BOS_OPEN_EXCL_LOCK = 0x1000,  // with READWRITE
    BOS_OPEN_TRUNCATE = 0x2000,   // with CREATE
    BOS_OPEN_APPEND = 0x4000,
};

// The byte that every opener of a driver file locks: bosfopen takes its
// record lock, the ini writer its description lock.
constexpr int64_t BOS_FILE_LOCK_OFFSET = 1;

// Codes of bosFileAccess.
enum : int {
    BOS_ACCESS_WRITABLE = 1,
    BOS_ACCESS_DIRECTORY = 2,
    BOS_ACCESS_READONLY = 5,
    BOS_ACCESS_MISSING = 8,
    BOS_ACCESS_FAILED = 16,
    BOS_ACCESS_OTHER = 32,
};

// name: the caller's buffer of at least BOS_PATH_SIZE bytes; on return it
// holds the name actually used (temporary or resolved name).
[[nodiscard]] int bosfopen(char* name, uint32_t flags, int32_t* fd);
[[nodiscard]] int bosfopenW(const uint16_t* name, uint32_t flags, int32_t* fd);
// Creates a fresh private file (O_EXCL, mode 0600) in $KA_TMPDIR, else
// $TMPDIR, else /tmp; its name goes to name (size bytes). Every temporary
// file of the driver is made through here. Posts on failure.
[[nodiscard]] int bosCreateTempFile(char* name, size_t size, int32_t* fd);
// Closing and deleting are mostly clean-up whose failure the caller cannot
// act on, so their results may be ignored.
int bosfclose(int32_t fd);
int bosfdelete(const char* path);
int bosfdeleteW(const uint16_t* path);
// offset < 0: at the current position. *count = bytes read, 0 at end of file.
[[nodiscard]] int bosfread(int32_t fd, int64_t offset, void* buffer, uint64_t size, uint64_t* count);
// Returns the new position or -1.
[[nodiscard]] int64_t bosfseek(int32_t fd, int64_t offset, int whence);
// offset -1: at the current position.
[[nodiscard]] int bosfwrite(int32_t fd, int64_t offset, const void* data, uint64_t length);
// convert 0: length is in bytes; else the text (length units) is written as UTF-8.
[[nodiscard]] int bosfwriteW(int32_t fd, int64_t offset, const uint16_t* data, uint64_t length, int convert);
[[nodiscard]] int bosftrunc(int32_t fd, int64_t length);
[[nodiscard]] int bosftruncQuiet(int32_t fd, int64_t length);  // posts nothing
[[nodiscard]] int bosftruncPath(const char* path, int64_t length);
// Posts nothing.
[[nodiscard]] int bosGetFileTimeSize(const char* path, int32_t* mtime, uint64_t* size);
[[nodiscard]] int bosGetFileTimeSizeW(const uint16_t* path, int32_t* mtime, uint64_t* size);
[[nodiscard]] int bosGetFileSizeW(const uint16_t* path, uint64_t* size);
// 1 when path is a regular file, else 0.
[[nodiscard]] int bosexist(const char* path);
// The system's odbc.ini (odbcIni) or odbcinst.ini, as unixODBC places them:
// in ODBCSYSINI's folder, else /etc. True when that file exists; its path
// is in out either way when it fits.
[[nodiscard]] bool bosSystemConfigPath(char* out, size_t size, bool odbcIni) noexcept;
// The user's odbc.ini (odbcIni: ODBCINI, else ODBC_INI, else
// $HOME/.odbc.ini) or odbcinst.ini (ODBCINST, else ODBCINSTINI, else
// $HOME/.odbcinst.ini), whether it exists or not. False when none of the
// variables is set or the path does not fit.
[[nodiscard]] bool bosUserConfigPath(char* out, size_t size, bool odbcIni) noexcept;
[[nodiscard]] int bosexistW(const uint16_t* path);
[[nodiscard]] int bosFileAccess(const char* path);
[[nodiscard]] int bosRename(const char* oldName, const char* newName);
[[nodiscard]] int bosRenameW(const uint16_t* oldName, const uint16_t* newName);
// 1 when a file can be created in the directory part of path, else 0.
[[nodiscard]] int bosDirWritable(const char* path);
