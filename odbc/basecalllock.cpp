// The call locks of statement and descriptor calls and the lock over the
// connections' handle lists.
#include "odbc/basecalllock.h"

#include "odbc/baseconn.h"
#include "odbc/baseenv.h"

namespace {

// Deeper nesting than this takes no lock and pushes no list.
constexpr int kFrameDepth = 16;

struct CallFrame {
    KaCriticalSection* lock;
    bool listPushed;
};

thread_local CallFrame tFrames[kFrameDepth];
thread_local int tFrameDepth = 0;

}  // namespace

KaCriticalSection* baseHandleListLock() noexcept
{
    static KaCriticalSection lock(0, kKaLockPlain);
    return &lock;
}

void baseUnlinkNode(KaList* list, KaNode* node) noexcept
{
    KaNode* walk = list->first();
    for (size_t i = 0; i < list->count && walk != nullptr; ++i, walk = walk->next) {
        if (walk == node) {
            list->remove(node);
            return;
        }
    }
}

KaCriticalSection* baseCallLockOf(BaseConnection* conn, KaCriticalSection* own) noexcept
{
    if (conn == nullptr)
        return own;
    BaseStubConnection* handle = conn->handle;
    const bool off = handle != nullptr && handle->lockingOff();
    switch (conn->threadModel) {
    case kBaseThreadSafe: return own;
    case kBaseThreadPerConnection:
        if (handle == nullptr || off || handle->ownedByCaller())
            return nullptr;
        return &handle->apiLock;
    case kBaseThreadPerDriver:
        if (conn->env == nullptr || off || (handle != nullptr && handle->ownedByCaller()))
            return nullptr;
        return conn->env->driverLock();
    default: return nullptr;
    }
}

void basePushCallFrame(KaCriticalSection* lock, bool listPushed) noexcept
{
    if (tFrameDepth >= kFrameDepth)
        lock = nullptr;
    if (lock != nullptr)
        lock->enter();
    if (tFrameDepth < kFrameDepth)
        tFrames[tFrameDepth] = CallFrame{lock, listPushed};
    ++tFrameDepth;
}

void baseMarkFrameListPushed() noexcept
{
    if (tFrameDepth > 0 && tFrameDepth <= kFrameDepth)
        tFrames[tFrameDepth - 1].listPushed = true;
}

bool basePopCallFrame(KaCriticalSection** lock, bool* listPushed) noexcept
{
    *lock = nullptr;
    *listPushed = false;
    if (tFrameDepth == 0)
        return false;
    --tFrameDepth;
    if (tFrameDepth < kFrameDepth) {
        *lock = tFrames[tFrameDepth].lock;
        *listPushed = tFrames[tFrameDepth].listPushed;
    }
    return true;
}

void baseEnterHandleLock(BaseConnection* conn) noexcept
{
    basePushCallFrame(baseCallLockOf(conn, nullptr), false);
}

void baseLeaveHandleLock() noexcept
{
    KaCriticalSection* lock = nullptr;
    bool pushed = false;
    if (basePopCallFrame(&lock, &pushed) && lock != nullptr)
        lock->leave();
}
