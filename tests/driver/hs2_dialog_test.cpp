// SQLDriverConnect's completion modes through unixODBC against the bundled
// HiveServer2 test server, with and without a connect dialog library. The
// stand-in dialog (tests/setup/standin_dialog.c) logs what it was shown and
// answers as a user would from KA_DIALOG_* variables; the server checks the
// credentials the dialog leaves, so a connect shows what reached it.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/hs2suite.h"
#include "support/platformtest.h"
#include "support/textfile.h"

namespace {

const std::string kStandins = KA_STANDIN_DIR;
constexpr char kPassword[] = "se;cr}et";
// The password as a connection-string value.
constexpr char kPasswordValue[] = "{se;cr}}et}";

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class Hs2Dialog : public katest::Hs2Suite<katest::DriverManagerSuite> {
protected:
    static void SetUpTestSuite()
    {
        // An empty odbc.ini: the application's code page is the driver's
        // default.
        writeHs2Ini("hs2-dialog", "");
        startServer({"--user", "ann", "--password", kPassword, "--verbose"}, true);
    }

    void SetUp() override
    {
        DriverManagerSuite::SetUp();
        dialogLog = iniDir + "/dialog-" + testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
        env.set("KA_STANDIN_LOG", dialogLog);
        env.unset("LD_LIBRARY_PATH");
        for (const char* name : {"KA_DIALOG_HOST", "KA_DIALOG_DATABASE", "KA_DIALOG_USER", "KA_DIALOG_PASSWORD",
                                 "KA_DIALOG_PORT", "KA_DIALOG_RESULT", "KA_DIALOG_FILL"})
            env.unset(name);
        // The dialog library is looked for along KA; a folder without it
        // stands for a machine that has none.
        env.set("KA", iniDir);
    }
    void TearDown() override
    {
        DriverManagerSuite::TearDown();
        env.restore();
    }

    void useDialog() { env.set("KA", kStandins); }

    std::string base(const std::string& more) const
    {
        return "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + server->portText() + ";LT=20;" + more;
    }

    SQLRETURN connectWith(const std::string& in, SQLUSMALLINT completion)
    {
        SQLCHAR out[1024] = {};
        SQLSMALLINT outLength = 0;
        // unixODBC refuses a prompt without a window (HY092); the handle
        // reaches the dialog as the application gave it.
        SQLRETURN rc = SQLDriverConnect(dbc, &window, reinterpret_cast<SQLCHAR*>(const_cast<char*>(in.c_str())),
                                        SQL_NTS, out, sizeof out, &outLength, completion);
        completed = reinterpret_cast<char*>(out);
        diags = katest::diagText(SQL_HANDLE_DBC, dbc);
        return rc;
    }

    // The lines the dialog logged since the last call.
    std::vector<std::string> dialogCalls()
    {
        std::vector<std::string> calls = linesOf(katest::fileText(dialogLog));
        std::remove(dialogLog.c_str());
        return calls;
    }

    katest::EnvScope env;
    int window = 0;
    std::string dialogLog;
    std::string completed;
    std::string diags;
};

const SQLUSMALLINT kModes[] = {SQL_DRIVER_NOPROMPT, SQL_DRIVER_COMPLETE, SQL_DRIVER_PROMPT,
                               SQL_DRIVER_COMPLETE_REQUIRED};

TEST_F(Hs2Dialog, WithoutADialogLibraryEveryModeWorksAsNoPrompt)
{
    for (SQLUSMALLINT mode : kModes) {
        SCOPED_TRACE(mode);
        EXPECT_EQ(SQL_ERROR, connectWith(base("UID=ann"), mode));
        EXPECT_NE(std::string::npos, diags.find("[28000] ")) << diags;
        EXPECT_NE(std::string::npos, diags.find("Not enough information to connect")) << diags;
        ASSERT_EQ(SQL_SUCCESS, connectWith(base(std::string("UID=ann;PWD=") + kPasswordValue), mode)) << diags;
        EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
    }
    EXPECT_TRUE(dialogCalls().empty());
}

TEST_F(Hs2Dialog, ThePromptShowsTheCurrentValuesAndConnectsWithWhatTheUserConfirms)
{
    useDialog();
    // The string names a port nobody listens on; the user types the right one.
    env.set("KA_DIALOG_PORT", server->portText());
    ASSERT_EQ(SQL_SUCCESS, connectWith("DRIVER={VYspark28};HOST=127.0.0.1;PORT=1;LT=20;DB=default;UID=ann;PWD=" +
                                           std::string(kPasswordValue),
                                       SQL_DRIVER_PROMPT))
        << diags;
    std::vector<std::string> calls = dialogCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(std::string("window=set connection=set host=127.0.0.1 database=default user=ann password=") + kPassword +
                  " port=1",
              calls[0]);
    // The completed string carries the server the dialog chose.
    EXPECT_NE(std::string::npos, completed.find("PORT=" + server->portText() + ";")) << completed;
    EXPECT_EQ(std::string::npos, completed.find("PORT=1;")) << completed;
    EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
}

TEST_F(Hs2Dialog, CompletionAsksOnlyForWhatIsMissing)
{
    useDialog();
    struct Case {
        const char* name;
        SQLUSMALLINT mode;
        std::string more;   // after host and port
        const char* typed;  // the password the user types, or null
        SQLRETURN rc;
        const char* shown;  // the dialog's password field, or null when no dialog
        const char* words;  // in the diagnostics
    };
    const std::string given = std::string("UID=ann;PWD=") + kPasswordValue;
    const Case cases[] = {
        {"complete, nothing missing", SQL_DRIVER_COMPLETE, given, "wrong", SQL_SUCCESS, nullptr, ""},
        {"complete required, nothing missing", SQL_DRIVER_COMPLETE_REQUIRED, given, "wrong", SQL_SUCCESS, nullptr, ""},
        {"complete, no password", SQL_DRIVER_COMPLETE, "UID=ann", kPassword, SQL_SUCCESS, "", ""},
        {"complete required, no password", SQL_DRIVER_COMPLETE_REQUIRED, "UID=ann", kPassword, SQL_SUCCESS, "", ""},
        {"no prompt, no password", SQL_DRIVER_NOPROMPT, "UID=ann", kPassword, SQL_ERROR, nullptr,
         "Not enough information to connect"},
        {"complete, the user types a wrong password", SQL_DRIVER_COMPLETE, "UID=ann", "wrong", SQL_ERROR, "",
         "The server refused the login"},
        {"prompt, the user types a wrong password", SQL_DRIVER_PROMPT, given, "wrong", SQL_ERROR, kPassword,
         "The server refused the login"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        env.set("KA_DIALOG_PASSWORD", c.typed);
        EXPECT_EQ(c.rc, connectWith(base(c.more), c.mode)) << diags;
        EXPECT_NE(std::string::npos, diags.find(c.words)) << diags;
        std::vector<std::string> calls = dialogCalls();
        if (c.shown == nullptr) {
            EXPECT_TRUE(calls.empty());
        } else {
            ASSERT_EQ(1u, calls.size());
            EXPECT_NE(std::string::npos, calls[0].find(std::string(" user=ann password=") + c.shown + " port="))
                << calls[0];
        }
        if (c.rc == SQL_SUCCESS) {
            // What the user typed is in the completed string, braced.
            EXPECT_NE(std::string::npos, completed.find(std::string("PWD=") + kPasswordValue)) << completed;
            EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
        }
    }
}

TEST_F(Hs2Dialog, ACancelledDialogFailsTheConnectAndSaysSo)
{
    useDialog();
    env.set("KA_DIALOG_RESULT", "1");
    EXPECT_EQ(SQL_ERROR, connectWith(base("UID=ann"), SQL_DRIVER_COMPLETE));
    EXPECT_NE(std::string::npos, diags.find("[HY000]")) << diags;
    EXPECT_NE(std::string::npos, diags.find("The connect dialog was closed without confirming the connection values."))
        << diags;
    EXPECT_EQ(1u, dialogCalls().size());
    // Nothing is left connected: a new connect on the handle works.
    env.set("KA_DIALOG_RESULT", "0");
    env.set("KA_DIALOG_PASSWORD", kPassword);
    EXPECT_EQ(SQL_SUCCESS, connectWith(base("UID=ann"), SQL_DRIVER_COMPLETE)) << diags;
    EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
}

TEST_F(Hs2Dialog, FieldsTooLongForTheDialogStayWholeAndWhatItReturnsIsChecked)
{
    useDialog();
    // A password of 200 bytes: the dialog shows its first 127; left as it
    // was, the server gets all of it.
    const std::string longPassword(200, 'p');
    katest::Hs2Process peer({"--user", "ann", "--password", longPassword});
    ASSERT_NE(0, peer.port());
    const std::string in =
        "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + peer.portText() + ";LT=20;UID=ann;PWD=" + longPassword;
    ASSERT_EQ(SQL_SUCCESS, connectWith(in, SQL_DRIVER_PROMPT)) << diags;
    EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc));
    std::vector<std::string> calls = dialogCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_NE(std::string::npos, calls[0].find(" password=" + std::string(127, 'p') + " port=")) << calls[0];

