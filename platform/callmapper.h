// Run-time binding of shared libraries that the driver does not link (the
// TLS, HTTP and Kerberos libraries): a CallMapper loads one library and
// resolves one symbol table into an array of entry points; a process-wide
// registry shares each CallMapper among every binder of the same library and
// table. UtlLibCallMapper is the base of those binders. KaCallMapperCb maps
// the handles such a library passes to C callbacks back to their owners.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "foundation/kalist.h"
#include "foundation/kaobject.h"

// Longest library name a CallMapper keeps, terminator not counted.
constexpr size_t CALLMAPPER_NAME_MAX = 1024;
// On an optional entry: a missing symbol leaves its slot as it was.
constexpr uint32_t CALLMAPPER_KEEP_SLOT = 0x40;

struct CallMapperSymbol {
    const char* name;
    uint32_t index;  // slot in the entry-point array
    uint32_t flags;  // required when they share a bit with the table's mask
};

// An entry is required when requiredMask is 0 or shares a bit with its flags.
struct CallMapperTable {
    const CallMapperSymbol* entries;
    uint32_t count;
    uint32_t requiredMask;
};

class CallMapper : public KaObject {
public:
    void** entryPoints = nullptr;
    void* library = nullptr;
    const CallMapperTable* symbolTable = nullptr;
    bool loaded = false;
    // Set once, read without the init lock by initializeOnce's first test.
    std::atomic<int32_t> initialised{0};
    char libraryName[CALLMAPPER_NAME_MAX + 1] = {};

    explicit CallMapper(const CallMapperTable* table) noexcept : symbolTable(table) {}
    // Frees the entry points; the library stays loaded.
    ~CallMapper() override;

    CallMapper(const CallMapper&) = delete;
    CallMapper& operator=(const CallMapper&) = delete;

    // 1 when a library is loaded or the name exceeds CALLMAPPER_NAME_MAX.
    [[nodiscard]] int setLibraryName(const char* name) noexcept;
    // Opens the library unless a handle was lent, then resolves every entry.
    [[nodiscard]] int load() noexcept;
    [[nodiscard]] int resolveSymbol(const CallMapperSymbol& entry, uint32_t mask) noexcept;

    void* entryPoint(uint32_t index) const noexcept
    {
        return (entryPoints != nullptr && symbolTable != nullptr && index < symbolTable->count) ? entryPoints[index]
                                                                                                : nullptr;
    }
};

class UtlLibCallMapper : public KaObject {
public:
    CallMapper* mapper = nullptr;  // shared through the registry, not owned
    char* libraryName = nullptr;   // owned
    const CallMapperTable* symbolTable = nullptr;

    // A null name, a failed copy or a null table make attach fail.
    UtlLibCallMapper(const char* name, const CallMapperTable* table) noexcept;
    ~UtlLibCallMapper() override;

    UtlLibCallMapper(const UtlLibCallMapper&) = delete;
    UtlLibCallMapper& operator=(const UtlLibCallMapper&) = delete;

    // The binder's one-time set-up; the base has none.
    virtual int initialize();

    // Finds or makes the shared CallMapper of the name and table.
    [[nodiscard]] int attach() noexcept;
    // Runs initialize once per CallMapper; a failure lets the next call retry.
    [[nodiscard]] int initializeOnce() noexcept;

    void* entryPoint(uint32_t index) const noexcept { return mapper != nullptr ? mapper->entryPoint(index) : nullptr; }
};

// Entries of the registry; both lists hold them, each node in one list.
class KaCallMapperNode : public KaNode {
public:
    const void* handle = nullptr;
    void* owner = nullptr;
};

class KaCallMapperCb {
public:
    KaList owners;

    KaCallMapperCb() noexcept = default;
    // Unregisters every handle still on the owner list.
    ~KaCallMapperCb();
    KaCallMapperCb(const KaCallMapperCb&) = delete;
    KaCallMapperCb& operator=(const KaCallMapperCb&) = delete;

    // 1 when a node cannot be made (nothing is registered then).
    [[nodiscard]] int registerHandle(const void* handle, void* owner) noexcept;
    void unregisterHandle(const void* handle) noexcept;
    // Same teardown as the destructor, for owners that end before it runs.
    void unregisterAll() noexcept;
    static void* findOwner(const void* handle) noexcept;
};

// The loader's symbol lookup and unloading, for the few callers that hold a
// library handle of their own (LoadLibrary of boslib.h opens it).
[[nodiscard]] void* bosGetProcAddress(void* library, const char* name) noexcept;
void bosFreeLibrary(void* library) noexcept;
// The loader's last error text into out (size bytes), empty when none.
void bosLoaderError(char* out, size_t size) noexcept;

// Number of CallMappers the registry holds (tests check the sharing).
size_t callMapperRegistryCount() noexcept;
