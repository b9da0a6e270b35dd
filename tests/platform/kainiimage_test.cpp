// The in-memory images of odbc.ini and odbcinst.ini and the application code
// page derived from them and from connection strings.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "foundation/codepage.h"
#include "foundation/kathread.h"
#include "platform/kaini.h"
#include "platform/kainiimage.h"
#include "support/platformtest.h"
#include "support/errorscope.h"
#include "support/freewatch.h"
#include "support/guarded.h"

namespace fs = std::filesystem;

namespace {

const char* const kVars[] = {"HOME", "ODBCINI", "ODBC_INI", "ODBCINST", "ODBCINSTINI", "ODBCSYSINI"};

class ImageTest : public ::testing::Test {
protected:
    katest::EnvScope env;
    katest::TempDir tempDir{"kainiimage_test"};
    std::string dir;

    void SetUp() override
    {
        ASSERT_FALSE(tempDir.path().empty());
        dir = tempDir.path();
        for (const char* v : kVars)
            env.unset(v);
        // The machine's own /etc files stay out of it.
        env.set("ODBCSYSINI", dir + "/nosys");
        // Without a code page in the files, the locale's is taken: the C
        // locale's, whose ASCII UTF-8 contains.
        env.set("LC_ALL", "C");
        env.unset("LC_CTYPE");
        env.unset("LANG");
        taskReleaseIniCache();
    }

    void TearDown() override
    {
        env.restore();
        loadIniImages();
        taskReleaseIniCache();
        tempDir.remove();
    }

    std::string put(const std::string& name, const std::string& text)
    {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        return path;
    }

