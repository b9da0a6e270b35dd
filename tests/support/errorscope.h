// Test helpers for diagnostics: a scope that makes a fresh error list
// current on the calling thread, readers of its records, and the opening of
// the message catalogue that the build compiles.
#pragma once
#include <climits>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "foundation/kaerror.h"
#include "foundation/kathread.h"
#include "foundation/kaowner.h"
#include "platform/boscatalog.h"
#include "platform/boslib.h"
#include "support/u16.h"

namespace katest {

// The build tree: KA_TEST_BUILD_DIR when ctest runs the test, else the
// parent of the directory holding the test executable.
inline std::string buildDir()
{
    if (const char* dir = getenv("KA_TEST_BUILD_DIR"); dir != nullptr && *dir != '\0')
        return dir;
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return ".";
    std::string path(exe, size_t(n));
    path = path.substr(0, path.rfind('/'));  // <build>/tests
    return path.substr(0, path.rfind('/'));
}

inline std::string catalogueFile()
{
    return buildDir() + "/locale/en_US/LC_MESSAGES/VYspark28.mo";
}

// Opens the driver catalogue of the build tree; 0 when it is open.
inline int openCatalogue()
{
    bosInitInstallDir(buildDir().c_str());
    return OpenStrings("VYspark28", nullptr, nullptr, nullptr);
}

inline void closeCatalogue()
{
    CloseStrings(nullptr, nullptr);
}

// The record's message as ASCII text.
inline std::string messageText(KaError* rec)
{
    return narrow(u16(rec->messageW()));
}

inline std::string sqlstate(const KaError* rec)
{
    uint16_t s[KA_SQLSTATE_LEN + 1] = {};
    rec->effectiveSqlstate(s);
    return narrow(u16(s));
}

// Attaches the calling thread to the driver for its lifetime; attached is
// threadAttach's answer.
struct ThreadScope {
    int attached;

    ThreadScope() : attached(threadAttach()) {}
    ~ThreadScope() { threadDetach(); }
    ThreadScope(const ThreadScope&) = delete;
    ThreadScope& operator=(const ThreadScope&) = delete;
};

// Makes a fresh list current for its lifetime (the product's KaErrorListScope
// over a list of its own).
struct ErrorScope {
    KaErrorList list;
    KaErrorListScope current{&list};

    ErrorScope() = default;
    ErrorScope(const ErrorScope&) = delete;
    ErrorScope& operator=(const ErrorScope&) = delete;

    size_t size() const { return list.count; }
    KaError* at(size_t i) const { return list.recordAt(i); }
    std::string text(size_t i) const { return messageText(list.recordAt(i)); }
    uint16_t native(size_t i) const { return list.recordAt(i)->nativeCode; }
};

}  // namespace katest
