// Data-source setup as the unixODBC installer drives it: SQLConfigDataSource
// loads the driver, whose ConfigDSN hands the request to a stand-in setup
// library that records what it receives; setupWriteDsn's data sources as
// odbcinst shows them; the attribute list; and the connect dialog through a
// stand-in dialog library.
#include "odbc/setupapi.h"

#include <dlfcn.h>
#include <odbcinst.h>
#include <sql.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../platform/bostest.h"
#include "foundation/ram.h"

namespace {

const std::string kStandins = KA_STANDIN_DIR;
const std::string kDriver = KA_DRIVER_SO;

std::string run(const std::string& command)
{
    std::string out;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr)
        return out;
    char buf[512];
    while (fgets(buf, sizeof buf, p) != nullptr)
        out += buf;
    pclose(p);
    return out;
}

// The installer remembers where its system files are for the life of the
// process, so every test of the process shares one directory for them.
const std::string& iniDir()
{
    static katest::TempDir dir("kasetupini");
    return dir.path();
}

// A copy of the driver under a path of its own is a second, fresh instance
// of it in the process: no setup library loaded yet.
std::string driverCopy(const std::string& name)
{
    std::string dir = iniDir() + "/" + name;
    std::filesystem::create_directories(dir);
    std::string copy = dir + "/VYspark28.so";
    std::filesystem::copy_file(kDriver, copy, std::filesystem::copy_options::overwrite_existing);
    return copy;
}

class SetupTest : public katest::BosTest {
protected:
    void* installer = nullptr;
    decltype(&SQLConfigDataSource) configDataSource = nullptr;
    decltype(&SQLInstallerError) installerError = nullptr;

    void SetUp() override
    {
        katest::BosTest::SetUp();
        installer = dlopen("libodbcinst.so.2", RTLD_NOW);
        ASSERT_NE(nullptr, installer) << dlerror();
        configDataSource = reinterpret_cast<decltype(configDataSource)>(dlsym(installer, "SQLConfigDataSource"));
        installerError = reinterpret_cast<decltype(installerError)>(dlsym(installer, "SQLInstallerError"));
        ASSERT_NE(nullptr, configDataSource);
        ASSERT_NE(nullptr, installerError);
        writeOdbcInst("");
        std::ofstream(iniDir() + "/odbc.ini") << "";
        setEnv("ODBCSYSINI", iniDir());
        setEnv("ODBCINSTINI", "odbcinst.ini");
        setEnv("ODBCINI", iniDir() + "/odbc.ini");
        setEnv("HOME", dir);
        setEnv("KA", kStandins);
        setEnv("TW_INSTALLDIR", katest::buildDir());
        setEnv("KA_STANDIN_LOG", path("backend.log"));
    }
    // The installer keeps its library loaded: its error list is the process's.

    void writeOdbcInst(const std::string& more)
    {
        std::ofstream(iniDir() + "/odbcinst.ini") << "[VYspark28test]\nDriver=" + kDriver + "\nSetup=" + kDriver +
                                                         "\nMaxPoolSize=10\nPooling=Yes\nLoadBalanceTimeout=5\n" + more;
    }

