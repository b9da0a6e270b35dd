// Helpers for the platform tests: environment variables put back as they
// were, and a private temporary directory removed with everything in it.
// Used by the tests of the operating-system layer and the ini files.
#pragma once
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace katest {

// Every variable set or unset through the scope gets its old value (or its
// absence) back at restore() or at the end of the scope.
class EnvScope {
public:
    EnvScope() = default;
    ~EnvScope() { restore(); }
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

    void set(const std::string& name, const std::string& value)
    {
        remember(name);
        setenv(name.c_str(), value.c_str(), 1);
    }
    void unset(const std::string& name)
    {
        remember(name);
        unsetenv(name.c_str());
    }
    void restore()
    {
        for (const auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        saved_.clear();
    }

private:
    void remember(const std::string& name)
    {
        if (saved_.count(name) == 0) {
            const char* v = getenv(name.c_str());
            saved_[name] = v ? std::optional<std::string>(v) : std::nullopt;
        }
    }

    std::map<std::string, std::optional<std::string>> saved_;
};

// A fresh directory under /tmp; empty path() when none could be made.
class TempDir {
public:
    explicit TempDir(const std::string& prefix)
    {
        std::string pattern = "/tmp/" + prefix + "XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~TempDir() { remove(); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }

    // Removes the directory, also where a test took write permission away.
    // True when nothing is left.
    bool remove()
    {
        if (path_.empty())
            return true;
        namespace fs = std::filesystem;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
        fs::remove_all(path_, ec);
        bool gone = !fs::exists(path_);
        path_.clear();
        return gone;
    }

private:
    std::string path_;
};

}  // namespace katest
