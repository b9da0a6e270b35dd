// Run-time library binding: loading a stand-in library by name, resolving
// its table, sharing of CallMappers through the registry, the one-time
// initialisation under racing threads and the callback-handle registry.
#include "platform/callmapper.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bostest.h"
#include "kamessages.h"

namespace {

const std::string kLibrary = std::string(KA_STANDIN_DIR) + "/libkastandin.so";

enum : uint32_t { SLOT_ADD, SLOT_TWICE, SLOT_NAME, SLOT_COUNT };
constexpr uint32_t kCore = 0x1;
constexpr uint32_t kExtra = 0x2;

const CallMapperSymbol kSymbols[] = {
    {"standin_add", SLOT_ADD, kCore},
    {"standin_twice", SLOT_TWICE, kCore},
    {"standin_name", SLOT_NAME, kExtra},
};
const CallMapperTable kTable = {kSymbols, SLOT_COUNT, kCore};
const CallMapperTable kOtherTable = {kSymbols, 2, 0};

using AddFn = int (*)(int, int);
using TwiceFn = int (*)(int);

// Texts come from the catalogue the fixture opens.
using CallMapperTest = katest::BosTest;

TEST_F(CallMapperTest, BinderCallsTheLibraryThroughItsTable)
{
    UtlLibCallMapper binder(kLibrary.c_str(), &kTable);
    ASSERT_EQ(0, binder.attach());
    auto add = reinterpret_cast<AddFn>(binder.entryPoint(SLOT_ADD));
    auto twice = reinterpret_cast<TwiceFn>(binder.entryPoint(SLOT_TWICE));
    ASSERT_NE(nullptr, add);
    ASSERT_NE(nullptr, twice);
    EXPECT_EQ(5, add(2, 3));
    EXPECT_EQ(14, twice(7));
    EXPECT_EQ(nullptr, binder.entryPoint(SLOT_COUNT));
    EXPECT_EQ(1, binder.mapper->loaded);
    EXPECT_EQ(0u, errors.size());
}

TEST_F(CallMapperTest, SameNameAndTableShareOneMapperAnotherTableBorrowsTheHandle)
{
    UtlLibCallMapper first(kLibrary.c_str(), &kTable);
    UtlLibCallMapper second(kLibrary.c_str(), &kTable);
    UtlLibCallMapper other(kLibrary.c_str(), &kOtherTable);
    ASSERT_EQ(0, first.attach());
    size_t before = callMapperRegistryCount();
    ASSERT_EQ(0, second.attach());
    EXPECT_EQ(first.mapper, second.mapper);
    EXPECT_EQ(before, callMapperRegistryCount());

    ASSERT_EQ(0, other.attach());
    EXPECT_NE(first.mapper, other.mapper);
    EXPECT_EQ(first.mapper->library, other.mapper->library);
    EXPECT_EQ(before + 1, callMapperRegistryCount());
}

TEST_F(CallMapperTest, MissingLibraryAndOverlongNameFailToAttach)
{
    UtlLibCallMapper missing("/nonexistent/libnothing.so", &kTable);
    EXPECT_EQ(1, missing.attach());
    EXPECT_EQ(nullptr, missing.mapper);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_LIBRARY_OPEN_FAILED, errors.native(0));
    EXPECT_NE(std::string::npos, errors.text(0).find("/nonexistent/libnothing.so"));

    std::string longName(CALLMAPPER_NAME_MAX + 1, 'x');
    CallMapper mapper(&kTable);
    EXPECT_EQ(1, mapper.setLibraryName(longName.c_str()));
    longName.pop_back();
    EXPECT_EQ(0, mapper.setLibraryName(longName.c_str()));
    UtlLibCallMapper tooLong(std::string(CALLMAPPER_NAME_MAX + 1, 'x').c_str(), &kTable);
    EXPECT_EQ(1, tooLong.attach());

    UtlLibCallMapper noTable(kLibrary.c_str(), nullptr);
    EXPECT_EQ(1, noTable.attach());
}

TEST_F(CallMapperTest, RequiredAndOptionalSymbols)
{
    const CallMapperSymbol symbols[] = {
        {"standin_add", 0, kCore},
        {"standin_absent", 1, kExtra},                         // optional: slot cleared
        {"standin_absent", 2, kExtra | CALLMAPPER_KEEP_SLOT},  // optional: slot kept
    };
    const CallMapperTable table = {symbols, 3, kCore};
    CallMapper mapper(&table);
    ASSERT_EQ(0, mapper.setLibraryName(kLibrary.c_str()));
    ASSERT_EQ(0, mapper.load());
    EXPECT_EQ(nullptr, mapper.entryPoint(1));
    EXPECT_EQ(nullptr, mapper.entryPoint(2));

    int marker = 0;
    mapper.entryPoints[1] = &marker;
    mapper.entryPoints[2] = &marker;
    EXPECT_EQ(0, mapper.resolveSymbol(symbols[1], kCore));
    EXPECT_EQ(0, mapper.resolveSymbol(symbols[2], kCore));
    EXPECT_EQ(nullptr, mapper.entryPoint(1));
    EXPECT_EQ(&marker, mapper.entryPoint(2));
    EXPECT_EQ(0u, errors.size());

    // Required when the mask is 0 or shares a bit.
    EXPECT_EQ(1, mapper.resolveSymbol(symbols[1], 0));
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_LIBRARY_SYMBOL_MISSING, errors.native(0));
    EXPECT_NE(std::string::npos, errors.text(0).find("standin_absent"));
    EXPECT_NE(std::string::npos, errors.text(0).find("libkastandin.so"));

    const CallMapperSymbol outside = {"standin_add", 3, kCore};
    EXPECT_EQ(1, mapper.resolveSymbol(outside, kCore));
    ASSERT_EQ(2u, errors.size());
    EXPECT_EQ(MSG_LIBRARY_TABLE_INDEX, errors.native(1));

    CallMapper unloaded(&table);
    EXPECT_EQ(1, unloaded.resolveSymbol(symbols[0], kCore));
    EXPECT_EQ(MSG_LIBRARY_NOT_LOADED, errors.native(2));
}

