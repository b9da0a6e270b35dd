// The ini-file cache, its readers and writers, compared with what unixODBC's
// installer library reads from the same files.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <atomic>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bos.h"
#include "platform/kaini.h"
#include "support/platformtest.h"
#include "support/errorscope.h"
#include "support/freewatch.h"
#include "support/guarded.h"
#include "support/sourceroot.h"

namespace fs = std::filesystem;

namespace {

std::string fixtureDir()
{
    return katest::sourceRoot() + "/tests/platform/fixtures";
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Moves the file's time into the past, so that a rewrite shows a new time.
void ageFile(const std::string& path)
{
    struct utimbuf t;
    t.actime = t.modtime = time(nullptr) - 1000;
    utime(path.c_str(), &t);
}

std::vector<std::string> splitList(const char* buf, int32_t n)
{
    std::vector<std::string> out;
    int32_t i = 0;
    while (i < n && buf[i] != 0) {
        out.emplace_back(buf + i);
        i += static_cast<int32_t>(out.back().size()) + 1;
    }
    return out;
}

// Environment variables that decide where the files are; restored after.
const char* const kIniVars[] = {"HOME", "ODBCINI", "ODBC_INI", "ODBCINST", "ODBCINSTINI", "ODBCSYSINI"};

class IniTest : public ::testing::Test {
protected:
    katest::EnvScope env;
    katest::TempDir tempDir{"kaini_test"};
    std::string dir;

    void SetUp() override
    {
        ASSERT_FALSE(tempDir.path().empty());
        dir = tempDir.path();
        for (const char* v : kIniVars)
            env.unset(v);
        fs::create_directory(dir + "/home");
        fs::create_directory(dir + "/sys");
        env.set("HOME", dir + "/home");
        env.set("ODBCSYSINI", dir + "/sys");
        taskReleaseIniCache();
    }

    void TearDown() override
    {
        taskReleaseIniCache();
        env.restore();
        tempDir.remove();
    }

    std::string put(const std::string& name, const std::string& text)
    {
        std::string path = dir + "/" + name;
        writeFile(path, text);
        ageFile(path);
        return path;
    }

    std::string copyFixture(const std::string& name) { return put(name, readFile(fixtureDir() + "/" + name)); }

    static std::string get(const char* section, const char* key, const std::string& file, const char* def = "<def>")
    {
        char buf[256];
        int32_t n = KaGetPrivateProfileStringRelease(section, key, def, buf, sizeof buf, file.c_str());
        return std::string(buf, static_cast<size_t>(n > 0 ? n : 0));
    }
};

// ---- The installer library of unixODBC, loaded only by this test --------

struct OdbcInst {
    using GetFn = int (*)(const char*, const char*, const char*, char*, int, const char*);
    using WriteFn = int (*)(const char*, const char*, const char*, const char*);
    void* handle = nullptr;
    GetFn get = nullptr;
    WriteFn write = nullptr;

    OdbcInst()
    {
        handle = dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            handle = dlopen("libodbcinst.so", RTLD_NOW | RTLD_LOCAL);
        if (handle) {
            get = reinterpret_cast<GetFn>(dlsym(handle, "SQLGetPrivateProfileString"));
            write = reinterpret_cast<WriteFn>(dlsym(handle, "SQLWritePrivateProfileString"));
        }
    }
    std::string value(const char* section, const char* key, const char* file, const char* def = "<def>") const
    {
        char buf[256] = {};
        int n = get(section, key, def, buf, sizeof buf, file);
        return std::string(buf, static_cast<size_t>(n > 0 ? n : 0));
    }
};

const OdbcInst& odbcinst()
{
    static OdbcInst lib;
    return lib;
}

// ---- Reading ----------------------------------------------------------------

struct ReadCase {
    const char* section;
    const char* key;
    const char* ours;
    // The installer library's reading where it deliberately differs; null
    // when both read the same.
    const char* unixodbc;
};

const ReadCase kReadCases[] = {
    {"Sales", "Driver", "/opt/mirrowen/lib/libspark.so", nullptr},
    {"Sales", "hostname", "spark.example.com", nullptr},  // keys ignore case
    {"SALES", "DATABASE", "default", nullptr},            // sections too
    {"Sales", "Database", "default", nullptr},            // no blanks around "="
    {"Sales", "PWD", "s3cret-pass", nullptr},
    {"Sales", "Port", "10000 ", "10000"},                // trailing blank kept
    {"Sales", "Empty", "<def>", ""},                     // empty value reads as missing
    {"Sales", "Banner", "[welcome] to sales", nullptr},  // "[" in a value
    {"Sales", "After", "kept", nullptr},                 // a key after it is still found
    {"Sales", "Expr", "a=b=c", nullptr},
    {"Sales", "LeadingEq", "=x", nullptr},  // leading "=" of a value kept
    {"Sales", "Indented Key", "indented value", nullptr},
    {"Sales", "DisabledKey", "<def>", nullptr},  // "#" comment
    {"Sales", "Commented", "<def>", nullptr},    // ";" comment
    {"Sales", "LOWERCASE", "lower", nullptr},
    {"Sales", "Quoted", "\"quoted value\"", nullptr},  // quotes are text
    {"Sales", "Missing", "<def>", nullptr},
    {"sales", "Port", "10000 ", "10000"},  // first matching section wins
    {"Indented Section", "Key", "in indented section", nullptr},
    {"Tabs", "TabKey", "tab value", nullptr},
    {"Staging", "IANAAppCodePage", "106", nullptr},
    {"ODBC Data Sources", "Sales", "Mirrowen Spark", nullptr},
    {"Nowhere", "Driver", "<def>", nullptr},
};

TEST_F(IniTest, ReadsValuesAsUnixOdbcDoesExceptWhereTheDriverDiffers)
{
    std::string path = copyFixture("odbc.ini");
    env.set("ODBCINI", path);
    ASSERT_NE(odbcinst().get, nullptr) << "libodbcinst is not installed";
    for (const ReadCase& c : kReadCases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        // By the configured name and by the path: the same file.
        EXPECT_EQ(get(c.section, c.key, "odbc.ini"), c.ours);
        EXPECT_EQ(get(c.section, c.key, path), c.ours);
        EXPECT_EQ(odbcinst().value(c.section, c.key, path.c_str()), c.unixodbc ? c.unixodbc : c.ours);
    }
}

TEST_F(IniTest, ListsSectionsAndKeysAsUnixOdbcDoes)
{
    std::string path = copyFixture("odbc.ini");
    env.set("ODBCINI", path);
    char ours[1024], theirs[1024];
    int32_t n = KaGetPrivateProfileStringRelease(nullptr, nullptr, "", ours, sizeof ours, "odbc.ini");
    int m = odbcinst().get(nullptr, nullptr, "", theirs, sizeof theirs, path.c_str());
    // The installer library leaves "ODBC Data Sources" out of the list.
    std::vector<std::string> expected = splitList(theirs, m);
    expected.insert(expected.begin(), "ODBC Data Sources");
    EXPECT_EQ(splitList(ours, n), expected);

    n = KaGetPrivateProfileStringRelease("Sales", nullptr, "", ours, sizeof ours, "odbc.ini");
    m = odbcinst().get("Sales", nullptr, "", theirs, sizeof theirs, path.c_str());
    EXPECT_EQ(splitList(ours, n), splitList(theirs, m));
}

// Lines of a command's output.
std::vector<std::string> run(const std::string& command)
{
    std::vector<std::string> lines;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return lines;
    char buf[512];
    while (fgets(buf, sizeof buf, p)) {
        std::string line(buf);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        lines.push_back(line);
    }
    pclose(p);
    return lines;
}

// The keys of a section as the odbcinst command shows them ("-s" data
// sources, "-d" drivers), read in a fresh process with this environment.
std::map<std::string, std::string> odbcinstQuery(const char* kind, const std::string& name)
{
    std::map<std::string, std::string> keys;
    for (const std::string& line : run(std::string("odbcinst -q ") + kind + " -n '" + name + "'")) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}

TEST_F(IniTest, OdbcinstQueryListsTheSameDataSources)
{
    std::string path = copyFixture("odbc.ini");
    env.set("ODBCINI", path);
    std::vector<std::string> theirs;
    for (const std::string& line : run("odbcinst -q -s"))
        if (line.size() > 2 && line.front() == '[' && line.back() == ']')
            theirs.push_back(line.substr(1, line.size() - 2));
    ASSERT_FALSE(theirs.empty());
    char ours[1024];
    int32_t n = KaGetPrivateProfileStringRelease(nullptr, nullptr, "", ours, sizeof ours, ".odbc.ini");
    std::vector<std::string> dataSources;
    for (const std::string& name : splitList(ours, n))
        if (name != "ODBC Data Sources" && name != "ODBC")
            dataSources.push_back(name);
    EXPECT_EQ(dataSources, theirs);
}

TEST_F(IniTest, DriverSectionReadsAsOdbcinstQueryShowsIt)
{
    // unixODBC finds odbcinst.ini in ODBCSYSINI; the driver through ODBCINST.
    std::string sys = dir + "/sys/odbcinst.ini";
    writeFile(sys, readFile(fixtureDir() + "/odbcinst.ini"));
    env.set("ODBCINST", sys);
    std::map<std::string, std::string> keys = odbcinstQuery("-d", "Mirrowen Spark");
    ASSERT_EQ(keys.size(), 5u);
    for (const auto& [key, value] : keys) {
        SCOPED_TRACE(key);
        EXPECT_EQ(get("Mirrowen Spark", key.c_str(), ".odbcinst.ini"), value);
        EXPECT_EQ(odbcinst().value("Mirrowen Spark", key.c_str(), sys.c_str()), value);
    }
    EXPECT_EQ(KaGetPrivateProfileIntRelease("Mirrowen Spark", "Threading", 0, ".odbcinst.ini"), 2);
}

TEST_F(IniTest, FilesAreFoundWhereTheDriverLooksForThem)
{
    // The home directory, for both readers.
    // The home directory is $HOME for the driver; unixODBC takes the user's
    // home from the password database and does not see this file.
    put("home/.odbc.ini", "[Home]\nwhere=home\n");
    EXPECT_EQ(get("Home", "where", ".odbc.ini"), "home");
    EXPECT_EQ(odbcinstQuery("-s", "Home").count("where"), 0u);
    taskReleaseIniCache();
    // ODBCINI, then ODBC_INI.
    std::string other = put("other.ini", "[Home]\nwhere=other\n");
    env.set("ODBC_INI", other);
    EXPECT_EQ(get("Home", "where", ".odbc.ini"), "other");
    EXPECT_EQ(get("Home", "where", "ODBC.INI"), "other");
    taskReleaseIniCache();
    std::string named = put("named.ini", "[Home]\nwhere=odbcini\n");
    env.set("ODBCINI", named);
    EXPECT_EQ(get("Home", "where", ".odbc.ini"), "odbcini");
    EXPECT_EQ(odbcinstQuery("-s", "Home")["where"], "odbcini");
    taskReleaseIniCache();

    // odbcinst.ini: the driver reads ODBCINST, else ODBCINSTINI as a path,
    // else the home directory; unixODBC reads ODBCSYSINI's directory.
    put("sys/odbcinst.ini", "[Drv]\nwhere=sys\n");
    put("home/.odbcinst.ini", "[Drv]\nwhere=home\n");
    EXPECT_EQ(get("Drv", "where", ".odbcinst.ini"), "home");
    EXPECT_EQ(odbcinstQuery("-d", "Drv")["where"], "sys");
    taskReleaseIniCache();
    std::string inst = put("inst.ini", "[Drv]\nwhere=odbcinstini\n");
    env.set("ODBCINSTINI", inst);
    EXPECT_EQ(get("Drv", "where", ".odbcinst.ini"), "odbcinstini");
    taskReleaseIniCache();
    std::string first = put("first.ini", "[Drv]\nwhere=odbcinst\n");
    env.set("ODBCINST", first);
    EXPECT_EQ(get("Drv", "where", "ODBCINST.INI"), "odbcinst");
}

TEST_F(IniTest, SectionsTheUsersFileLacksComeFromTheSystemsFileAsUnixOdbcFindsThem)
{
    std::string user = put("user.ini", "[Mine]\nwhere=user\n\n[Both]\nwhere=user\n");
    std::string system = put("sys/odbc.ini", "[Shared]\nDriver=Drv\nwhere=system\nPort=10000\n\n"
                                             "[Both]\nwhere=system\n");
    put("home/.odbcinst.ini", "[Other]\nwhere=user\n");
    put("sys/odbcinst.ini", "[Drv]\nwhere=system\n");
    env.set("ODBCINI", user);
    struct Case {
        const char* section;
        const char* file;
        const char* expected;
    };
    const Case cases[] = {
        {"Mine", ".odbc.ini", "user"},      {"Shared", ".odbc.ini", "system"}, {"Shared", "ODBC.INI", "system"},
        {"Both", ".odbc.ini", "user"},      {"Nowhere", ".odbc.ini", "<def>"}, {"Drv", ".odbcinst.ini", "system"},
        {"Other", ".odbcinst.ini", "user"}, {"Drv", "ODBCINST.INI", "system"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + " in " + c.file);
        EXPECT_EQ(get(c.section, "where", c.file), c.expected);
    }
    // unixODBC finds the system data source the same way.
    EXPECT_EQ(odbcinstQuery("-s", "Shared")["where"], "system");
    // The integer, UTF-16 and section readers look there too.
    EXPECT_EQ(KaGetPrivateProfileIntRelease("Shared", "Port", 0, ".odbc.ini"), 10000);
    uint16_t wide[32] = {};
    int32_t n = KaGetPrivateProfileStringW(
        reinterpret_cast<const uint16_t*>(u"Shared"), reinterpret_cast<const uint16_t*>(u"where"),
        reinterpret_cast<const uint16_t*>(u""), wide, 32, reinterpret_cast<const uint16_t*>(u".odbc.ini"));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(wide), static_cast<size_t>(n > 0 ? n : 0)), u"system");
    char keys[256] = {};
    n = KaGetPrivateProfileSection("Shared", keys, sizeof keys, ".odbc.ini");
    EXPECT_EQ(splitList(keys, n), (std::vector<std::string>{"Driver", "where", "Port"}));

