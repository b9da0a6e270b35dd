// The operating-system layer: files by flag word, temporary files, paths,
// library search and loading, the install directory, the message catalogue,
// host, user and time. The rest of the driver reaches the machine only here.
//
// Unless a comment says otherwise an operation returns 0 for success and 1
// for failure after posting a diagnostic into the calling thread's error list.
// Descriptors are POSIX descriptors in 32-bit integers; 0 means "none" (this
// layer never hands out descriptor 0, see bosfopen).
#pragma once
#include <cstddef>
#include <cstdint>

// Every path buffer handed to this layer holds at least this many bytes.
constexpr size_t BOS_PATH_SIZE = 1024;
constexpr size_t BOS_INSTALL_DIR_SIZE = 1025;
constexpr size_t BOS_HOST_NAME_SIZE = 256;
// bosSplitPath: name part at most 128 characters, extension at most 3.
constexpr size_t BOS_SPLIT_NAME_MAX = 128;
constexpr size_t BOS_SPLIT_EXT_MAX = 3;
// Largest catalogue text LoadStringFromOpenFileW produces, in UTF-16 units.
constexpr size_t BOS_MESSAGE_UNITS_MAX = 4096;

// Bits of bosDebugFlags (environment variable KA_DEBUGGING, hexadecimal).
enum : uint64_t {
  BOS_TRACE_FOPEN = 0x1,
  BOS_TRACE_LOCATE = 0x2,
  BOS_TRACE_LOADLIB = 0x4,
  BOS_TRACE_STRINGS = 0x8,
  BOS_TRACE_INI_WRITE = 0x10,
  BOS_TRACE_INI_READ = 0x20,
  BOS_TRACE_INI_OPEN = 0x80,
  BOS_TRACE_EXIST = 0x100,
  BOS_TRACE_FIND = 0x200,
  BOS_TRACE_PATH = 0x400,
};

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
  BOS_OPEN_EXCL_LOCK = 0x1000,    // with READWRITE
  BOS_OPEN_TRUNCATE = 0x2000,     // with CREATE
  BOS_OPEN_APPEND = 0x4000,
};

// Search bits of LocateFile, in the order the search list is built.
enum : uint32_t {
  BOS_SEARCH_PATH = 0x1,     // $PATH
  BOS_SEARCH_HOME = 0x2,     // $HOME
  BOS_SEARCH_KA = 0x4,       // $KA, $KALIB
  BOS_SEARCH_LIBPATH = 0x8,  // $LD_LIBRARY_PATH_64, $LD_RUN_PATH, /usr/local/lib; also "../"
  BOS_SEARCH_CWD = 0x10,
  BOS_SEARCH_INSTALL = 0x20, // install directory and its "lib"
};

// Codes of bosFileAccess.
enum : int {
  BOS_ACCESS_WRITABLE = 1,
  BOS_ACCESS_DIRECTORY = 2,
  BOS_ACCESS_READONLY = 5,
  BOS_ACCESS_MISSING = 8,
  BOS_ACCESS_FAILED = 16,
  BOS_ACCESS_OTHER = 32,
};

struct BosLocalTime {
  uint16_t day;     // 1-31
  uint16_t month;   // 1-12
  uint16_t year;    // four digits
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
  uint16_t millisecond;
};

// Read once at library load from KA_DEBUGGING.
extern uint64_t bosDebugFlags;
// Empty until first needed; without a trailing "/".
extern char bosInstallDir[BOS_INSTALL_DIR_SIZE];

// --- Name conversion (ISO-8859-1 for names, UTF-8 for bosfopenW) ---------
// Each returns the length written (bytes or units) or -1 after posting the
// converter's diagnostic. Inputs are NUL-terminated; null gives "" and 0.
int64_t KaUtf16ToLocal(char* out, size_t size, const uint16_t* in);
int64_t KaUtf16ToLocal1024(char* out, const uint16_t* in);
int64_t KaLocalToUtf16(uint16_t* out, size_t units, const char* in);
int64_t KaLocalToUtf16_1024(uint16_t* out, const char* in);
int64_t KaUtf16ToUtf8(char* out, size_t size, const uint16_t* in);
int64_t KaUtf16ToUtf8_1024(char* out, const uint16_t* in);

// --- Files ---------------------------------------------------------------
// name: the caller's buffer of at least BOS_PATH_SIZE bytes; on return it
// holds the name actually used (temporary or resolved name).
int bosfopen(char* name, uint32_t flags, int32_t* fd);
int bosfopenW(const uint16_t* name, uint32_t flags, int32_t* fd);
// Creates a fresh private file (O_EXCL, mode 0600) in $KA_TMPDIR, else
// $TMPDIR, else /tmp; its name goes to name (size bytes). Every temporary
// file of the driver is made through here. Posts on failure.
int bosCreateTempFile(char* name, size_t size, int32_t* fd);
int bosfclose(int32_t fd);
int bosfdelete(const char* path);
int bosfdeleteW(const uint16_t* path);
// offset < 0: at the current position. *count = bytes read, 0 at end of file.
int bosfread(int32_t fd, int64_t offset, void* buffer, uint64_t size, uint64_t* count);
// Returns the new position or -1.
int64_t bosfseek(int32_t fd, int64_t offset, int whence);
// offset -1: at the current position.
int bosfwrite(int32_t fd, int64_t offset, const void* data, uint64_t length);
// convert 0: length is in bytes; else the text (length units) is written as UTF-8.
int bosfwriteW(int32_t fd, int64_t offset, const uint16_t* data, uint64_t length, int convert);
int bosftrunc(int32_t fd, int64_t length);
int bosftruncQuiet(int32_t fd, int64_t length);  // posts nothing
int bosftruncPath(const char* path, int64_t length);
// Posts nothing.
int bosGetFileTimeSize(const char* path, int32_t* mtime, uint64_t* size);
int bosGetFileTimeSizeW(const uint16_t* path, int32_t* mtime, uint64_t* size);
int bosGetFileSizeW(const uint16_t* path, uint64_t* size);
// 1 when path is a regular file, else 0.
int bosexist(const char* path);
int bosexistW(const uint16_t* path);
int bosFileAccess(const char* path);
int bosRename(const char* oldName, const char* newName);
int bosRenameW(const uint16_t* oldName, const uint16_t* newName);
// 1 when a file can be created in the directory part of path, else 0.
int bosDirWritable(const char* path);
// path: BOS_PATH_SIZE bytes. Left unchanged (result 1) when the absolute
// form does not fit or the current directory cannot be read.
int bosMakeAbsolutePath(char* path);
// buffer: BOS_PATH_SIZE bytes; empty when the directory cannot be read.
void bosGetCwd(char* buffer, int slash);
int bosChdir(const char* path);