TEST_F(CallMapperTest, MissingRequiredSymbolFailsTheLoad)
{
    const CallMapperSymbol symbols[] = {{"standin_add", 0, 0}, {"standin_absent", 1, 0}};
    const CallMapperTable table = {symbols, 2, 0};
    UtlLibCallMapper binder(kLibrary.c_str(), &table);
    EXPECT_EQ(1, binder.attach());
    EXPECT_EQ(nullptr, binder.mapper);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_LIBRARY_SYMBOL_MISSING, errors.native(0));
}

// A binder whose set-up counts its runs and fails the first time.
class CountingBinder : public UtlLibCallMapper {
public:
    static inline std::atomic<int> runs{0};
    static inline std::atomic<int> failuresLeft{0};
    CountingBinder(const CallMapperTable* table) : UtlLibCallMapper(kLibrary.c_str(), table) {}
    int initialize() override
    {
        ++runs;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return failuresLeft.fetch_sub(1) > 0 ? 1 : 0;
    }
};

TEST_F(CallMapperTest, OneTimeInitialisationRunsOnceAcrossThreadsAndRetriesAfterFailure)
{
    // A table of its own, so that this mapper starts uninitialised.
    static const CallMapperSymbol symbols[] = {{"standin_twice", 0, 0}};
    static const CallMapperTable table = {symbols, 1, 0};
    CountingBinder::runs = 0;
    CountingBinder::failuresLeft = 0;

    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            katest::ThreadScope scope;
            CountingBinder binder(&table);
            if (binder.attach() != 0 || binder.initializeOnce() != 0)
                ++failures;
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(1, CountingBinder::runs.load());
    CountingBinder later(&table);
    ASSERT_EQ(0, later.attach());
    EXPECT_EQ(1, later.mapper->initialised.load());
    EXPECT_EQ(0, later.initializeOnce());
    EXPECT_EQ(1, CountingBinder::runs.load());

    // A failed set-up leaves the flag down, so the next call tries again.
    static const CallMapperSymbol retrySymbols[] = {{"standin_add", 0, 0}};
    static const CallMapperTable retryTable = {retrySymbols, 1, 0};
    CountingBinder::runs = 0;
    CountingBinder::failuresLeft = 1;
    CountingBinder retry(&retryTable);
    ASSERT_EQ(0, retry.attach());
    EXPECT_EQ(1, retry.initializeOnce());
    EXPECT_EQ(0, retry.mapper->initialised.load());
    EXPECT_EQ(0, retry.initializeOnce());
    EXPECT_EQ(0, retry.initializeOnce());
    EXPECT_EQ(2, CountingBinder::runs.load());
}

TEST_F(CallMapperTest, CallbackRegistryMapsHandlesToOwners)
{
    int ownerA = 0, ownerB = 0;
    int handle1 = 0, handle2 = 0, handle3 = 0;
    EXPECT_EQ(nullptr, KaCallMapperCb::findOwner(&handle1));
    {
        KaCallMapperCb a;
        KaCallMapperCb b;
        ASSERT_EQ(0, a.registerHandle(&handle1, &ownerA));
        ASSERT_EQ(0, a.registerHandle(&handle2, &ownerA));
        ASSERT_EQ(0, b.registerHandle(&handle3, &ownerB));
        EXPECT_EQ(&ownerA, KaCallMapperCb::findOwner(&handle1));
        EXPECT_EQ(&ownerA, KaCallMapperCb::findOwner(&handle2));
        EXPECT_EQ(&ownerB, KaCallMapperCb::findOwner(&handle3));

        a.unregisterHandle(&handle1);
        EXPECT_EQ(nullptr, KaCallMapperCb::findOwner(&handle1));
        EXPECT_EQ(1u, a.owners.count);
        b.unregisterAll();
        EXPECT_EQ(nullptr, KaCallMapperCb::findOwner(&handle3));
        EXPECT_EQ(&ownerA, KaCallMapperCb::findOwner(&handle2));
    }
    // The owner's destruction removed what it still held.
    EXPECT_EQ(nullptr, KaCallMapperCb::findOwner(&handle2));
}

}  // namespace
