// The setup entry points. This version of the driver has no setup library:
// each request fails and tells the installer why.
#include "odbc/setupapi.h"

#include <dlfcn.h>
#include <odbcinst.h>
#include <sql.h>

namespace {

const char kSetupUnavailable[] =
    "Data source setup is not available: this version of the driver has no setup library.";

// Tells the installer why a setup request failed, when the installer
// library can be reached from here. It is looked up rather than linked: a
// driver manager without it must still load the driver.
void postInstallerError(const char* text) noexcept
{
    using PostFn = decltype(&SQLPostInstallerError);
    static const char* const kNames[] = {"libodbcinst.so.2", "libodbcinst.so"};
    for (const char* name : kNames) {
        void* lib = dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr)
            continue;
        auto post = reinterpret_cast<PostFn>(dlsym(lib, "SQLPostInstallerError"));
        if (post != nullptr)
            post(ODBC_ERROR_REQUEST_FAILED, text);
        dlclose(lib);
        return;
    }
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) BOOL ConfigDSN(HWND window, WORD request,
                                                      LPCSTR driver, LPCSTR attributes)
{
    postInstallerError(kSetupUnavailable);
    return SQL_FALSE;
}

__attribute__((visibility("default"))) BOOL ConfigFileDSN(HWND window, WORD request,
                                                          LPCSTR driver, LPCSTR attributes,
                                                          LPCSTR fileDsn)
{
    postInstallerError(kSetupUnavailable);
    return SQL_FALSE;
}

}  // extern "C"
