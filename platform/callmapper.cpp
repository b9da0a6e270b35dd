// Loading of run-time-bound libraries, their shared registry and the
// callback-handle registry.
#include "platform/callmapper.h"

#include <dlfcn.h>

#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaarray.h"
#include "foundation/kaerror.h"
#include "foundation/kalock.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"

namespace {

// Made at load, destroyed at unload; the registry deletes its CallMappers
// then, and libraries are never closed before it.
KaCriticalSection callMapperLock(0, kKaLockPlain);
KaCriticalSection callMapperInitLock(0, kKaLockPlain);
KaArray callMapperRegistry(16, KaArray::ownsElements);

KaCriticalSection callbackRegistryLock(0, kKaLockPlain);

struct CallbackRegistry {
    KaList nodes;
    ~CallbackRegistry() { nodes.deleteAll(); }
};
CallbackRegistry callbackRegistry;

// Unlinks and deletes every node of the handle.
void removeHandle(KaList& list, const void* handle) noexcept
{
    for (;;) {
        KaNode* found = nullptr;
        KaNode* node = list.first();
        for (size_t i = 0; i < list.count; ++i, node = node->next) {
            if (static_cast<KaCallMapperNode*>(node)->handle == handle) {
                found = node;
                break;
            }
        }
        if (found == nullptr)
            return;
        list.remove(found);
        delete found;
    }
}

}  // namespace

CallMapper::~CallMapper()
{
    ramFree(entryPoints);
}

int CallMapper::setLibraryName(const char* name) noexcept
{
    if (library != nullptr || name == nullptr)
        return 1;
    size_t n = strlen(name);
    if (n > CALLMAPPER_NAME_MAX)
        return 1;
    memcpy(libraryName, name, n + 1);
    return 0;
}

int CallMapper::load() noexcept
{
    if (symbolTable == nullptr)
        return 1;
    if (library == nullptr) {
        library = dlopen(libraryName, RTLD_NOW);
        if (library == nullptr) {
            errPost(MSG_LIBRARY_OPEN_FAILED)->addParamText(libraryName);
            return 1;
        }
    }
    ramFree(entryPoints);
    entryPoints = static_cast<void**>(ramAlloc(sizeof(void*) * (symbolTable->count ? symbolTable->count : 1)));
    if (entryPoints == nullptr)
        return 1;
    memset(entryPoints, 0, sizeof(void*) * symbolTable->count);
    for (uint32_t i = 0; i < symbolTable->count; ++i)
        if (resolveSymbol(symbolTable->entries[i], symbolTable->requiredMask) != 0)
            return 1;
    loaded = true;
    return 0;
}

int CallMapper::resolveSymbol(const CallMapperSymbol& entry, uint32_t mask) noexcept
{
    if (library == nullptr) {
        errPost(MSG_LIBRARY_NOT_LOADED);
        return 1;
    }
    if (symbolTable == nullptr || entry.index >= symbolTable->count) {
        errPost(MSG_LIBRARY_TABLE_INDEX)
            ->addParamUnsigned(entry.index)
            ->addParamUnsigned(symbolTable != nullptr ? symbolTable->count : 0);
        return 1;
    }
    void* symbol = dlsym(library, entry.name);
    if (symbol != nullptr) {
        entryPoints[entry.index] = symbol;
        return 0;
    }
    bool required = mask == 0 || (entry.flags & mask) != 0;
    if (required) {
        errPost(MSG_LIBRARY_SYMBOL_MISSING)->addParamText(entry.name)->addParamText(libraryName);
        return 1;
    }
    if ((entry.flags & CALLMAPPER_KEEP_SLOT) == 0)
        entryPoints[entry.index] = nullptr;
    return 0;
}

UtlLibCallMapper::UtlLibCallMapper(const char* name, const CallMapperTable* table) noexcept : symbolTable(table)
{
    if (name != nullptr) {
        size_t n = strlen(name);
        libraryName = static_cast<char*>(ramAlloc(n + 1));
        if (libraryName != nullptr)
            memcpy(libraryName, name, n + 1);
    }
}

