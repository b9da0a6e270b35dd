// Environment, host, user and time through the operating-system layer.
#include "platform/bosenv.h"

#include <pthread.h>
#include <pwd.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unicode/ucnv.h>

#include "foundation/icucache.h"
#include "foundation/kathread.h"
#include "kamessages.h"
#include "platform/bos.h"
#include "platform/bosinternal.h"
#include "platform/bosname.h"

namespace {

constexpr size_t kHostBuffer = BOS_HOST_NAME_SIZE + 1;
constexpr size_t kPasswdBuffer = 4096;
constexpr size_t kCommandSize = 64;

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

// The login name when the password database has no entry for the user.
int loginName(char* buffer, size_t size)
{
    char login[kHostBuffer];
    int rc = getlogin_r(login, sizeof login);
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

}  // namespace

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
    UConverter* c = bosNameConverters().acquire(kCodePageDefault, &ctx);
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
    bosNameConverters().release(kCodePageDefault, c, ctx);
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
    if (found == nullptr)
        return loginName(buffer, size);
    if (found->pw_name == nullptr || found->pw_name[0] == 0) {
        errPost(MSG_USER_NAME_UNKNOWN);
        return 1;
    }
    return copyTruncated(buffer, size, found->pw_name, strlen(found->pw_name));
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
    char command[kCommandSize];
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

namespace {

// Changes the case of the first n bytes of buffer, up to its terminator.
void changeCase(char* buffer, size_t n, int (*change)(int))
{
    for (size_t i = 0; buffer && i < n && buffer[i]; ++i)
        buffer[i] = static_cast<char>(change(static_cast<unsigned char>(buffer[i])));
}

}  // namespace

void bosUpper(char* buffer, size_t n)
{
    changeCase(buffer, n, toupper);
}

void bosLower(char* buffer, size_t n)
{
    changeCase(buffer, n, tolower);
}