    std::string backendLog()
    {
        std::ifstream f(path("backend.log"));
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    std::vector<std::string> installerMessages()
    {
        std::vector<std::string> out;
        for (WORD i = 1; i <= 8; ++i) {
            DWORD code = 0;
            char text[1024] = {};
            WORD length = 0;
            if (installerError(i, &code, text, sizeof text, &length) != SQL_SUCCESS)
                break;
            out.push_back(text);
        }
        return out;
    }
};

TEST_F(SetupTest, ConfigDataSourceReachesTheSetupLibraryWithThePoolingKeysInOrder)
{
    ASSERT_TRUE(configDataSource(nullptr, ODBC_ADD_DSN, "VYspark28test", "DSN=mine\0Host=h1\0Port=10000\0"))
        << (installerMessages().empty() ? "" : installerMessages()[0]);
    EXPECT_EQ("window=null size=5128 request=1 file=0 driver=VYspark28test path=" + kDriver +
                  " fileDsn=\n"
                  "DSN=mine\nHost=h1\nPort=10000\n"
                  "Pooling=Yes\nMaxPoolSize=10\nLoadBalanceTimeout=5\n",
              backendLog());
}

TEST_F(SetupTest, AnEmptyAttributeStringStillPassesThePoolingKeys)
{
    ASSERT_TRUE(configDataSource(nullptr, ODBC_CONFIG_DSN, "VYspark28test", "\0"));
    EXPECT_EQ("window=null size=5128 request=2 file=0 driver=VYspark28test path=" + kDriver +
                  " fileDsn=\n"
                  "Pooling=Yes\nMaxPoolSize=10\nLoadBalanceTimeout=5\n",
              backendLog());
}

TEST_F(SetupTest, ABackendThatFailsMakesTheRequestFail)
{
    setEnv("KA_STANDIN_BACKEND_RESULT", "1");
    EXPECT_FALSE(configDataSource(nullptr, ODBC_ADD_DSN, "VYspark28test", "DSN=x\0"));
    EXPECT_NE(std::string::npos, backendLog().find("DSN=x\n"));
}

TEST_F(SetupTest, AMissingSetupLibraryIsReportedToTheInstaller)
{
    writeOdbcInst("[Missing]\nDriver=" + kDriver + "\nSetup=" + driverCopy("missing") + "\n");
    setEnv("KA", dir);  // no setup library there
    EXPECT_FALSE(configDataSource(nullptr, ODBC_ADD_DSN, "Missing", "DSN=x\0"));
    std::vector<std::string> messages = installerMessages();
    ASSERT_EQ(1u, messages.size());
    EXPECT_NE(std::string::npos, messages[0].find("VYspark28r")) << messages[0];
    EXPECT_EQ("", backendLog());
}

TEST_F(SetupTest, ASetupLibraryWithoutItsEntryPointIsReportedToTheInstaller)
{
    writeOdbcInst("[NoEntry]\nDriver=" + kDriver + "\nSetup=" + driverCopy("noentry") + "\n");
    setEnv("KA", kStandins + "/noentry");
    EXPECT_FALSE(configDataSource(nullptr, ODBC_ADD_DSN, "NoEntry", "DSN=x\0"));
    std::vector<std::string> messages = installerMessages();
    ASSERT_EQ(1u, messages.size());
    EXPECT_NE(std::string::npos, messages[0].find("invokeBackend")) << messages[0];
}

TEST_F(SetupTest, WithoutItsMessageCatalogueTheDriverRefusesSetup)
{
    // This test program is the "driver" here: no catalogue carries its name.
    katest::closeCatalogue();
    EXPECT_EQ(SQL_FALSE, ConfigFileDSN(nullptr, ODBC_ADD_DSN, "VYspark28test", "Host=h\0", "/tmp/x.dsn"));
    // Called directly, no installer call cleared the list before: the
    // message is the last one.
    std::vector<std::string> messages = installerMessages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ("Failed to load driver's message file.", messages.back());
    EXPECT_EQ("", backendLog());
    ASSERT_EQ(0, katest::openCatalogue());
}

TEST_F(SetupTest, FileDataSourceRequestsReachTheBackend)
{
    SetupRequest* request = setupNewRequest("VYspark28test", ODBC_ADD_DSN, 1, "/tmp/x.dsn");
    ASSERT_NE(nullptr, request);
    SetupAttribute* list = nullptr;
    ASSERT_EQ(0, setupParseAttributes("Host=h\0", &list));
    EXPECT_EQ(0, setupInvokeBackend(nullptr, request, &list, "VYspark28"));
    EXPECT_EQ("window=null size=5128 request=1 file=1 driver=VYspark28test path=" + kDriver +
                  " fileDsn=/tmp/x.dsn\nHost=h\nPooling=Yes\nMaxPoolSize=10\nLoadBalanceTimeout=5\n",
              backendLog());
    setupFreeAttributes(list);
    ramFree(request);
}

TEST_F(SetupTest, WrittenDataSourcesAreWhatOdbcinstShows)
{
    SetupRequest* request = setupNewRequest("VYspark28test", ODBC_ADD_DSN, 0, nullptr);
    ASSERT_NE(nullptr, request);
    EXPECT_EQ(kDriver, request->driverPath);
    strcpy(request->newDsn, "roundtrip");
    SetupAttribute* list = nullptr;
    ASSERT_EQ(0, setupParseAttributes("DSN=roundtrip\0Host=example.org\0Port=10001\0", &list));
    EXPECT_EQ(1, setupWriteDsn(list, request));
    std::string shown = run("odbcinst -q -s -n roundtrip");
    EXPECT_NE(std::string::npos, shown.find("[roundtrip]")) << shown;
    EXPECT_NE(std::string::npos, shown.find("Driver=" + kDriver)) << shown;
    EXPECT_NE(std::string::npos, shown.find("Host=example.org")) << shown;
    EXPECT_NE(std::string::npos, shown.find("Port=10001")) << shown;
    EXPECT_EQ(std::string::npos, shown.find("DSN=")) << shown;

    // Configured under a new name, the old one is gone.
    request->request = ODBC_CONFIG_DSN;
    strcpy(request->oldDsn, "roundtrip");
    strcpy(request->newDsn, "renamed");
    EXPECT_EQ(1, setupWriteDsn(list, request));
    shown = run("odbcinst -q -s -n renamed");
    EXPECT_NE(std::string::npos, shown.find("Host=example.org")) << shown;
    EXPECT_EQ(std::string::npos, run("odbcinst -q -s").find("[roundtrip]"));

    // Other requests write nothing.
    request->request = ODBC_REMOVE_DSN;
    strcpy(request->newDsn, "never");
    EXPECT_EQ(1, setupWriteDsn(list, request));
    EXPECT_EQ(std::string::npos, run("odbcinst -q -s").find("[never]"));

    setupFreeAttributes(list);
    ramFree(request);
}

TEST_F(SetupTest, FileDataSourceIsWrittenToItsOdbcSection)
{
    std::string file = path("written.dsn");
    SetupRequest* request = setupNewRequest("VYspark28test", ODBC_ADD_DSN, 1, file.c_str());
    ASSERT_NE(nullptr, request);
    SetupAttribute* list = nullptr;
    ASSERT_EQ(0, setupParseAttributes("Host=filehost\0", &list));
    EXPECT_EQ(1, setupWriteDsn(list, request));
    std::ifstream f(file);
    std::stringstream s;
    s << f.rdbuf();
    EXPECT_NE(std::string::npos, s.str().find("[ODBC]")) << s.str();
    EXPECT_NE(std::string::npos, s.str().find("Driver=VYspark28test")) << s.str();
    EXPECT_NE(std::string::npos, s.str().find("Host=filehost")) << s.str();
    setupFreeAttributes(list);
    ramFree(request);
}

TEST(SetupAttributes, ParseFindAndCut)
{
    SetupAttribute* list = nullptr;
    ASSERT_EQ(0, setupParseAttributes("A=1\0B=\0C=x=y\0\0", &list));
    EXPECT_STREQ("1", setupFindAttribute(list, "A"));
    EXPECT_STREQ("", setupFindAttribute(list, "B"));
    EXPECT_STREQ("x=y", setupFindAttribute(list, "C"));
    EXPECT_EQ(nullptr, setupFindAttribute(list, "a"));  // exact comparison
    setupFreeAttributes(list);

    ASSERT_EQ(0, setupParseAttributes("A=1\0junk\0B=2\0", &list));
    EXPECT_STREQ("1", setupFindAttribute(list, "A"));
    EXPECT_EQ(nullptr, setupFindAttribute(list, "B"));
    setupFreeAttributes(list);

    std::string longPair = std::string(600, 'k') + "=" + std::string(2000, 'v');
    longPair.push_back('\0');
    ASSERT_EQ(0, setupParseAttributes(longPair.c_str(), &list));
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(SETUP_KEY_SIZE - 1, strlen(list->key));
    EXPECT_EQ(SETUP_VALUE_SIZE - 1, strlen(list->value));
    setupFreeAttributes(list);

    ASSERT_EQ(0, setupParseAttributes("", &list));
    EXPECT_EQ(nullptr, list);
}

TEST(ConnectDialog, MissingThenPresentDialogLibrary)
{
    ASSERT_EQ(0, katest::openCatalogue());
    katest::EnvScope env;
    katest::TempDir empty("kadialog");
    env.set("KA", empty.path());
    env.unset("LD_LIBRARY_PATH");
    env.set("KA_STANDIN_LOG", empty.path() + "/dialog.log");
    env.unset("KA_DIALOG_RESULT");
    env.set("KA_DIALOG_PORT", "10001");
    char fields[5][128] = {"host", "db", "user", "secret", "10000"};
    int window = 0;
    int connection = 0;
    auto show = [&]() {
        return runConnectDialog(&window, &connection, fields[0], fields[1], fields[2], fields[3], fields[4]);
    };
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, show());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, err.find("libVYmbackw.so")) << err;
    EXPECT_FALSE(connectDialogAvailable());
    EXPECT_STREQ("10000", fields[4]);

    // Once found, the library is kept: its answer is the dialog's.
    env.set("KA", kStandins);
    EXPECT_TRUE(connectDialogAvailable());
    EXPECT_EQ(0, show());
    EXPECT_STREQ("10001", fields[4]);
    env.set("KA_DIALOG_RESULT", "2");
    EXPECT_EQ(-1, show());
    std::ifstream log(empty.path() + "/dialog.log");
    std::string line;
    ASSERT_TRUE(std::getline(log, line));
    EXPECT_EQ("window=set connection=set host=host database=db user=user password=secret port=10000", line);
    katest::closeCatalogue();
}

}  // namespace
