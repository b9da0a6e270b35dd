// Paths and directories of the operating-system layer, and the resolution
// of the configuration-file names that bosfopen opens.
#include "platform/bospath.h"

#include <dirent.h>
#include <glob.h>
#include <mntent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include <unicode/ustring.h>

#include "foundation/icucache.h"
#include "foundation/kaerror.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bos.h"
#include "platform/bosfile.h"
#include "platform/bosinternal.h"

namespace {

constexpr size_t kMountBuffer = 4096;

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

// The name a configuration file has in the home directory: "ODBC.INI" and
// "ODBCINST.INI" name the user's files, which live there under their dotted
// names.
const char* homeName(ConfigKind kind, const char* name)
{
    return kind == kConfigOdbcIni ? ".odbc.ini" : kind == kConfigOdbcInstIni ? ".odbcinst.ini" : name;
}

}  // namespace

bool bosSystemConfigPath(char* out, size_t size, bool odbcIni) noexcept
{
    // Plain getenv and stat: the ini images are loaded from a static
    // initialiser, before the rest of the layer may be ready.
    const char* dir = getenv("ODBCSYSINI");
    int n = snprintf(out, size, "%s/%s", dir != nullptr && dir[0] != 0 ? dir : "/etc",
                     odbcIni ? "odbc.ini" : "odbcinst.ini");
    struct stat st;
    return n > 0 && static_cast<size_t>(n) < size && stat(out, &st) == 0 && S_ISREG(st.st_mode);
}

bool bosUserConfigPath(char* out, size_t size, bool odbcIni) noexcept
{
    // Plain getenv, for the same reason as above.
    const char* v = getenv(odbcIni ? "ODBCINI" : "ODBCINST");
    if (!v)
        v = getenv(odbcIni ? "ODBC_INI" : "ODBCINSTINI");
    int n;
    if (v) {
        n = snprintf(out, size, "%s", v);
    } else {
        const char* home = getenv("HOME");
        if (!home)
            return false;
        n = snprintf(out, size, "%s/%s", home, odbcIni ? ".odbc.ini" : ".odbcinst.ini");
    }
    return n > 0 && static_cast<size_t>(n) < size;
}

