// The statement's pools of sinks, sources and converters: stacks of at most
// 256 per kind that hand back the object released last, what cannot be made
// ready for reuse deleted, a converter's source and sinks given back to the
// connection's pools or the statement's by the threading model, the memory
// streams rebound to the caller's bytes, the character converters' cache,
// and everything pooled freed with the statement.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "convert/datacvt.h"
#include "foundation/codepage.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseerr.h"
#include "odbc/basestmt.h"
#include "platform/kastream.h"
#include "support/connfixture.h"
#include "support/diagscope.h"
#include "support/testconnection.h"

using katest::DiagScope;

namespace {

// The makers the framework installs, which the counting ones hand on to.
BasePoolMakers gBuiltIn{};
// Objects the makers were asked for.
int gMade = 0;
// Whether the makers make the counted classes below instead of the real ones.
bool gCounted = false;
// Counted objects alive, and the answer their reset for reuse gives.
int gAlive = 0;
int gResetAnswer = 0;

class CountedSink : public KaMemorySink {
public:
    CountedSink() noexcept { ++gAlive; }
    ~CountedSink() override { --gAlive; }
    int discard() noexcept override { return gResetAnswer; }
};

class CountedSource : public KaMemorySource {
public:
    CountedSource() noexcept { ++gAlive; }
    ~CountedSource() override { --gAlive; }
    int finish() noexcept override { return gResetAnswer; }
};

class CountedConverter : public KaBinaryConverter {
public:
    CountedConverter() noexcept { ++gAlive; }
    ~CountedConverter() override { --gAlive; }
    int closeConverters() noexcept override { return gResetAnswer; }
};

KaDataSink* countSink(BaseStatement* stmt, int kind) noexcept
{
    ++gMade;
    return gCounted ? new CountedSink() : gBuiltIn.makeSink(stmt, kind);
}

KaDataSource* countSource(BaseStatement* stmt, int kind) noexcept
{
    ++gMade;
    return gCounted ? new CountedSource() : gBuiltIn.makeSource(stmt, kind);
}

KaDataConverter* countConverter(BaseStatement* stmt, int kind) noexcept
{
    ++gMade;
    return gCounted ? new CountedConverter() : gBuiltIn.makeConverter(stmt, kind);
}

class StatementPools : public katest::ConnectedFixture<katest::TestEnv> {
protected:
    void SetUp() override
    {
        katest::ConnectedFixture<katest::TestEnv>::SetUp();
        gBuiltIn = baseSetPoolMakers({countSink, countSource, countConverter});
        gMade = 0;
        gCounted = false;
        gAlive = 0;
        gResetAnswer = 0;
        ASSERT_EQ(conn->createStatement(&stmt), 0);
    }
    void TearDown() override
    {
        delete stmt;
        baseSetPoolMakers(gBuiltIn);
        katest::ConnectedFixture<katest::TestEnv>::TearDown();
    }

    BaseStatement* stmt = nullptr;
};

}  // namespace

TEST_F(StatementPools, EachKindIsAStackOfAtMost256AndReusesWhatWasReleasedLast)
{
    conn->threadModel = kBaseThreadSafe;
    // One pool of each family; the objects are the framework's own.
    struct Family {
        const char* what;
        KaObject* (*acquire)(BaseStatement*);
        void (*release)(BaseStatement*, KaObject*);
        uint64_t (*count)(BaseStatement*);
    } families[] = {
        {"multi-memory sinks", [](BaseStatement* s) -> KaObject* { return s->acquireSink(KA_STREAM_MULTI_MEMORY); },
         [](BaseStatement* s, KaObject* o) { s->releaseSink(static_cast<KaDataSink*>(o), KA_STREAM_MULTI_MEMORY); },
         [](BaseStatement* s) { return s->sinkCounts[KA_STREAM_MULTI_MEMORY]; }},
        {"memory sources", [](BaseStatement* s) -> KaObject* { return s->acquireSource(KA_STREAM_MEMORY); },
         [](BaseStatement* s, KaObject* o) { s->releaseSource(static_cast<KaDataSource*>(o), KA_STREAM_MEMORY); },
         [](BaseStatement* s) { return s->sourceCounts[KA_STREAM_MEMORY]; }},
        {"character converters", [](BaseStatement* s) -> KaObject* { return s->acquireConverter(KA_CVT_CHAR); },
         [](BaseStatement* s, KaObject* o) { s->releaseConverter(static_cast<KaDataConverter*>(o), KA_CVT_CHAR); },
         [](BaseStatement* s) { return s->converterCounts[KA_CVT_CHAR]; }},
    };
    for (const Family& f : families) {
        SCOPED_TRACE(f.what);
        gMade = 0;
        std::vector<KaObject*> objects;
        for (int i = 0; i <= kBasePoolDepth; ++i) {
            objects.push_back(f.acquire(stmt));
            ASSERT_NE(objects.back(), nullptr);
        }
        EXPECT_EQ(gMade, kBasePoolDepth + 1);
        for (KaObject* o : objects)
            f.release(stmt, o);
        // The 257th was deleted, not kept (ASan sees a leak otherwise).
        EXPECT_EQ(f.count(stmt), static_cast<uint64_t>(kBasePoolDepth));
        // Taken again: the last released first, and nothing new is made.
        for (int i = kBasePoolDepth - 1; i >= 0; --i)
            ASSERT_EQ(f.acquire(stmt), objects[static_cast<size_t>(i)]);
        EXPECT_EQ(gMade, kBasePoolDepth + 1);
        EXPECT_EQ(f.count(stmt), 0u);
        for (int i = 0; i < kBasePoolDepth; ++i)
            f.release(stmt, objects[static_cast<size_t>(i)]);
    }
    // No object went to the connection's pools under this threading model.
    EXPECT_EQ(conn->sinkCount[KA_STREAM_MULTI_MEMORY], 0u);
    EXPECT_EQ(conn->sourceCount[KA_STREAM_MEMORY], 0u);
}

