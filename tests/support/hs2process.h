// The bundled HiveServer2 test server (tools/hs2server) as a child process
// on a free loopback port, stopped by its process id with the object. Used
// by the suites that open Hive connections against it, in-process and
// through the driver manager.
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/sourceroot.h"

extern char** environ;

namespace katest {

// Starts args (a program and its arguments) with its standard output on a
// pipe and, when stderrFile is given, its standard error into that file;
// *pid is -1 when it could not start. Answers the first line the peer
// prints (its loopback port).
inline std::string spawnPeer(std::vector<std::string> args, const std::string& stderrFile, pid_t* pid)
{
    *pid = -1;
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0)
        return "";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    if (!stderrFile.empty())
        posix_spawn_file_actions_addopen(&fa, 2, stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(pid, argv[0], &fa, nullptr, argv.data(), environ) != 0)
        *pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    std::string line;
    char c;
    while (*pid > 0 && read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    close(out[0]);
    return line;
}

// Stops a peer spawnPeer started, a frozen one too.
inline void stopPeer(pid_t pid)
{
    if (pid > 0) {
        kill(pid, SIGCONT);
        kill(pid, SIGTERM);
        int status;
        waitpid(pid, &status, 0);
    }
}

class Hs2Process {
public:
    // log: a file that receives the server's standard error (its call log
    // under --verbose); empty leaves it alone.
    explicit Hs2Process(const std::vector<std::string>& options, const std::string& log = "")
    {
        std::string tool = sourceRoot() + "/tools/hs2server/hs2server";
        std::vector<std::string> args = {"/usr/bin/python3", tool, "--port", "0", "--synthetic-rows", "1000"};
        args.insert(args.end(), options.begin(), options.end());
        const std::string line = spawnPeer(args, log, &pid_);
        port_ = atoi(line.c_str());
    }
    ~Hs2Process() { stopPeer(pid_); }
    Hs2Process(const Hs2Process&) = delete;
    Hs2Process& operator=(const Hs2Process&) = delete;

    uint16_t port() const { return uint16_t(port_); }
    // The server stops answering (SIGSTOP) until it is stopped for good.
    void freeze() const
    {
        if (pid_ > 0)
            kill(pid_, SIGSTOP);
    }
    std::string portText() const { return std::to_string(port_); }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace katest
