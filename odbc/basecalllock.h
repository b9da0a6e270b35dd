// The locks a statement or descriptor call takes by the connection's thread
// model, and the lock over every connection's statement and descriptor
// lists. Used by the statement and descriptor entry and exit steps.
#pragma once
#include "foundation/kalist.h"
#include "foundation/kalock.h"

class BaseConnection;

// Guards the links of connections' statement and descriptor lists: in
// thread model 0 no connection lock serialises the allocations and frees
// of one connection's statements.
KaCriticalSection* baseHandleListLock() noexcept;
// Removes node from list when it is there (under the caller's list lock).
void baseUnlinkNode(KaList* list, KaNode* node) noexcept;

// The connection-wide lock of a call by the connection's thread model: the
// handle's lock in model 1 (none when its locking is off or the calling
// thread is the one reconnecting it), the driver's entry of the lock table
// in model 2, none in model 0. `own` is the lock a model 0 call takes.
KaCriticalSection* baseCallLockOf(BaseConnection* conn, KaCriticalSection* own) noexcept;

// The entry step's lock and whether it made the handle's list current, kept
// per thread until the matching exit step: calls nest only while a thread
// reconnects or a statement works for another.
void basePushCallFrame(KaCriticalSection* lock, bool listPushed) noexcept;
// Pops the frame of the last entry; false when none.
bool basePopCallFrame(KaCriticalSection** lock, bool* listPushed) noexcept;
// Marks the current frame's list as pushed.
void baseMarkFrameListPushed() noexcept;

// The descriptor form: the lock taken and held until baseLeaveHandleLock.
void baseEnterHandleLock(BaseConnection* conn) noexcept;
void baseLeaveHandleLock() noexcept;
