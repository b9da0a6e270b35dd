// The source tree the tests read their peers, scripts and fixtures from.
#pragma once

#include <cstdlib>
#include <string>

namespace katest {

// From the environment when the test command sets it, else the build's own
// name for the tree (__FILE__ is relative to the build under ccache), else
// from where this header lies.
inline std::string sourceRoot()
{
    if (const char* dir = getenv("KA_TEST_SOURCE_DIR"); dir != nullptr && *dir != '\0')
        return dir;
#ifdef KA_TEST_SOURCE_ROOT
    return KA_TEST_SOURCE_ROOT;
#else
    std::string here = __FILE__;
    return here.substr(0, here.rfind("/tests/support/"));
#endif
}

}  // namespace katest
