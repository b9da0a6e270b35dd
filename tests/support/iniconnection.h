// A connection handle over one test connection, with an odbc.ini and an
// odbcinst.ini of its own in a private temporary folder, and the catalogue
// open. Shared by the connection-option and connect suites.
#pragma once
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "foundation/kathread.h"
#include "odbc/baseconn.h"
#include "support/errorscope.h"
#include "support/platformtest.h"
#include "support/testconnection.h"

namespace katest {

// Conn: the connection class the environment makes.
template <class Conn = TestConnection>
class IniConnectionTestOf : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(openCatalogue(), 0); }
    static void TearDownTestSuite() { closeCatalogue(); }

    // Writes the two files with their first contents, points the driver at
    // them and makes the handle with its connection. Called from SetUp.
    void setUpConnection(const std::string& odbcIni, const std::string& odbcinstIni)
    {
        for (const char* name : {"ODBCINI", "ODBCINST", "ODBCSYSINI", "ODBCINSTINI", "ODBC_INI"})
            vars.unset(name);
        ASSERT_FALSE(tempDir.path().empty());
        dir = tempDir.path();
        writeIni("odbc.ini", odbcIni);
        writeIni("odbcinst.ini", odbcinstIni);
        vars.set("ODBCINI", dir + "/odbc.ini");
        vars.set("ODBCINST", dir + "/odbcinst.ini");
        // The machine's own system files (/etc) stay out of the tests.
        vars.set("ODBCSYSINI", dir + "/sys");
        taskReleaseIniCache();
        env = new TestEnvOf<Conn>(&control);
        handle = new BaseStubConnection(env);
        BaseConnection* made = nullptr;
        ASSERT_EQ(env->newConnection(0, &made), 0);
        conn = static_cast<Conn*>(made);
        ASSERT_EQ(handle->setCurrentConnection(conn), 0);
    }

    void TearDown() override
    {
        delete handle;
        delete env;
        taskReleaseIniCache();
        vars.restore();
    }

    // Replaces a file; the cached copy is dropped so the next read sees it.
    void writeIni(const std::string& name, const std::string& text)
    {
        std::ofstream(dir + "/" + name) << text;
        taskReleaseIniCache();
    }

    EnvScope vars;
    TempDir tempDir{"ka-conn"};
    std::string dir;
    TestConnectionControl control;
    TestEnvOf<Conn>* env = nullptr;
    BaseStubConnection* handle = nullptr;
    Conn* conn = nullptr;
};

using IniConnectionTest = IniConnectionTestOf<>;

}  // namespace katest
