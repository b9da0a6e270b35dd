// The setup entry points as the unixODBC installer calls them: without a
// setup library each request fails and the installer learns why.
#include "odbc/setupapi.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <odbcinst.h>
#include <sql.h>

#include <string>

TEST(SetupExports, ConfigDsnFailsAndTellsTheInstaller)
{
    using InstallerError = decltype(&SQLInstallerError);
    // The installer library is loaded while it asks the driver, as here.
    void* installer = dlopen("libodbcinst.so.2", RTLD_NOW);
    ASSERT_NE(installer, nullptr) << dlerror();
    auto readError = reinterpret_cast<InstallerError>(dlsym(installer, "SQLInstallerError"));
    ASSERT_NE(readError, nullptr);

    for (bool fileDsn : {false, true}) {
        BOOL ok = fileDsn ? ConfigFileDSN(nullptr, ODBC_ADD_DSN, "VYspark28", "DSN=x\0", "x.dsn")
                          : ConfigDSN(nullptr, ODBC_ADD_DSN, "VYspark28", "DSN=x\0");
        EXPECT_EQ(ok, SQL_FALSE);
        DWORD code = 0;
        char text[256] = {};
        WORD length = 0;
        ASSERT_EQ(readError(1, &code, text, sizeof text, &length), SQL_SUCCESS);
        EXPECT_EQ(code, DWORD{ODBC_ERROR_REQUEST_FAILED});
        EXPECT_NE(std::string(text).find("setup is not available"), std::string::npos) << text;
    }
    // The installer stays loaded: its error list belongs to the process.
}
