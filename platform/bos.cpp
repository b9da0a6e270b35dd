// The operating-system layer's common ground: the trace word, the bounded
// name helpers every bos* file uses, and the mapping of errno values to
// diagnostics.
#include "platform/bos.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/kaerror.h"
#include "foundation/kathread.h"
#include "foundation/numtext.h"
#include "kamessages.h"
#include "platform/boscatalog.h"
#include "platform/bosinternal.h"

uint64_t bosDebugFlags = 0;

namespace {

constexpr size_t kAppendTextSize = 512;

// The debug word is read before any other static initialiser of the
// library can trace.
__attribute__((constructor(101))) void bosReadDebugFlags()
{
    const char* v = getenv("KA_DEBUGGING");
    unsigned long flags = 0;
    if (v && sscanf(v, "%lx", &flags) == 1)
        bosDebugFlags = flags;
}

// The errno values that have a diagnostic of their own; namesObject: the
// diagnostic takes the object's name as its parameter.
struct MappedError {
    int error;
    KaMessage message;
    bool namesObject;
};

constexpr MappedError kMappedErrors[] = {
    {EPERM, MSG_OPERATION_NOT_PERMITTED, true},
    {ENOENT, MSG_FILE_NOT_FOUND, true},
    {EBADF, MSG_BAD_FILE_DESCRIPTOR, false},
    {EAGAIN, MSG_RESOURCE_TEMPORARILY_UNAVAILABLE, false},
    {ENOMEM, MSG_SYSTEM_OUT_OF_MEMORY, false},
    {EACCES, MSG_FILE_ACCESS_DENIED, true},
    {EEXIST, MSG_FILE_EXISTS, true},
    {EMFILE, MSG_TOO_MANY_OPEN_FILES, false},
    {ENOSPC, MSG_DISK_FULL, true},
    {EROFS, MSG_READ_ONLY_FILE_SYSTEM, true},
    {EDEADLK, MSG_FILE_LOCK_DEADLOCK, true},
    {ENOLCK, MSG_NO_LOCKS_AVAILABLE, false},
};

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

// The system's text for an errno value, with the object named as the
// catalogue's format says, appended to the diagnostic just posted.
void appendSystemText(int error, const char* name)
{
    char system[kAppendTextSize];
    const char* s = strerror_r(error, system, sizeof system);
    if (s == nullptr || s[0] == 0)
        return;
    char text[kAppendTextSize];
    text[0] = ' ';
    if (name[0]) {
        char format[kAppendTextSize];
        char decimal[kDecimalTextSize];
        snprintf(decimal, sizeof decimal, "%u", static_cast<unsigned>(MSG_SYSTEM_ERROR_ON_OBJECT));
        // Without a catalogue the lookup gives the number back.
        if (LoadStringFromOpenFile(nullptr, MSG_SYSTEM_ERROR_ON_OBJECT, format, sizeof format) == 0 ||
            strcmp(format, decimal) == 0)
            snprintf(format, sizeof format, "%s", "%s (%s)");
        fillTwoStrings(text + 1, sizeof text - 1, format, s, name);
    } else {
        snprintf(text + 1, sizeof text - 1, "%s", s);
    }
    if (text[1])
        KaErrorAppendText(text);
}

}  // namespace

const char* bosEnvValue(const char* name)
{
    const char* v = getenv(name);
    return v && *v ? v : nullptr;
}

int bosCopyBounded(char* dst, size_t size, const char* src)
{
    size_t n = strlen(src);
    if (n >= size)
        return 1;
    memcpy(dst, src, n + 1);
    return 0;
}

int bosJoinPath(char* dst, size_t size, const char* a, const char* b)
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

void bosTrimTrailingSpace(char* s, size_t keep)
{
    size_t n = strlen(s);
    while (n > keep && isspace(static_cast<unsigned char>(s[n - 1])))
        s[--n] = 0;
}

void bosMapError(int error, const char* name)
{
    const char* nm = name ? name : "";
    for (const MappedError& m : kMappedErrors) {
        if (m.error != error)
            continue;
        KaError* posted = errPost(m.message);
        if (m.namesObject)
            posted->addParamText(nm);
        return;
    }
    errPost(MSG_SYSTEM_ERROR)->addParamUnsigned(static_cast<unsigned>(error));
    if (error == EIO && nm[0] == 0)
        return;
    appendSystemText(error, nm);
}

void bosMapErrorW(int error, const uint16_t* name)
{
    char narrow[BOS_PATH_SIZE];
    if (name == nullptr || bosUtf16ToUtf8Quiet(narrow, sizeof narrow, name) < 0)
        narrow[0] = 0;
    bosMapError(error, name ? narrow : nullptr);
}