TEST_F(StatementPools, AnObjectThatDoesNotResetIsDeletedInsteadOfPooled)
{
    gCounted = true;
    for (int answer : {0, 1}) {
        SCOPED_TRACE(answer);
        gResetAnswer = answer;
        stmt->releaseSink(stmt->acquireSink(KA_STREAM_MEMORY), KA_STREAM_MEMORY);
        stmt->releaseSource(stmt->acquireSource(KA_STREAM_MEMORY), KA_STREAM_MEMORY);
        stmt->releaseConverter(stmt->acquireConverter(KA_CVT_BINARY), KA_CVT_BINARY);
        const uint64_t kept = answer == 0 ? 1 : 0;
        EXPECT_EQ(stmt->sinkCounts[KA_STREAM_MEMORY], kept);
        EXPECT_EQ(stmt->sourceCounts[KA_STREAM_MEMORY], kept);
        EXPECT_EQ(stmt->converterCounts[KA_CVT_BINARY], kept);
        EXPECT_EQ(gAlive, static_cast<int>(3 * kept));
    }
    // Kinds beyond the pools are deleted at once, whatever the reset says.
    gResetAnswer = 0;
    stmt->releaseSink(stmt->acquireSink(7), 7);
    stmt->releaseConverter(stmt->acquireConverter(kBaseConverterKinds), kBaseConverterKinds);
    EXPECT_EQ(gAlive, 0);
}

TEST_F(StatementPools, AConverterHandsItsSourceAndSinksBackToThePoolsOfTheThreadingModel)
{
    struct Case {
        int32_t threadModel;
        int32_t borrowed;   // the source is its holder's
        int32_t sinkHeld;   // the sink is its holder's
        bool toConnection;  // where the parts go
    } cases[] = {
        {kBaseThreadSafe, 0, 0, false}, {kBaseThreadPerConnection, 0, 0, true}, {kBaseThreadPerDriver, 0, 0, true},
        {kBaseThreadSafe, 1, 0, false}, {kBaseThreadPerConnection, 0, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.threadModel << " borrowed " << c.borrowed << " held "
                                        << c.sinkHeld);
        conn->threadModel = c.threadModel;
        KaDataSource* source = stmt->acquireSource(KA_STREAM_MULTI_MEMORY);
        KaDataSink* sink = stmt->acquireSink(KA_STREAM_TMPFILE);
        ASSERT_NE(source, nullptr);
        ASSERT_NE(sink, nullptr);
        sink->notOwned = c.sinkHeld;
        KaDataConverter* converter = stmt->makeBinaryConverter(source, sink, KA_CVT_FORM_HEX, 0);
        ASSERT_NE(converter, nullptr);
        converter->borrowed = c.borrowed;
        const uint64_t stmtSources = stmt->sourceCounts[KA_STREAM_MULTI_MEMORY];
        const uint64_t stmtSinks = stmt->sinkCounts[KA_STREAM_TMPFILE];
        const uint64_t connSources = conn->sourceCount[KA_STREAM_MULTI_MEMORY];
        const uint64_t connSinks = conn->sinkCount[KA_STREAM_TMPFILE];
        stmt->releaseConverter(converter, KA_CVT_BINARY);
        const uint64_t sourceBack = c.borrowed ? 0 : 1;
        const uint64_t sinkBack = c.sinkHeld ? 0 : 1;
        EXPECT_EQ(conn->sourceCount[KA_STREAM_MULTI_MEMORY], connSources + (c.toConnection ? sourceBack : 0));
        EXPECT_EQ(conn->sinkCount[KA_STREAM_TMPFILE], connSinks + (c.toConnection ? sinkBack : 0));
        EXPECT_EQ(stmt->sourceCounts[KA_STREAM_MULTI_MEMORY], stmtSources + (c.toConnection ? 0 : sourceBack));
        EXPECT_EQ(stmt->sinkCounts[KA_STREAM_TMPFILE], stmtSinks + (c.toConnection ? 0 : sinkBack));
        EXPECT_EQ(converter->source, nullptr);
        EXPECT_EQ(converter->sink, nullptr);
        // The converter itself is the statement's to reuse.
        EXPECT_EQ(stmt->acquireConverter(KA_CVT_BINARY), converter);
        stmt->releaseConverter(converter, KA_CVT_BINARY);
        // What the converter left alone is still its holder's, and alive.
        if (c.borrowed)
            stmt->releaseSource(source, KA_STREAM_MULTI_MEMORY);
        if (c.sinkHeld) {
            EXPECT_EQ(sink->write("ok", 2, 0), 0);
            sink->notOwned = 0;
            stmt->releaseSink(sink, KA_STREAM_TMPFILE);
        }
    }
}

