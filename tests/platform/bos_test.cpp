// The operating-system layer against the real machine: files opened by flag
// word, temporary files, locks, name resolution, searches, libraries, the
// message catalogue and the error mapping.
#include "platform/bos.h"

#include <gtest/gtest.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kamessages.h"
#include "support/errorscope.h"

namespace {

constexpr unsigned char kGuard = 0xA5;
constexpr size_t kGuardBytes = 16;

// A buffer with guard bytes on both sides.
struct Guarded {
  std::vector<unsigned char> raw;
  size_t size;
  explicit Guarded(size_t n) : raw(n + 2 * kGuardBytes, kGuard), size(n) {}
  char* data() { return reinterpret_cast<char*>(raw.data() + kGuardBytes); }
  bool intact() const
  {
    for (size_t i = 0; i < kGuardBytes; ++i)
      if (raw[i] != kGuard || raw[kGuardBytes + size + i] != kGuard)
        return false;
    return true;
  }
};

class BosTest : public ::testing::Test {
protected:
  katest::ErrorScope errors;
  std::string dir;
  std::map<std::string, std::string> savedEnv;
  std::set<std::string> touchedEnv;

  void SetUp() override
  {
    char tmpl[] = "/tmp/kabostestXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir = tmpl;
    setEnv("KA_TMPDIR", dir);
    ASSERT_EQ(0, katest::openCatalogue());
  }

  void TearDown() override
  {
    katest::closeCatalogue();
    for (const auto& name : touchedEnv) {
      auto it = savedEnv.find(name);
      if (it == savedEnv.end())
        unsetenv(name.c_str());
      else
        setenv(name.c_str(), it->second.c_str(), 1);
    }
    std::string cmd = "chmod -R u+w '" + dir + "' && rm -rf '" + dir + "'";
    ASSERT_EQ(0, std::system(cmd.c_str()));
  }

  void remember(const std::string& name)
  {
    if (touchedEnv.insert(name).second) {
      if (const char* v = getenv(name.c_str()))
        savedEnv[name] = v;
    }
  }
  void setEnv(const std::string& name, const std::string& value)
  {
    remember(name);
    setenv(name.c_str(), value.c_str(), 1);
  }
  void unsetEnv(const std::string& name)
  {
    remember(name);
    unsetenv(name.c_str());
  }

  std::string path(const std::string& name) const { return dir + "/" + name; }

  void writeFile(const std::string& name, const std::string& text)
  {
    std::ofstream f(path(name));
    f << text;
  }

