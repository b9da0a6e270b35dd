// Paths and directories of the operating-system layer against the real
// machine: configuration and home-relative names, full names, splitting,
// the working directory and the enumerations.
#include "platform/bospath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/bos.h"
#include "platform/bosfile.h"
#include "bostest.h"
#include "kamessages.h"

namespace {

using katest::BosTest;

// --- Configuration and home-relative names -------------------------------------

TEST_F(BosTest, OdbcIniNamedByEnvironmentMustExist)
{
    setEnv("ODBCINI", path("nothere.ini"));
    char name[BOS_PATH_SIZE] = ".odbc.ini";
    int32_t fd = 4;
    EXPECT_EQ(1, bosfopen(name, BOS_OPEN_CONFIG, &fd));
    EXPECT_EQ(0, fd);
    EXPECT_EQ(path("nothere.ini"), name);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_FILE_NOT_FOUND, errors.native(0));
    // The diagnostic names the file that is missing.
    EXPECT_NE(std::string::npos, errors.text(0).find(path("nothere.ini")));
}

TEST_F(BosTest, ConfigNamesResolveWithoutOpening)
{
    writeFile("inst.ini", "[ODBC]\n");
    unsetEnv("ODBCINST");
    setEnv("ODBCINSTINI", path("inst.ini"));
    char name[BOS_PATH_SIZE] = "ODBCINST.INI";
    int32_t fd = 4;
    EXPECT_EQ(0, bosfopen(name, BOS_OPEN_CONFIG | BOS_OPEN_RESOLVE_ONLY, &fd));
    EXPECT_EQ(0, fd);
    EXPECT_EQ(path("inst.ini"), name);

    // Library ini: the home file wins when it exists, else KALIB_INI.
    setEnv("HOME", dir);
    setEnv("KALIB_INI", "/elsewhere/lib.ini");
    snprintf(name, sizeof name, ".kalib.ini");
    EXPECT_EQ(0, bosfopen(name, BOS_OPEN_CONFIG | BOS_OPEN_RESOLVE_ONLY, &fd));
    EXPECT_STREQ("/elsewhere/lib.ini", name);
    writeFile(".kalib.ini", "");
    snprintf(name, sizeof name, ".kalib.ini");
    EXPECT_EQ(0, bosfopen(name, BOS_OPEN_CONFIG | BOS_OPEN_RESOLVE_ONLY, &fd));
    EXPECT_EQ(path(".kalib.ini"), name);

    // Without the environment variables, the upper-case names are the
    // user's dotted files in the home directory.
    unsetEnv("ODBCINI");
    unsetEnv("ODBC_INI");
    unsetEnv("ODBCINSTINI");
    writeFile(".odbc.ini", "[ODBC]\n");
    writeFile(".odbcinst.ini", "[ODBC]\n");
    snprintf(name, sizeof name, "ODBC.INI");
    EXPECT_EQ(0, bosfopen(name, BOS_OPEN_CONFIG | BOS_OPEN_RESOLVE_ONLY, &fd));
    EXPECT_EQ(path(".odbc.ini"), name);
    snprintf(name, sizeof name, "ODBCINST.INI");
    EXPECT_EQ(0, bosfopen(name, BOS_OPEN_CONFIG | BOS_OPEN_RESOLVE_ONLY, &fd));
    EXPECT_EQ(path(".odbcinst.ini"), name);

    // Home-relative names: HOME with a trailing "/" gets no second one.
    setEnv("HOME", dir + "/");
    snprintf(name, sizeof name, "x.txt");
    EXPECT_EQ(0, bosfopen(name, BOS_OPEN_HOME | BOS_OPEN_RESOLVE_ONLY, &fd));
    EXPECT_EQ(path("x.txt"), name);
    EXPECT_EQ(0u, errors.size());
}

