// A statement's reply parked off the connection's wire: while another
// statement of the connection needs the wire, what is left of this one's
// reply is read off the socket and kept (in memory up to a limit, in a
// private temporary file past it), and put back into the read buffer when
// the statement reads on, as if it had never left.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "foundation/kaowner.h"
#include "platform/katmpsink.h"

class HiveNetReadBuffer;

// Bytes of a parked reply kept in memory; the rest goes to a temporary file.
constexpr uint64_t kHiveParkMemoryLimit = 4u << 20;
// Bytes of the spill file's buffer.
constexpr uint64_t kHiveParkSpillBlock = 65536;
// The memory limit of parked replies: kHiveParkMemoryLimit, or the smaller
// byte count in KA_HIVE_PARK_MEMORY (tests lower it to make replies spill).
uint64_t hiveParkMemoryLimit() noexcept;

class HiveParkedReply {
public:
    // A reply is parked (its length may be 0).
    bool parked() const noexcept { return parked_; }
    // Reads what is left of the current reply off in (the rest of the frame
    // the buffer holds, then the rest on the socket) and keeps it; in is
    // left idle. readAheadSent: a request was sent whose reply may not have
    // begun to arrive. *begun is set once bytes of that reply were read, so
    // that a failure leaves no reply still to come. 0, or 1 after the
    // diagnostic (nothing is parked then).
    [[nodiscard]] int park(HiveNetReadBuffer& in, bool readAheadSent, bool* begun) noexcept;
    // Puts the parked bytes back into the idle buffer in; the bytes of the
    // spill file follow from the file. 0 (also when nothing is parked), or
    // 1 when the buffer cannot take them.
    [[nodiscard]] int resume(HiveNetReadBuffer& in) noexcept;
    // Forgets the parked reply and empties the spill file; in (when given)
    // stops reading from it.
    void drop(HiveNetReadBuffer* in) noexcept;
    // The spill file goes too (the statement is being freed).
    void release() noexcept { spill_.reset(); }

private:
    // The first bytes in memory, those past the memory limit in spill_ (its
    // one block of buffer, then its file).
    RamPtr<uint8_t> bytes_;
    size_t length_ = 0;
    std::unique_ptr<KaTmpFileSource> spill_;
    bool parked_ = false;
    // The parked reply is whole: its message header was not read yet.
    bool whole_ = false;
};