    // A value written to a data source goes to the file it came from; a new
    // section to the user's file.
    EXPECT_EQ(KaWritePrivateProfileStringRelease("Shared", "Saved", "yes", ".odbc.ini"), 1);
    EXPECT_EQ(KaWritePrivateProfileStringRelease("Fresh", "Saved", "yes", ".odbc.ini"), 1);
    EXPECT_NE(readFile(system).find("Saved=yes"), std::string::npos) << readFile(system);
    EXPECT_EQ(readFile(user).find("[Shared]"), std::string::npos) << readFile(user);
    EXPECT_NE(readFile(user).find("[Fresh]"), std::string::npos) << readFile(user);
    EXPECT_EQ(odbcinstQuery("-s", "Shared")["Saved"], "yes");

    // A user's file that cannot be read leaves the system's in place, and
    // why it could not be read is no diagnostic of the read.
    taskReleaseIniCache();
    env.set("ODBCINI", dir + "/absent.ini");
    env.set("ODBCINST", dir + "/absent-inst.ini");
    katest::ErrorScope errors;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(get("Shared", "where", ".odbc.ini"), "system");
        EXPECT_EQ(get("Drv", "where", ".odbcinst.ini"), "system");
    }
    EXPECT_EQ(errors.size(), 0u);
}