TEST_F(BosTest, WithoutTheUsersFilesTheSystemsAreRead)
{
    // unixODBC keeps system data sources and registered drivers in
    // ODBCSYSINI's folder (else /etc): without a file of the user's, those
    // are the ones read; the user's file wins when it exists.
    unsetEnv("ODBCINI");
    unsetEnv("ODBC_INI");
    unsetEnv("ODBCINST");
    unsetEnv("ODBCINSTINI");
    setEnv("HOME", dir);
    ASSERT_EQ(0, mkdir(path("sys").c_str(), 0700));
    writeFile("sys/odbc.ini", "[dsn]\n");
    writeFile("sys/odbcinst.ini", "[driver]\n");
    setEnv("ODBCSYSINI", path("sys"));
    struct Case {
        const char* name;
        const char* system;
        const char* user;
    } cases[] = {{"ODBC.INI", "sys/odbc.ini", ".odbc.ini"}, {"ODBCINST.INI", "sys/odbcinst.ini", ".odbcinst.ini"}};
    for (const Case& c : cases) {
        char name[BOS_PATH_SIZE];
        int32_t fd = 4;
        snprintf(name, sizeof name, "%s", c.name);
        EXPECT_EQ(0, bosfopen(name, BOS_OPEN_CONFIG | BOS_OPEN_RESOLVE_ONLY, &fd));
        EXPECT_EQ(path(c.system), name);
        writeFile(c.user, "");
        snprintf(name, sizeof name, "%s", c.name);
        EXPECT_EQ(0, bosfopen(name, BOS_OPEN_CONFIG | BOS_OPEN_RESOLVE_ONLY, &fd));
        EXPECT_EQ(path(c.user), name);
    }
    char system[BOS_PATH_SIZE];
    unsetEnv("ODBCSYSINI");
    // Without ODBCSYSINI the folder is /etc; only an existing file counts.
    if (bosSystemConfigPath(system, sizeof system, true)) {
        EXPECT_STREQ("/etc/odbc.ini", system);
    }
    EXPECT_EQ(0u, errors.size());
}

// --- Finding files and directories ---------------------------------------------

TEST_F(BosTest, FindFilesRunsNoShell)
{
    writeFile("a.ini", "");
    writeFile("b.ini", "");
    writeFile("c;d.ini", "");
    writeFile("other.txt", "");
    std::vector<std::string> found;
    void* cursor = nullptr;
    char name[BOS_PATH_SIZE];
    snprintf(name, sizeof name, "%s/*.ini", dir.c_str());
    do {
        ASSERT_EQ(0, bosFindFiles(&cursor, name));
        if (name[0])
            found.push_back(name);
    } while (cursor);
    EXPECT_EQ((std::vector<std::string>{"a.ini", "b.ini", "c;d.ini"}), found);

    // Shell syntax in the pattern is only a pattern.
    const std::string pwned = path("pwned");
    const std::string patterns[] = {dir + "/x$(touch " + pwned + ")", dir + "/x`touch " + pwned + "`",
                                    dir + "/x\nEOT\ntouch " + pwned + "\n", dir + "/x; touch " + pwned};
    for (const auto& p : patterns) {
        snprintf(name, sizeof name, "%s", p.c_str());
        cursor = nullptr;
        ASSERT_EQ(0, bosFindFiles(&cursor, name));
        EXPECT_EQ(nullptr, cursor);
        EXPECT_STREQ("", name);
        struct stat st;
        EXPECT_NE(0, stat(pwned.c_str(), &st)) << p;
    }
}