    // odbc.ini and odbcinst.ini in the home directory; empty text: no file.
    void home(const std::string& odbcIni, const std::string& odbcInst)
    {
        env.set("HOME", dir);
        // The machine's own /etc files stay out of it: the system folder is
        // the (empty) test folder's subfolder.
        env.set("ODBCSYSINI", dir + "/nosys");
        if (!odbcIni.empty())
            put(".odbc.ini", odbcIni);
        if (!odbcInst.empty())
            put(".odbcinst.ini", odbcInst);
        loadIniImages();
    }
};

TEST_F(ImageTest, NoVariablesMeanNoImagesAndTheLocalesCodePage)
{
    loadIniImages();
    EXPECT_EQ(odbcIniImage.data, nullptr);
    EXPECT_EQ(odbcInstImage.data, nullptr);
    EXPECT_EQ(getAppCodePage("Any"), kCodePageUtf8);
    EXPECT_EQ(getAppCodePage(nullptr), kCodePageUtf8);
    env.set("LC_ALL", "xx_YY.ISO-8859-1");
    EXPECT_EQ(getAppCodePage("Any"), kCodePageLatin1);
}

struct CodePageCase {
    const char* name;
    const char* odbcIni;
    const char* odbcInst;
    const char* dsn;
    int64_t want;
};

const CodePageCase kCodePageCases[] = {
    {"IANAAppCodePage in the data source", "[Sales]\nIANAAppCodePage=106\n", "", "Sales", 106},
    {"a blank before = hides the key from the image", "[Sales]\nIANAAppCodePage =106\n[ODBC]\nIANAAppCodePage=2252\n",
     "", "Sales", 2252},
    {"AppCodePage is mapped", "[ODBC]\nAppCodePage=1252\n", "", nullptr, 2252},
    {"an unmapped AppCodePage lets the search go on", "[Sales]\nAppCodePage=8\n[ODBC]\nIANAAppCodePage=106\n", "",
     "Sales", 106},
    {"-1 counts as not set", "[Sales]\nIANAAppCodePage=-1\n", "[ODBC]\nIANAAppCodePage=2252\n", "Sales", 2252},
    {"0 is a result", "[Sales]\nIANAAppCodePage=0\n", "", "Sales", 0},
    {"braces are read in odbc.ini", "[Sales]\nIANAAppCodePage={106}\n", "", "Sales", 106},
    {"braces read as 0 in odbcinst.ini", "", "[ODBC]\nIANAAppCodePage={106}\n", nullptr, 0},
    {"the data source comes before ODBC", "[Sales]\nIANAAppCodePage=106\n[ODBC]\nIANAAppCodePage=2252\n", "", "Sales",
     106},
    {"odbcinst.ini ODBC last", "[Other]\nx=1\n", "[ODBC]\nAppCodePage=1250\n", "Sales", 2250},
    {"section names ignore case",
     "[sales]\niana"
     "appcodepage=106\n",
     "", "SALES", 106},
    {"a bracket in an earlier value keeps the key", "[Sales]\nBanner=[hi]\nIANAAppCodePage=106\n", "", "Sales", 106},
    {"a line without = hides nothing", "[Sales]\njunk\nIANAAppCodePage=106\n", "", "Sales", 106},
    {"a key in the next section is not taken", "[Sales]\nx=1\n[Other]\nIANAAppCodePage=2252\n", "", "Sales",
     kCodePageUtf8},
    {"a negative number names an EBCDIC page", "[Sales]\nIANAAppCodePage=-2028\n", "", "Sales", -2028},
};

TEST_F(ImageTest, CodePageComesFromTheFirstSourceThatNamesOne)
{
    for (const CodePageCase& c : kCodePageCases) {
        SCOPED_TRACE(c.name);
        fs::remove(dir + "/.odbc.ini");
        fs::remove(dir + "/.odbcinst.ini");
        home(c.odbcIni, c.odbcInst);
        EXPECT_EQ(getAppCodePage(c.dsn), c.want);
    }
}

TEST_F(ImageTest, OdbcinstIsReadWhenOdbcIniIsMissing)
{
    home("", "[ODBC]\nIANAAppCodePage=106\n");
    EXPECT_EQ(odbcIniImage.data, nullptr);
    ASSERT_NE(odbcInstImage.data, nullptr);
    EXPECT_EQ(getAppCodePage("Sales"), 106);
}

TEST_F(ImageTest, SectionsTheUsersFileLacksAreReadFromTheSystemsFile)
{
    fs::create_directory(dir + "/sys");
    put("sys/odbc.ini", "[Shared]\nIANAAppCodePage=2252\n[Both]\nIANAAppCodePage=2250\n");
    put("sys/odbcinst.ini", "[ODBC]\nIANAAppCodePage=2026\n");
    put(".odbc.ini", "[Mine]\nIANAAppCodePage=106\n[Both]\nIANAAppCodePage=111\n");
    put(".odbcinst.ini", "[Drv]\nx=1\n");
    env.set("HOME", dir);
    env.set("ODBCSYSINI", dir + "/sys");
    loadIniImages();
    EXPECT_EQ(getAppCodePage("Mine"), 106);
    EXPECT_EQ(getAppCodePage("Shared"), 2252);
    EXPECT_EQ(getAppCodePage("Both"), 111);
    // No data source names one: section ODBC of the system's odbcinst.ini.
    EXPECT_EQ(getAppCodePage("Nowhere"), 2026);
    char out[16];
    EXPECT_EQ(getOdbcIniImageString("Shared", "IANAAppCodePage", "", out, sizeof out), 4);
    EXPECT_STREQ(out, "2252");
}

struct CodesetCase {
    const char* codeset;
    int64_t want;
};

TEST(LocaleCodePage, CodesetNamesMapToTheirIanaNumbers)
{
    const CodesetCase cases[] = {
        {"UTF-8", kCodePageUtf8},
        {"utf8", kCodePageUtf8},
        {"ANSI_X3.4-1968", kCodePageUtf8},  // the C locale's ASCII
        {"ISO-8859-1", kCodePageLatin1},
        {"iso88591", kCodePageLatin1},
        {"ISO-8859-15", 111},
        {"iso885915", 111},
        {"EUC-JP", 18},
        {"KOI8-R", 2084},
        {"CP1252", 2252},
        {"", kCodePageUtf8},
        {nullptr, kCodePageUtf8},
        {"no-such-codeset", kCodePageUtf8},
    };
    for (const CodesetCase& c : cases) {
        SCOPED_TRACE(c.codeset ? c.codeset : "(null)");
        EXPECT_EQ(codePageFromCodeset(c.codeset), c.want);
    }
}

TEST(LocaleCodePage, TheApplicationsLocaleElseTheEnvironmentsDecides)
{
    struct Case {
        const char* lcAll;  // null: unset
        const char* lcCtype;
        const char* lang;
        int64_t want;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, kCodePageUtf8},
        {nullptr, nullptr, "C.UTF-8", kCodePageUtf8},
        {nullptr, nullptr, "C", kCodePageUtf8},
        {nullptr, nullptr, "POSIX", kCodePageUtf8},
        // Not installed here: the codeset in the name counts.
        {nullptr, nullptr, "xx_YY.ISO-8859-1", kCodePageLatin1},
        {nullptr, nullptr, "xx_YY.ISO-8859-15@euro", 111},
        {nullptr, nullptr, "xx_YY", kCodePageUtf8},
        {nullptr, "xx_YY.ISO-8859-1", "C.UTF-8", kCodePageLatin1},
        {"C.UTF-8", "xx_YY.ISO-8859-1", "xx_YY.ISO-8859-1", kCodePageUtf8},
        {"", "", "xx_YY.KOI8-R", 2084},
    };
    katest::EnvScope env;
    ASSERT_STREQ(setlocale(LC_CTYPE, nullptr), "C");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.lcAll ? c.lcAll : "-") + " " + (c.lcCtype ? c.lcCtype : "-") + " " +
                     (c.lang ? c.lang : "-"));
        const char* values[] = {c.lcAll, c.lcCtype, c.lang};
        const char* names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
        for (int i = 0; i < 3; ++i) {
            if (values[i])
                env.set(names[i], values[i]);
            else
                env.unset(names[i]);
        }
        EXPECT_EQ(localeAppCodePage(), c.want);
    }
    // A locale the application chose wins over the environment.
    env.set("LC_ALL", "xx_YY.ISO-8859-1");
    ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    EXPECT_EQ(localeAppCodePage(), kCodePageUtf8);
    setlocale(LC_CTYPE, "C");
}

