// A file's whole text and the count of a text in it: for the suites that
// read the test server's call log.
#pragma once
#include <fstream>
#include <sstream>
#include <string>

namespace katest {

inline std::string fileText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

inline size_t occurrences(const std::string& in, const std::string& text)
{
    size_t n = 0;
    for (size_t at = in.find(text); at != std::string::npos; at = in.find(text, at + 1))
        ++n;
    return n;
}

}  // namespace katest
