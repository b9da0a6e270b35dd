// The list of live temporary files and its exit-time clean-up.
#include "platform/katmpname.h"

#include <unistd.h>

#include <cstring>

#include "foundation/kalock.h"
#include "foundation/kaowner.h"
#include "platform/bosfile.h"

namespace {

// The list lives in one static object whose destructor runs at normal exit:
// every file still listed then is unlinked. Owners destroyed after it (static
// objects of other files) find `gone` set and only unlink their own file.
bool gone = false;

struct TmpRegistry {
    KaCriticalSection lock;
    KaTmpName head;
    uint64_t count;

    TmpRegistry() noexcept : lock(0, kKaLockPlain), count(0)
    {
        head.path[0] = 0;
        head.prev = head.next = &head;
        head.listed = false;
    }
    ~TmpRegistry()
    {
        KaLockGuard guard(lock);
        for (KaTmpName* n = head.next; n != &head; n = n->next) {
            if (n->path[0] != 0)
                unlink(n->path);
            n->listed = false;
        }
        head.prev = head.next = &head;
        count = 0;
        gone = true;
    }
    TmpRegistry(const TmpRegistry&) = delete;
    TmpRegistry& operator=(const TmpRegistry&) = delete;
};

TmpRegistry registry;

}  // namespace

void bosTmpNameInit(KaTmpName* name) noexcept
{
    name->path[0] = 0;
    name->prev = name->next = nullptr;
    name->listed = false;
}

int bosTmpCreate(KaTmpName* name, int32_t* fd) noexcept
{
    *fd = 0;
    name->path[0] = 0;
    if (bosfopen(name->path, BOS_OPEN_TEMP | BOS_OPEN_READWRITE, fd)) {
        name->path[0] = 0;
        return 1;
    }
    if (gone)
        return 0;
    KaLockGuard guard(registry.lock);
    name->next = &registry.head;
    name->prev = registry.head.prev;
    registry.head.prev->next = name;
    registry.head.prev = name;
    name->listed = true;
    ++registry.count;
    return 0;
}

int bosTmpReopen(const KaTmpName* name, int32_t* fd) noexcept
{
    char path[BOS_PATH_SIZE];
    memcpy(path, name->path, sizeof path);
    path[sizeof path - 1] = 0;
    return bosfopen(path, BOS_OPEN_READWRITE, fd);
}

void bosTmpDelete(KaTmpName* name) noexcept
{
    if (name->path[0] == 0)
        return;
    (void)bosfdelete(name->path);
    name->path[0] = 0;
    if (gone || !name->listed)
        return;
    KaLockGuard guard(registry.lock);
    name->prev->next = name->next;
    name->next->prev = name->prev;
    name->prev = name->next = nullptr;
    name->listed = false;
    --registry.count;
}

int bosTmpOpen(KaTmpName** name, int32_t* fd) noexcept
{
    if (*name != nullptr)
        return *fd == 0 ? bosTmpReopen(*name, fd) : 0;
    RamPtr<KaTmpName> fresh = ramMake<KaTmpName>(1);
    if (!fresh)
        return 1;
    bosTmpNameInit(fresh.get());
    if (bosTmpCreate(fresh.get(), fd))
        return 1;
    *name = fresh.release();
    return 0;
}

void bosTmpDiscard(KaTmpName** name, int32_t* fd) noexcept
{
    if (*name == nullptr)
        return;
    (void)bosfclose(*fd);
    *fd = 0;
    bosTmpDelete(*name);
    ramFree(*name);
    *name = nullptr;
}

uint64_t bosTmpCount() noexcept
{
    if (gone)
        return 0;
    KaLockGuard guard(registry.lock);
    return registry.count;
}
