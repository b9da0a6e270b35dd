// The bundled HiveServer2 test server (tools/hs2server) for tests that need
// a real peer: started on a free loopback port with the options given and
// stopped, by its process id, with the object. Used by the Hive statement
// tests.
#pragma once
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace katest {

class Hs2TestServer {
public:
    Hs2TestServer(const std::string& sourceRoot, const std::vector<std::string>& options)
    {
        std::string tool = sourceRoot + "/tools/hs2server/hs2server";
        std::vector<std::string> args = {"/usr/bin/python3", tool, "--port", "0", "--synthetic-rows", "1000"};
        args.insert(args.end(), options.begin(), options.end());
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
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        close(out[0]);
        port_ = atoi(line.c_str());
    }
    ~Hs2TestServer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status;
            waitpid(pid_, &status, 0);
        }
    }
    Hs2TestServer(const Hs2TestServer&) = delete;
    Hs2TestServer& operator=(const Hs2TestServer&) = delete;

    uint16_t port() const { return uint16_t(port_); }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace katest