TEST_F(ImageTest, VariablesNameTheFiles)
{
    std::string ini = put("user.ini", "[ODBC]\nIANAAppCodePage=2252\n");
    std::string inst = put("inst.ini", "[ODBC]\nIANAAppCodePage=106\n");
    env.set("ODBC_INI", ini);
    env.set("ODBCINSTINI", inst);
    loadIniImages();
    EXPECT_EQ(getOdbcIniImageInt("ODBC", "IANAAppCodePage", -5), 2252);
    EXPECT_EQ(getOdbcInstImageInt("ODBC", "IANAAppCodePage", -5), 106);
    // ODBCINI and ODBCINST come first.
    std::string ini2 = put("user2.ini", "[ODBC]\nIANAAppCodePage=4\n");
    std::string inst2 = put("inst2.ini", "[ODBC]\nIANAAppCodePage=3\n");
    env.set("ODBCINI", ini2);
    env.set("ODBCINST", inst2);
    loadIniImages();
    EXPECT_EQ(getOdbcIniImageInt("ODBC", "IANAAppCodePage", -5), 4);
    EXPECT_EQ(getOdbcInstImageInt("ODBC", "IANAAppCodePage", -5), 3);
}

TEST_F(ImageTest, FreedImagesAreWipedFirst)
{
    if (!katest::FreeWatch::available())
        GTEST_SKIP() << "needs AddressSanitizer's free hook";
    home("[Sales]\nPWD=hunter2\n", "");
    ASSERT_NE(odbcIniImage.data, nullptr);
    katest::FreeWatch watch(odbcIniImage.data, static_cast<size_t>(odbcIniImage.length));
    freeIniImagesNow();
    EXPECT_TRUE(watch.seen());
    EXPECT_TRUE(watch.wiped());
}

TEST_F(ImageTest, ImagesAreNotRefreshed)
{
    home("[ODBC]\nIANAAppCodePage=106\n", "");
    put(".odbc.ini", "[ODBC]\nIANAAppCodePage=2252\n");
    EXPECT_EQ(getAppCodePage(nullptr), 106);
}