TEST_F(IniTest, FileGrowingWhileReadIsReadWithinItsBuffer)
{
    std::string path = put("grow.ini", "[S]\nk=v\n");
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        int fd = open(path.c_str(), O_WRONLY | O_APPEND);
        for (int i = 0; i < 2000 && !stop; ++i) {
            std::string line = "x" + std::to_string(i) + "=" + std::string(50, 'y') + "\n";
            if (write(fd, line.data(), line.size()) < 0)
                break;
        }
        close(fd);
    });
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(get("S", "k", path), "v");
    stop = true;
    writer.join();
}

TEST_F(IniTest, SectionListEndsWithTwoZerosAndCountsThem)
{
    std::string path = put("ab.ini", "[A]\nx=1\n[B]\ny=2\n");
    katest::Guarded<char> buf(16);
    int32_t n = KaGetPrivateProfileStringRelease(nullptr, nullptr, "", buf.data(), 16, path.c_str());
    EXPECT_EQ(n, 5);
    EXPECT_EQ(0, memcmp(buf.data(), "A\0B\0\0", 5));
    EXPECT_TRUE(buf.guardsIntact());
}

TEST_F(IniTest, ValueCutToSizeReturnsSize)
{
    std::string path = put("cut.ini", "[S]\nkey=12345678\nlong=abc\n");
    katest::Guarded<char> buf(5);
    int32_t n = KaGetPrivateProfileStringRelease("S", "key", "", buf.data(), 5, path.c_str());
    EXPECT_EQ(n, 5);
    EXPECT_STREQ(buf.data(), "1234");
    EXPECT_TRUE(buf.guardsIntact());
    // A default longer than the output is cut, never written past it.
    katest::Guarded<char> cut(5);
    n = KaGetPrivateProfileStringRelease("S", "none", "defaultvalue", cut.data(), 5, path.c_str());
    EXPECT_EQ(n, 4);
    EXPECT_STREQ(cut.data(), "defa");
    EXPECT_TRUE(cut.guardsIntact());
}

