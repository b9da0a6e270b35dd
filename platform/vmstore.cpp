// The page store.
#include "platform/vmstore.h"

#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/bosfile.h"

namespace {

KaCriticalSection vmStoreLock(0, kKaLockPlain);

constexpr uint16_t kHashFactors[16] = {13, 61, 29, 43, 17, 67, 31, 47, 19, 71, 37, 53, 23, 73, 41, 59};
constexpr uint16_t kAgeHalvingClock = 40000;

size_t bucketOf(int32_t fd, uint16_t page)
{
    uint64_t h = uint64_t(uint32_t(fd)) + (uint64_t(page) + 1) * kHashFactors[fd & 0xF];
    return size_t(h % VM_BUCKETS);
}

char* pageData(VmPageStore* s, uint16_t index)
{
    return s->blocks[index / VM_PAGES_PER_BLOCK] + size_t(index % VM_PAGES_PER_BLOCK) * VM_PAGE_SIZE;
}

void releasePage(VmPageStore* s, uint16_t index)
{
    VmPageDescriptor& d = s->pages[index];
    uint16_t* link = &s->buckets[bucketOf(d.file, d.page)];
    while (*link != VM_NONE && *link != index)
        link = &s->pages[*link].next;
    if (*link == index)
        *link = d.next;
    d.file = 0;
    d.valid = 0;
    d.next = s->freeHead;
    s->freeHead = index;
}

void touch(VmPageStore* s, uint16_t index)
{
    s->pages[index].age = s->clock;
    if (++s->clock == 0xFFFF) {
        for (uint16_t i = 0; i < s->pageCount; ++i)
            s->pages[i].age = uint16_t(s->pages[i].age / 2);
        s->clock = uint16_t(s->clock / 2);
    }
}

// Index of the page, VM_NONE when there is none; *failed on a read failure.
uint16_t getPage(VmPageStore* s, int32_t fd, uint16_t page, bool load, bool noEvict, int* failed)
{
    size_t bucket = bucketOf(fd, page);
    for (uint16_t i = s->buckets[bucket]; i != VM_NONE; i = s->pages[i].next) {
        if (s->pages[i].file == fd && s->pages[i].page == page) {
            touch(s, i);
            return i;
        }
    }
    if (!load || s->pageLimit == 0)
        return VM_NONE;
    if (s->freeHead == VM_NONE && s->pageCount < s->pageLimit) {
        size_t block = s->pageCount / VM_PAGES_PER_BLOCK;
        s->blocks[block] = static_cast<char*>(ramAlloc(VM_PAGE_SIZE * VM_PAGES_PER_BLOCK));
        if (s->blocks[block] == nullptr) {
            *failed = 1;
            return VM_NONE;
        }
        for (size_t k = VM_PAGES_PER_BLOCK; k > 0; --k) {
            auto index = uint16_t(s->pageCount + k - 1);
            s->pages[index] = VmPageDescriptor{0, 0, 0, 0, 0, s->freeHead};
            s->freeHead = index;
        }
        s->pageCount = uint16_t(s->pageCount + VM_PAGES_PER_BLOCK);
    }
    if (s->freeHead == VM_NONE) {
        if (noEvict)
            return VM_NONE;
        bool halve = s->clock > kAgeHalvingClock;
        uint16_t oldest = 0;
        for (uint16_t i = 0; i < s->pageCount; ++i) {
            if (halve)
                s->pages[i].age = uint16_t(s->pages[i].age / 2);
            if (s->pages[i].age < s->pages[oldest].age)
                oldest = i;
        }
        if (halve)
            s->clock = uint16_t(s->clock / 2);
        releasePage(s, oldest);
    }
    uint16_t index = s->freeHead;
    uint64_t count = 0;
    size_t before = KaErrorCurrentList() != nullptr ? KaErrorCurrentList()->recordCount() : 0;
    if (bosfread(fd, int64_t(page) * int64_t(VM_PAGE_SIZE), pageData(s, index), VM_PAGE_SIZE, &count) != 0) {
        KaErrorList* list = KaErrorCurrentList();
        if (list != nullptr && list->recordCount() > before &&
            list->recordAt(list->recordCount() - 1)->nativeCode == MSG_FILE_ACCESS_DENIED) {
            list->discardLast();
            return VM_NONE;
        }
        *failed = 1;
        return VM_NONE;
    }
    s->freeHead = s->pages[index].next;
    s->pages[index] = VmPageDescriptor{fd, page, 0, uint16_t(count), 0, s->buckets[bucket]};
    s->buckets[bucket] = index;
    touch(s, index);
    return index;
}

}  // namespace

