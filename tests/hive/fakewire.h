// For the Hive wire tests: the source tree (where the peers live), the
// peers run with their output captured, a
// connection socket without a network whose reads are served from scripted
// chunks (each read takes at most one chunk, so a test decides where the
// wire splits) and whose writes are recorded, and a builder of Thrift
// binary bytes.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "kamessages.h"
#include "support/sourceroot.h"
#include "transport/basesocket.h"
#include "transport/kasock.h"

namespace katest {

// What the command writes to its standard output; empty when it cannot run.
inline std::string runPeer(const std::string& command)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr)
        return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

// The command run with the bytes as its standard input (through a private
// temporary file), redirections after the input in tail.
inline std::string runPeerFed(const std::string& command, const std::string& input, const std::string& tail = "")
{
    char path[] = "/tmp/ka-peer-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return "";
    (void)!write(fd, input.data(), input.size());
    close(fd);
    std::string out = runPeer(command + " < " + path + tail);
    unlink(path);
    return out;
}

class FakeWire : public BaseSocket {
public:
    FakeWire() noexcept : BaseSocket(nullptr, nullptr) {}
    std::deque<std::string> chunks;
    std::string written;
    int writes = 0;
    int failWrites = 0;
    int reads = 0;

    void serve(const std::string& bytes) { chunks.push_back(bytes); }
    // The bytes in pieces of n.
    void serveIn(const std::string& bytes, size_t n)
    {
        for (size_t i = 0; i < bytes.size(); i += n)
            chunks.push_back(bytes.substr(i, n));
    }

    int write(const void* data, size_t length, int32_t) noexcept override
    {
        ++writes;
        if (failWrites)
            return KA_SOCK_LOST;
        written.append(static_cast<const char*>(data), length);
        return KA_SOCK_OK;
    }
    int read(void* buffer, size_t size, size_t* received, int32_t) noexcept override
    {
        ++reads;
        *received = 0;
        if (chunks.empty()) {
            errPost(MSG_SOCKET_CONNECTION_LOST)->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
            return KA_SOCK_LOST;
        }
        std::string& c = chunks.front();
        size_t n = c.size() < size ? c.size() : size;
        c.copy(static_cast<char*>(buffer), n);
        c.erase(0, n);
        if (c.empty())
            chunks.pop_front();
        *received = n;
        return KA_SOCK_OK;
    }
};

// Thrift binary bytes, big-endian.
struct TB {
    std::string s;
    TB& i8(uint8_t v)
    {
        s.push_back(char(v));
        return *this;
    }
    TB& i16(int16_t v) { return i8(uint8_t(uint16_t(v) >> 8)).i8(uint8_t(v)); }
    TB& i32(int32_t v) { return i16(int16_t(uint32_t(v) >> 16)).i16(int16_t(v)); }
    TB& i64(int64_t v) { return i32(int32_t(uint64_t(v) >> 32)).i32(int32_t(v)); }
    TB& str(const std::string& v)
    {
        i32(int32_t(v.size()));
        s += v;
        return *this;
    }
    TB& field(uint8_t type, int16_t id) { return i8(type).i16(id); }
    TB& stop() { return i8(0); }
    TB& msg(int32_t type, const std::string& name, int32_t seq = 0)
    {
        return i32(int32_t(0x80010000u | uint32_t(type))).str(name).i32(seq);
    }
    TB& raw(const std::string& v)
    {
        s += v;
        return *this;
    }
};

inline std::string frame(const std::string& body)
{
    return TB().i32(int32_t(body.size())).s + body;
}

}  // namespace katest