TEST_F(IniTest, MissingOdbcinstLeavesTheErrorListAsItWas)
{
    katest::ErrorScope errors;
    char buf[32];
    int32_t n = KaGetPrivateProfileStringRelease("ODBC", "Trace", "dflt", buf, sizeof buf, "odbcinst.ini");
    EXPECT_EQ(n, 4);
    EXPECT_STREQ(buf, "dflt");
    EXPECT_EQ(errors.size(), 0u);
    // The keeping reader leaves the diagnostic of the failed resolution.
    KaGetPrivateProfileString("ODBC", "Trace", "dflt", buf, sizeof buf, "odbcinst.ini");
    EXPECT_GE(errors.size(), 1u);
}

TEST_F(IniTest, IntegerReaderKeepsLeadingDigits)
{
    std::string path = put("int.ini", "[S]\na=42\nb=7x\nc=-3\nd=\ne=99999999999\nf= 12\n");
    struct {
        const char* key;
        int64_t want;
    } cases[] = {{"a", 42}, {"b", 7}, {"c", -1}, {"d", -1}, {"e", -1}, {"f", 12}, {"zz", -1}};
    for (auto& c : cases)
        EXPECT_EQ(KaGetPrivateProfileIntRelease("S", c.key, -1, path.c_str()), c.want) << c.key;
}

TEST_F(IniTest, FileChangedOnDiskIsReloadedBeforeTheNextRead)
{
    std::string path = put("change.ini", "[S]\nk=one\n");
    KaIniFileCache* entry = KaIniFileOpenCached(path.c_str());
    ASSERT_NE(entry, nullptr);
    char buf[32];
    KaIniFileGetString(entry, "S", "k", "", buf, sizeof buf);
    EXPECT_STREQ(buf, "one");
    writeFile(path, "[S]\nk=three\n");
    KaIniFileGetString(entry, "S", "k", "", buf, sizeof buf);
    EXPECT_STREQ(buf, "three");
    KaIniFileRelease(entry);
}

TEST_F(IniTest, WideReadersReadUtf8AndLatin1Text)
{
    // "Größe" in UTF-8, "café" in ISO-8859-1.
    std::string path = put("wide.ini", "[S]\nu8=Gr\xC3\xB6\xC3\x9F"
                                       "e\nl1=caf\xE9\n");
    std::u16string file(path.begin(), path.end());
    katest::Guarded<uint16_t> out(16);
    int32_t n = KaGetPrivateProfileStringW(katest::W(u"S"), katest::W(u"u8"), katest::W(u"d"), out.data(), 16,
                                           katest::W(file.c_str()));
    EXPECT_EQ(n, 5);
    EXPECT_EQ(katest::u16(out.data()), u"Größe");
    n = KaGetPrivateProfileStringW(katest::W(u"S"), katest::W(u"l1"), katest::W(u"d"), out.data(), 16,
                                   katest::W(file.c_str()));
    EXPECT_EQ(katest::u16(out.data()), u"café");
    // Cut to the output: units-1 and a 0.
    katest::Guarded<uint16_t> cut(3);
    n = KaGetPrivateProfileStringW(katest::W(u"S"), katest::W(u"u8"), katest::W(u"d"), cut.data(), 3,
                                   katest::W(file.c_str()));
    EXPECT_EQ(n, 2);
    EXPECT_EQ(katest::u16(cut.data()), u"Gr");
    EXPECT_TRUE(cut.guardsIntact());
}

TEST_F(IniTest, WideWriterWritesUtf8ThatReadsBack)
{
    std::string path = put("w.ini", "[S]\na=1\n");
    std::u16string file(path.begin(), path.end());
    EXPECT_EQ(KaWritePrivateProfileStringW(katest::W(u"S"), katest::W(u"Ключ"), katest::W(u"значение"),
                                           katest::W(file.c_str())),
              1);
    EXPECT_NE(readFile(path).find("\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87="), std::string::npos);
    uint16_t out[32];
    KaGetPrivateProfileStringW(katest::W(u"S"), katest::W(u"Ключ"), katest::W(u"d"), out, 32, katest::W(file.c_str()));
    EXPECT_EQ(katest::u16(out), u"значение");
}

