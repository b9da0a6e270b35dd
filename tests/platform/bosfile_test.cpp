// Files of the operating-system layer against the real machine: temporary
// files, opening by flag word, descriptor and lock rules, reading, writing,
// truncating, renaming, deleting and the questions about a file.
#include "platform/bosfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/bos.h"
#include "bostest.h"
#include "kamessages.h"

namespace {

using katest::BosTest;

// --- Temporary files -----------------------------------------------------------

TEST_F(BosTest, TemporaryFilesArePrivateFreshAndInTheChosenDirectory)
{
    std::set<std::string> names;
    std::vector<int32_t> fds;
    for (int i = 0; i < 20; ++i) {
        char name[BOS_PATH_SIZE] = "ignored";
        int32_t fd = -1;
        ASSERT_EQ(0, bosfopen(name, BOS_OPEN_TEMP | BOS_OPEN_READWRITE, &fd));
        ASSERT_GT(fd, 0);
        std::string n = name;
        EXPECT_EQ(0u, n.rfind(dir + "/ka", 0)) << n;
        struct stat st;
        ASSERT_EQ(0, fstat(fd, &st));
        EXPECT_EQ(0600u, st.st_mode & 0777);
        EXPECT_EQ(0, st.st_size);
        ASSERT_EQ(0, bosfwrite(fd, 0, "abc", 3));
        names.insert(n);
        fds.push_back(fd);
    }
    EXPECT_EQ(20u, names.size());
    for (int32_t fd : fds)
        EXPECT_EQ(0, bosfclose(fd));
    for (const auto& n : names)
        EXPECT_EQ(0, bosfdelete(n.c_str()));
    EXPECT_EQ(0u, errors.size());
}

TEST_F(BosTest, TemporaryFileFallsBackToTmpdirNotToASharedName)
{
    unsetEnv("KA_TMPDIR");
    setEnv("TMPDIR", dir);
    char name[BOS_PATH_SIZE] = "";
    int32_t fd = 0;
    ASSERT_EQ(0, bosCreateTempFile(name, sizeof name, &fd));
    EXPECT_EQ(0u, std::string(name).rfind(dir + "/ka", 0)) << name;
    bosfclose(fd);
    bosfdelete(name);

    // A directory that does not exist is a failure, never a fixed name.
    setEnv("KA_TMPDIR", dir + "/missing");
    char again[BOS_PATH_SIZE] = "keep";
    fd = 7;
    EXPECT_EQ(1, bosfopen(again, BOS_OPEN_TEMP | BOS_OPEN_READWRITE, &fd));
    EXPECT_EQ(0, fd);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_FILE_NOT_FOUND, errors.native(0));
    struct stat st;
    EXPECT_NE(0, stat("/tmpka", &st));
}

TEST_F(BosTest, TemporaryNameThatDoesNotFitIsRefused)
{
    char name[16];
    int32_t fd = 5;
    EXPECT_EQ(1, bosCreateTempFile(name, sizeof name, &fd));
    EXPECT_EQ(0, fd);
    EXPECT_EQ(1u, errors.size());
    EXPECT_TRUE(listDir(dir).empty());
}

// --- Opening by flag word ------------------------------------------------------

TEST_F(BosTest, OpenFlagsCreateTruncateAppendAndRefuse)
{
    char name[BOS_PATH_SIZE];
    int32_t fd;
    snprintf(name, sizeof name, "%s", path("data").c_str());
    ASSERT_EQ(0, bosfopen(name, BOS_OPEN_CREATE, &fd));
    ASSERT_EQ(0, bosfwrite(fd, -1, "hello", 5));
    bosfclose(fd);

    // Exclusive create of an existing file.
    EXPECT_EQ(1, bosfopen(name, BOS_OPEN_CREATE | BOS_OPEN_EXCLUSIVE, &fd));
    EXPECT_EQ(0, fd);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_FILE_EXISTS, errors.native(0));
    EXPECT_NE(std::string::npos, errors.text(0).find(name));

    // Append to the existing file, then read it back read-only.
    ASSERT_EQ(0, bosfopen(name, BOS_OPEN_READWRITE | BOS_OPEN_APPEND, &fd));
    ASSERT_EQ(0, bosfwrite(fd, -1, "!", 1));
    bosfclose(fd);
    ASSERT_EQ(0, bosfopen(name, 0, &fd));
    char buf[16] = {};
    uint64_t count = 0;
    ASSERT_EQ(0, bosfread(fd, 0, buf, sizeof buf, &count));
    EXPECT_EQ("hello!", std::string(buf, count));
    ASSERT_EQ(0, bosfread(fd, -1, buf, sizeof buf, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(1, bosfwrite(fd, -1, "x", 1));  // read-only
    bosfclose(fd);

    // Truncating create.
    ASSERT_EQ(0, bosfopen(name, BOS_OPEN_CREATE | BOS_OPEN_TRUNCATE, &fd));
    struct stat st;
    ASSERT_EQ(0, fstat(fd, &st));
    EXPECT_EQ(0, st.st_size);
    bosfclose(fd);

    // A missing file: read-only fails, 0x4 creates it.
    snprintf(name, sizeof name, "%s", path("missing").c_str());
    errors.list.clear();
    EXPECT_EQ(1, bosfopen(name, 0, &fd));
    EXPECT_EQ(0, fd);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_FILE_NOT_FOUND, errors.native(0));
    ASSERT_EQ(0, bosfopen(name, BOS_OPEN_READWRITE | BOS_OPEN_CREATE_MISSING, &fd));
    EXPECT_GT(fd, 0);
    bosfclose(fd);

    // Resolve only: nothing is opened.
    fd = 9;
    EXPECT_EQ(0, bosfopen(name, BOS_OPEN_RESOLVE_ONLY, &fd));
    EXPECT_EQ(0, fd);
}

