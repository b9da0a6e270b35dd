// Library search and loading through the operating-system layer, and the
// install directory they start from.
#include "platform/boslib.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

#include "foundation/kalock.h"
#include "foundation/kaerror.h"
#include "foundation/kathread.h"
#include "kamessages.h"
#include "platform/bos.h"
#include "platform/bosfile.h"
#include "platform/bosinternal.h"
#include "platform/bospath.h"
#include "platform/kaini.h"

char bosInstallDir[BOS_INSTALL_DIR_SIZE];

namespace {

constexpr size_t kLoaderTextSize = 256;
constexpr char kVersionSuffix[] = "28";
constexpr char kLibrarySuffix[] = ".so";

// Serialises the first filling of the install directory by LocateFile; taken
// before the strings lock, never after it.
KaCriticalSection& locateLock()
{
    static KaCriticalSection lock(0, kKaLockPlain);
    return lock;
}

// Tries dir/name (and with parent dir/../name); 0 with the path when found.
int tryDir(char* pathOut, const char* dir, const char* name, bool parent)
{
    char candidate[BOS_PATH_SIZE];
    for (int pass = 0; pass < (parent ? 2 : 1); ++pass) {
        if (bosJoinPath(candidate, sizeof candidate, dir, pass ? "../" : "") ||
            strlen(candidate) + strlen(name) >= sizeof candidate)
            continue;
        strcat(candidate, name);
        if (bosTraced(BOS_TRACE_LOCATE))
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

// Tries the lists of environment variables (a null entry ends the names)
// and then the fixed directories, in order.
int searchLists(char* pathOut, const char* const* variables, const char* fixed, const char* name, bool parent)
{
    for (; *variables; ++variables)
        if (searchList(pathOut, bosEnvValue(*variables), name, parent) == 0)
            return 0;
    return fixed ? searchList(pathOut, fixed, name, parent) : 1;
}

// The install directory and its "lib", filled first when still empty.
int searchInstallDir(char* pathOut, const char* name, bool parent)
{
    {
        KaLockGuard<KaCriticalSection> guard(locateLock());
        if (bosInstallDir[0] == 0)
            bosInitInstallDir(nullptr);
    }
    char dir[BOS_INSTALL_DIR_SIZE];
    bosGetInstallDir(dir, sizeof dir);
    if (dir[0] == 0)
        return 1;
    if (tryDir(pathOut, dir, name, parent) == 0)
        return 0;
    char lib[BOS_PATH_SIZE];
    return bosJoinPath(lib, sizeof lib, dir, "lib") == 0 ? tryDir(pathOut, lib, name, parent) : 1;
}

// The name LoadLibrary looks for: trimmed, with the version suffix when
// asked, and ".so" unless the name holds it. file: BOS_PATH_SIZE bytes.
int libraryFileName(char* file, const char* name, int32_t versionFlag)
{
    if (bosCopyBounded(file, BOS_PATH_SIZE, name))
        return 1;
    bosTrimTrailingSpace(file, 0);
    if ((versionFlag & 0xff) && bosAppendVersionSuffix(file, BOS_PATH_SIZE))
        return 1;
    if (strstr(file, kLibrarySuffix) == nullptr) {
        size_t n = strlen(file);
        if (n + sizeof kLibrarySuffix > BOS_PATH_SIZE)
            return 1;
        memcpy(file + n, kLibrarySuffix, sizeof kLibrarySuffix);
    }
    return 0;
}

}  // namespace

int LocateFile(char* pathOut, const char* name, uint32_t searchBits)
{
    if (pathOut)
        pathOut[0] = 0;
    if (name == nullptr || name[0] == 0 || strlen(name) >= BOS_PATH_SIZE)
        return 1;
    // A name with a directory part is taken as it stands. A bare name is never
    // looked up in the working directory unless the caller asks for that: a
    // library planted there must not be loaded behind the application's back.
    if (strchr(name, '/') != nullptr && bosexist(name)) {
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
    if ((searchBits & BOS_SEARCH_INSTALL) && searchInstallDir(pathOut, name, parent) == 0)
        return 0;
    static const char* const kHome[] = {"HOME", nullptr};
    static const char* const kKa[] = {"KA", "KALIB", nullptr};
    static const char* const kLibPath[] = {"LD_LIBRARY_PATH_64", "LD_RUN_PATH", nullptr};
    static const char* const kLoaderPath[] = {"LD_LIBRARY_PATH", "LD_RUN_PATH", nullptr};
    static const char* const kPath[] = {"PATH", nullptr};
    if ((searchBits & BOS_SEARCH_HOME) && searchLists(pathOut, kHome, nullptr, name, parent) == 0)
        return 0;
    if ((searchBits & BOS_SEARCH_KA) && searchLists(pathOut, kKa, nullptr, name, parent) == 0)
        return 0;
    if ((searchBits & BOS_SEARCH_LIBPATH) && searchLists(pathOut, kLibPath, "/usr/local/lib", name, parent) == 0)
        return 0;
    if ((searchBits & BOS_SEARCH_PATH) && searchLists(pathOut, kPath, nullptr, name, parent) == 0)
        return 0;
    // Second pass, whatever the bits: the loader's own search path.
    if (searchLists(pathOut, kLoaderPath, "/usr/local/lib", name, parent) == 0)
        return 0;
    if ((searchBits & BOS_SEARCH_PATH) && searchLists(pathOut, kPath, nullptr, name, parent) == 0)
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
    if (libraryFileName(file, name, versionFlag))
        return nullptr;
    if (bosTraced(BOS_TRACE_LOADLIB))
        printf("LoadLibrary: Searching for %s.\n", file);
    char path[BOS_PATH_SIZE];
    if (LocateFile(path, file, BOS_SEARCH_KA | BOS_SEARCH_LIBPATH)) {
        if (bosTraced(BOS_TRACE_LOADLIB))
            printf("Unable to open Shared Library: %s\n", file);
        return nullptr;
    }
    if (bosTraced(BOS_TRACE_LOADLIB))
        printf("LoadLibrary: Found library %s.\n", path);
    // A path without "/" would send dlopen to the system's search path
    // instead of the file that was found.
    if (strchr(path, '/') == nullptr) {
        char local[BOS_PATH_SIZE];
        if (bosJoinPath(local, sizeof local, ".", path) == 0)
            memcpy(path, local, strlen(local) + 1);
    }
    void* handle = dlopen(path, loaderFlags > 0 ? loaderFlags : RTLD_NOW);
    if (handle == nullptr) {
        char text[kLoaderTextSize];
        const char* err = dlerror();
        snprintf(text, sizeof text, "%s", err ? err : "");
        if (bosTraced(BOS_TRACE_LOADLIB)) {
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
    if (name == nullptr || bosPathFromW(narrow, name))
        return nullptr;
    return LoadLibrary(narrow, versionFlag, 0);
}

int bosInitInstallDir(const char* dir)
{
    // The ini files are read before the lock is taken: the ini reader opens
    // files through this layer and must not meet the catalogue's lock.
    char work[BOS_INSTALL_DIR_SIZE];
    work[0] = 0;
    const char* given = dir ? dir : bosEnvValue("TW_INSTALLDIR");
    if (given) {
        if (bosCopyBounded(work, sizeof work, given))
            work[0] = 0;
    } else {
        KaGetPrivateProfileString("ODBC", "InstallDir", "", work, sizeof work, "ODBC.INI");
        if (work[0] == 0)
            KaGetPrivateProfileStringRelease("ODBC", "InstallDir", "", work, sizeof work, "ODBCINST.INI");
    }
    bosTrimTrailingSpace(work, 1);
    size_t n = strlen(work);
    if (n > 0 && work[n - 1] == '/')
        work[n - 1] = 0;
    KaLockGuard<KaCriticalSection> guard(bosStringsLock());
    memcpy(bosInstallDir, work, strlen(work) + 1);
    return bosInstallDir[0] == 0 ? 1 : 0;
}

void bosGetInstallDir(char* out, size_t size)
{
    if (out == nullptr || size == 0)
        return;
    KaLockGuard<KaCriticalSection> guard(bosStringsLock());
    size_t n = strlen(bosInstallDir);
    if (n >= size)
        n = 0;
    memcpy(out, bosInstallDir, n);
    out[n] = 0;
}