// A path outside Latin-1 held as UTF-16: the refresh must look at that file.
TEST_F(IniTest, RefreshFollowsAWidePathOutsideLatin1)
{
    std::string sub = dir + "/\xD0\xB4\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5";  // "данные"
    fs::create_directory(sub);
    std::string path = sub + "/cfg.ini";
    writeFile(path, "[S]\nk=old\n");
    ageFile(path);
    KaIniFileCache* entry = new KaIniFileCache();
    ASSERT_EQ(KaIniOpen(entry, path.c_str(), kIniOpenRead), 0);
    // The UTF-16 form of the path (two-byte UTF-8 sequences only here).
    std::u16string wide;
    for (size_t i = 0; i < path.size();) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (c < 0x80) {
            wide.push_back(c);
            ++i;
        } else {
            wide.push_back(static_cast<char16_t>(((c & 0x1F) << 6) | (path[i + 1] & 0x3F)));
            i += 2;
        }
    }
    entry->pathW = static_cast<uint16_t*>(ramAlloc((wide.size() + 1) * 2));
    memcpy(entry->pathW, wide.c_str(), (wide.size() + 1) * 2);
    writeFile(path, "[S]\nk=newer value\n");
    char buf[32];
    entry->getProfileString("S", "k", "", buf, sizeof buf, 1);
    EXPECT_STREQ(buf, "newer value");
    delete entry;
}

// ---- Writing ----------------------------------------------------------------

struct WriteCase {
    const char* name;
    const char* before;
    const char* section;
    const char* key;
    const char* value;
    const char* after;
};

const WriteCase kWriteCases[] = {
    {"new key in ODBC Data Sources goes under the header", "[ODBC Data Sources]\nX=Drv\n\n[X]\nk=v\n",
     "ODBC Data Sources", "Y", "Drv2", "[ODBC Data Sources]\nY=Drv2\nX=Drv\n\n[X]\nk=v\n"},
    {"new key goes after the last entry, before empty lines", "[S]\na=1\n\n\n[T]\nc=3\n", "S", "b", "2",
     "[S]\na=1\nb=2\n\n\n[T]\nc=3\n"},
    {"changed key keeps its place", "[S]\na=1\nb=2\n\n[T]\nc=3\n", "S", "a", "9", "[S]\na=9\nb=2\n\n[T]\nc=3\n"},
    {"changed key is written as the caller spells it", "[ODBC]\nTrace=No\nTraceFile=/tmp/t\n", "ODBC", "trace", "Yes",
     "[ODBC]\ntrace=Yes\nTraceFile=/tmp/t\n"},
    {"changed key shadowed by no later duplicate", "[S]\nk=1\nk=2\n", "S", "k", "3", "[S]\nk=3\nk=2\n"},
    {"new section after an empty line", "[S]\na=1\n", "N", "k", "v", "[S]\na=1\n\n[N]\nk=v\n"},
    {"new section in an empty file", "", "N", "k", "v", "[N]\nk=v\n"},
    {"last line without a line end", "[S]\na=1", "S", "b", "2", "[S]\na=1\nb=2\n"},
    {"delete a key", "[S]\na=1\nb=2\n", "S", "a", nullptr, "[S]\nb=2\n"},
    {"delete a section", "[S]\na=1\n\n[T]\nc=3\n", "S", nullptr, nullptr, "[T]\nc=3\n"},
    {"delete a missing key", "[S]\na=1\n", "S", "zz", nullptr, "[S]\na=1\n"},
    {"delete a missing section", "[S]\na=1\n", "Q", nullptr, nullptr, "[S]\na=1\n"},
    {"a bracket in a value keeps later keys", "[S]\nBanner=[x]\nb=2\n", "S", "b", "3", "[S]\nBanner=[x]\nb=3\n"},
    {"byte order mark kept", "\xEF\xBB\xBF[S]\na=1\n", "S", "a", "2", "\xEF\xBB\xBF[S]\na=2\n"},
    {"carriage returns of other lines kept", "[S]\r\na=1\r\nb=2\r\n", "S", "a", "9", "[S]\r\na=9\nb=2\r\n"},
    {"section header spelled as in the file", "[Sales]\nk=1\n", "SALES", "n", "2", "[Sales]\nk=1\nn=2\n"},
};

TEST_F(IniTest, WritesKeepTheFileLayout)
{
    for (const WriteCase& c : kWriteCases) {
        SCOPED_TRACE(c.name);
        std::string path = put("w.ini", c.before);
        EXPECT_EQ(KaWritePrivateProfileStringRelease(c.section, c.key, c.value, path.c_str()), 1);
        EXPECT_EQ(readFile(path), c.after);
        taskReleaseIniCache();
    }
}

