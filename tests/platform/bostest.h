// The fixture of the operating-system layer's tests: a fresh error list, a
// private directory that temporary files go to, environment variables put
// back after the test, and the build's message catalogue open.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/platformtest.h"
#include "support/errorscope.h"

namespace katest {

class BosTest : public ::testing::Test {
protected:
    katest::ErrorScope errors;
    katest::EnvScope env;
    katest::TempDir tempDir{"kabostest"};
    std::string dir;

    void SetUp() override
    {
        ASSERT_FALSE(tempDir.path().empty());
        dir = tempDir.path();
        setEnv("KA_TMPDIR", dir);
        ASSERT_EQ(0, katest::openCatalogue());
    }

    void TearDown() override
    {
        katest::closeCatalogue();
        env.restore();
        ASSERT_TRUE(tempDir.remove());
    }

    void setEnv(const std::string& name, const std::string& value) { env.set(name, value); }
    void unsetEnv(const std::string& name) { env.unset(name); }

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

}  // namespace katest
