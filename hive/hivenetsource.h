// HiveNetSourceHS2: a data source that hands out one string or binary value
// from the statement's current read buffer block by block, so that a long
// value travels from the reply to the application without being gathered
// whole. The row-wise string and binary readers use it when the long-data
// cache is off.
#pragma once
#include <cstdint>

#include "platform/kastream.h"

struct HiveFetchState;

// What finish passes in the reply: nothing; the undelivered rest of the
// value and the two STOP bytes that close it (a reply value); only the rest
// (a spooled value, which has no STOP bytes).
enum : int32_t {
    HIVE_SOURCE_KEEP = 0,
    HIVE_SOURCE_PASS_STOPS = 1,
    HIVE_SOURCE_PASS_REST = 2,
};

// Block size the source advertises at least.
constexpr uint64_t kHiveNetSourceMinBlock = 65536;

class HiveNetSourceHS2 : public KaDataSource {
public:
    HiveNetSourceHS2() noexcept;
    ~HiveNetSourceHS2() override;

    int release() noexcept override;
    [[nodiscard]] int open() noexcept override;
    [[nodiscard]] int rewind() noexcept override;
    [[nodiscard]] int nextBlock(const uint8_t** data, uint64_t* length, int32_t* more) noexcept override;
    [[nodiscard]] int read(void* buffer, uint64_t capacity, uint64_t* count, int32_t* more) noexcept override;
    // Passes in the reply what the finish flag says (HIVE_SOURCE_*).
    [[nodiscard]] int finish() noexcept override;

    // Binds the source to the value of `length` bytes at the read position
    // of the statement's current read buffer.
    int attach(HiveFetchState* fetchState, int32_t finishFlag, int64_t length) noexcept;
    bool isDone() const noexcept { return delivered >= valueLength; }
    // The reply moved past the value: what was not delivered cannot be any
    // more, and a read says so.
    void abandon() noexcept;

    uint8_t* ownBuffer;
    uint64_t blockSize;
    int64_t valueLength;
    int32_t finishFlag;
    int64_t delivered;
    int32_t abandoned;
    HiveFetchState* state;
};
