// The operating-system layer. Every call the driver makes to the machine by
// name (files, directories, environment, loader, catalogue, users, time)
// lives here.
#include "platform/bos.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <glob.h>
#include <langinfo.h>
#include <locale.h>
#include <mntent.h>
#include <nl_types.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include "foundation/codepage.h"
#include "foundation/icucache.h"
#include "foundation/kaerror.h"
#include "foundation/kalock.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/kaini.h"

uint64_t bosDebugFlags = 0;
char bosInstallDir[BOS_INSTALL_DIR_SIZE];

namespace {

constexpr size_t kHostBuffer = BOS_HOST_NAME_SIZE + 1;
constexpr size_t kPasswdBuffer = 4096;
constexpr size_t kLoaderTextSize = 256;
constexpr size_t kAppendTextSize = 512;
constexpr size_t kDecimalSize = 24;
constexpr size_t kLocaleNameSize = 256;
constexpr size_t kMountBuffer = 4096;
constexpr int64_t kNameCodePage = 4;      // ISO-8859-1: names that are not file names
constexpr int64_t kDefaultCodePage = 0;   // ICU's default converter
constexpr char kTempPrefix[] = "ka";
constexpr char kProbePrefix[] = "$$$ka$$$.";
constexpr char kVersionSuffix[] = "28";

// The debug word is read before any other static initialiser of the
// library can trace.
__attribute__((constructor(101))) void bosReadDebugFlags()
{
  const char* v = getenv("KA_DEBUGGING");
  unsigned long flags = 0;
  if (v && sscanf(v, "%lx", &flags) == 1)
    bosDebugFlags = flags;
}

// Process-wide locks, made on first use so that static initialisers of
// other units may already call this layer.
KaCriticalSection& locateLock()
{
  static KaCriticalSection lock(0, kKaLockPlain);
  return lock;
}

KaCriticalSection& stringsLock()
{
  static KaCriticalSection lock(0, kKaLockPlain);
  return lock;
}

KaCriticalSection& lookupLock()
{
  static KaCriticalSection lock(0, kKaLockPlain);
  return lock;
}

// Converters for the name conversions (ISO-8859-1 and the default one).
KaIcuCache& nameConverters()
{
  static KaIcuCache cache;
  return cache;
}

// Constant-initialised, so that it is valid before any static initialiser
// runs; -1 (catopen's failure value) means no catalogue is open.
constexpr intptr_t kNoCatalogueValue = -1;
intptr_t catalogueValue = kNoCatalogueValue;

nl_catd noCatalogue()
{
  return reinterpret_cast<nl_catd>(kNoCatalogueValue);
}

bool traced(uint64_t bit)
{
  return (bosDebugFlags & bit) != 0;
}

// Copies src into dst of size bytes; 1 (dst untouched) when it does not fit.
int copyBounded(char* dst, size_t size, const char* src)
{
  size_t n = strlen(src);
  if (n >= size)
    return 1;
  memcpy(dst, src, n + 1);
  return 0;
}

// Copies the first n bytes of src into dst of size bytes (at least 1),
// cutting them to fit, and terminates dst; 0.
int copyTruncated(char* dst, size_t size, const char* src, size_t n)
{
  if (n > size - 1)
    n = size - 1;
  memcpy(dst, src, n);
  dst[n] = 0;
  return 0;
}

// The UTF-16 form of a name query (host, user): its answer in the local
// code page, widened.
int widenedAnswer(int (*query)(char*, size_t), uint16_t* buffer, size_t units)
{
  if (buffer == nullptr || units == 0)
    return 0;
  char answer[kHostBuffer];
  if (query(answer, sizeof answer))
    return 1;
  return KaLocalToUtf16(buffer, units, answer) < 0 ? 1 : 0;
}

// Joins a, a "/" unless a is empty or ends with one, and b into dst.
int joinPath(char* dst, size_t size, const char* a, const char* b)
{
  size_t la = strlen(a);
  size_t lb = strlen(b);
  bool slash = la > 0 && a[la - 1] != '/';
  if (la + slash + lb >= size)
    return 1;
  memmove(dst + la + slash, b, lb + 1);
  if (dst != a)
    memmove(dst, a, la);
  if (slash)
    dst[la] = '/';
  return 0;
}

const char* envValue(const char* name)
{
  const char* v = getenv(name);
  return v && *v ? v : nullptr;
}

bool errorListActive()
{
  return threadGetSlot(KA_THREAD_SLOT_ERROR_LIST) != nullptr;
}

// Descriptor 0 means "none" throughout the driver, so a file that the
// kernel gives descriptor 0 (stdin was closed) is moved above 2.
int notZero(int fd)
{
  if (fd != 0)
    return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  int saved = errno;
  close(fd);
  errno = saved;
  return moved;
}

int setByteLock(int fd, short type)
{
  struct flock fl;
  memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = 1;
  fl.l_len = 1;
  return fcntl(fd, F_SETLK, &fl);
}

// UTF-16 <-> UTF-8 for file names; posts nothing.
int64_t utf16ToUtf8Quiet(char* out, size_t size, const uint16_t* in)
{
  if (in == nullptr) {
    out[0] = 0;
    return 0;
  }
  int32_t len = 0;
  UErrorCode st = U_ZERO_ERROR;
  u_strToUTF8(out, static_cast<int32_t>(size), &len, reinterpret_cast<const UChar*>(in), -1, &st);
  if (U_FAILURE(st) || st == U_STRING_NOT_TERMINATED_WARNING || static_cast<size_t>(len) >= size) {
    out[0] = 0;
    return -1;
  }
  return len;
}

int64_t utf8ToUtf16(uint16_t* out, size_t units, const char* in)
{
  if (units == 0)
    return -1;
  int32_t len = 0;
  UErrorCode st = U_ZERO_ERROR;
  u_strFromUTF8(reinterpret_cast<UChar*>(out), static_cast<int32_t>(units), &len, in, -1, &st);
  if (U_FAILURE(st) || st == U_STRING_NOT_TERMINATED_WARNING || static_cast<size_t>(len) >= units) {
    if (U_FAILURE(st) && st != U_BUFFER_OVERFLOW_ERROR)
      icuErrorToDiag(st);
    else
      errPost(MSG_CONVERSION_FAILED);
    return -1;
  }
  return len;
}

// A UTF-16 file name as the UTF-8 bytes that bosfopenW opens, so that every
// W operation names the same file. Posts on failure.
int pathFromW(char* out, const uint16_t* in)
{
  return KaUtf16ToUtf8_1024(out, in) < 0 ? 1 : 0;
}

// Fills the first two "%s" of a catalogue text; any other "%" stays as it
// is, so a text from outside the driver is never a format.
void fillTwoStrings(char* out, size_t size, const char* format, const char* a, const char* b)
{
  size_t o = 0;
  int used = 0;
  for (const char* p = format; *p && o + 1 < size; ++p) {
    if (p[0] == '%' && p[1] == 's' && used < 2) {
      const char* s = used++ == 0 ? a : b;
      while (*s && o + 1 < size)
        out[o++] = *s++;
      ++p;
    } else {
      out[o++] = *p;
    }
  }
  out[o] = 0;
}

void trimTrailingSpace(char* s, size_t keep)
{
  size_t n = strlen(s);
  while (n > keep && isspace(static_cast<unsigned char>(s[n - 1])))
    s[--n] = 0;
}

// The length of a conversion into 8-bit text, or -1 with out emptied and the
// failure posted. A result that fills the buffer exactly has lost its last
// character, so a missing terminator fails as an overflow does.
int64_t narrowResult(char* out, int32_t len, UErrorCode st)
{
  if (U_FAILURE(st) || st == U_STRING_NOT_TERMINATED_WARNING) {
    out[0] = 0;
    if (st == U_BUFFER_OVERFLOW_ERROR || st == U_STRING_NOT_TERMINATED_WARNING)
      errPost(MSG_CONVERSION_FAILED);
    else
      icuErrorToDiag(st);
    return -1;
  }
  return len;
}

}  // namespace