  std::vector<std::string> listDir(const std::string& d)
  {
    std::vector<std::string> out;
    std::string cmd = "ls -A '" + d + "'";
    FILE* p = popen(cmd.c_str(), "r");
    char line[1024];
    while (fgets(line, sizeof line, p)) {
      line[strcspn(line, "\n")] = 0;
      out.push_back(line);
    }
    pclose(p);
    return out;
  }
};

// --- Temporary files ---------------------------------------------------------

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

// --- Configuration and home-relative names -------------------------------------------

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

// --- Finding files ---------------------------------------------------------------

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

TEST_F(BosTest, NameConversionsFailRatherThanCut)
{
  std::u16string longName(BOS_PATH_SIZE, u'n');
  char out[BOS_PATH_SIZE];
  EXPECT_EQ(-1, KaUtf16ToLocal1024(out, katest::W(longName.c_str())));
  // Exactly the buffer's size leaves no room for the terminator.
  std::u16string exact(8, u'e');
  char small[8];
  EXPECT_EQ(-1, KaUtf16ToUtf8(small, sizeof small, katest::W(exact.c_str())));
  EXPECT_EQ(2u, errors.size());
  errors.list.clear();
  EXPECT_EQ(7, KaUtf16ToUtf8(small, sizeof small, katest::W(exact.substr(0, 7).c_str())));
  EXPECT_EQ(3, KaUtf16ToLocal(out, sizeof out, katest::W(u"\u00e9t\u00e9")));
  EXPECT_EQ(std::string("\xe9t\xe9"), out);
  uint16_t wide[4];
  EXPECT_EQ(3, KaLocalToUtf16(wide, 4, "\xe9t\xe9 and more"));
  EXPECT_EQ(u"\u00e9t\u00e9", katest::u16(wide));
  EXPECT_EQ(0u, errors.size());

  setEnv("KA_TEST_VALUE", "value-1");
  uint16_t value[16];
  ASSERT_NE(nullptr, bosGetEnvW(katest::W(u"KA_TEST_VALUE"), value, 16));
  EXPECT_EQ(u"value-1", katest::u16(value));
  EXPECT_EQ(nullptr, bosGetEnvW(katest::W(u"KA_TEST_VALUE"), value, 4));
  EXPECT_EQ(nullptr, bosGetEnvW(katest::W(u"KA_NOT_SET_ANYWHERE"), value, 16));
}

// --- Paths ------------------------------------------------------------------------

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

// --- Host, user, process, time -----------------------------------------------------

TEST_F(BosTest, NamesStayInsideTheirBuffers)
{
  char host[BOS_HOST_NAME_SIZE + 1];
  ASSERT_EQ(0, bosGetHostName(host, sizeof host));
  ASSERT_GT(strlen(host), 0u);
  for (size_t size : {size_t(1), size_t(2), size_t(4)}) {
    Guarded g(size);
    ASSERT_EQ(0, bosGetHostName(g.data(), size));
    EXPECT_TRUE(g.intact()) << size;
    EXPECT_EQ(std::string(host).substr(0, size - 1), g.data());

    Guarded u(size);
    ASSERT_EQ(0, bosGetUserName(u.data(), size));
    EXPECT_TRUE(u.intact()) << size;
    EXPECT_EQ(size - 1, strlen(u.data()));
  }
  Guarded p(64);
  ASSERT_EQ(0, bosGetProcessName(p.data(), 64));
  EXPECT_TRUE(p.intact());
  EXPECT_GT(strlen(p.data()), 0u);
  EXPECT_EQ(nullptr, strchr(p.data(), '\n'));

  uint16_t wide[4];
  ASSERT_EQ(0, bosGetHostNameW(wide, 4));
  EXPECT_EQ(std::string(host).substr(0, 3), katest::narrow(katest::u16(wide)));
  EXPECT_EQ(0u, errors.size());
}

TEST_F(BosTest, LocalTimeAndSleep)
{
  BosLocalTime t;
  bosGetLocalTime(&t);
  EXPECT_GE(t.year, 2020);
  EXPECT_GE(t.month, 1);
  EXPECT_LE(t.month, 12);
  EXPECT_LE(t.millisecond, 999);
  bosSleep(0);
  bosSleep(1);
  EXPECT_GT(bosGetCpuCount(), 0);
  char text[] = "MiXeD";
  bosUpper(text, 3);
  EXPECT_STREQ("MIXeD", text);
  bosLower(text, 100);
  EXPECT_STREQ("mixed", text);
}

// --- Install directory, catalogue, errors ------------------------------------------

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

TEST_F(BosTest, LookupWithoutCatalogueGivesTheNumber)
{
  katest::closeCatalogue();
  char buf[16];
  EXPECT_EQ(4, LoadStringFromOpenFile(nullptr, 1523, buf, sizeof buf));
  EXPECT_STREQ("1523", buf);
  Guarded g(3);
  EXPECT_EQ(2, LoadStringFromOpenFile(nullptr, 1523, g.data(), 3));
  EXPECT_STREQ("15", g.data());
  EXPECT_TRUE(g.intact());
  Guarded none(0);
  EXPECT_EQ(0, LoadStringFromOpenFile(nullptr, 1523, none.data(), 0));
  EXPECT_TRUE(none.intact());
}

using CatalogueTest = BosTest;

TEST_F(CatalogueTest, TextsComeFromTheCatalogue)
{
  char buf[256];
  LoadStringFromOpenFile(nullptr, MSG_FILE_NOT_FOUND, buf, sizeof buf);
  EXPECT_STREQ("No such file or directory: %s1", buf);

  uint16_t wide[8 + 2];
  wide[8] = 0xBEEF;
  wide[9] = 0xBEEF;
  int64_t n = LoadStringFromOpenFileW(nullptr, MSG_FILE_NOT_FOUND, wide, 8);
  EXPECT_EQ(7, n);
  EXPECT_EQ("No such", katest::narrow(katest::u16(wide)));
  EXPECT_EQ(0xBEEF, wide[8]);
}

TEST_F(CatalogueTest, CountedOpenAndClose)
{
  int32_t counter = 0;
  OpenStrings("VYspark28", nullptr, nullptr, &counter);
  OpenStrings("VYspark28", nullptr, nullptr, &counter);
  EXPECT_EQ(2, counter);
  CloseStrings(nullptr, &counter);
  char buf[64];
  LoadStringFromOpenFile(nullptr, MSG_FILE_EXISTS, buf, sizeof buf);
  EXPECT_STREQ("The file already exists: %s1", buf);
  CloseStrings(nullptr, &counter);
  EXPECT_EQ(0, counter);
  LoadStringFromOpenFile(nullptr, MSG_FILE_EXISTS, buf, sizeof buf);
  EXPECT_STREQ("1520", buf);
  ASSERT_EQ(0, katest::openCatalogue());
}

TEST_F(CatalogueTest, LookupsRaceSafelyWithOpenAndClose)
{
  std::atomic<bool> stop{false};
  std::vector<std::thread> readers;
  std::atomic<int> bad{0};
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      char buf[64];
      while (!stop) {
        LoadStringFromOpenFile(nullptr, MSG_FILE_EXISTS, buf, sizeof buf);
        if (strcmp(buf, "1520") != 0 && strcmp(buf, "The file already exists: %s1") != 0)
          ++bad;
      }
    });
  }
  for (int i = 0; i < 200; ++i) {
    katest::closeCatalogue();
    ASSERT_EQ(0, katest::openCatalogue());
  }
  stop = true;
  for (auto& r : readers)
    r.join();
  EXPECT_EQ(0, bad.load());
}

