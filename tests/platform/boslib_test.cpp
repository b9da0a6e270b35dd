// Library search and loading and the install directory against the real
// machine.
#include "platform/boslib.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/bos.h"
#include "bostest.h"
#include "kamessages.h"

namespace {

using katest::BosTest;

// --- Search and loading --------------------------------------------------------

TEST_F(BosTest, LocateFileSearchesTheListsInOrder)
{
    ASSERT_EQ(0, mkdir(path("lib").c_str(), 0700));
    ASSERT_EQ(0, mkdir(path("bin").c_str(), 0700));
    writeFile("lib/target.so", "");
    writeFile("upper.so", "");
    char out[BOS_PATH_SIZE];
    // A name that exists as given comes back unchanged.
    std::string given = path("upper.so");
    ASSERT_EQ(0, LocateFile(out, given.c_str(), 0));
    EXPECT_EQ(given, out);

    setEnv("KA", dir + "/bin:" + dir + "/lib");
    ASSERT_EQ(0, LocateFile(out, "target.so", BOS_SEARCH_KA));
    EXPECT_EQ(path("lib/target.so"), out);
    // With the library bits the parent of each directory is tried as well.
    setEnv("KA", dir + "/bin");
    EXPECT_EQ(1, LocateFile(out, "upper.so", BOS_SEARCH_KA));
    EXPECT_STREQ("", out);
    ASSERT_EQ(0, LocateFile(out, "upper.so", BOS_SEARCH_KA | BOS_SEARCH_LIBPATH));
    EXPECT_EQ(path("bin/../upper.so"), out);
    EXPECT_EQ(0u, errors.size());
}

TEST_F(BosTest, ABareNameIsNotTakenFromTheWorkingDirectoryUnlessAsked)
{
    writeFile("planted.so", "");
    char saved[BOS_PATH_SIZE];
    ASSERT_NE(nullptr, getcwd(saved, sizeof saved));
    ASSERT_EQ(0, chdir(dir.c_str()));
    char out[BOS_PATH_SIZE];
    unsetEnv("LD_LIBRARY_PATH");
    unsetEnv("LD_RUN_PATH");
    int implicitRc = LocateFile(out, "planted.so", 0);
    std::string implicitOut = out;
    int askedRc = LocateFile(out, "planted.so", BOS_SEARCH_CWD);
    std::string askedOut = out;
    ASSERT_EQ(0, chdir(saved));
    EXPECT_EQ(1, implicitRc);
    EXPECT_EQ("", implicitOut);
    EXPECT_EQ(0, askedRc);
    EXPECT_EQ(path("planted.so"), askedOut);
}

TEST_F(BosTest, LoadLibraryAddsVersionAndExtensionAndReportsLoaderErrors)
{
    ASSERT_EQ(0, std::system(("cp /lib/x86_64-linux-gnu/libm.so.6 '" + path("libkatest28.so") + "'").c_str()));
    ASSERT_EQ(0, std::system(("cp /lib/x86_64-linux-gnu/libm.so.6 '" + path("libplain.so.6") + "'").c_str()));
    writeFile("libbroken.so", "not a library");
    setEnv("KA", dir);
    void* h = LoadLibrary("libkatest ", 1, 0);
    ASSERT_NE(nullptr, h);
    EXPECT_NE(nullptr, dlsym(h, "cos"));
    dlclose(h);
    // ".so" in the middle of the name: no second ".so".
    h = LoadLibrary("libplain.so.6", 0, 0);
    ASSERT_NE(nullptr, h);
    dlclose(h);
    EXPECT_EQ(0u, errors.size());

    EXPECT_EQ(nullptr, LoadLibrary("libnothere", 0, 0));
    EXPECT_EQ(0u, errors.size());

    EXPECT_EQ(nullptr, LoadLibrary("libbroken", 0, 0));
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_LIBRARY_LOAD_FAILED, errors.native(0));
    EXPECT_NE(std::string::npos, errors.text(0).find(path("libbroken.so")));
}

// --- Install directory ---------------------------------------------------------

TEST_F(BosTest, InstallDirectoryIsTrimmed)
{
    char saved[BOS_INSTALL_DIR_SIZE];
    bosGetInstallDir(saved, sizeof saved);
    EXPECT_EQ(0, bosInitInstallDir("/opt/driver/  "));
    EXPECT_STREQ("/opt/driver", bosInstallDir);
    EXPECT_EQ(1, bosInitInstallDir("/"));
    EXPECT_STREQ("", bosInstallDir);
    setEnv("TW_INSTALLDIR", "/from/env");
    EXPECT_EQ(0, bosInitInstallDir(nullptr));
    EXPECT_STREQ("/from/env", bosInstallDir);
    bosInitInstallDir(saved);
}

TEST_F(BosTest, InstallDirectoryFromTheIniFiles)
{
    char saved[BOS_INSTALL_DIR_SIZE];
    bosGetInstallDir(saved, sizeof saved);
    unsetEnv("TW_INSTALLDIR");
    writeFile("odbc.ini", "[ODBC]\nInstallDir=/opt/from/odbcini/\n");
    writeFile("empty.ini", "[ODBC]\nTrace=0\n");
    writeFile("odbcinst.ini", "[ODBC]\nInstallDir=/opt/from/odbcinst\n");
    unsetEnv("ODBC_INI");
    unsetEnv("ODBCINSTINI");
    setEnv("ODBCINI", path("odbc.ini"));
    setEnv("ODBCINST", path("odbcinst.ini"));
    EXPECT_EQ(0, bosInitInstallDir(nullptr));
    EXPECT_STREQ("/opt/from/odbcini", bosInstallDir);
    setEnv("ODBCINI", path("empty.ini"));
    EXPECT_EQ(0, bosInitInstallDir(nullptr));
    EXPECT_STREQ("/opt/from/odbcinst", bosInstallDir);
    bosInitInstallDir(saved);
}

}  // namespace