// --- Name conversion ---------------------------------------------------------

int64_t KaUtf16ToLocal(char* out, size_t size, const uint16_t* in)
{
  if (out == nullptr || size == 0) {
    errPost(MSG_CONVERSION_FAILED);
    return -1;
  }
  out[0] = 0;
  if (in == nullptr)
    return 0;
  size_t n = u_strlen(reinterpret_cast<const UChar*>(in));
  // A name cut to fit would name another object: that is a failure.
  if (n > BOS_PATH_SIZE - 1) {
    errPost(MSG_CONVERSION_FAILED);
    return -1;
  }
  KaConvCallbackContext* ctx;
  UConverter* c = nameConverters().acquire(kNameCodePage, &ctx);
  if (c == nullptr)
    return -1;
  UErrorCode st = U_ZERO_ERROR;
  int32_t len = ucnv_fromUChars(c, out, static_cast<int32_t>(size), reinterpret_cast<const UChar*>(in),
                                static_cast<int32_t>(n), &st);
  nameConverters().release(kNameCodePage, c, ctx);
  return narrowResult(out, len, st);
}

int64_t KaUtf16ToLocal1024(char* out, const uint16_t* in)
{
  return KaUtf16ToLocal(out, BOS_PATH_SIZE, in);
}

int64_t KaLocalToUtf16(uint16_t* out, size_t units, const char* in)
{
  if (out == nullptr || units == 0) {
    errPost(MSG_CONVERSION_FAILED);
    return -1;
  }
  out[0] = 0;
  if (in == nullptr)
    return 0;
  size_t n = strlen(in);
  if (n > units - 1)
    n = units - 1;
  KaConvCallbackContext* ctx;
  UConverter* c = nameConverters().acquire(kNameCodePage, &ctx);
  if (c == nullptr)
    return -1;
  UErrorCode st = U_ZERO_ERROR;
  int32_t len = ucnv_toUChars(c, reinterpret_cast<UChar*>(out), static_cast<int32_t>(units), in,
                              static_cast<int32_t>(n), &st);
  nameConverters().release(kNameCodePage, c, ctx);
  if (U_FAILURE(st) || static_cast<size_t>(len) >= units) {
    out[0] = 0;
    if (U_FAILURE(st) && st != U_BUFFER_OVERFLOW_ERROR)
      icuErrorToDiag(st);
    else
      errPost(MSG_CONVERSION_FAILED);
    return -1;
  }
  out[len] = 0;
  return len;
}

int64_t KaLocalToUtf16_1024(uint16_t* out, const char* in)
{
  return KaLocalToUtf16(out, BOS_PATH_SIZE, in);
}

int64_t KaUtf16ToUtf8(char* out, size_t size, const uint16_t* in)
{
  if (out == nullptr || size == 0) {
    errPost(MSG_CONVERSION_FAILED);
    return -1;
  }
  out[0] = 0;
  if (in == nullptr)
    return 0;
  int32_t len = 0;
  UErrorCode st = U_ZERO_ERROR;
  u_strToUTF8(out, static_cast<int32_t>(size), &len, reinterpret_cast<const UChar*>(in), -1, &st);
  return narrowResult(out, len, st);
}

int64_t KaUtf16ToUtf8_1024(char* out, const uint16_t* in)
{
  return KaUtf16ToUtf8(out, BOS_PATH_SIZE, in);
}

// --- Files -------------------------------------------------------------------

int bosCreateTempFile(char* name, size_t size, int32_t* fd)
{
  *fd = 0;
  const char* dir = envValue("KA_TMPDIR");
  if (dir == nullptr) {
    dir = secure_getenv("TMPDIR");
    if (dir == nullptr || *dir == 0)
      dir = P_tmpdir;
  }
  char pattern[BOS_PATH_SIZE];
  char base[sizeof kTempPrefix + 6];
  snprintf(base, sizeof base, "%sXXXXXX", kTempPrefix);
  if (joinPath(pattern, sizeof pattern, dir, base) || strlen(pattern) >= size) {
    bosMapError(ENAMETOOLONG, dir);
    return 1;
  }
  // mkostemp creates the file with O_EXCL and mode 0600: nobody can have
  // prepared or linked the name, and no two objects share it.
  int d = mkostemp(pattern, O_CLOEXEC);
  if (d >= 0)
    d = notZero(d);
  if (d < 0) {
    bosMapError(errno, dir);
    return 1;
  }
  memcpy(name, pattern, strlen(pattern) + 1);
  *fd = d;
  return 0;
}

namespace {

enum ConfigKind { kConfigNone, kConfigOdbcIni, kConfigOdbcInstIni, kConfigLibIni, kConfigSystemDefaults };

ConfigKind configKind(const char* name)
{
  if (strcasecmp(name, "ODBC.INI") == 0 || strcasecmp(name, ".odbc.ini") == 0)
    return kConfigOdbcIni;
  if (strcasecmp(name, "ODBCINST.INI") == 0 || strcasecmp(name, ".odbcinst.ini") == 0)
    return kConfigOdbcInstIni;
  if (strcmp(name, ".kalib.ini") == 0)
    return kConfigLibIni;
  if (strcmp(name, ".system.defaults") == 0)
    return kConfigSystemDefaults;
  return kConfigNone;
}

// Resolves the home-relative and configuration-file names into name.
// Returns 0, or an errno value.
int resolveName(char* name, uint32_t flags)
{
  ConfigKind kind = (flags & BOS_OPEN_CONFIG) ? configKind(name) : kConfigNone;
  if (kind != kConfigNone)
    flags |= BOS_OPEN_HOME;
  char resolved[BOS_PATH_SIZE];
  if (copyBounded(resolved, sizeof resolved, name))
    return ENAMETOOLONG;
  if (flags & BOS_OPEN_HOME) {
    // "ODBC.INI" and "ODBCINST.INI" name the user's files, which live in
    // the home directory under their dotted names.
    const char* homeName = kind == kConfigOdbcIni       ? ".odbc.ini"
                           : kind == kConfigOdbcInstIni ? ".odbcinst.ini"
                                                        : name;
    const char* home = envValue("HOME");
    if (home && joinPath(resolved, sizeof resolved, home, homeName))
      return ENAMETOOLONG;
  }
  const char* chosen = resolved;
  switch (kind) {
  case kConfigOdbcIni:
  case kConfigOdbcInstIni: {
    const char* first = kind == kConfigOdbcIni ? "ODBCINI" : "ODBCINST";
    const char* second = kind == kConfigOdbcIni ? "ODBC_INI" : "ODBCINSTINI";
    const char* v = envValue(first);
    if (v == nullptr)
      v = envValue(second);
    if (v)
      chosen = v;
    break;
  }
  case kConfigLibIni:
  case kConfigSystemDefaults:
    if (!bosexist(resolved)) {
      const char* v = envValue(kind == kConfigLibIni ? "KALIB_INI" : "KA_SYSTEM_INI");
      if (v)
        chosen = v;
    }
    break;
  default:
    break;
  }
  if (strlen(chosen) >= BOS_PATH_SIZE)
    return ENAMETOOLONG;
  if (strcmp(chosen, name) != 0 && traced(BOS_TRACE_FOPEN)) {
    printf("bosfopen: Replacing %s ", name);
    printf("with %s\n", chosen);
  }
  memmove(name, chosen, strlen(chosen) + 1);
  if (kind == kConfigOdbcIni || kind == kConfigOdbcInstIni) {
    struct stat st;
    if (stat(name, &st) != 0)
      return errno ? errno : ENOENT;
    if (!S_ISREG(st.st_mode))
      return S_ISDIR(st.st_mode) ? EISDIR : ENOENT;
  }
  return 0;
}

}  // namespace

