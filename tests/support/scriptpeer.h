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
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0)
            return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        if (posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(out[1]);
        char c;
        while (pid_ > 0 && read(out[0], &c, 1) == 1 && c != '\n')
            port_ += c;
        close(out[0]);
    }
    ~ScriptPeer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status;
            waitpid(pid_, &status, 0);
        }
    }
    ScriptPeer(const ScriptPeer&) = delete;
    ScriptPeer& operator=(const ScriptPeer&) = delete;

    // The port as the script printed it; empty when it did not start.
    const std::string& port() const { return port_; }

private:
    pid_t pid_ = -1;
    std::string port_;
};

}  // namespace katest