struct ConnCase {
    const char16_t* text;
    int64_t want;
    const char16_t* dsn;  // captured name, or null
};

TEST_F(ImageTest, ConnectionStringNamesTheCodePageOrTheDataSource)
{
    home("[Sales]\nIANAAppCodePage=2252\n[Daten]\nIANAAppCodePage=106\n", "[ODBC]\nAppCodePage=1250\n");
    const ConnCase cases[] = {
        {u"DSN=x;IACP=2252", 2252, u"x"},
        {u" iacp = { 106 } ;ACP=1252", 106, nullptr},
        {u"ACP=1252;AppCodePage=1250", 2250, nullptr},
        {u"DSN=Sales;UID=u", 2252, u"Sales"},
        {u"DSN=Daten", 106, u"Daten"},
        {u"DSN=Nowhere", 2250, u"Nowhere"},
        {u"UID=u;PWD=p", 2250, nullptr},
        {u"DSN=Sales;IACP=", 2252, u"Sales"},
    };
    for (const ConnCase& c : cases) {
        SCOPED_TRACE(katest::narrow(c.text));
        uint16_t* dsn = nullptr;
        std::u16string s(c.text);
        EXPECT_EQ(getAppCodePageW(katest::W(s.c_str()), static_cast<int64_t>(s.size()), &dsn), c.want);
        if (c.dsn) {
            ASSERT_NE(dsn, nullptr);
            EXPECT_EQ(katest::u16(dsn), c.dsn);
        } else {
            EXPECT_EQ(dsn, nullptr);
        }
        ucnvFree(dsn);
    }
    // Without a place for the name the scan still uses it.
    std::u16string s = u"DSN=Daten";
    EXPECT_EQ(getAppCodePageW(katest::W(s.c_str()), static_cast<int64_t>(s.size()), nullptr), 106);
    char* dsnA = nullptr;
    EXPECT_EQ(getAppCodePageA("DSN=Daten;UID=x", 15, &dsnA), 106);
    ASSERT_NE(dsnA, nullptr);
    EXPECT_STREQ(dsnA, "Daten");
    ucnvFree(dsnA);
}

TEST(ImageParser, ReadsValuesKeysAndDefaults)
{
    const char image[] = "; c\n[A]\nk1=v1\n  k2 = two words \n#k3=x\nk4=\nk5==eq\n\n[B]\nk1=b\n";
    const int64_t len = sizeof image;
    struct {
        const char* section;
        const char* key;
        const char* want;
        int32_t n;
    } cases[] = {
        {"A", "k1", "v1", 2},   {"a", "K1", "v1", 2},   {"A", "k2 ", "two words ", 10},
        {"A", "k2", "dflt", 4}, {"A", "k3", "dflt", 4}, {"A", "k4", "dflt", 4},
        {"A", "k5", "eq", 2},   {"B", "k1", "b", 1},    {"C", "k1", "dflt", 4},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        katest::Guarded<char> out(32);
        EXPECT_EQ(getProfileStringFromImage(image, len, c.section, c.key, "dflt", out.data(), 32), c.n);
        EXPECT_STREQ(out.data(), c.want);
        EXPECT_TRUE(out.guardsIntact());
    }
    // A cut value: size-1 bytes and a 0, result size-1.
    katest::Guarded<char> cut(4);
    EXPECT_EQ(getProfileStringFromImage(image, len, "A", "k2 ", "dflt", cut.data(), 4), 3);
    EXPECT_STREQ(cut.data(), "two");
    EXPECT_TRUE(cut.guardsIntact());
    // The keys of a section, each with its 0, and a final 0.
    katest::Guarded<char> out(32);
    int32_t n = getProfileStringFromImage(image, len, "A", nullptr, "dflt", out.data(), 32);
    EXPECT_EQ(n, 13);
    EXPECT_EQ(0, memcmp(out.data(), "k1\0k2\0k4\0k5\0\0", 13));
    // Overlong section names are simply not found.
    std::string longName(300, 'x');
    EXPECT_EQ(getProfileStringFromImage(image, len, longName.c_str(), "k1", "d", out.data(), 32), 1);
    EXPECT_EQ(getProfileStringFromImage(nullptr, 0, "A", "k1", "d", out.data(), 32), 1);
}