int bosfopen(char* name, uint32_t flags, int32_t* fd)
{
  int32_t unused;
  if (fd == nullptr)
    fd = &unused;
  *fd = 0;
  if (name == nullptr) {
    errPost(MSG_FILE_NAME_MISSING)->addParamText("The file name is null");
    return 1;
  }
  if (traced(BOS_TRACE_FOPEN))
    printf("bosfopen - File:%s\n", name);

  int err = 0;
  int d = -1;
  if (flags & BOS_OPEN_TEMP) {
    int32_t t;
    if (bosCreateTempFile(name, BOS_PATH_SIZE, &t))
      return 1;
    if (traced(BOS_TRACE_FOPEN))
      printf("bosfopen: Temp File %s ", name);
    setByteLock(t, F_RDLCK);
    *fd = t;
    return 0;
  }
  err = resolveName(name, flags);
  if (err == 0 && (flags & BOS_OPEN_CREATE)) {
    int oflags = O_RDWR | O_CREAT | O_CLOEXEC;
    if (flags & BOS_OPEN_EXCLUSIVE)
      oflags |= O_EXCL;
    if (flags & BOS_OPEN_TRUNCATE)
      oflags |= O_TRUNC;
    d = open(name, oflags, 0666);
    if (d >= 0)
      d = notZero(d);
    if (d >= 0) {
      setByteLock(d, F_RDLCK);
      *fd = d;
      return 0;
    }
    err = errno;
  } else if (err == 0) {
    int oflags = ((flags & BOS_OPEN_READWRITE) ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    if ((flags & BOS_OPEN_CREATE_MISSING) && !bosexist(name))
      oflags |= O_CREAT;
    if (flags & BOS_OPEN_APPEND)
      oflags |= O_APPEND;
    if (flags & BOS_OPEN_RESOLVE_ONLY)
      return 0;
    d = open(name, oflags, 0666);
    if (d < 0 && (flags & BOS_OPEN_SEARCH)) {
      int saved = errno;
      char found[BOS_PATH_SIZE];
      if (LocateFile(found, name, BOS_SEARCH_PATH) == 0) {
        memcpy(name, found, strlen(found) + 1);
        d = open(name, oflags, 0666);
      } else {
        errno = saved;
      }
    }
    if (d >= 0)
      d = notZero(d);
    if (d >= 0) {
      int locked = 0;
      if ((flags & BOS_OPEN_EXCL_LOCK) && (flags & BOS_OPEN_READWRITE))
        locked = setByteLock(d, F_WRLCK);
      else if ((flags & BOS_OPEN_SHARED_LOCK) && !(flags & BOS_OPEN_NO_LOCK))
        locked = setByteLock(d, F_RDLCK);
      if (locked == 0) {
        *fd = d;
        return 0;
      }
      err = errno;
      close(d);
    } else {
      err = errno;
    }
  }
  if (errorListActive())
    bosMapError(err, name);
  *fd = 0;
  return 1;
}

int bosfopenW(const uint16_t* name, uint32_t flags, int32_t* fd)
{
  if (fd)
    *fd = 0;
  if (name == nullptr)
    return bosfopen(nullptr, flags, fd);
  char narrow[BOS_PATH_SIZE];
  if (KaUtf16ToUtf8_1024(narrow, name) < 0)
    return 1;
  return bosfopen(narrow, flags, fd);
}

int bosfclose(int32_t fd)
{
  if (fd <= 0)
    return 0;
  if (close(fd) != 0 && errno != EINTR) {
    bosMapErrorW(errno, nullptr);
    return 1;
  }
  return 0;
}

int bosfdelete(const char* path)
{
  if (path == nullptr) {
    errPost(MSG_FILE_NAME_MISSING)->addParamText("The file name is null");
    return 1;
  }
  if (unlink(path) == 0 || errno == ENOENT)
    return 0;
  errPost(MSG_FILE_DELETE_FAILED)->addParamText(path);
  return 1;
}

int bosfdeleteW(const uint16_t* path)
{
  char narrow[BOS_PATH_SIZE];
  if (path == nullptr || pathFromW(narrow, path))
    return path == nullptr ? bosfdelete(nullptr) : 1;
  return bosfdelete(narrow);
}

int bosfread(int32_t fd, int64_t offset, void* buffer, uint64_t size, uint64_t* count)
{
  if (count)
    *count = 0;
  if (offset >= 0 && lseek(fd, offset, SEEK_SET) < 0) {
    bosMapErrorW(errno, nullptr);
    return 1;
  }
  uint64_t total = 0;
  while (total < size) {
    ssize_t n = read(fd, static_cast<char*>(buffer) + total, size - total);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      bosMapErrorW(errno, nullptr);
      if (count)
        *count = total;
      return 1;
    }
    if (n == 0)
      break;
    total += static_cast<uint64_t>(n);
  }
  if (count)
    *count = total;
  return 0;
}

int64_t bosfseek(int32_t fd, int64_t offset, int whence)
{
  if (offset < 0 && whence == SEEK_SET) {
    offset = 0;
    whence = SEEK_CUR;
  }
  off_t r = lseek(fd, offset, whence);
  return r < 0 ? -1 : r;
}

int bosfwrite(int32_t fd, int64_t offset, const void* data, uint64_t length)
{
  if (offset != -1 && lseek(fd, offset, SEEK_SET) < 0) {
    bosMapErrorW(errno, nullptr);
    return 1;
  }
  uint64_t total = 0;
  while (total < length) {
    ssize_t n = write(fd, static_cast<const char*>(data) + total, length - total);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      bosMapErrorW(errno, nullptr);
      return 1;
    }
    if (n == 0)
      break;
    total += static_cast<uint64_t>(n);
  }
  if (total == length)
    return 0;
  if (total == 0)
    errPost(MSG_DISK_FULL)->addParamText("");
  else
    errPost(MSG_SYSTEM_ERROR)->addParamUnsigned(616);
  return 1;
}

int bosfwriteW(int32_t fd, int64_t offset, const uint16_t* data, uint64_t length, int convert)
{
  if (!convert)
    return bosfwrite(fd, offset, data, length);
  if (length == 0)
    return 0;
  if (length > INT32_MAX / 4) {
    errPost(MSG_CONVERSION_FAILED);
    return 1;
  }
  size_t size = length * 4;
  char* work = static_cast<char*>(ramAlloc(size));
  if (work == nullptr)
    return 1;
  int32_t len = 0;
  UErrorCode st = U_ZERO_ERROR;
  u_strToUTF8(work, static_cast<int32_t>(size), &len, reinterpret_cast<const UChar*>(data),
              static_cast<int32_t>(length), &st);
  int rc = 1;
  if (U_FAILURE(st))
    icuErrorToDiag(st);
  else
    rc = bosfwrite(fd, offset, work, static_cast<uint64_t>(len));
  ramFree(work);
  return rc;
}

int bosftrunc(int32_t fd, int64_t length)
{
  if (ftruncate(fd, length) != 0) {
    bosMapErrorW(errno, nullptr);
    return 1;
  }
  return 0;
}

int bosftruncQuiet(int32_t fd, int64_t length)
{
  return ftruncate(fd, length) != 0 ? 1 : 0;
}

int bosftruncPath(const char* path, int64_t length)
{
  if (path == nullptr || truncate(path, length) != 0) {
    bosMapErrorW(path ? errno : EINVAL, nullptr);
    return 1;
  }
  return 0;
}

