// Evaluation of HiveQL on the test server (tools/hs2server, through
// tests/sql/hiveeval.py) for the tests of the escape translation and the
// rewriter: what a translation means, not only what it reads.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "support/sourceroot.h"

namespace katest {

// Runs each on the test server in one session: SELECT <expression>, or the
// statement after "!"; one JSON value (or "ERROR ...") per entry.
inline std::vector<std::string> evaluateOnTestServer(const std::vector<std::string>& expressions)
{
    char inputName[] = "/tmp/ka_hiveeval_XXXXXX";
    int fd = mkstemp(inputName);
    if (fd < 0)
        return {};
    close(fd);
    {
        std::ofstream in(inputName);
        for (const auto& e : expressions)
            in << e << "\n";
    }
    std::string command = "/usr/bin/python3 " + sourceRoot() + "/tests/sql/hiveeval.py < " + inputName;
    std::vector<std::string> lines;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        while (fgets(buffer, sizeof buffer, p) != nullptr) {
            std::string line(buffer);
            while (!line.empty() && line.back() == '\n')
                line.pop_back();
            lines.push_back(line);
        }
        pclose(p);
    }
    unlink(inputName);
    return lines;
}

}  // namespace katest