namespace {

// The file a configuration name stands for when the environment names one:
// odbc.ini and odbcinst.ini always, the library's own files only when the
// home directory has none. Null: the home-directory name stands.
const char* configFromEnvironment(ConfigKind kind, const char* resolved)
{
    switch (kind) {
    case kConfigOdbcIni:
    case kConfigOdbcInstIni: {
        const char* v = bosEnvValue(kind == kConfigOdbcIni ? "ODBCINI" : "ODBCINST");
        if (v == nullptr)
            v = bosEnvValue(kind == kConfigOdbcIni ? "ODBC_INI" : "ODBCINSTINI");
        if (v != nullptr || bosexist(resolved))
            return v;
        // No file of the user's: the system's, where unixODBC keeps system
        // data sources and registered drivers (ODBCSYSINI, else /etc).
        static thread_local char systemFile[BOS_PATH_SIZE];
        return bosSystemConfigPath(systemFile, sizeof systemFile, kind == kConfigOdbcIni) ? systemFile : nullptr;
    }
    case kConfigLibIni:
    case kConfigSystemDefaults:
        return bosexist(resolved) ? nullptr : bosEnvValue(kind == kConfigLibIni ? "KALIB_INI" : "KA_SYSTEM_INI");
    default: return nullptr;
    }
}

// odbc.ini and odbcinst.ini must be regular files; 0, or an errno value.
int regularFileError(const char* name)
{
    struct stat st;
    if (stat(name, &st) != 0)
        return errno ? errno : ENOENT;
    if (!S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? EISDIR : ENOENT;
    return 0;
}

// UTF-8 to UTF-16 into out (units, at least 1): the length, or -1 posted.
int64_t utf8ToUtf16(uint16_t* out, size_t units, const char* in)
{
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

// Copies a terminated UTF-16 text with its terminator.
void copyWide(uint16_t* out, const uint16_t* in)
{
    memcpy(out, in, (u_strlen(reinterpret_cast<const UChar*>(in)) + 1) * sizeof(uint16_t));
}

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

int bosResolveName(char* name, uint32_t flags)
{
    ConfigKind kind = (flags & BOS_OPEN_CONFIG) ? configKind(name) : kConfigNone;
    if (kind != kConfigNone)
        flags |= BOS_OPEN_HOME;
    char resolved[BOS_PATH_SIZE];
    if (bosCopyBounded(resolved, sizeof resolved, name))
        return ENAMETOOLONG;
    if (flags & BOS_OPEN_HOME) {
        const char* home = bosEnvValue("HOME");
        if (home && bosJoinPath(resolved, sizeof resolved, home, homeName(kind, name)))
            return ENAMETOOLONG;
    }
    const char* chosen = configFromEnvironment(kind, resolved);
    if (chosen == nullptr)
        chosen = resolved;
    if (strlen(chosen) >= BOS_PATH_SIZE)
        return ENAMETOOLONG;
    if (strcmp(chosen, name) != 0 && bosTraced(BOS_TRACE_FOPEN)) {
        printf("bosfopen: Replacing %s ", name);
        printf("with %s\n", chosen);
    }
    memmove(name, chosen, strlen(chosen) + 1);
    if (kind == kConfigOdbcIni || kind == kConfigOdbcInstIni)
        return regularFileError(name);
    return 0;
}

int bospath(char* out, const char* dir, const char* name, const char* defaultExt)
{
    if (bosTraced(BOS_TRACE_PATH))
        printf("BOSPATH: dir:%s name:%s default_ext:%s\n", dir ? dir : "(null)", name ? name : "(null)",
               defaultExt ? defaultExt : "(null)");
    char work[BOS_PATH_SIZE];
    if (bosCopyBounded(work, sizeof work, name ? name : "")) {
        out[0] = 0;
        bosMapError(ENAMETOOLONG, name);
        return 1;
    }
    bosTrimTrailingSpace(work, 0);
    size_t n = strlen(work);
    if (n > 0 && work[n - 1] == '.' && !(n > 1 && work[n - 2] == '.'))
        work[n - 1] = 0;
    int tooLong = 0;
    if (strchr(work, '/') == nullptr && dir && *dir)
        tooLong = bosJoinPath(work, sizeof work, dir, work);
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
    if (bosTraced(BOS_TRACE_PATH))
        printf("bospath: after bosfpath path:%s\n", out);
    return 0;
}

int bospathW(uint16_t* out, const uint16_t* dir, const uint16_t* name, const uint16_t* defaultExt)
{
    char d[BOS_PATH_SIZE], n[BOS_PATH_SIZE], e[BOS_PATH_SIZE];
    if (bosPathFromW(d, dir) || bosPathFromW(n, name) || bosPathFromW(e, defaultExt))
        return 1;
    char result[BOS_PATH_SIZE] = {};
    if (bospath(result, dir ? d : nullptr, n, defaultExt ? e : nullptr))
        return 1;
    uint16_t wide[BOS_PATH_SIZE];
    if (utf8ToUtf16(wide, BOS_PATH_SIZE, result) < 0)
        return 1;
    copyWide(out, wide);
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
    if (bosPathFromW(p, path))
        return 1;
    // The split works on bytes; the name and extension limits count
    // characters of the narrow form.
    char n[BOS_SPLIT_NAME_MAX + 1];
    char e[BOS_SPLIT_EXT_MAX + 1];
    int rc = bosSplitPath(p, n, e, report);
    uint16_t wp[BOS_PATH_SIZE];
    uint16_t wn[BOS_SPLIT_NAME_MAX + 1];
    uint16_t we[BOS_SPLIT_EXT_MAX + 1];
    if (utf8ToUtf16(wp, BOS_PATH_SIZE, p) < 0 || utf8ToUtf16(wn, BOS_SPLIT_NAME_MAX + 1, n) < 0 ||
        utf8ToUtf16(we, BOS_SPLIT_EXT_MAX + 1, e) < 0)
        return 1;
    copyWide(path, wp);
    copyWide(name, wn);
    copyWide(ext, we);
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
    const char* v = bosEnvValue("HOME");
    if (v == nullptr)
        v = bosEnvValue("KA");
    if (v) {
        if (bosCopyBounded(base, sizeof base, v))
            return 1;
    } else {
        bosGetCwd(base, 0);
    }
    char joined[BOS_PATH_SIZE];
    if (bosJoinPath(joined, sizeof joined, base, name))
        return 1;
    memcpy(name, joined, strlen(joined) + 1);
    return 0;
}

int bosMakeAbsolutePath(char* path)
{
    if (path == nullptr || path[0] == '/')
        return 0;
    char cwd[BOS_PATH_SIZE];
    if (getcwd(cwd, sizeof cwd) == nullptr)
        return 1;
    char joined[BOS_PATH_SIZE];
    if (bosJoinPath(joined, sizeof joined, cwd, path))
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
            if (stat(e->d_name, &st) == 0 && S_ISDIR(st.st_mode) && bosCopyBounded(name, BOS_PATH_SIZE, e->d_name) == 0)
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
            if (c->entry.mnt_dir && bosCopyBounded(name, BOS_PATH_SIZE, c->entry.mnt_dir) == 0)
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
        if (bosTraced(BOS_TRACE_FIND))
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
        if (*file && bosCopyBounded(name, BOS_PATH_SIZE, file) == 0) {
            if (bosTraced(BOS_TRACE_FIND))
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