TEST_F(IniTest, WrittenValuesReadBackThroughUnixOdbc)
{
    std::string path = copyFixture("odbc.ini");
    env.set("ODBCINI", path);
    ASSERT_EQ(KaWritePrivateProfileString("Sales", "Port", "10001", "odbc.ini"), 1);
    ASSERT_EQ(KaWritePrivateProfileString("Reports", "Driver", "Mirrowen Spark", "odbc.ini"), 1);
    ASSERT_EQ(KaWritePrivateProfileString("ODBC Data Sources", "Reports", "Mirrowen Spark", "odbc.ini"), 1);
    EXPECT_EQ(get("Sales", "port", "odbc.ini"), "10001");
    EXPECT_EQ(odbcinst().value("Sales", "Port", path.c_str()), "10001");
    EXPECT_EQ(odbcinst().value("Reports", "Driver", path.c_str()), "Mirrowen Spark");
    EXPECT_EQ(odbcinst().value("ODBC Data Sources", "Reports", path.c_str()), "Mirrowen Spark");
    // Everything else of the file reads as before.
    EXPECT_EQ(odbcinst().value("Sales", "Banner", path.c_str()), "[welcome] to sales");
    EXPECT_EQ(odbcinst().value("Tabs", "TabKey", path.c_str()), "tab value");
}

TEST_F(IniTest, ValuesWrittenByUnixOdbcAreSeenAtTheNextRead)
{
    std::string path = put("u.ini", "[S]\na=1\n");
    EXPECT_EQ(get("S", "a", path), "1");
    ASSERT_NE(odbcinst().write, nullptr);
    odbcinst().write("S", "b", "from unixODBC", path.c_str());
    EXPECT_EQ(get("S", "b", path), "from unixODBC");
    EXPECT_EQ(get("S", "a", path), "1");
}

TEST_F(IniTest, TextThatWouldBreakTheFileIsRefused)
{
    std::string path = put("bad.ini", "[S]\na=1\n");
    const char* bad[][3] = {
        {"S", "k", "line\nbreak"}, {"S", "k=x", "v"}, {"S]", "k", "v"}, {"S", "[k", "v"}, {"S\r", "k", "v"},
    };
    for (auto& b : bad) {
        katest::ErrorScope errors;
        EXPECT_EQ(KaWritePrivateProfileStringRelease(b[0], b[1], b[2], path.c_str()), 0);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors.native(0), MSG_INI_TEXT_INVALID);
    }
    EXPECT_EQ(readFile(path), "[S]\na=1\n");
}

TEST_F(IniTest, RewriteKeepsModeAndWritesThroughSymlinks)
{
    std::string target = put("real.ini", "[S]\na=1\n");
    chmod(target.c_str(), 0640);
    std::string link = dir + "/link.ini";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    EXPECT_EQ(KaWritePrivateProfileStringRelease("S", "b", "2", link.c_str()), 1);
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(readFile(target), "[S]\na=1\nb=2\n");
    // No temporary file is left beside it.
    size_t files = 0;
    for (auto& e : fs::directory_iterator(dir))
        files += (e.is_regular_file() && !e.is_symlink()) ? 1 : 0;
    EXPECT_EQ(files, 1u);
}

TEST_F(IniTest, FileWithoutRoomBesideItIsRewrittenInPlace)
{
    // A real path too long for a temporary name beside it: the file itself
    // is rewritten, under the lock, and keeps its identity.
    std::string deep = dir;
    while (deep.size() < kIniPathMax + 16) {
        deep += "/" + std::string(200, 'd');
        ASSERT_TRUE(fs::create_directory(deep));
    }
    std::string target = deep + "/deep.ini";
    writeFile(target, "[S]\na=1\n\n[T]\nc=3\n");
    std::string link = dir + "/short.ini";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    struct stat before;
    ASSERT_EQ(stat(target.c_str(), &before), 0);
    EXPECT_EQ(KaWritePrivateProfileStringRelease("S", "b", "2", link.c_str()), 1);
    struct stat after;
    ASSERT_EQ(stat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(readFile(target), "[S]\na=1\nb=2\n\n[T]\nc=3\n");
    // A shorter text leaves nothing of the old one behind.
    EXPECT_EQ(KaWritePrivateProfileStringRelease("T", nullptr, nullptr, link.c_str()), 1);
    EXPECT_EQ(readFile(target), "[S]\na=1\nb=2\n\n");
}

TEST_F(IniTest, SameSizeRewriteWithinTheSecondChangesTheSize)
{
    // Only a rewrite within the same second as the file's time shows it.
    for (int attempt = 0; attempt < 5; ++attempt) {
        time_t before = time(nullptr);
        std::string path = dir + "/same.ini";
        writeFile(path, "[S]\nk=1\n");
        int32_t rc = KaWritePrivateProfileStringRelease("S", "k", "2", path.c_str());
        time_t after = time(nullptr);
        taskReleaseIniCache();
        ASSERT_EQ(rc, 1);
        if (before != after)
            continue;
        EXPECT_EQ(readFile(path), "[S]\nk=2\n\n");
        return;
    }
    GTEST_SKIP() << "the clock moved on during every attempt";
}

TEST_F(IniTest, TwoProcessesWritingAtOnceLoseNoKey)
{
    std::string path = put("shared.ini", "[ODBC Data Sources]\n\n[Shared]\nstart=1\n");
    constexpr int kChildren = 4;
    constexpr int kKeys = 25;
    std::vector<pid_t> pids;
    for (int c = 0; c < kChildren; ++c) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            for (int k = 0; k < kKeys; ++k) {
                std::string key = "p" + std::to_string(c) + "_" + std::to_string(k);
                // Alternate the sections so that both ends of the file move.
                const char* section = (k % 2) ? "Shared" : "ODBC Data Sources";
                if (KaWritePrivateProfileString(section, key.c_str(), "value", path.c_str()) != 1)
                    ++failures;
            }
            _exit(failures);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    for (int c = 0; c < kChildren; ++c)
        for (int k = 0; k < kKeys; ++k) {
            std::string key = "p" + std::to_string(c) + "_" + std::to_string(k);
            const char* section = (k % 2) ? "Shared" : "ODBC Data Sources";
            EXPECT_EQ(odbcinst().value(section, key.c_str(), path.c_str()), "value") << key;
        }
    EXPECT_EQ(get("Shared", "start", path), "1");
}

TEST_F(IniTest, ThreadsWritingAtOnceLoseNoKey)
{
    std::string path = put("threads.ini", "[T]\n");
    constexpr int kThreads = 4;
    constexpr int kKeys = 20;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int k = 0; k < kKeys; ++k) {
                std::string key = "t" + std::to_string(t) + "_" + std::to_string(k);
                EXPECT_EQ(KaWritePrivateProfileStringRelease("T", key.c_str(), "v", path.c_str()), 1);
            }
        });
    for (auto& th : threads)
        th.join();
    char buf[4096];
    int32_t n = KaGetPrivateProfileStringRelease("T", nullptr, "", buf, sizeof buf, path.c_str());
    EXPECT_EQ(splitList(buf, n).size(), static_cast<size_t>(kThreads * kKeys));
}

