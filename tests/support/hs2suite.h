// A suite through the driver manager against one bundled test server, with
// the driver registered as "VYspark28" in the suite's own ini files. The
// server lives as long as the suite, or as long as each test for the suites
// that start it afresh with options of the test's own.
#pragma once

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/drivermanager.h"
#include "support/hs2process.h"

namespace katest {

template <class Base>
class Hs2Suite : public Base {
protected:
    // The odbc.ini of a suite whose application speaks UTF-8. Without it the
    // driver takes the application's text for Latin-1; the suites that want
    // that write an odbc.ini of their own.
    static constexpr const char* kUtf8Application = "[ODBC]\nIANAAppCodePage=106\n";

    // Writes the ini files, then starts the server with its options.
    static void startHs2(const std::string& tag, const std::vector<std::string>& options, bool callLog = false)
    {
        writeHs2Ini(tag);
        startServer(options, callLog);
    }
    static void writeHs2Ini(const std::string& tag, const std::string& odbcIni = kUtf8Application)
    {
        Base::writeIni(tag, "[VYspark28]\nDescription=Driver under test\nDriver=" + driverLibrary() + "\n", odbcIni);
    }
    // Starts the server in place of the one before; with callLog its call
    // log goes to <ini folder>/calls.log (log).
    static void startServer(const std::vector<std::string>& options, bool callLog = false)
    {
        // The one before lets go of the log before the new one truncates it.
        server.reset();
        log = callLog ? Base::iniDir + "/calls.log" : std::string();
        server = std::make_unique<Hs2Process>(options, log);
        ASSERT_NE(0, server->port());
    }
    // Adds a data source named name for the server to odbc.ini, with more
    // lines of its own.
    static void addDataSource(const std::string& name, const std::string& more = "")
    {
        std::ofstream(Base::iniDir + "/odbc.ini", std::ios::app)
            << "[" << name << "]\nDriver=VYspark28\nHostName=127.0.0.1\nPortNumber=" << server->portText()
            << "\nLoginTimeout=20\n"
            << more;
    }
    static void TearDownTestSuite()
    {
        server.reset();
        Base::TearDownTestSuite();
    }
    // The connection string to the server as user u, then rest.
    static std::string hs2String(const std::string& rest = "")
    {
        return "DRIVER={VYspark28};HOST=127.0.0.1;PORT=" + server->portText() + ";UID=u;PWD=p;" + rest;
    }

    static inline std::unique_ptr<Hs2Process> server;
    static inline std::string log;
};

}  // namespace katest