// --- Paths and names -------------------------------------------------------
// out: BOS_PATH_SIZE bytes; 1 when the result does not fit (out empty).
int bospath(char* out, const char* dir, const char* name, const char* defaultExt);
// out: BOS_PATH_SIZE units.
int bospathW(uint16_t* out, const uint16_t* dir, const uint16_t* name, const uint16_t* defaultExt);
// path (in/out) is cut to its directory; name: BOS_SPLIT_NAME_MAX + 1 bytes,
// ext: BOS_SPLIT_EXT_MAX + 1 bytes.
int bosSplitPath(char* path, char* name, char* ext, int report);
int bosSplitPathW(uint16_t* path, uint16_t* name, uint16_t* ext, int report);
void bosStripCwd(char* path);
// name: BOS_PATH_SIZE bytes; 1 when the result does not fit (name unchanged).
int bosHomePath(char* name);
// Enumerations: *cursor null on the first call; at the end the cursor is
// freed and set to null and name is empty. name: BOS_PATH_SIZE bytes.
int bosNextSubdir(void** cursor, char* name);
int bosNextMount(void** cursor, char* name);
// First call: name holds the pattern (shell wildcards); every call returns
// the next matching file name (without its directory) in name.
int bosFindFiles(void** cursor, char* name);

// --- Environment, host, user, time -----------------------------------------
const char* bosGetEnv(const char* name);
// value: capacity units; returns value or null.
uint16_t* bosGetEnvW(const uint16_t* name, uint16_t* value, size_t capacity);
// buffer: size bytes including the terminator.
int bosGetHostName(char* buffer, size_t size);
int bosGetHostNameW(uint16_t* buffer, size_t units);
int bosGetComputerName(char* buffer, size_t size);
int bosGetComputerNameW(uint16_t* buffer, size_t units);
int bosGetUserName(char* buffer, size_t size);
int bosGetUserNameW(uint16_t* buffer, size_t units);
int bosGetProcessName(char* buffer, size_t size);
int64_t bosGetCpuCount();
void bosGetLocalTime(BosLocalTime* t);
void bosSleep(uint16_t milliseconds);
uint64_t bosGetThreadId();
void bosUpper(char* buffer, size_t n);
void bosLower(char* buffer, size_t n);

// --- Libraries, install directory, catalogue, errors -------------------------
// pathOut: BOS_PATH_SIZE bytes or null. 0 when found, 1 when not (posts nothing).
int LocateFile(char* pathOut, const char* name, uint32_t searchBits);
// Library handle or null.
void* LoadLibrary(const char* name, int32_t versionFlag, int32_t loaderFlags);
void* LoadLibraryW(const uint16_t* name, int32_t versionFlag);
// Appends the driver's version suffix "28"; 1 when it does not fit.
int bosAppendVersionSuffix(char* name, size_t size);
// dir null: $TW_INSTALLDIR, else InstallDir of [ODBC] in odbc.ini, then in
// odbcinst.ini. Returns 1 when the install directory stays empty.
int bosInitInstallDir(const char* dir);
// Copies the install directory into out (size bytes) under its lock.
void bosGetInstallDir(char* out, size_t size);

// The shared catalogue <install>/locale/<lang>/LC_MESSAGES/<baseName>.mo,
// counted by *counter when given. Posts nothing.
int OpenStrings(const char* baseName, void* reserved1, void* reserved2, int32_t* counter);
int CloseStrings(void* reserved, int32_t* counter);
// Text of message number into buffer (size bytes, always terminated); the
// number in decimal when there is no text. Returns the length stored; a
// size of 0 stores nothing and returns 0.
int64_t LoadStringFromOpenFile(const char* reserved, uint32_t number, char* buffer, size_t size);
// units: capacity including the terminator (above BOS_MESSAGE_UNITS_MAX taken
// as that). Returns units stored.
int64_t LoadStringFromOpenFileW(const char* reserved, uint32_t number, uint16_t* buffer, size_t units);
// The same on a catalogue that the caller keeps; *handle is null when none.
int OpenStringsHandle(const char* baseName, void** handle);
int CloseStringsHandle(void** handle);
int64_t LoadStringFromHandle(void* handle, uint32_t number, char* buffer, size_t size);

// Posts the diagnostic for an errno value; name may be null.
void bosMapError(int error, const char* name);
void bosMapErrorW(int error, const uint16_t* name);