TEST_F(BosTest, NullNameIsReported)
{
    int32_t fd = 3;
    EXPECT_EQ(1, bosfopen(nullptr, 0, &fd));
    EXPECT_EQ(0, fd);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_FILE_NAME_MISSING, errors.native(0));
    EXPECT_NE(std::string::npos, errors.text(0).find("The file name is null"));
}

TEST_F(BosTest, DescriptorZeroIsNeverHandedOut)
{
    int saved = dup(0);
    ASSERT_GE(saved, 0);
    close(0);
    char name[BOS_PATH_SIZE];
    snprintf(name, sizeof name, "%s", path("zero").c_str());
    int32_t fd = 0;
    int rc = bosfopen(name, BOS_OPEN_CREATE, &fd);
    // Restore stdin before any assertion can return.
    int again = -1;
    if (fcntl(0, F_GETFD) == -1)
        again = dup2(saved, 0);
    close(saved);
    EXPECT_EQ(0, again);
    ASSERT_EQ(0, rc);
    EXPECT_GT(fd, 2);
    EXPECT_EQ(0, bosfwrite(fd, 0, "z", 1));
    EXPECT_EQ(0, bosfclose(fd));
}

TEST_F(BosTest, ExclusiveLockKeepsOtherProcessesOut)
{
    char name[BOS_PATH_SIZE];
    snprintf(name, sizeof name, "%s", path("locked").c_str());
    int32_t fd;
    ASSERT_EQ(0, bosfopen(name, BOS_OPEN_CREATE, &fd));
    bosfclose(fd);
    ASSERT_EQ(0, bosfopen(name, BOS_OPEN_READWRITE | BOS_OPEN_EXCL_LOCK, &fd));

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int32_t other;
        int locked = bosfopen(name, BOS_OPEN_READWRITE | BOS_OPEN_EXCL_LOCK, &other);
        int shared = bosfopen(name, BOS_OPEN_SHARED_LOCK, &other);
        int unlocked = bosfopen(name, BOS_OPEN_SHARED_LOCK | BOS_OPEN_NO_LOCK, &other);
        _exit(locked == 1 && shared == 1 && unlocked == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    bosfclose(fd);
}

TEST_F(BosTest, OpenSearchesPathWhenAsked)
{
    ASSERT_EQ(0, mkdir(path("bin").c_str(), 0700));
    writeFile("bin/tool.cfg", "x");
    setEnv("PATH", "/nonexistent:" + dir + "/bin");
    char name[BOS_PATH_SIZE] = "tool.cfg";
    int32_t fd;
    ASSERT_EQ(0, bosfopen(name, BOS_OPEN_SEARCH, &fd));
    EXPECT_GT(fd, 0);
    EXPECT_EQ(path("bin/tool.cfg"), name);
    bosfclose(fd);
}

// --- Questions, names, writes --------------------------------------------------

TEST_F(BosTest, FileAccessCodes)
{
    writeFile("rw", "");
    writeFile("ro", "");
    ASSERT_EQ(0, chmod(path("ro").c_str(), 0444));
    ASSERT_EQ(0, mkfifo(path("fifo").c_str(), 0600));
    EXPECT_EQ(BOS_ACCESS_WRITABLE, bosFileAccess(path("rw").c_str()));
    EXPECT_EQ(BOS_ACCESS_READONLY, bosFileAccess(path("ro").c_str()));
    EXPECT_EQ(BOS_ACCESS_DIRECTORY, bosFileAccess(dir.c_str()));
    EXPECT_EQ(BOS_ACCESS_DIRECTORY, bosFileAccess(".."));
    EXPECT_EQ(BOS_ACCESS_MISSING, bosFileAccess(path("none").c_str()));
    EXPECT_EQ(BOS_ACCESS_OTHER, bosFileAccess(path("fifo").c_str()));
    EXPECT_EQ(1, bosexist(path("ro").c_str()));
    EXPECT_EQ(0, bosexist(dir.c_str()));
}

TEST_F(BosTest, WideNamesNameTheFilesThatOpenWideCreates)
{
    std::string utf8 = path("caf\xc3\xa9.dat");
    std::u16string wname;
    for (char c : path("caf"))
        wname.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    wname += u"\u00e9.dat";
    int32_t fd;
    ASSERT_EQ(0, bosfopenW(katest::W(wname.c_str()), BOS_OPEN_CREATE, &fd));
    bosfclose(fd);
    struct stat st;
    EXPECT_EQ(0, stat(utf8.c_str(), &st));
    EXPECT_EQ(1, bosexistW(katest::W(wname.c_str())));
    uint64_t size = 99;
    EXPECT_EQ(0, bosGetFileSizeW(katest::W(wname.c_str()), &size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(0, bosfdeleteW(katest::W(wname.c_str())));
    EXPECT_NE(0, stat(utf8.c_str(), &st));

    // A lone surrogate names no file: not "exists".
    const char16_t broken[] = {u'/', 0xD800, u'x', 0};
    EXPECT_EQ(0, bosexistW(katest::W(broken)));
}

TEST_F(BosTest, RenameNeverOverwrites)
{
    writeFile("old", "1");
    writeFile("new", "2");
    EXPECT_EQ(1, bosRename(path("old").c_str(), path("new").c_str()));
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_RENAME_FAILED, errors.native(0));
    std::ifstream f(path("new"));
    std::string content;
    f >> content;
    EXPECT_EQ("2", content);
    EXPECT_EQ(0, bosRename(path("old").c_str(), path("third").c_str()));
    EXPECT_EQ(0, bosexist(path("old").c_str()));
    EXPECT_EQ(1, bosexist(path("third").c_str()));
}

TEST_F(BosTest, DirWritableLeavesNoProbeBehind)
{
    EXPECT_EQ(1, bosDirWritable(path("file.txt").c_str()));
    EXPECT_EQ(0, bosDirWritable(path("missing/file.txt").c_str()));
    EXPECT_TRUE(listDir(dir).empty());
}

TEST_F(BosTest, DeleteOfMissingFileIsSuccess)
{
    EXPECT_EQ(0, bosfdelete(path("none").c_str()));
    EXPECT_EQ(0u, errors.size());
}

TEST_F(BosTest, WideWriteConvertsTheWholeText)
{
    char name[BOS_PATH_SIZE];
    int32_t fd;
    ASSERT_EQ(0, bosfopen(name, BOS_OPEN_TEMP, &fd));
    std::u16string text;
    for (int i = 0; i < 700; ++i)
        text += u"\u00e9";  // 1,400 bytes of UTF-8
    ASSERT_EQ(0, bosfwriteW(fd, 0, katest::W(text.c_str()), text.size(), 1));
    struct stat st;
    ASSERT_EQ(0, fstat(fd, &st));
    EXPECT_EQ(1400, st.st_size);
    bosfclose(fd);
    bosfdelete(name);
}

TEST_F(BosTest, SeekTruncateAndFileTimes)
{
    char name[BOS_PATH_SIZE];
    int32_t fd;
    ASSERT_EQ(0, bosfopen(name, BOS_OPEN_TEMP, &fd));
    ASSERT_EQ(0, bosfwrite(fd, -1, "0123456789", 10));
    EXPECT_EQ(4, bosfseek(fd, 4, SEEK_SET));
    EXPECT_EQ(4, bosfseek(fd, -3, SEEK_SET));  // negative from the start: stays
    EXPECT_EQ(10, bosfseek(fd, 0, SEEK_END));
    ASSERT_EQ(0, bosftrunc(fd, 6));
    int32_t mtime = 0;
    uint64_t size = 0;
    ASSERT_EQ(0, bosGetFileTimeSize(name, &mtime, &size));
    EXPECT_EQ(6u, size);
    EXPECT_GT(mtime, 0);
    ASSERT_EQ(0, bosftruncPath(name, 2));
    ASSERT_EQ(0, bosGetFileTimeSize(name, nullptr, &size));
    EXPECT_EQ(2u, size);
    EXPECT_EQ(1, bosGetFileTimeSize(path("none").c_str(), &mtime, &size));
    EXPECT_EQ(1, bosftruncQuiet(-1, 0));
    EXPECT_EQ(0u, errors.size());
    bosfclose(fd);
    bosfdelete(name);
    EXPECT_EQ(0, bosfclose(0));
}

}  // namespace
