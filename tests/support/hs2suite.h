// A suite through the driver manager against one bundled test server that
// lives as long as the suite, with the driver registered as "VYspark28" in
// the suite's own ini files.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/drivermanager.h"
#include "support/hs2process.h"

namespace katest {

template <class Base>
class Hs2Suite : public Base {
protected:
    // Writes the ini files, then starts the server with its options; with
    // callLog the server's call log goes to <ini folder>/calls.log (log).
    static void startHs2(const std::string& tag, const std::vector<std::string>& options, bool callLog = false)
    {
        Base::writeIni(tag, "[VYspark28]\nDescription=Driver under test\nDriver=" + driverLibrary() + "\n",
                       "[ODBC]\nIANAAppCodePage=106\n");
        log = callLog ? Base::iniDir + "/calls.log" : std::string();
        server = std::make_unique<Hs2Process>(options, log);
        ASSERT_NE(0, server->port());
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