TEST_F(StatementPools, AConverterItsHolderKeepsIsLeftAloneWithItsParts)
{
    conn->threadModel = kBaseThreadSafe;
    KaDataSource* source = stmt->acquireSource(KA_STREAM_MEMORY);
    KaDataSink* sink = stmt->acquireSink(KA_STREAM_MEMORY);
    KaDataConverter* converter = stmt->makeBinaryConverter(source, sink, KA_CVT_FORM_BYTES, 0);
    ASSERT_NE(converter, nullptr);
    converter->notPooled = 1;
    stmt->getDataConverter = converter;
    // Both ways of giving back: the release and the reset's return.
    stmt->releaseConverter(converter, KA_CVT_BINARY);
    stmt->returnConverter(converter);
    EXPECT_EQ(stmt->converterCounts[KA_CVT_BINARY], 0u);
    EXPECT_EQ(stmt->sourceCounts[KA_STREAM_MEMORY], 0u);
    EXPECT_EQ(stmt->sinkCounts[KA_STREAM_MEMORY], 0u);
    EXPECT_EQ(converter->source, source);
    EXPECT_EQ(converter->sink, sink);
    stmt->getDataConverter = nullptr;
    converter->notPooled = 0;
    stmt->releaseConverter(converter, KA_CVT_BINARY);
    EXPECT_EQ(stmt->converterCounts[KA_CVT_BINARY], 1u);
    EXPECT_EQ(stmt->sourceCounts[KA_STREAM_MEMORY], 1u);
    EXPECT_EQ(stmt->sinkCounts[KA_STREAM_MEMORY], 1u);
}

TEST_F(StatementPools, SinksAndConvertersAreReturnedWhereTheThreadingModelTookThem)
{
    for (int32_t model : {kBaseThreadSafe, kBaseThreadPerConnection, kBaseThreadPerDriver}) {
        SCOPED_TRACE(model);
        conn->threadModel = model;
        const bool shared = model != kBaseThreadSafe;
        const uint64_t stmtSinks = stmt->sinkCounts[KA_STREAM_MEMORY];
        const uint64_t connSinks = conn->sinkCount[KA_STREAM_MEMORY];
        stmt->returnSink(stmt->acquireSink(KA_STREAM_MEMORY), KA_STREAM_MEMORY);
        // An IRD record's cached sink goes back under its own kind.
        stmt->releaseLongDataSink(stmt->acquireSink(KA_STREAM_MEMORY));
        EXPECT_EQ(stmt->sinkCounts[KA_STREAM_MEMORY], shared ? stmtSinks - 2 : stmtSinks + 1);
        EXPECT_EQ(conn->sinkCount[KA_STREAM_MEMORY], shared ? connSinks + 2 : connSinks);
        KaDataConverter* converter = stmt->acquireConverter(KA_CVT_SIMPLE_CHAR);
        ASSERT_NE(converter, nullptr);
        const uint64_t stmtConverters = stmt->converterCounts[KA_CVT_SIMPLE_CHAR];
        const uint64_t connConverters = conn->converterCount[KA_CVT_SIMPLE_CHAR];
        stmt->returnConverter(converter);
        EXPECT_EQ(stmt->converterCounts[KA_CVT_SIMPLE_CHAR], stmtConverters + (shared ? 0 : 1));
        EXPECT_EQ(conn->converterCount[KA_CVT_SIMPLE_CHAR], connConverters + (shared ? 1 : 0));
        // Refill the statement's pool for the next model's counts.
        stmt->releaseSink(conn->acquireSink(KA_STREAM_MEMORY), KA_STREAM_MEMORY);
        stmt->releaseSink(conn->acquireSink(KA_STREAM_MEMORY), KA_STREAM_MEMORY);
    }
    // Something that is no sink is simply deleted (ASan sees a leak else).
    stmt->releaseLongDataSink(new KaMemorySource());
    stmt->returnConverter(nullptr);
}

