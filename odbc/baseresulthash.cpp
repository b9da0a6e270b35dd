// The row checksums of select failover: in memory up to the connection's
// FailoverCacheSize, or in a block temporary file without a limit.
#include "odbc/baseresulthash.h"

#include <cstring>

#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseerr.h"
#include "platform/spillstore.h"

namespace {

constexpr uint64_t kEntryBytes = sizeof(int64_t);
// The disk store keeps two blocks in memory: a capacity-sized block keeps a
// small result off the disk, but a large FailoverCacheSize must not make
// the window itself large.
constexpr uint64_t kMaxBlockBytes = uint64_t{1} << 20;

}  // namespace

BaseResultHash::BaseResultHash(int32_t disk, uint64_t entries) noexcept
    : diskMode(disk), store(nullptr), array(nullptr), capacity(entries), count(0), overflow(0)
{}

BaseResultHash::~BaseResultHash()
{
    release();
}

void BaseResultHash::release() noexcept
{
    if (store != nullptr)
        store->closeAndDelete();
    delete store;
    store = nullptr;
    ramFree(array);
    array = nullptr;
    count = 0;
    overflow = 0;
}

int16_t BaseResultHash::clear() noexcept
{
    release();
    if (diskMode != 0) {
        uint64_t block = capacity < kMaxBlockBytes / kEntryBytes ? capacity * kEntryBytes : kMaxBlockBytes;
        if (block < kEntryBytes)
            block = kEntryBytes;
        store = new BlkTmpFile(block);
        if (store == nullptr)
            return 1;
        if (store->reset(0) != 0) {
            delete store;
            store = nullptr;
            return 1;
        }
        return 0;
    }
    if (capacity == 0)
        return 0;
    if (capacity > SIZE_MAX / kEntryBytes) {
        basePostError(kBaseIdxOutOfMemory);
        return 1;
    }
    array = static_cast<int64_t*>(ramAlloc(static_cast<size_t>(capacity * kEntryBytes)));
    return array == nullptr ? 1 : 0;
}

int16_t BaseResultHash::put(int64_t value, int64_t k) noexcept
{
    if (k < 0)
        k = 0;
    if (k > 0 && static_cast<uint64_t>(k) > count) {
        // Nothing stands that far back: the row is new.
        k = 0;
    }
    if (diskMode != 0) {
        if (store == nullptr)
            return 1;
        if (k == 0) {
            if (store->append(&value, kEntryBytes) != 0)
                return 1;
            ++count;
            return 0;
        }
        return store->writeAt((count - static_cast<uint64_t>(k)) * kEntryBytes, &value, kEntryBytes) != 0 ? 1 : 0;
    }
    if (k == 0) {
        if (count < capacity && array != nullptr)
            array[count] = value;
        else
            overflow = 1;
        ++count;
        return 0;
    }
    const uint64_t at = count - static_cast<uint64_t>(k);
    if (at < capacity && array != nullptr)
        array[at] = value;
    return 0;
}

int16_t BaseResultHash::get(int64_t n, int64_t* value) noexcept
{
    *value = 0;
    if (diskMode == 0 && overflow != 0) {
        basePostErrorMsg(kBaseIdxLinkFailure, MSG_FAILOVER_CACHE_OVERFLOW);
        return 1;
    }
    if (n < 1 || static_cast<uint64_t>(n) > count) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    const uint64_t index = static_cast<uint64_t>(n - 1);
    if (diskMode != 0) {
        if (store == nullptr || store->readAt(index * kEntryBytes, value, kEntryBytes) != 0) {
            basePostError(kBaseIdxGeneralError);
            return 1;
        }
        return 0;
    }
    if (array == nullptr || index >= capacity) {
        basePostErrorMsg(kBaseIdxLinkFailure, MSG_FAILOVER_CACHE_OVERFLOW);
        return 1;
    }
    *value = array[index];
    return 0;
}
