// A statement's reply parked off the connection's wire while another
// statement uses it, and put back when the statement reads on.
#include "hive/hiveparkedreply.h"

#include <cstdlib>
#include <cstring>

#include "foundation/ram.h"
#include "hive/hivenetread.h"
#include "platform/bosenv.h"

uint64_t hiveParkMemoryLimit() noexcept
{
    const char* v = bosGetEnv("KA_HIVE_PARK_MEMORY");
    if (v == nullptr || *v < '0' || *v > '9')
        return kHiveParkMemoryLimit;
    char* end = nullptr;
    const unsigned long long n = std::strtoull(v, &end, 10);
    return *end == 0 && n <= kHiveParkMemoryLimit ? n : kHiveParkMemoryLimit;
}

namespace {

// Keeps bytes of a parked reply: the first ones in a growing memory block up
// to the limit, the rest in the spill file.
struct ParkWriter {
    uint64_t limit;
    KaTmpFileSource* spill;
    RamPtr<uint8_t> bytes;
    size_t length = 0;
    size_t room = 0;
    uint64_t spilled = 0;

    [[nodiscard]] int add(const uint8_t* p, size_t n) noexcept
    {
        if (spilled == 0 && length < limit) {
            const size_t kept = n < limit - length ? n : size_t(limit - length);
            if (length + kept > room) {
                size_t grown = room == 0 ? 4096 : room;
                while (grown < length + kept)
                    grown *= 2;
                if (grown > limit)
                    grown = size_t(limit);
                void* block = bytes.get();
                if (ramRealloc(&block, grown) != 0)
                    return 1;
                static_cast<void>(bytes.release());
                bytes.reset(static_cast<uint8_t*>(block));
                room = grown;
            }
            if (kept != 0)
                std::memcpy(bytes.get() + length, p, kept);
            length += kept;
            p += kept;
            n -= kept;
        }
        if (n == 0)
            return 0;
        if (spill->append(p, n) != 0)
            return 1;
        spilled += n;
        return 0;
    }
};

}  // namespace

int HiveParkedReply::park(HiveNetReadBuffer& in, bool readAheadSent, bool* begun) noexcept
{
    *begun = false;
    if (in.failed != 0 || in.framed == 0)
        return 1;
    if (!spill_) {
        spill_.reset(new KaTmpFileSource(kHiveParkSpillBlock));
        if (!spill_)
            return 1;
    }
    // A read-ahead's reply has not begun while the last block was read
    // through; over HTTP the socket cannot tell the two replies apart.
    int32_t onWire = 0;
    if (in.readPos >= in.frameEnd && !readAheadSent && in.replyContinues(&onWire) != 0)
        return 1;
    const bool started = in.readPos < in.frameEnd || onWire != 0;
    if (in.parkSource == spill_.get()) {
        // Parked before and being read back: what the buffer holds goes
        // back to memory, and the file keeps its unread rest where it is.
        const size_t n = in.frameEnd - in.readPos;
        RamPtr<uint8_t> block;
        if (n != 0) {
            block = ramMake<uint8_t>(n);
            if (!block)
                return 1;
            std::memcpy(block.get(), in.data + in.readPos, n);
        }
        const bool whole = in.preloaded != 0;
        in.resetFrame();
        bytes_ = std::move(block);
        length_ = n;
        parked_ = true;
        whole_ = whole;
        return 0;
    }
    drop(&in);
    ParkWriter writer{hiveParkMemoryLimit(), spill_.get(), nullptr};
    // One reply is one frame: its unread part is what the buffer holds past
    // the read position, then the rest of the frame on the socket (over
    // HTTP, the rest of the response). A read-ahead whose reply has not
    // begun to arrive starts a frame here.
    *begun = true;
    int rc = started ? 0 : in.fill();
    while (rc == 0) {
        const size_t n = in.frameEnd - in.readPos;
        if (n != 0 && writer.add(in.data + in.readPos, n) != 0) {
            rc = 1;
            break;
        }
        in.readPos = in.frameEnd;
        int32_t more = 0;
        rc = in.replyContinues(&more);
        if (rc != 0 || more == 0)
            break;
        rc = in.fill();
    }
    if (rc == 0 && writer.spilled != 0 && spill_->flush() != 0)
        rc = 1;
    if (rc != 0) {
        spill_->close();
        return 1;
    }
    in.resetFrame();
    bytes_ = std::move(writer.bytes);
    length_ = writer.length;
    parked_ = true;
    whole_ = !started;
    return 0;
}

int HiveParkedReply::resume(HiveNetReadBuffer& in) noexcept
{
    if (!parked_)
        return 0;
    const uint64_t fromFile = spill_ ? spill_->total - spill_->position : 0;
    const uint64_t whole = length_ + fromFile;
    const auto n = static_cast<uint32_t>(length_);
    if (whole > kHiveMaxFrameLength || (n > in.capacity && in.setCapacity(n) != 0))
        return 1;
    // The buffer is idle: acquiring the wire read every other reply off it.
    if (n != 0)
        std::memcpy(in.data, bytes_.get(), n);
    in.readPos = 0;
    in.size = in.frameEnd = n;
    in.frameBytes = n;
    // The frame goes on in the spill file, read as if from the socket.
    in.frameRemaining = static_cast<uint32_t>(whole);
    in.preloaded = whole_ ? 1 : 0;
    in.parkSource = fromFile != 0 ? spill_.get() : nullptr;
    bytes_.reset();
    length_ = 0;
    parked_ = false;
    return 0;
}

void HiveParkedReply::drop(HiveNetReadBuffer* in) noexcept
{
    bytes_.reset();
    length_ = 0;
    parked_ = false;
    if (spill_) {
        if (in != nullptr && in->parkSource == spill_.get())
            in->parkSource = nullptr;
        spill_->close();
    }
}