int bosGetFileTimeSize(const char* path, int32_t* mtime, uint64_t* size)
{
  struct stat st;
  if (path == nullptr || stat(path, &st) != 0)
    return 1;
  if (mtime)
    *mtime = static_cast<int32_t>(st.st_mtime);
  if (size)
    *size = static_cast<uint64_t>(st.st_size);
  return 0;
}

int bosGetFileTimeSizeW(const uint16_t* path, int32_t* mtime, uint64_t* size)
{
  char narrow[BOS_PATH_SIZE];
  if (path == nullptr || utf16ToUtf8Quiet(narrow, sizeof narrow, path) < 0)
    return 1;
  return bosGetFileTimeSize(narrow, mtime, size);
}

int bosGetFileSizeW(const uint16_t* path, uint64_t* size)
{
  return bosGetFileTimeSizeW(path, nullptr, size);
}

int bosFileAccess(const char* path)
{
  if (path == nullptr)
    return BOS_ACCESS_MISSING;
  if (strcmp(path, "..") == 0)
    return BOS_ACCESS_DIRECTORY;
  struct stat st;
  if (stat(path, &st) != 0)
    return errno == ENOENT || errno == ENOTDIR ? BOS_ACCESS_MISSING : BOS_ACCESS_FAILED;
  if (S_ISDIR(st.st_mode))
    return BOS_ACCESS_DIRECTORY;
  if (!S_ISREG(st.st_mode))
    return BOS_ACCESS_OTHER;
  mode_t bit;
  if (st.st_uid == geteuid())
    bit = S_IWUSR;
  else if (st.st_gid == getegid())
    bit = S_IWGRP;
  else
    bit = S_IWOTH;
  return (st.st_mode & bit) ? BOS_ACCESS_WRITABLE : BOS_ACCESS_READONLY;
}

int bosexist(const char* path)
{
  int code = bosFileAccess(path);
  int exists = code == BOS_ACCESS_WRITABLE || code == BOS_ACCESS_READONLY;
  if (traced(BOS_TRACE_EXIST)) {
    printf("bosexist: Name=%s ", path ? path : "");
    printf(" exists: %d\n", exists);
  }
  return exists;
}

int bosexistW(const uint16_t* path)
{
  char narrow[BOS_PATH_SIZE];
  // A name that cannot be converted names no file we could open.
  if (path == nullptr || utf16ToUtf8Quiet(narrow, sizeof narrow, path) < 0)
    return 0;
  return bosexist(narrow);
}

int bosRename(const char* oldName, const char* newName)
{
  if (oldName == nullptr || newName == nullptr) {
    errPost(MSG_FILE_NAME_MISSING)->addParamText("The file name is null");
    return 1;
  }
  // link refuses an existing new name, so nothing is overwritten.
  if (link(oldName, newName) != 0) {
    errPost(MSG_RENAME_FAILED)->addParamText(oldName)->addParamText(newName);
    return 1;
  }
  if (unlink(oldName) != 0 && errno != ENOENT) {
    errPost(MSG_FILE_DELETE_FAILED)->addParamText(oldName);
    return 1;
  }
  return 0;
}

int bosRenameW(const uint16_t* oldName, const uint16_t* newName)
{
  char a[BOS_PATH_SIZE];
  char b[BOS_PATH_SIZE];
  if (oldName == nullptr || newName == nullptr)
    return bosRename(nullptr, nullptr);
  if (pathFromW(a, oldName) || pathFromW(b, newName))
    return 1;
  return bosRename(a, b);
}

int bosDirWritable(const char* path)
{
  if (path == nullptr)
    return 0;
  char probe[BOS_PATH_SIZE];
  const char* slash = strrchr(path, '/');
  size_t dirLen = slash ? static_cast<size_t>(slash - path) + 1 : 0;
  if (dirLen + sizeof kProbePrefix + 6 >= sizeof probe)
    return 0;
  memcpy(probe, path, dirLen);
  snprintf(probe + dirLen, sizeof probe - dirLen, "%sXXXXXX", kProbePrefix);
  // A unique probe name: a stale probe left behind must not read as "not
  // writable".
  int d = mkostemp(probe, O_CLOEXEC);
  if (d < 0)
    return 0;
  close(d);
  unlink(probe);
  return 1;
}

int bosMakeAbsolutePath(char* path)
{
  if (path == nullptr || path[0] == '/')
    return 0;
  char cwd[BOS_PATH_SIZE];
  if (getcwd(cwd, sizeof cwd) == nullptr)
    return 1;
  char joined[BOS_PATH_SIZE];
  if (joinPath(joined, sizeof joined, cwd, path))
    return 1;
  memcpy(path, joined, strlen(joined) + 1);
  return 0;
}

void bosGetCwd(char* buffer, int slash)
{
  if (getcwd(buffer, BOS_PATH_SIZE) == nullptr) {
    buffer[0] = 0;
    return;
  }
  size_t n = strlen(buffer);
  if (slash && n > 0 && buffer[n - 1] != '/' && n + 1 < BOS_PATH_SIZE) {
    buffer[n] = '/';
    buffer[n + 1] = 0;
  }
}

int bosChdir(const char* path)
{
  if (path == nullptr || chdir(path) != 0) {
    errPost(MSG_CHANGE_DIRECTORY_FAILED)->addParamText(path ? path : "");
    return 1;
  }
  return 0;
}

// --- Paths and names -----------------------------------------------------------

int bospath(char* out, const char* dir, const char* name, const char* defaultExt)
{
  if (traced(BOS_TRACE_PATH))
    printf("BOSPATH: dir:%s name:%s default_ext:%s\n", dir ? dir : "(null)", name ? name : "(null)",
           defaultExt ? defaultExt : "(null)");
  char work[BOS_PATH_SIZE];
  if (copyBounded(work, sizeof work, name ? name : "")) {
    out[0] = 0;
    bosMapError(ENAMETOOLONG, name);
    return 1;
  }
  trimTrailingSpace(work, 0);
  size_t n = strlen(work);
  if (n > 0 && work[n - 1] == '.' && !(n > 1 && work[n - 2] == '.'))
    work[n - 1] = 0;
  int tooLong = 0;
  if (strchr(work, '/') == nullptr && dir && *dir)
    tooLong = joinPath(work, sizeof work, dir, work);
  if (!tooLong && defaultExt && *defaultExt) {
    const char* fileName = strrchr(work, '/');
    fileName = fileName ? fileName + 1 : work;
    if (strchr(fileName, '.') == nullptr) {
      size_t len = strlen(work);
      size_t elen = strlen(defaultExt);
      if (len + 1 + elen >= sizeof work) {
        tooLong = 1;
      } else {
        work[len] = '.';
        memcpy(work + len + 1, defaultExt, elen + 1);
      }
    }
  }
  if (!tooLong && work[0] != '/' && bosMakeAbsolutePath(work) && work[0] != '/') {
    char cwd[BOS_PATH_SIZE];
    tooLong = getcwd(cwd, sizeof cwd) != nullptr;
  }
  if (tooLong) {
    out[0] = 0;
    bosMapError(ENAMETOOLONG, name);
    return 1;
  }
  memcpy(out, work, strlen(work) + 1);
  if (traced(BOS_TRACE_PATH))
    printf("bospath: after bosfpath path:%s\n", out);
  return 0;
}