VmPageStore* vmStoreOpen(uint16_t blocks) noexcept
{
    KaLockGuard guard(vmStoreLock);
    auto* store = static_cast<VmPageStore*>(taskGetSlot(KA_TASK_SLOT_SHARED_OBJECT));
    if (store != nullptr) {
        ++store->references;
        return store;
    }
    if (size_t(blocks) * VM_PAGES_PER_BLOCK >= VM_NONE)
        blocks = uint16_t((VM_NONE - 1) / VM_PAGES_PER_BLOCK);
    RamPtr<VmPageStore> made = ramMake<VmPageStore>(1);
    if (!made)
        return nullptr;
    store = made.get();
    memset(store, 0, sizeof *store);
    store->references = 1;
    store->pageLimit = uint16_t(blocks * VM_PAGES_PER_BLOCK);
    store->freeHead = VM_NONE;
    for (uint16_t& b : store->buckets)
        b = VM_NONE;
    RamPtr<VmPageDescriptor> pages = ramMake<VmPageDescriptor>(store->pageLimit + 1u);
    RamPtr<char*> blockTable = ramMake<char*>(blocks + 1u);
    std::unique_ptr<KaCriticalSection> lock(new KaCriticalSection(vmStoreLock.noLock, kKaLockPlain));
    if (!pages || !blockTable || lock == nullptr)
        return nullptr;
    memset(blockTable.get(), 0, sizeof(char*) * (blocks + 1u));
    store->pages = pages.release();
    store->blocks = blockTable.release();
    store->lock = lock.release();
    taskSetSlot(KA_TASK_SLOT_SHARED_OBJECT, made.release());
    return store;
}

void vmStoreClose(VmPageStore* store) noexcept
{
    if (store == nullptr)
        return;
    KaLockGuard guard(vmStoreLock);
    if (--store->references > 0)
        return;
    for (size_t i = 0; i < size_t(store->pageCount) / VM_PAGES_PER_BLOCK; ++i)
        ramFree(store->blocks[i]);
    ramFree(store->blocks);
    ramFree(store->pages);
    delete store->lock;
    ramFree(store);
    taskSetSlot(KA_TASK_SLOT_SHARED_OBJECT, nullptr);
}

int vmStoreRead(VmPageStore* store, int32_t fd, int64_t offset, void* buffer, size_t length, size_t* count,
                int noEvict) noexcept
{
    *count = 0;
    KaLockGuard guard(*store->lock);
    auto* out = static_cast<char*>(buffer);
    while (*count < length) {
        int64_t at = offset + int64_t(*count);
        size_t inPage = size_t(at % int64_t(VM_PAGE_SIZE));
        size_t piece = VM_PAGE_SIZE - inPage;
        if (piece > length - *count)
            piece = length - *count;
        uint16_t index = VM_NONE;
        int failed = 0;
        if (at <= VM_LAST_CACHED_OFFSET)
            index = getPage(store, fd, uint16_t(at / int64_t(VM_PAGE_SIZE)), true, noEvict != 0, &failed);
        if (failed)
            return 1;
        size_t got = 0;
        if (index != VM_NONE && store->pages[index].valid >= inPage + piece) {
            memcpy(out + *count, pageData(store, index) + inPage, piece);
            got = piece;
        } else {
            uint64_t n = 0;
            if (bosfread(fd, at, out + *count, piece, &n) != 0)
                return 1;
            got = size_t(n);
        }
        *count += got;
        if (got < piece)
            break;
    }
    return 0;
}

int vmStoreWrite(VmPageStore* store, int32_t fd, int64_t offset, const void* data, size_t length) noexcept
{
    KaLockGuard guard(*store->lock);
    if (bosfwrite(fd, offset, data, length) != 0)
        return 1;
    const auto* in = static_cast<const char*>(data);
    for (size_t done = 0; done < length;) {
        int64_t at = offset + int64_t(done);
        size_t inPage = size_t(at % int64_t(VM_PAGE_SIZE));
        size_t piece = VM_PAGE_SIZE - inPage;
        if (piece > length - done)
            piece = length - done;
        if (at <= VM_LAST_CACHED_OFFSET) {
            int failed = 0;
            uint16_t index = getPage(store, fd, uint16_t(at / int64_t(VM_PAGE_SIZE)), false, false, &failed);
            if (index != VM_NONE) {
                memcpy(pageData(store, index) + inPage, in + done, piece);
                if (store->pages[index].valid < inPage + piece)
                    store->pages[index].valid = uint16_t(inPage + piece);
            }
        }
        done += piece;
    }
    return 0;
}

int vmStoreForgetFile(VmPageStore* store, int32_t fd) noexcept
{
    KaLockGuard guard(*store->lock);
    for (uint16_t i = 0; i < store->pageCount; ++i)
        if (store->pages[i].file == fd && fd != 0)
            releasePage(store, i);
    return 0;
}

int vmStoreCloseFile(VmPageStore* store, int32_t fd) noexcept
{
    if (fd == 0)
        return 0;
    vmStoreForgetFile(store, fd);
    return bosfclose(fd);
}