UtlLibCallMapper::~UtlLibCallMapper()
{
    ramFree(libraryName);
}

int UtlLibCallMapper::initialize()
{
    return 0;
}

int UtlLibCallMapper::attach() noexcept
{
    KaLockGuard guard(callMapperLock);
    if (libraryName == nullptr || symbolTable == nullptr)
        return 1;
    CallMapper* sameLibrary = nullptr;
    for (size_t i = 0; i < callMapperRegistry.count; ++i) {
        auto* candidate = static_cast<CallMapper*>(callMapperRegistry.at(i));
        if (strcmp(candidate->libraryName, libraryName) != 0)
            continue;
        if (candidate->symbolTable == symbolTable) {
            mapper = candidate;
            return 0;
        }
        sameLibrary = candidate;
    }
    std::unique_ptr<CallMapper> made(new CallMapper(symbolTable));
    if (made == nullptr || made->setLibraryName(libraryName) != 0)
        return 1;
    // Borrow the open handle so the library is not opened a second time.
    if (sameLibrary != nullptr)
        made->library = sameLibrary->library;
    if (made->load() != 0 || callMapperRegistry.append(made.get()) != 0)
        return 1;
    mapper = made.release();
    return 0;
}

int UtlLibCallMapper::initializeOnce() noexcept
{
    if (mapper == nullptr || mapper->initialised.load(std::memory_order_acquire) != 0)
        return 0;
    KaLockGuard guard(callMapperInitLock);
    if (mapper->initialised.load(std::memory_order_relaxed) != 0)
        return 0;
    int result = initialize();
    if (result == 0)
        mapper->initialised.store(1, std::memory_order_release);
    return result;
}

void* bosGetProcAddress(void* library, const char* name) noexcept
{
    return library != nullptr && name != nullptr ? dlsym(library, name) : nullptr;
}

void bosFreeLibrary(void* library) noexcept
{
    if (library != nullptr)
        dlclose(library);
}

void bosLoaderError(char* out, size_t size) noexcept
{
    if (out == nullptr || size == 0)
        return;
    const char* text = dlerror();
    size_t n = text != nullptr ? strlen(text) : 0;
    if (n >= size)
        n = size - 1;
    if (n > 0)
        memcpy(out, text, n);
    out[n] = 0;
}

size_t callMapperRegistryCount() noexcept
{
    KaLockGuard guard(callMapperLock);
    return callMapperRegistry.count;
}

KaCallMapperCb::~KaCallMapperCb()
{
    unregisterAll();
}

int KaCallMapperCb::registerHandle(const void* handle, void* owner) noexcept
{
    std::unique_ptr<KaCallMapperNode> global(new KaCallMapperNode);
    std::unique_ptr<KaCallMapperNode> own(new KaCallMapperNode);
    if (global == nullptr || own == nullptr)
        return 1;
    global->handle = own->handle = handle;
    global->owner = own->owner = owner;
    KaLockGuard guard(callbackRegistryLock);
    callbackRegistry.nodes.addLast(global.release());
    owners.addLast(own.release());
    return 0;
}

void KaCallMapperCb::unregisterHandle(const void* handle) noexcept
{
    KaLockGuard guard(callbackRegistryLock);
    removeHandle(callbackRegistry.nodes, handle);
    removeHandle(owners, handle);
}

void KaCallMapperCb::unregisterAll() noexcept
{
    KaLockGuard guard(callbackRegistryLock);
    while (owners.count != 0) {
        auto* node = static_cast<KaCallMapperNode*>(owners.removeFirst());
        removeHandle(callbackRegistry.nodes, node->handle);
        delete node;
    }
}

void* KaCallMapperCb::findOwner(const void* handle) noexcept
{
    KaLockGuard guard(callbackRegistryLock);
    KaNode* node = callbackRegistry.nodes.first();
    for (size_t i = 0; i < callbackRegistry.nodes.count; ++i, node = node->next)
        if (static_cast<KaCallMapperNode*>(node)->handle == handle)
            return static_cast<KaCallMapperNode*>(node)->owner;
    return nullptr;
}