int bospathW(uint16_t* out, const uint16_t* dir, const uint16_t* name, const uint16_t* defaultExt)
{
  char d[BOS_PATH_SIZE], n[BOS_PATH_SIZE], e[BOS_PATH_SIZE];
  if (pathFromW(d, dir) || pathFromW(n, name) || pathFromW(e, defaultExt))
    return 1;
  char result[BOS_INSTALL_DIR_SIZE] = {};
  if (bospath(result, dir ? d : nullptr, n, defaultExt ? e : nullptr))
    return 1;
  uint16_t wide[BOS_PATH_SIZE];
  if (utf8ToUtf16(wide, BOS_PATH_SIZE, result) < 0)
    return 1;
  memcpy(out, wide, (u_strlen(reinterpret_cast<const UChar*>(wide)) + 1) * sizeof(uint16_t));
  return 0;
}

int bosSplitPath(char* path, char* name, char* ext, int report)
{
  name[0] = 0;
  ext[0] = 0;
  if (path == nullptr)
    return 0;
  char* slash = strrchr(path, '/');
  char* part = slash ? slash + 1 : path;
  char* dot = strchr(part, '.');
  if (dot) {
    size_t elen = strnlen(dot + 1, BOS_SPLIT_EXT_MAX);
    memcpy(ext, dot + 1, elen);
    ext[elen] = 0;
  }
  size_t nlen = dot ? static_cast<size_t>(dot - part) : strlen(part);
  int rc = 0;
  if (nlen > BOS_SPLIT_NAME_MAX) {
    if (report) {
      errPost(MSG_FILE_NAME_TOO_LONG)->addParamText(part);
      rc = 1;
    }
    nlen = BOS_SPLIT_NAME_MAX;
  }
  memcpy(name, part, nlen);
  name[nlen] = 0;
  *part = 0;
  return rc;
}

int bosSplitPathW(uint16_t* path, uint16_t* name, uint16_t* ext, int report)
{
  char p[BOS_PATH_SIZE];
  char n[BOS_SPLIT_NAME_MAX * 4 + 1];
  char e[BOS_SPLIT_EXT_MAX * 4 + 1];
  if (pathFromW(p, path))
    return 1;
  // The split works on bytes; the name and extension limits count
  // characters of the narrow form.
  char narrowName[BOS_SPLIT_NAME_MAX + 1];
  char narrowExt[BOS_SPLIT_EXT_MAX + 1];
  int rc = bosSplitPath(p, narrowName, narrowExt, report);
  memcpy(n, narrowName, strlen(narrowName) + 1);
  memcpy(e, narrowExt, strlen(narrowExt) + 1);
  uint16_t wp[BOS_PATH_SIZE];
  uint16_t wn[BOS_SPLIT_NAME_MAX + 1];
  uint16_t we[BOS_SPLIT_EXT_MAX + 1];
  if (utf8ToUtf16(wp, BOS_PATH_SIZE, p) < 0 || utf8ToUtf16(wn, BOS_SPLIT_NAME_MAX + 1, n) < 0 ||
      utf8ToUtf16(we, BOS_SPLIT_EXT_MAX + 1, e) < 0)
    return 1;
  memcpy(path, wp, (u_strlen(reinterpret_cast<const UChar*>(wp)) + 1) * sizeof(uint16_t));
  memcpy(name, wn, (u_strlen(reinterpret_cast<const UChar*>(wn)) + 1) * sizeof(uint16_t));
  memcpy(ext, we, (u_strlen(reinterpret_cast<const UChar*>(we)) + 1) * sizeof(uint16_t));
  return rc;
}

void bosStripCwd(char* path)
{
  if (path == nullptr)
    return;
  char cwd[BOS_PATH_SIZE];
  bosGetCwd(cwd, 1);
  size_t shared = 0;
  while (cwd[shared] && path[shared] == cwd[shared])
    ++shared;
  size_t cut = 0;
  bool found = false;
  for (size_t i = 0; i < shared; ++i) {
    if (path[i] == ':' || (path[i] == '/' && i != 2)) {
      cut = i;
      found = true;
    }
  }
  if (found)
    memmove(path, path + cut + 1, strlen(path + cut + 1) + 1);
}

int bosHomePath(char* name)
{
  char base[BOS_PATH_SIZE];
  const char* v = envValue("HOME");
  if (v == nullptr)
    v = envValue("KA");
  if (v) {
    if (copyBounded(base, sizeof base, v))
      return 1;
  } else {
    bosGetCwd(base, 0);
  }
  char joined[BOS_PATH_SIZE];
  if (joinPath(joined, sizeof joined, base, name))
    return 1;
  memcpy(name, joined, strlen(joined) + 1);
  return 0;
}

namespace {

struct SubdirCursor {
  DIR* dir;
};

struct MountCursor {
  FILE* table;
  struct mntent entry;
  char buffer[kMountBuffer];
};

struct FindCursor {
  glob_t matches;
  size_t next;
};

}  // namespace

int bosNextSubdir(void** cursor, char* name)
{
  name[0] = 0;
  auto* c = static_cast<SubdirCursor*>(*cursor);
  if (c == nullptr) {
    c = static_cast<SubdirCursor*>(ramAlloc(sizeof(SubdirCursor)));
    if (c == nullptr)
      return 1;
    c->dir = opendir(".");
    *cursor = c;
  }
  if (c->dir) {
    while (struct dirent* e = readdir(c->dir)) {
      if (e->d_name[0] == '.')
        continue;
      struct stat st;
      if (stat(e->d_name, &st) == 0 && S_ISDIR(st.st_mode) && copyBounded(name, BOS_PATH_SIZE, e->d_name) == 0)
        return 0;
    }
    closedir(c->dir);
  }
  ramFree(c);
  *cursor = nullptr;
  return 0;
}

int bosNextMount(void** cursor, char* name)
{
  name[0] = 0;
  auto* c = static_cast<MountCursor*>(*cursor);
  if (c == nullptr) {
    c = static_cast<MountCursor*>(ramAlloc(sizeof(MountCursor)));
    if (c == nullptr)
      return 1;
    // The kernel's own table; /etc/mtab may be missing in containers.
    c->table = setmntent("/proc/self/mounts", "r");
    if (c->table == nullptr)
      c->table = setmntent(_PATH_MOUNTED, "r");
    *cursor = c;
  }
  if (c->table) {
    while (getmntent_r(c->table, &c->entry, c->buffer, sizeof c->buffer)) {
      if (c->entry.mnt_dir && copyBounded(name, BOS_PATH_SIZE, c->entry.mnt_dir) == 0)
        return 0;
    }
    endmntent(c->table);
  }
  ramFree(c);
  *cursor = nullptr;
  return 0;
}

// The pattern is expanded by glob(3), never by a shell: a file name can
// hold any character.
int bosFindFiles(void** cursor, char* name)
{
  auto* c = static_cast<FindCursor*>(*cursor);
  if (c == nullptr) {
    if (traced(BOS_TRACE_FIND))
      printf("bosFindFiles: Search for %s\n", name);
    c = static_cast<FindCursor*>(ramAlloc(sizeof(FindCursor)));
    if (c == nullptr) {
      name[0] = 0;
      return 1;
    }
    memset(c, 0, sizeof *c);
    int rc = glob(name, 0, nullptr, &c->matches);
    if (rc == GLOB_NOSPACE) {
      globfree(&c->matches);
      ramFree(c);
      name[0] = 0;
      errPost(MSG_SYSTEM_OUT_OF_MEMORY);
      return 1;
    }
    if (rc != 0)
      c->matches.gl_pathc = 0;
    c->next = 0;
    *cursor = c;
  }
  while (c->next < c->matches.gl_pathc) {
    const char* match = c->matches.gl_pathv[c->next++];
    const char* slash = strrchr(match, '/');
    const char* file = slash ? slash + 1 : match;
    if (*file && copyBounded(name, BOS_PATH_SIZE, file) == 0) {
      if (traced(BOS_TRACE_FIND))
        printf("bosFindFiles: returns fileName=%s\n", name);
      return 0;
    }
  }
  globfree(&c->matches);
  ramFree(c);
  *cursor = nullptr;
  name[0] = 0;
  return 0;
}