TEST_F(StatementPools, MemoryStreamsAreReboundToTheCallersBytes)
{
    uint8_t first[8] = {};
    KaMemorySink* sink = stmt->acquireMemorySink(first, sizeof first);
    ASSERT_NE(sink, nullptr);
    ASSERT_EQ(sink->write("abc", 3, 0), 0);
    stmt->releaseSink(sink, KA_STREAM_MEMORY);
    uint8_t second[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    KaMemorySink* again = stmt->acquireMemorySink(second, 2);
    ASSERT_EQ(again, sink);
    ASSERT_EQ(again->write("xyz", 3, 0), 0);
    // Bounded by the new size; the old bytes untouched.
    EXPECT_EQ(std::memcmp(second, "xy\xEE\xEE", 4), 0);
    EXPECT_EQ(std::memcmp(first, "abc", 3), 0);
    stmt->releaseSink(again, KA_STREAM_MEMORY);

    KaMemorySource* source = stmt->acquireMemorySource("value", 5);
    ASSERT_NE(source, nullptr);
    stmt->releaseSource(source, KA_STREAM_MEMORY);
    KaMemorySource* reused = stmt->acquireMemorySource("other!", 6);
    ASSERT_EQ(reused, source);
    char out[8] = {};
    uint64_t count = 0;
    int32_t more = 1;
    ASSERT_EQ(reused->read(out, sizeof out, &count, &more), 0);
    EXPECT_EQ(std::string(out, count), "other!");
    stmt->releaseSource(reused, KA_STREAM_MEMORY);
    EXPECT_EQ(gMade, 2);

    // A maker of another class for the memory kind is refused, not cast.
    gCounted = true;
    baseSetPoolMakers({[](BaseStatement*, int) noexcept -> KaDataSink* { return new KaMultiMemorySink(64); },
                       countSource, countConverter});
    stmt->emptyPools();
    DiagScope diags;
    EXPECT_EQ(stmt->acquireMemorySink(first, sizeof first), nullptr);
    ASSERT_EQ(diags.size(), 1u);
    EXPECT_EQ(diags.index(0), kBaseIdxGeneralError);
}

TEST_F(StatementPools, CharacterConvertersConvertWithTheCacheOfTheThreadingModel)
{
    conn->reportCodepageConversionErrors = 2;
    for (int32_t model : {kBaseThreadSafe, kBaseThreadPerConnection}) {
        SCOPED_TRACE(model);
        conn->threadModel = model;
        stmt->emptyPools();
        KaCharConverter* converter =
            stmt->makeCharConverter(stmt->acquireSource(KA_STREAM_MEMORY), stmt->acquireSink(KA_STREAM_MULTI_MEMORY),
                                    kCodePageUtf8, kCodePageUtf16LE, 1);
        ASSERT_NE(converter, nullptr);
        EXPECT_EQ(converter->pool, model == kBaseThreadSafe ? &stmt->icuCache : &conn->icuCache);
        EXPECT_EQ(converter->mode, 2);
        stmt->releaseConverter(converter, KA_CVT_CHAR);
    }
}

TEST_F(StatementPools, AValueReadInPiecesMovesToTheNewConnectionsCache)
{
    BaseConnection* other = nullptr;
    ASSERT_EQ(env->newConnection(0, &other), 0);
    struct Case {
        int32_t kind;
        int32_t newModel;
        bool moves;
    } cases[] = {
        {KA_CVT_CHAR, kBaseThreadPerConnection, true},
        {KA_CVT_CHAR_INPUT, kBaseThreadPerDriver, true},
        {KA_CVT_CHAR, kBaseThreadSafe, false},
        {KA_CVT_BINARY, kBaseThreadPerConnection, false},
    };
    conn->threadModel = kBaseThreadSafe;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << " model " << c.newModel);
        other->threadModel = c.newModel;
        KaDataConverter* converter = stmt->acquireConverter(c.kind);
        ASSERT_NE(converter, nullptr);
        stmt->getDataConverter = converter;
        EXPECT_EQ(stmt->rebindConverterCache(other), 0);
        if (c.kind != KA_CVT_BINARY) {
            KaIcuCache* cache = static_cast<KaCharConverterBase*>(converter)->pool;
            EXPECT_EQ(cache, c.moves ? &other->icuCache : &stmt->icuCache);
        }
        stmt->getDataConverter = nullptr;
        delete converter;
    }
    // Nothing being read: nothing to move.
    EXPECT_EQ(stmt->rebindConverterCache(other), 0);
    delete other;
}

