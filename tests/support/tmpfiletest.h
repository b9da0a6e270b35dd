// A private KA_TMPDIR for the tests of the temporary-file classes, with the
// questions they ask about it: how many files it holds and whether they are
// private. Used by the tests of KaTmpFile, BlkTmpFile and the file sinks.
#pragma once
#include <dirent.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/platformtest.h"

namespace katest {

class TmpDirScope {
public:
    TmpDirScope() : dir_("katmptest") { env_.set("KA_TMPDIR", dir_.path()); }

    const std::string& path() const { return dir_.path(); }

    std::vector<std::string> files() const
    {
        std::vector<std::string> out;
        if (DIR* d = opendir(dir_.path().c_str())) {
            while (dirent* e = readdir(d)) {
                std::string name = e->d_name;
                if (name != "." && name != "..")
                    out.push_back(dir_.path() + "/" + name);
            }
            closedir(d);
        }
        return out;
    }
    size_t count() const { return files().size(); }
    // Mode bits of the one file in the directory; -1 unless there is one.
    int onlyFileMode() const
    {
        std::vector<std::string> f = files();
        struct stat st;
        if (f.size() != 1 || stat(f[0].c_str(), &st) != 0)
            return -1;
        return int(st.st_mode & 07777);
    }

private:
    TempDir dir_;
    EnvScope env_;
};

}  // namespace katest