// ---- The cache ----------------------------------------------------------------

TEST_F(IniTest, CachedEntriesAreSharedAndCounted)
{
    std::string path = put("c.ini", "[S]\na=1\n");
    KaIniFileCache* a = KaIniFileOpenCached(path.c_str());
    KaIniFileCache* b = KaIniFileOpenCached(path.c_str());
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->refCount, 2);
    KaIniFileRelease(b);
    EXPECT_EQ(a->refCount, 1);
    KaIniFileCacheList* list = KaIniFileCacheListGet(0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->entries.count, 1u);
    KaIniFileRelease(a);
    EXPECT_EQ(list->entries.count, 0u);
}

TEST_F(IniTest, CachedTextIsWipedBeforeItsMemoryGoesBack)
{
    if (!katest::FreeWatch::available())
        GTEST_SKIP() << "needs AddressSanitizer's free hook";
    std::string path = put("secret.ini", "[S]\nPWD=hunter2\n");
    KaIniFileCache* entry = KaIniFileOpenCached(path.c_str());
    ASSERT_NE(entry, nullptr);
    ASSERT_NE(entry->image, nullptr);
    {
        // A change on disk replaces the image at the next read.
        katest::FreeWatch watch(entry->image, entry->imageLength + 1);
        writeFile(path, "[S]\nPWD=correct horse\n");
        char buf[32];
        EXPECT_EQ(KaIniFileGetString(entry, "S", "PWD", "", buf, sizeof buf), 13);
        EXPECT_TRUE(watch.seen());
        EXPECT_TRUE(watch.wiped());
    }
    {
        // The last holder's release frees it.
        katest::FreeWatch watch(entry->image, entry->imageLength + 1);
        KaIniFileRelease(entry);
        EXPECT_TRUE(watch.seen());
        EXPECT_TRUE(watch.wiped());
    }
}

TEST_F(IniTest, KeepingReadersHoldOneReferenceBetweenThem)
{
    std::string path = put("k.ini", "[S]\na=1\n");
    char buf[8];
    for (int i = 0; i < 3; ++i)
        KaGetPrivateProfileString("S", "a", "", buf, sizeof buf, path.c_str());
    KaIniFileCacheList* list = KaIniFileCacheListGet(0);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->entries.count, 1u);
    auto* entry = static_cast<KaIniFileCache*>(list->entries.items[0]);
    EXPECT_EQ(entry->refCount, 1);
    EXPECT_EQ(entry->keptByList, 1);
}

TEST_F(IniTest, DeletingTheListLeavesHeldEntriesUsable)
{
    std::string path = put("h.ini", "[S]\na=held\n");
    KaIniFileCache* held = KaIniFileOpenCached(path.c_str());
    ASSERT_NE(held, nullptr);
    char buf[16];
    KaGetPrivateProfileString("S", "a", "", buf, sizeof buf, path.c_str());
    taskReleaseIniCache();
    EXPECT_EQ(KaIniFileCacheListGet(0), nullptr);
    KaIniFileGetString(held, "S", "a", "", buf, sizeof buf);
    EXPECT_STREQ(buf, "held");
    // The last holder frees it (the leak checker would report it otherwise).
    KaIniFileRelease(held);
}