TEST_F(BosTest, DirectoriesMountsAndRelativeNames)
{
    char cwd[BOS_PATH_SIZE];
    bosGetCwd(cwd, 0);
    ASSERT_EQ(0, mkdir(path("sub1").c_str(), 0700));
    ASSERT_EQ(0, mkdir(path("sub2").c_str(), 0700));
    ASSERT_EQ(0, mkdir(path(".hidden").c_str(), 0700));
    writeFile("plain", "");
    ASSERT_EQ(0, bosChdir(dir.c_str()));
    std::set<std::string> subdirs;
    void* cursor = nullptr;
    char name[BOS_PATH_SIZE];
    do {
        ASSERT_EQ(0, bosNextSubdir(&cursor, name));
        if (name[0])
            subdirs.insert(name);
    } while (cursor);
    EXPECT_EQ((std::set<std::string>{"sub1", "sub2"}), subdirs);

    char p[BOS_PATH_SIZE] = "rel/file";
    ASSERT_EQ(0, bosMakeAbsolutePath(p));
    EXPECT_EQ(path("rel/file"), p);
    snprintf(p, sizeof p, "%s", path("sub1/x").c_str());
    bosStripCwd(p);
    EXPECT_STREQ("sub1/x", p);
    char slashed[BOS_PATH_SIZE];
    bosGetCwd(slashed, 1);
    EXPECT_EQ(dir + "/", slashed);
    ASSERT_EQ(0, bosChdir(cwd));
    EXPECT_EQ(1, bosChdir(path("none").c_str()));
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_CHANGE_DIRECTORY_FAILED, errors.native(0));

    setEnv("HOME", dir);
    snprintf(p, sizeof p, "notes.txt");
    ASSERT_EQ(0, bosHomePath(p));
    EXPECT_EQ(path("notes.txt"), p);

    std::set<std::string> mounts;
    cursor = nullptr;
    do {
        ASSERT_EQ(0, bosNextMount(&cursor, name));
        if (name[0])
            mounts.insert(name);
    } while (cursor);
    EXPECT_EQ(1u, mounts.count("/"));
}

// --- Paths ---------------------------------------------------------------------

TEST_F(BosTest, PathFromDirectoryNameAndExtension)
{
    char out[BOS_PATH_SIZE];
    ASSERT_EQ(0, bospath(out, "/data", "report.", "txt"));
    EXPECT_STREQ("/data/report.txt", out);
    ASSERT_EQ(0, bospath(out, "/data/", "report.csv  ", "txt"));
    EXPECT_STREQ("/data/report.csv", out);
    ASSERT_EQ(0, bospath(out, "/data", "/abs/name..", "txt"));
    EXPECT_STREQ("/abs/name..", out);
    char cwd[BOS_PATH_SIZE];
    bosGetCwd(cwd, 1);
    ASSERT_EQ(0, bospath(out, nullptr, "rel", nullptr));
    EXPECT_EQ(std::string(cwd) + "rel", out);

    std::string longName(BOS_PATH_SIZE, 'n');
    EXPECT_EQ(1, bospath(out, "/d", longName.c_str(), nullptr));
    EXPECT_STREQ("", out);
}

TEST_F(BosTest, SplitPathKeepsDirectoryNameAndThreeLetterExtension)
{
    char p[BOS_PATH_SIZE] = "/some/dir/archive.tgzz";
    char name[BOS_SPLIT_NAME_MAX + 1];
    char ext[BOS_SPLIT_EXT_MAX + 1];
    ASSERT_EQ(0, bosSplitPath(p, name, ext, 1));
    EXPECT_STREQ("/some/dir/", p);
    EXPECT_STREQ("archive", name);
    EXPECT_STREQ("tgz", ext);

    std::string longPart = "/d/" + std::string(200, 'x') + ".c";
    snprintf(p, sizeof p, "%s", longPart.c_str());
    EXPECT_EQ(1, bosSplitPath(p, name, ext, 1));
    EXPECT_EQ(BOS_SPLIT_NAME_MAX, strlen(name));
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_FILE_NAME_TOO_LONG, errors.native(0));
    snprintf(p, sizeof p, "%s", longPart.c_str());
    EXPECT_EQ(0, bosSplitPath(p, name, ext, 0));
    EXPECT_EQ(1u, errors.size());
}

}  // namespace