TEST_F(ImageTest, CheckedLoadReportsTheLastSystemCallAndFreeingEmptiesBothImages)
{
    struct Case {
        const char* name;
        const char* odbcIni;  // null: the variable names a missing file
        const char* odbcInst;
        bool failed;  // a negative result
    } cases[] = {
        {"both files read", "[ODBC]\nA=1\n", "[ODBC]\nB=2\n", false},
        {"odbcinst.ini missing", "[ODBC]\nA=1\n", nullptr, true},
        {"odbc.ini missing, odbcinst.ini read last", nullptr, "[ODBC]\nB=2\n", false},
        {"neither file exists", nullptr, nullptr, true},
    };
    for (const auto& c : cases) {
        std::string ini = c.odbcIni ? put("o.ini", c.odbcIni) : dir + "/missing-o.ini";
        std::string inst = c.odbcInst ? put("i.ini", c.odbcInst) : dir + "/missing-i.ini";
        env.set("ODBCINI", ini);
        env.set("ODBCINST", inst);
        int64_t rc = loadIniImagesChecked();
        EXPECT_EQ(rc < 0, c.failed) << c.name << ": " << rc;
        EXPECT_EQ(odbcIniImage.data != nullptr, c.odbcIni != nullptr) << c.name;
        EXPECT_EQ(odbcInstImage.data != nullptr, c.odbcInst != nullptr) << c.name;
        if (c.odbcIni) {
            EXPECT_EQ(odbcIniImage.length, static_cast<int64_t>(strlen(c.odbcIni)) + 1) << c.name;
            EXPECT_STREQ(odbcIniImage.data, c.odbcIni) << c.name;
        }

        freeIniImagesNow();
        EXPECT_EQ(odbcIniImage.data, nullptr) << c.name;
        EXPECT_EQ(odbcIniImage.length, 0) << c.name;
        EXPECT_EQ(odbcInstImage.data, nullptr) << c.name;
        EXPECT_EQ(odbcInstImage.length, 0) << c.name;
        EXPECT_EQ(getAppCodePage(nullptr), kCodePageUtf8) << c.name;
        std::remove((dir + "/o.ini").c_str());
        std::remove((dir + "/i.ini").c_str());
    }

    // With no variable set and no HOME nothing is opened, which is no failure.
    env.unset("ODBCINI");
    env.unset("ODBCINST");
    EXPECT_EQ(loadIniImagesChecked(), 0);
    EXPECT_EQ(odbcIniImage.data, nullptr);
    EXPECT_EQ(odbcInstImage.data, nullptr);
    freeIniImagesNow();  // a second free of empty images is harmless
}

TEST_F(ImageTest, OdbcProfileStringTakesTheFirstNonEmptySource)
{
    std::string ini = put("o.ini", "[Sales]\nA=from dsn\nE=\n[ODBC]\nB=from odbc\nC=odbc c\n");
    std::string inst = put("i.ini", "[Drv]\nB=from driver\n[ODBC]\nD=inst d\n");
    env.set("ODBCINI", ini);
    env.set("ODBCINST", inst);
    char out[32];
    getOdbcProfileString(out, sizeof out, "Sales", "Drv", "A", "dflt");
    EXPECT_STREQ(out, "from dsn");
    getOdbcProfileString(out, sizeof out, "Sales", "Drv", "B", "dflt");
    EXPECT_STREQ(out, "from driver");
    getOdbcProfileString(out, sizeof out, "Sales", "", "B", "dflt");
    EXPECT_STREQ(out, "from odbc");
    getOdbcProfileString(out, sizeof out, "Sales", "Drv", "D", "dflt");
    EXPECT_STREQ(out, "inst d");
    getOdbcProfileString(out, sizeof out, "Sales", "Drv", "E", "dflt");
    EXPECT_STREQ(out, "dflt");
    EXPECT_EQ(getOdbcProfileString(nullptr, 5, "Sales", "Drv", "A", "d"), 0);
}

}  // namespace