struct MappedError {
  int error;
  uint16_t message;
  bool namesObject;
};

TEST_F(CatalogueTest, ErrorNumbersMapToTheirDiagnostics)
{
  const MappedError table[] = {
      {EPERM, MSG_OPERATION_NOT_PERMITTED, true}, {ENOENT, MSG_FILE_NOT_FOUND, true},
      {EBADF, MSG_BAD_FILE_DESCRIPTOR, false},    {EAGAIN, MSG_RESOURCE_TEMPORARILY_UNAVAILABLE, false},
      {ENOMEM, MSG_SYSTEM_OUT_OF_MEMORY, false},  {EACCES, MSG_FILE_ACCESS_DENIED, true},
      {EEXIST, MSG_FILE_EXISTS, true},            {EMFILE, MSG_TOO_MANY_OPEN_FILES, false},
      {ENOSPC, MSG_DISK_FULL, true},              {EROFS, MSG_READ_ONLY_FILE_SYSTEM, true},
      {EDEADLK, MSG_FILE_LOCK_DEADLOCK, true},    {ENOLCK, MSG_NO_LOCKS_AVAILABLE, false},
  };
  for (const MappedError& m : table) {
    errors.list.clear();
    bosMapError(m.error, "/the/object");
    ASSERT_EQ(1u, errors.size()) << m.error;
    EXPECT_EQ(m.message, errors.native(0)) << m.error;
    EXPECT_EQ(m.namesObject, errors.text(0).find("/the/object") != std::string::npos) << m.error;
  }

  // Others: the number, then the system's text and the object.
  errors.list.clear();
  bosMapError(ENOTTY, "/dev/x");
  ASSERT_EQ(1u, errors.size());
  EXPECT_EQ(MSG_SYSTEM_ERROR, errors.native(0));
  EXPECT_EQ("Operating system error " + std::to_string(ENOTTY) + ". " + strerror(ENOTTY) + " (object: /dev/x)",
            errors.text(0));

  errors.list.clear();
  bosMapError(EIO, nullptr);
  EXPECT_EQ("Operating system error " + std::to_string(EIO) + ".", errors.text(0));

  // The object's name is text, never a format.
  errors.list.clear();
  bosMapError(ENOTTY, "%s%n%s%d");
  ASSERT_EQ(1u, errors.size());
  EXPECT_NE(std::string::npos, errors.text(0).find("(object: %s%n%s%d)"));
}

}  // namespace