// --- Environment, host, user, time ------------------------------------------------

const char* bosGetEnv(const char* name)
{
  return name ? getenv(name) : nullptr;
}

uint16_t* bosGetEnvW(const uint16_t* name, uint16_t* value, size_t capacity)
{
  if (name == nullptr || value == nullptr || capacity == 0)
    return nullptr;
  char narrow[BOS_PATH_SIZE];
  KaConvCallbackContext* ctx;
  UConverter* c = nameConverters().acquire(kDefaultCodePage, &ctx);
  if (c == nullptr)
    return nullptr;
  uint16_t* result = nullptr;
  UErrorCode st = U_ZERO_ERROR;
  ucnv_fromUChars(c, narrow, sizeof narrow, reinterpret_cast<const UChar*>(name), -1, &st);
  if (!U_FAILURE(st) && st != U_STRING_NOT_TERMINATED_WARNING) {
    const char* v = getenv(narrow);
    if (v) {
      ucnv_reset(c);
      st = U_ZERO_ERROR;
      int32_t len = ucnv_toUChars(c, reinterpret_cast<UChar*>(value), static_cast<int32_t>(capacity), v, -1, &st);
      if (!U_FAILURE(st) && static_cast<size_t>(len) < capacity)
        result = value;
    }
  }
  nameConverters().release(kDefaultCodePage, c, ctx);
  return result;
}

int bosGetHostName(char* buffer, size_t size)
{
  if (buffer == nullptr || size == 0)
    return 0;
  char host[kHostBuffer];
  if (gethostname(host, BOS_HOST_NAME_SIZE) != 0) {
    bosMapErrorW(errno, nullptr);
    return 1;
  }
  host[BOS_HOST_NAME_SIZE] = 0;
  return copyTruncated(buffer, size, host, strlen(host));
}

int bosGetHostNameW(uint16_t* buffer, size_t units)
{
  return widenedAnswer(bosGetHostName, buffer, units);
}

int bosGetComputerName(char* buffer, size_t size)
{
  return bosGetHostName(buffer, size);
}

int bosGetComputerNameW(uint16_t* buffer, size_t units)
{
  return bosGetHostNameW(buffer, units);
}

int bosGetUserName(char* buffer, size_t size)
{
  if (buffer == nullptr || size == 0)
    return 0;
  struct passwd pw;
  struct passwd* found = nullptr;
  char work[kPasswdBuffer];
  int rc = getpwuid_r(getuid(), &pw, work, sizeof work, &found);
  if (rc != 0) {
    bosMapErrorW(rc, nullptr);
    return 1;
  }
  if (found) {
    if (found->pw_name == nullptr || found->pw_name[0] == 0) {
      errPost(MSG_USER_NAME_UNKNOWN);
      return 1;
    }
    return copyTruncated(buffer, size, found->pw_name, strlen(found->pw_name));
  }
  char login[kHostBuffer];
  rc = getlogin_r(login, sizeof login);
  if (rc != 0 && rc != ENOENT && rc != ENXIO && rc != ENOTTY) {
    bosMapErrorW(rc, nullptr);
    return 1;
  }
  if (rc != 0 || login[0] == 0) {
    errPost(MSG_USER_NAME_UNKNOWN);
    return 1;
  }
  return copyTruncated(buffer, size, login, strnlen(login, sizeof login - 1));
}

int bosGetUserNameW(uint16_t* buffer, size_t units)
{
  return widenedAnswer(bosGetUserName, buffer, units);
}

int bosGetProcessName(char* buffer, size_t size)
{
  if (buffer == nullptr || size < 2)
    return 1;
  buffer[0] = 0;
  char command[64];
  snprintf(command, sizeof command, "/bin/ps -p %i -ocomm=", static_cast<int>(getpid()));
  FILE* p = popen(command, "re");
  if (p == nullptr) {
    bosMapErrorW(errno, nullptr);
    return 1;
  }
  char* line = fgets(buffer, static_cast<int>(size < INT32_MAX ? size : INT32_MAX), p);
  pclose(p);
  if (line == nullptr || buffer[0] == 0) {
    buffer[0] = 0;
    bosMapErrorW(ESRCH, nullptr);
    return 1;
  }
  size_t n = strlen(buffer);
  if (buffer[n - 1] == '\n')
    buffer[n - 1] = 0;
  return 0;
}

int64_t bosGetCpuCount()
{
  return sysconf(_SC_NPROCESSORS_CONF);
}

void bosGetLocalTime(BosLocalTime* t)
{
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm tm;
  time_t secs = tv.tv_sec;
  localtime_r(&secs, &tm);
  t->day = static_cast<uint16_t>(tm.tm_mday);
  t->month = static_cast<uint16_t>(tm.tm_mon + 1);
  t->year = static_cast<uint16_t>(tm.tm_year + 1900);
  t->hour = static_cast<uint16_t>(tm.tm_hour);
  t->minute = static_cast<uint16_t>(tm.tm_min);
  t->second = static_cast<uint16_t>(tm.tm_sec);
  t->millisecond = tv.tv_usec > 999499 ? 999 : static_cast<uint16_t>((tv.tv_usec + 500) / 1000);
}

void bosSleep(uint16_t milliseconds)
{
  if (milliseconds == 0)
    return;
  struct timespec want;
  want.tv_sec = milliseconds / 1000;
  want.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  struct timespec left;
  while (nanosleep(&want, &left) != 0 && errno == EINTR)
    want = left;
}

uint64_t bosGetThreadId()
{
  return static_cast<uint64_t>(pthread_self());
}

void bosUpper(char* buffer, size_t n)
{
  for (size_t i = 0; buffer && i < n && buffer[i]; ++i)
    buffer[i] = static_cast<char>(toupper(static_cast<unsigned char>(buffer[i])));
}

void bosLower(char* buffer, size_t n)
{
  for (size_t i = 0; buffer && i < n && buffer[i]; ++i)
    buffer[i] = static_cast<char>(tolower(static_cast<unsigned char>(buffer[i])));
}

// --- Libraries, install directory, catalogue, errors ---------------------------------

namespace {

// Tries dir/name (and with parent dir/../name); 0 with the path when found.
int tryDir(char* pathOut, const char* dir, const char* name, bool parent)
{
  char candidate[BOS_PATH_SIZE];
  for (int pass = 0; pass < (parent ? 2 : 1); ++pass) {
    if (joinPath(candidate, sizeof candidate, dir, pass ? "../" : "") ||
        strlen(candidate) + strlen(name) >= sizeof candidate)
      continue;
    strcat(candidate, name);
    if (traced(BOS_TRACE_LOCATE))
      printf("LocateFile: %s\n", candidate);
    if (bosexist(candidate)) {
      if (pathOut)
        memcpy(pathOut, candidate, strlen(candidate) + 1);
      return 0;
    }
  }
  return 1;
}

// Tries each directory of a ":"-separated list.
int searchList(char* pathOut, const char* list, const char* name, bool parent)
{
  if (list == nullptr)
    return 1;
  const char* p = list;
  while (*p) {
    const char* end = strchr(p, ':');
    size_t len = end ? static_cast<size_t>(end - p) : strlen(p);
    if (len > 0 && len < BOS_PATH_SIZE) {
      char dir[BOS_PATH_SIZE];
      memcpy(dir, p, len);
      dir[len] = 0;
      if (tryDir(pathOut, dir, name, parent) == 0)
        return 0;
    }
    if (end == nullptr)
      break;
    p = end + 1;
  }
  return 1;
}

}  // namespace

