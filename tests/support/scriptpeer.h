// A test peer written in Python (a script of the source tree) as a child
// process: it prints the loopback port it listens on as its first line and
// is stopped by its process id with the object. Used by the HTTP and proxy
// tunnel tests.
#pragma once
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/hs2process.h"

namespace katest {

class ScriptPeer {
public:
    // script: relative to the source tree; args follow it.
    ScriptPeer(const std::string& script, std::vector<std::string> args)
    {
        args.insert(args.begin(), {"/usr/bin/python3", sourceRoot() + "/" + script});
        port_ = spawnPeer(args, "", &pid_);
    }
    ~ScriptPeer() { stopPeer(pid_); }
    ScriptPeer(const ScriptPeer&) = delete;
    ScriptPeer& operator=(const ScriptPeer&) = delete;

    // The port as the script printed it; empty when it did not start.
    const std::string& port() const { return port_; }

private:
    pid_t pid_ = -1;
    std::string port_;
};

}  // namespace katest