    // A password of characters of three bytes each, given as UTF-16, is
    // cut before the character that does not fit: 42 of them, 126 bytes.
    std::string euros;
    for (int i = 0; i < 60; ++i)
        euros += "\xe2\x82\xac";
    std::u16string wide;
    for (char c : base("UID=ann;PWD="))
        wide += char16_t(c);
    wide += std::u16string(60, u'\u20ac');
    EXPECT_EQ(SQL_ERROR, SQLDriverConnectW(dbc, &window, reinterpret_cast<SQLWCHAR*>(wide.data()), SQL_NTS, nullptr, 0,
                                           nullptr, SQL_DRIVER_PROMPT));
    calls = dialogCalls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_NE(std::string::npos, calls[0].find(" password=" + euros.substr(0, 126) + " port=")) << calls[0];

    // A database field filled to its last byte without a terminator is
    // taken as its first 127 bytes.
    env.set("KA_DIALOG_FILL", "1");
    EXPECT_EQ(SQL_ERROR, connectWith(base(std::string("UID=ann;PWD=") + kPasswordValue), SQL_DRIVER_PROMPT));
    EXPECT_NE(std::string::npos, diags.find("could not be made the session's current database")) << diags;
    EXPECT_NE(std::string::npos, katest::fileText(log).find("use " + std::string(127, 'd') + "\n"));
    EXPECT_EQ(std::string::npos, katest::fileText(log).find(std::string(128, 'd')));
    env.unset("KA_DIALOG_FILL");

    // Text that is not UTF-8 is refused with the field's name.
    env.set("KA_DIALOG_USER", "an\xff");
    EXPECT_EQ(SQL_ERROR, connectWith(base(std::string("UID=ann;PWD=") + kPasswordValue), SQL_DRIVER_PROMPT));
    EXPECT_NE(std::string::npos, diags.find("The user id of the connect dialog is not valid text.")) << diags;
}

}  // namespace