int LocateFile(char* pathOut, const char* name, uint32_t searchBits)
{
  if (pathOut)
    pathOut[0] = 0;
  if (name == nullptr || name[0] == 0 || strlen(name) >= BOS_PATH_SIZE)
    return 1;
  if (bosexist(name)) {
    if (pathOut)
      memcpy(pathOut, name, strlen(name) + 1);
    return 0;
  }
  bool parent = (searchBits & BOS_SEARCH_LIBPATH) != 0;
  if (searchBits & BOS_SEARCH_CWD) {
    char cwd[BOS_PATH_SIZE];
    bosGetCwd(cwd, 0);
    if (cwd[0] && tryDir(pathOut, cwd, name, parent) == 0)
      return 0;
  }
  if (searchBits & BOS_SEARCH_INSTALL) {
    KaCriticalSection& lock = locateLock();
    lock.enter();
    if (bosInstallDir[0] == 0)
      bosInitInstallDir(nullptr);
    lock.leave();
    char dir[BOS_INSTALL_DIR_SIZE];
    bosGetInstallDir(dir, sizeof dir);
    if (dir[0]) {
      char lib[BOS_PATH_SIZE];
      if (tryDir(pathOut, dir, name, parent) == 0)
        return 0;
      if (joinPath(lib, sizeof lib, dir, "lib") == 0 && tryDir(pathOut, lib, name, parent) == 0)
        return 0;
    }
  }
  if ((searchBits & BOS_SEARCH_HOME) && searchList(pathOut, envValue("HOME"), name, parent) == 0)
    return 0;
  if (searchBits & BOS_SEARCH_KA) {
    if (searchList(pathOut, envValue("KA"), name, parent) == 0 ||
        searchList(pathOut, envValue("KALIB"), name, parent) == 0)
      return 0;
  }
  if (searchBits & BOS_SEARCH_LIBPATH) {
    if (searchList(pathOut, envValue("LD_LIBRARY_PATH_64"), name, parent) == 0 ||
        searchList(pathOut, envValue("LD_RUN_PATH"), name, parent) == 0 ||
        searchList(pathOut, "/usr/local/lib", name, parent) == 0)
      return 0;
  }
  if ((searchBits & BOS_SEARCH_PATH) && searchList(pathOut, envValue("PATH"), name, parent) == 0)
    return 0;
  // Second pass, whatever the bits: the loader's own search path.
  if (searchList(pathOut, envValue("LD_LIBRARY_PATH"), name, parent) == 0 ||
      searchList(pathOut, envValue("LD_RUN_PATH"), name, parent) == 0 ||
      searchList(pathOut, "/usr/local/lib", name, parent) == 0)
    return 0;
  if ((searchBits & BOS_SEARCH_PATH) && searchList(pathOut, envValue("PATH"), name, parent) == 0)
    return 0;
  if (pathOut)
    pathOut[0] = 0;
  return 1;
}

int bosAppendVersionSuffix(char* name, size_t size)
{
  size_t n = strlen(name);
  if (n + sizeof kVersionSuffix > size)
    return 1;
  memcpy(name + n, kVersionSuffix, sizeof kVersionSuffix);
  return 0;
}

void* LoadLibrary(const char* name, int32_t versionFlag, int32_t loaderFlags)
{
  if (name == nullptr)
    return nullptr;
  char file[BOS_PATH_SIZE];
  if (copyBounded(file, sizeof file, name))
    return nullptr;
  trimTrailingSpace(file, 0);
  if ((versionFlag & 0xff) && bosAppendVersionSuffix(file, sizeof file))
    return nullptr;
  if (strstr(file, ".so") == nullptr) {
    size_t n = strlen(file);
    if (n + 4 > sizeof file)
      return nullptr;
    memcpy(file + n, ".so", 4);
  }
  if (traced(BOS_TRACE_LOADLIB))
    printf("LoadLibrary: Searching for %s.\n", file);
  char path[BOS_PATH_SIZE];
  if (LocateFile(path, file, BOS_SEARCH_KA | BOS_SEARCH_LIBPATH)) {
    if (traced(BOS_TRACE_LOADLIB))
      printf("Unable to open Shared Library: %s\n", file);
    return nullptr;
  }
  if (traced(BOS_TRACE_LOADLIB))
    printf("LoadLibrary: Found library %s.\n", path);
  // A path without "/" would send dlopen to the system's search path
  // instead of the file that was found.
  if (strchr(path, '/') == nullptr) {
    char local[BOS_PATH_SIZE];
    if (joinPath(local, sizeof local, ".", path) == 0)
      memcpy(path, local, strlen(local) + 1);
  }
  void* handle = dlopen(path, loaderFlags > 0 ? loaderFlags : RTLD_NOW);
  if (handle == nullptr) {
    char text[kLoaderTextSize];
    const char* err = dlerror();
    snprintf(text, sizeof text, "%s", err ? err : "");
    if (traced(BOS_TRACE_LOADLIB)) {
      printf("Unable to open Shared Library:%s\n", path);
      printf("Loader Error: %s\n", text);
    }
    errPost(MSG_LIBRARY_LOAD_FAILED)->addParamText(path)->addParamText(text);
  }
  return handle;
}

void* LoadLibraryW(const uint16_t* name, int32_t versionFlag)
{
  char narrow[BOS_PATH_SIZE];
  if (name == nullptr || pathFromW(narrow, name))
    return nullptr;
  return LoadLibrary(narrow, versionFlag, 0);
}

int bosInitInstallDir(const char* dir)
{
  // The ini files are read before the lock is taken: the ini reader opens
  // files through this layer and must not meet the catalogue's lock.
  char work[BOS_INSTALL_DIR_SIZE];
  work[0] = 0;
  if (dir) {
    if (copyBounded(work, sizeof work, dir))
      work[0] = 0;
  } else {
    const char* v = envValue("TW_INSTALLDIR");
    if (v) {
      if (copyBounded(work, sizeof work, v))
        work[0] = 0;
    } else {
      KaGetPrivateProfileString("ODBC", "InstallDir", "", work, sizeof work, "ODBC.INI");
      if (work[0] == 0)
        KaGetPrivateProfileStringRelease("ODBC", "InstallDir", "", work, sizeof work, "ODBCINST.INI");
    }
  }
  trimTrailingSpace(work, 1);
  size_t n = strlen(work);
  if (n > 0 && work[n - 1] == '/')
    work[n - 1] = 0;
  KaCriticalSection& lock = stringsLock();
  lock.enter();
  memcpy(bosInstallDir, work, strlen(work) + 1);
  int rc = bosInstallDir[0] == 0 ? 1 : 0;
  lock.leave();
  return rc;
}

void bosGetInstallDir(char* out, size_t size)
{
  if (out == nullptr || size == 0)
    return;
  KaCriticalSection& lock = stringsLock();
  lock.enter();
  size_t n = strlen(bosInstallDir);
  if (n >= size)
    n = 0;
  memcpy(out, bosInstallDir, n);
  out[n] = 0;
  lock.leave();
}