TEST_F(StatementPools, EverythingPooledGoesWithTheStatement)
{
    gCounted = true;
    conn->threadModel = kBaseThreadSafe;
    // Every pooled kind, kind 0 (the connection's kinds) included.
    for (int kind = 0; kind < kBaseSinkKinds; ++kind) {
        KaDataSink* sinks[2] = {stmt->acquireSink(kind), stmt->acquireSink(kind)};
        for (KaDataSink* s : sinks)
            stmt->releaseSink(s, kind);
        stmt->releaseSource(stmt->acquireSource(kind), kind);
    }
    for (int kind = 0; kind < kBaseConverterKinds; ++kind)
        stmt->releaseConverter(stmt->acquireConverter(kind), kind);
    EXPECT_EQ(gAlive, 3 * kBaseSinkKinds + kBaseConverterKinds);
    delete stmt;
    stmt = nullptr;
    EXPECT_EQ(gAlive, 0);
}

TEST_F(StatementPools, AKindNobodyMakesIsAGeneralError)
{
    conn->threadModel = kBaseThreadSafe;
    struct Case {
        const char* what;
        bool (*none)(BaseStatement*);
    } cases[] = {
        // The base connection has no kinds of its own.
        {"connection's sink kind", [](BaseStatement* s) { return s->acquireSink(KA_STREAM_NETWORK) == nullptr; }},
        {"connection's source kind", [](BaseStatement* s) { return s->acquireSource(0) == nullptr; }},
        {"connection's converter kind", [](BaseStatement* s) { return s->acquireConverter(6) == nullptr; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DiagScope diags;
        EXPECT_TRUE(c.none(stmt));
        ASSERT_EQ(diags.size(), 1u);
        EXPECT_EQ(diags.index(0), kBaseIdxGeneralError);
    }
    // Without makers nothing is made.
    baseSetPoolMakers({nullptr, nullptr, nullptr});
    DiagScope diags;
    EXPECT_EQ(stmt->acquireSink(KA_STREAM_MEMORY), nullptr);
    EXPECT_EQ(stmt->acquireConverter(KA_CVT_BINARY), nullptr);
    EXPECT_EQ(diags.size(), 2u);
}

TEST_F(StatementPools, ASharedColumnDescriptorGoesWithoutTheRecordsItBorrows)
{
    // Record 0 and the records marked borrowed belong to another descriptor:
    // dropping the shared one deletes only its own records (ASan tells a
    // record deleted twice or never).
    auto* owner = new BaseIRD(stmt);
    auto* shared = new BaseIRD(stmt);
    ASSERT_EQ(0, owner->setRecordCount(2));
    ASSERT_EQ(0, shared->setRecordCount(3));
    BaseRecord* lentZero = owner->record(0);
    BaseRecord* lentTwo = owner->record(2);
    delete shared->record(0);
    delete shared->record(2);
    shared->records.items[0] = lentZero;
    shared->records.items[2] = lentTwo;
    lentTwo->recordBorrowed = 1;
    stmt->sharedColumns = shared;
    stmt->releaseSharedColumns();
    EXPECT_EQ(nullptr, stmt->sharedColumns);
    stmt->releaseSharedColumns();  // nothing left to drop
    EXPECT_EQ(lentZero, owner->record(0));
    EXPECT_EQ(1, lentTwo->recordBorrowed);  // still readable: not deleted
    lentTwo->recordBorrowed = 0;
    delete owner;

    // Unbinding the columns drops it too.
    shared = new BaseIRD(stmt);
    ASSERT_EQ(0, shared->setRecordCount(1));
    BaseRecord* zero = shared->record(0);
    stmt->sharedColumns = shared;
    EXPECT_EQ(0, stmt->unbindAll());
    EXPECT_EQ(nullptr, stmt->sharedColumns);
    delete zero;
}
