// Files of the operating-system layer: opening by flag word, temporary
// files, reading and writing, and the questions about a file.
#include "platform/bosfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unicode/ustring.h>

#include "foundation/icucache.h"
#include "foundation/kaerror.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bos.h"
#include "platform/bosinternal.h"
#include "platform/boslib.h"
#include "platform/bosname.h"

namespace {

constexpr char kTempPrefix[] = "ka";
constexpr char kProbePrefix[] = "$$$ka$$$.";
// What the system-error diagnostic of a write that stopped short carries.
constexpr unsigned kShortWriteCode = 616;

void postNullName()
{
    errPost(MSG_FILE_NAME_MISSING)->addParamText("The file name is null");
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
    fl.l_start = BOS_FILE_LOCK_OFFSET;
    fl.l_len = 1;
    return fcntl(fd, F_SETLK, &fl);
}

int openTemp(char* name, int32_t* fd)
{
    int32_t t;
    if (bosCreateTempFile(name, BOS_PATH_SIZE, &t))
        return 1;
    if (bosTraced(BOS_TRACE_FOPEN))
        printf("bosfopen: Temp File %s ", name);
    setByteLock(t, F_RDLCK);
    *fd = t;
    return 0;
}

// Opens the resolved name with O_CREAT; 0, or an errno value.
int openCreating(const char* name, uint32_t flags, int32_t* fd)
{
    int oflags = O_RDWR | O_CREAT | O_CLOEXEC;
    if (flags & BOS_OPEN_EXCLUSIVE)
        oflags |= O_EXCL;
    if (flags & BOS_OPEN_TRUNCATE)
        oflags |= O_TRUNC;
    int d = open(name, oflags, 0666);
    if (d >= 0)
        d = notZero(d);
    if (d < 0)
        return errno;
    setByteLock(d, F_RDLCK);
    *fd = d;
    return 0;
}

// Opens the resolved name (which a search along PATH may replace) and takes
// the lock the flags ask for; with BOS_OPEN_RESOLVE_ONLY nothing is opened.
// 0, or an errno value.
int openExisting(char* name, uint32_t flags, int32_t* fd)
{
    int oflags = ((flags & BOS_OPEN_READWRITE) ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    if ((flags & BOS_OPEN_CREATE_MISSING) && !bosexist(name))
        oflags |= O_CREAT;
    if (flags & BOS_OPEN_APPEND)
        oflags |= O_APPEND;
    if (flags & BOS_OPEN_RESOLVE_ONLY)
        return 0;
    int d = open(name, oflags, 0666);
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
    if (d < 0)
        return errno;
    int locked = 0;
    if ((flags & BOS_OPEN_EXCL_LOCK) && (flags & BOS_OPEN_READWRITE))
        locked = setByteLock(d, F_WRLCK);
    else if ((flags & BOS_OPEN_SHARED_LOCK) && !(flags & BOS_OPEN_NO_LOCK))
        locked = setByteLock(d, F_RDLCK);
    if (locked != 0) {
        int err = errno;
        close(d);
        return err;
    }
    *fd = d;
    return 0;
}

}  // namespace

int bosCreateTempFile(char* name, size_t size, int32_t* fd)
{
    *fd = 0;
    const char* dir = bosEnvValue("KA_TMPDIR");
    if (dir == nullptr) {
        dir = secure_getenv("TMPDIR");
        if (dir == nullptr || *dir == 0)
            dir = P_tmpdir;
    }
    char pattern[BOS_PATH_SIZE];
    char base[sizeof kTempPrefix + 6];
    snprintf(base, sizeof base, "%sXXXXXX", kTempPrefix);
    if (bosJoinPath(pattern, sizeof pattern, dir, base) || strlen(pattern) >= size) {
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

int bosfopen(char* name, uint32_t flags, int32_t* fd)
{
    int32_t unused;
    if (fd == nullptr)
        fd = &unused;
    *fd = 0;
    if (name == nullptr) {
        postNullName();
        return 1;
    }
    if (bosTraced(BOS_TRACE_FOPEN))
        printf("bosfopen - File:%s\n", name);
    if (flags & BOS_OPEN_TEMP)
        return openTemp(name, fd);
    int err = bosResolveName(name, flags);
    if (err == 0)
        err = (flags & BOS_OPEN_CREATE) ? openCreating(name, flags, fd) : openExisting(name, flags, fd);
    if (err == 0)
        return 0;
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
        postNullName();
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
    if (path == nullptr || bosPathFromW(narrow, path))
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
        errPost(MSG_SYSTEM_ERROR)->addParamUnsigned(kShortWriteCode);
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
    if (path == nullptr || bosUtf16ToUtf8Quiet(narrow, sizeof narrow, path) < 0)
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
    if (bosTraced(BOS_TRACE_EXIST)) {
        printf("bosexist: Name=%s ", path ? path : "");
        printf(" exists: %d\n", exists);
    }
    return exists;
}

int bosexistW(const uint16_t* path)
{
    char narrow[BOS_PATH_SIZE];
    // A name that cannot be converted names no file we could open.
    if (path == nullptr || bosUtf16ToUtf8Quiet(narrow, sizeof narrow, path) < 0)
        return 0;
    return bosexist(narrow);
}

int bosRename(const char* oldName, const char* newName)
{
    if (oldName == nullptr || newName == nullptr) {
        postNullName();
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
    if (bosPathFromW(a, oldName) || bosPathFromW(b, newName))
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