namespace {

nl_catd openCatalogue(const char* baseName)
{
  char locale[kLocaleNameSize] = "";
  const char* current = setlocale(LC_MESSAGES, nullptr);
  if (current)
    snprintf(locale, sizeof locale, "%s", current);
  const char* language;
  if (strcmp(locale, "C") == 0) {
    const char* v = envValue("LC_MESSAGES");
    if (v == nullptr || strcmp(v, "C") == 0)
      v = envValue("LANG");
    language = v && strcmp(v, "C") != 0 ? v : "en_US";
  } else {
    language = locale[0] ? locale : "en_US";
  }
  if (traced(BOS_TRACE_STRINGS)) {
    printf("OpenStrings: HINST=%s\n", baseName);
    fflush(stdout);
    printf("OpenStrings: Default LC_MESSAGES=%s\n", locale);
    fflush(stdout);
    printf("OpenStrings: Using LC_MESSAGES=%s\n", language);
    fflush(stdout);
  }
  char file[BOS_PATH_SIZE * 2];
  int n = snprintf(file, sizeof file, "%s/locale/%s/LC_MESSAGES/%s.mo", bosInstallDir, language, baseName);
  nl_catd cat = noCatalogue();
  if (n > 0 && static_cast<size_t>(n) < sizeof file)
    cat = catopen(file, 0);
  if (cat == noCatalogue()) {
    n = snprintf(file, sizeof file, "%s/locale/en_US/LC_MESSAGES/%s.mo", bosInstallDir, baseName);
    if (n > 0 && static_cast<size_t>(n) < sizeof file)
      cat = catopen(file, 0);
  }
  return cat;
}

int64_t lookup(nl_catd cat, uint32_t number, char* buffer, size_t size)
{
  char decimal[kDecimalSize];
  snprintf(decimal, sizeof decimal, "%u", number);
  const char* text = decimal;
  if (cat != noCatalogue())
    text = catgets(cat, 1, static_cast<int>(number), decimal);
  if (traced(BOS_TRACE_STRINGS)) {
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

}  // namespace

namespace {

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

int OpenStrings(const char* baseName, void* reserved1, void* reserved2, int32_t* counter)
{
  // From here on diagnostics take their texts from the catalogue.
  errSetMessageSource(&kCatalogueSource);
  KaCriticalSection& lock = stringsLock();
  lock.enter();
  if (counter)
    ++*counter;
  if (catalogueValue == kNoCatalogueValue && baseName) {
    nl_catd cat = openCatalogue(baseName);
    lookupLock().enter();
    catalogueValue = reinterpret_cast<intptr_t>(cat);
    lookupLock().leave();
  }
  lock.leave();
  return 0;
}

int CloseStrings(void* reserved, int32_t* counter)
{
  KaCriticalSection& lock = stringsLock();
  lock.enter();
  bool close = true;
  if (counter) {
    if (*counter > 0)
      --*counter;
    close = *counter == 0;
  }
  if (close && catalogueValue != kNoCatalogueValue) {
    // Lookups copy the text under their own lock, so the catalogue is only
    // closed while no lookup reads it.
    lookupLock().enter();
    catclose(reinterpret_cast<nl_catd>(catalogueValue));
    catalogueValue = kNoCatalogueValue;
    lookupLock().leave();
  }
  lock.leave();
  return 0;
}

int64_t LoadStringFromOpenFile(const char* reserved, uint32_t number, char* buffer, size_t size)
{
  if (buffer == nullptr || size == 0)
    return 0;
  KaCriticalSection& lock = lookupLock();
  lock.enter();
  int64_t n = lookup(reinterpret_cast<nl_catd>(catalogueValue), number, buffer, size);
  lock.leave();
  return n;
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
  if (ascii == n) {
    if (n > static_cast<int64_t>(units - 1))
      n = static_cast<int64_t>(units - 1);
    for (int64_t i = 0; i < n; ++i)
      buffer[i] = static_cast<unsigned char>(narrow[i]);
    buffer[n] = 0;
    return n;
  }
  // Posting a diagnostic reads the catalogue through here, so nothing in
  // this path may post.
  KaConvCallbackContext* ctx;
  UConverter* c = nameConverters().acquireQuiet(kDefaultCodePage, &ctx);
  if (c) {
    UErrorCode st = U_ZERO_ERROR;
    int32_t len = ucnv_toUChars(c, reinterpret_cast<UChar*>(buffer), static_cast<int32_t>(units - 1), narrow,
                                static_cast<int32_t>(n), &st);
    nameConverters().release(kDefaultCodePage, c, ctx);
    if (st == U_BUFFER_OVERFLOW_ERROR || st == U_STRING_NOT_TERMINATED_WARNING) {
      len = static_cast<int32_t>(units - 1);
      st = U_ZERO_ERROR;
    }
    if (!U_FAILURE(st)) {
      buffer[len] = 0;
      return len;
    }
  }
  static const char kFailed[] = "Failed!";
  size_t f = sizeof kFailed - 1;
  if (f > units - 1)
    f = units - 1;
  for (size_t i = 0; i < f; ++i)
    buffer[i] = static_cast<uint16_t>(kFailed[i]);
  buffer[f] = 0;
  return static_cast<int64_t>(f);
}

int OpenStringsHandle(const char* baseName, void** handle)
{
  if (handle == nullptr)
    return 0;
  *handle = nullptr;
  if (baseName == nullptr)
    return 0;
  KaCriticalSection& lock = stringsLock();
  lock.enter();
  nl_catd cat = openCatalogue(baseName);
  lock.leave();
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

void bosMapError(int error, const char* name)
{
  const char* nm = name ? name : "";
  switch (error) {
  case EPERM:
    errPost(MSG_OPERATION_NOT_PERMITTED)->addParamText(nm);
    return;
  case ENOENT:
    errPost(MSG_FILE_NOT_FOUND)->addParamText(nm);
    return;
  case EBADF:
    errPost(MSG_BAD_FILE_DESCRIPTOR);
    return;
  case EAGAIN:
    errPost(MSG_RESOURCE_TEMPORARILY_UNAVAILABLE);
    return;
  case ENOMEM:
    errPost(MSG_SYSTEM_OUT_OF_MEMORY);
    return;
  case EACCES:
    errPost(MSG_FILE_ACCESS_DENIED)->addParamText(nm);
    return;
  case EEXIST:
    errPost(MSG_FILE_EXISTS)->addParamText(nm);
    return;
  case EMFILE:
    errPost(MSG_TOO_MANY_OPEN_FILES);
    return;
  case ENOSPC:
    errPost(MSG_DISK_FULL)->addParamText(nm);
    return;
  case EROFS:
    errPost(MSG_READ_ONLY_FILE_SYSTEM)->addParamText(nm);
    return;
  case EDEADLK:
    errPost(MSG_FILE_LOCK_DEADLOCK)->addParamText(nm);
    return;
  case ENOLCK:
    errPost(MSG_NO_LOCKS_AVAILABLE);
    return;
  default:
    break;
  }
  errPost(MSG_SYSTEM_ERROR)->addParamUnsigned(static_cast<unsigned>(error));
  if (error == EIO && nm[0] == 0)
    return;
  char system[kAppendTextSize];
  const char* s = strerror_r(error, system, sizeof system);
  if (s == nullptr || s[0] == 0)
    return;
  char text[kAppendTextSize];
  text[0] = ' ';
  if (nm[0]) {
    char format[kAppendTextSize];
    char decimal[kDecimalSize];
    snprintf(decimal, sizeof decimal, "%u", static_cast<unsigned>(MSG_SYSTEM_ERROR_ON_OBJECT));
    // Without a catalogue the lookup gives the number back.
    if (LoadStringFromOpenFile(nullptr, MSG_SYSTEM_ERROR_ON_OBJECT, format, sizeof format) == 0 ||
        strcmp(format, decimal) == 0)
      snprintf(format, sizeof format, "%s", "%s (%s)");
    fillTwoStrings(text + 1, sizeof text - 1, format, s, nm);
  } else {
    snprintf(text + 1, sizeof text - 1, "%s", s);
  }
  if (text[1])
    KaErrorAppendText(text);
}

void bosMapErrorW(int error, const uint16_t* name)
{
  char narrow[BOS_PATH_SIZE];
  if (name == nullptr || utf16ToUtf8Quiet(narrow, sizeof narrow, name) < 0)
    narrow[0] = 0;
  bosMapError(error, name ? narrow : nullptr);
}