TEST_F(IniTest, KaIniWithoutAFilePostsThatNoFileIsOpen)
{
    katest::ErrorScope errors;
    KaIni ini;
    char buf[8];
    EXPECT_EQ(ini.getProfileString("S", "k", "d", buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "d");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors.native(0), MSG_INI_FILE_NOT_OPEN);

    std::string path = put("kaini.ini", "[S]\nk=v\nn=12\n");
    ASSERT_EQ(ini.open(path.c_str()), 0);
    EXPECT_EQ(ini.getProfileString("S", "k", "d", buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "v");
    EXPECT_EQ(ini.getProfileInt("S", "n", 0), 12);
    ini.writeProfileString("S", "m", "3");
    ini.deleteProfileKey("S", "k");
    EXPECT_EQ(readFile(path), "[S]\nn=12\nm=3\n");
    EXPECT_EQ(ini.close(), 0);
}

// ---- Record-lock list -------------------------------------------------------------

TEST_F(IniTest, RangeLocksCountPerThreadAndExcludeOthers)
{
    std::string path = put("locks.dat", std::string(64, 'x'));
    int fd = open(path.c_str(), O_RDWR);
    ASSERT_GT(fd, 0);
    katest::ErrorScope errors;
    EXPECT_EQ(bosLockRange(fd, 10, 5, kLockRangeWrite), 0);
    EXPECT_EQ(bosLockRange(fd, 10, 5, kLockRangeWrite), 0);  // counted again
    // Another thread of the process: an overlapping range is refused.
    int32_t other = -1;
    uint16_t otherNative = 0;
    std::thread([&] {
        katest::ErrorScope threadErrors;
        other = bosLockRange(fd, 12, 10, kLockRangeRead);
        otherNative = threadErrors.size() ? threadErrors.native(0) : 0;
        // A range beside it is free.
        EXPECT_EQ(bosLockRange(fd, 20, 5, kLockRangeWrite), 0);
        EXPECT_EQ(bosLockRange(fd, 20, 5, kLockRangeFree), 0);
    }).join();
    EXPECT_EQ(other, 1);
    EXPECT_EQ(otherNative, MSG_RESOURCE_TEMPORARILY_UNAVAILABLE);
    // Another process sees the record lock until the last use is freed.
    auto childCanLock = [&] {
        pid_t pid = fork();
        if (pid == 0) {
            int cfd = open(path.c_str(), O_RDWR);
            struct flock fl;
            memset(&fl, 0, sizeof fl);
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            fl.l_start = 10;
            fl.l_len = 5;
            _exit(fcntl(cfd, F_SETLK, &fl) == 0 ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    EXPECT_FALSE(childCanLock());
    EXPECT_EQ(bosLockRange(fd, 10, 5, kLockRangeFree), 0);
    EXPECT_FALSE(childCanLock());
    EXPECT_EQ(bosLockRange(fd, 10, 5, kLockRangeFree), 0);
    EXPECT_TRUE(childCanLock());
    EXPECT_EQ(errors.size(), 0u);
    close(fd);
}

// ---- Trace output ---------------------------------------------------------------

TEST_F(IniTest, TraceOutputNeverShowsPasswords)
{
    std::string path = put("t.ini", "[S]\nPWD=hunter2\nProxyPassword=swordfish\nHost=h\n");
    uint64_t flags = bosDebugFlags;
    bosDebugFlags = BOS_TRACE_INI_READ | BOS_TRACE_INI_WRITE | BOS_TRACE_INI_OPEN;
    testing::internal::CaptureStdout();
    char buf[32];
    KaGetPrivateProfileStringRelease("S", "PWD", "", buf, sizeof buf, path.c_str());
    int32_t written = KaWritePrivateProfileStringRelease("S", "ProxyPassword", "newsecret", path.c_str());
    KaGetPrivateProfileStringRelease("S", "Host", "", buf, sizeof buf, path.c_str());
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    bosDebugFlags = flags;
    EXPECT_EQ(written, 1);
    EXPECT_EQ(out.find("hunter2"), std::string::npos);
    EXPECT_EQ(out.find("swordfish"), std::string::npos);
    EXPECT_EQ(out.find("newsecret"), std::string::npos);
    EXPECT_NE(out.find("GetProfileString"), std::string::npos);
    EXPECT_NE(out.find("Value=h"), std::string::npos);
}

// ---- Small pieces ---------------------------------------------------------------

TEST(IniPieces, StrCopyTruncCutsToSizeMinusOne)
{
    katest::Guarded<char> buf(6);
    EXPECT_EQ(strCopyTrunc(buf.data(), "abc", 6), 3);
    EXPECT_STREQ(buf.data(), "abc");
    EXPECT_EQ(strCopyTrunc(buf.data(), "abcdefgh", 6), 5);
    EXPECT_STREQ(buf.data(), "abcde");
    EXPECT_TRUE(buf.guardsIntact());
}

TEST(IniPieces, LineReaderHonoursQuotesAndComments)
{
    const char* text = "a=\"x\ny\"\r\n;comment text\nlast\x1Arest";
    int64_t pos = 0, len = 0;
    char out[32];
    bosIniReadLine(text, &pos, out, sizeof out, &len);
    EXPECT_STREQ(out, "a=\"x\ny\"");
    EXPECT_EQ(len, 7);
    bosIniReadLine(text, &pos, out, sizeof out, &len);
    EXPECT_STREQ(out, ";");
    bosIniReadLine(text, &pos, out, sizeof out, &len);
    EXPECT_STREQ(out, "last");
    bosIniReadLine(text, &pos, out, sizeof out, &len);
    EXPECT_EQ(len, -1);
    pos = 0;
    katest::Guarded<char> small(4);
    bosIniReadLine("abcdefgh\n", &pos, small.data(), 4, &len);
    EXPECT_EQ(len, -2);
    EXPECT_STREQ(small.data(), "abc");
    EXPECT_TRUE(small.guardsIntact());
}

TEST(IniPieces, SecretKeysAreRecognised)
{
    EXPECT_TRUE(KaIniIsSecretKey("PWD"));
    EXPECT_TRUE(KaIniIsSecretKey("ProxyPassword"));
    EXPECT_TRUE(KaIniIsSecretKey("SSLKeyStorePwd"));
    EXPECT_FALSE(KaIniIsSecretKey("HostName"));
}

}  // namespace
