// The physical connection's pools of sinks, sources and converters: stacks
// of at most 256 per kind, objects reused as released, converters handing
// their source and sinks back by their kinds, and the driver's own kinds.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "convert/datacvt.h"
#include "foundation/codepage.h"
#include "odbc/baseconn.h"
#include "platform/kastream.h"
#include "platform/katmpsink.h"
#include "support/errorscope.h"
#include "support/testconnection.h"

namespace {

// A sink of the driver's own, counting the live ones.
int gDriverSinks = 0;

class DriverSink : public KaMemorySink {
public:
    DriverSink() noexcept { ++gDriverSinks; }
    ~DriverSink() override { --gDriverSinks; }
};

class PoolingConnection : public katest::TestConnection {
public:
    using katest::TestConnection::TestConnection;

    KaDataSink* newSinkKind(int32_t kind) noexcept override
    {
        ++made;
        auto* sink = new DriverSink();
        if (sink != nullptr)
            sink->kind = kind;
        return sink;
    }

    int made = 0;
};

class ObjectPools : public ::testing::Test {
protected:
    void SetUp() override
    {
        env = new katest::TestEnvOf<PoolingConnection>(&control);
        BaseConnection* made = nullptr;
        ASSERT_EQ(env->newConnection(0, &made), 0);
        conn = static_cast<PoolingConnection*>(made);
    }
    void TearDown() override
    {
        delete conn;
        delete env;
    }

    katest::ErrorScope errors;
    katest::TestConnectionControl control;
    BaseEnv* env = nullptr;
    PoolingConnection* conn = nullptr;
};

}  // namespace

TEST_F(ObjectPools, EachKindIsAStackOfAtMost256)
{
    for (int32_t kind : {KA_STREAM_MEMORY, KA_STREAM_MULTI_MEMORY, KA_STREAM_TMPFILE}) {
        SCOPED_TRACE(kind);
        std::vector<KaDataSink*> sinks;
        for (size_t i = 0; i <= BaseConnection::kBaseObjectPoolDepth; ++i) {
            sinks.push_back(conn->acquireSink(kind));
            ASSERT_NE(sinks.back(), nullptr);
            EXPECT_EQ(sinks.back()->kind, kind);
        }
        for (KaDataSink* sink : sinks)
            conn->releaseSink(sink, kind);
        // The 257th was deleted, not kept.
        EXPECT_EQ(conn->sinkCount[kind], BaseConnection::kBaseObjectPoolDepth);
        // Released last, acquired first.
        EXPECT_EQ(conn->acquireSink(kind), sinks[BaseConnection::kBaseObjectPoolDepth - 1]);
        EXPECT_EQ(conn->acquireSink(kind), sinks[BaseConnection::kBaseObjectPoolDepth - 2]);
        conn->releaseSink(sinks[BaseConnection::kBaseObjectPoolDepth - 1], kind);
        conn->releaseSink(sinks[BaseConnection::kBaseObjectPoolDepth - 2], kind);
    }
    KaDataSource* first = conn->acquireSource(KA_STREAM_MULTI_MEMORY);
    KaDataSource* second = conn->acquireSource(KA_STREAM_MULTI_MEMORY);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    conn->releaseSource(first, KA_STREAM_MULTI_MEMORY);
    conn->releaseSource(second, KA_STREAM_MULTI_MEMORY);
    EXPECT_EQ(conn->acquireSource(KA_STREAM_MULTI_MEMORY), second);
    EXPECT_EQ(conn->acquireSource(KA_STREAM_MULTI_MEMORY), first);
    conn->releaseSource(first, KA_STREAM_MULTI_MEMORY);
    conn->releaseSource(second, KA_STREAM_MULTI_MEMORY);
}

TEST_F(ObjectPools, APooledSinkComesBackEmpty)
{
    KaDataSink* sink = conn->acquireSink(KA_STREAM_TMPFILE);
    ASSERT_NE(sink, nullptr);
    std::vector<uint8_t> bytes(200000, 0x5A);
    ASSERT_EQ(sink->write(bytes.data(), bytes.size(), 0), 0);
    conn->releaseSink(sink, KA_STREAM_TMPFILE);
    auto* again = static_cast<KaTmpFileSink*>(conn->acquireSink(KA_STREAM_TMPFILE));
    ASSERT_EQ(again, sink);
    EXPECT_EQ(again->total, 0u);
    conn->releaseSink(again, KA_STREAM_TMPFILE);
}

TEST_F(ObjectPools, MemorySinksAndSourcesAreReboundToTheCallersBytes)
{
    uint8_t first[8] = {};
    KaMemorySink* sink = conn->acquireMemorySink(first, sizeof first);
    ASSERT_NE(sink, nullptr);
    ASSERT_EQ(sink->write("abc", 3, 0), 0);
    EXPECT_EQ(std::memcmp(first, "abc", 3), 0);
    conn->releaseSink(sink, KA_STREAM_MEMORY);
    uint8_t second[4] = {};
    KaMemorySink* again = conn->acquireMemorySink(second, sizeof second);
    ASSERT_EQ(again, sink);
    EXPECT_EQ(again->position, 0u);
    ASSERT_EQ(again->write("xy", 2, 0), 0);
    EXPECT_EQ(std::memcmp(second, "xy", 2), 0);
    EXPECT_EQ(std::memcmp(first, "abc", 3), 0);
    conn->releaseSink(again, KA_STREAM_MEMORY);

    const char text[] = "value";
    KaMemorySource* source = conn->acquireMemorySource(text, 5);
    ASSERT_NE(source, nullptr);
    conn->releaseSource(source, KA_STREAM_MEMORY);
    const char other[] = "other!";
    KaMemorySource* reused = conn->acquireMemorySource(other, 6);
    ASSERT_EQ(reused, source);
    char out[8] = {};
    uint64_t count = 0;
    int32_t more = 1;
    ASSERT_EQ(reused->read(out, sizeof out, &count, &more), 0);
    EXPECT_EQ(std::string(out, count), "other!");
    conn->releaseSource(reused, KA_STREAM_MEMORY);
}

TEST_F(ObjectPools, AReleasedConverterGivesItsOwnSourceAndSinkBackByTheirKinds)
{
    struct Case {
        int32_t borrowed;
        int32_t sinkHeld;
    } cases[] = {{0, 0}, {1, 0}, {0, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.borrowed * 10 + c.sinkHeld);
        KaDataSource* source = conn->acquireSource(KA_STREAM_MULTI_MEMORY);
        KaDataSink* sink = conn->acquireSink(KA_STREAM_TMPFILE);
        ASSERT_NE(source, nullptr);
        ASSERT_NE(sink, nullptr);
        sink->notOwned = c.sinkHeld;
        KaDataConverter* converter = conn->acquireBinaryConverter(source, sink, KA_CVT_FORM_HEX, 0);
        ASSERT_NE(converter, nullptr);
        converter->borrowed = c.borrowed;
        uint64_t sources = conn->sourceCount[KA_STREAM_MULTI_MEMORY];
        uint64_t sinks = conn->sinkCount[KA_STREAM_TMPFILE];
        conn->releaseConverter(converter, KA_CVT_BINARY);
        EXPECT_EQ(conn->sourceCount[KA_STREAM_MULTI_MEMORY], sources + (c.borrowed ? 0 : 1));
        EXPECT_EQ(conn->sinkCount[KA_STREAM_TMPFILE], sinks + (c.sinkHeld ? 0 : 1));
        EXPECT_EQ(conn->acquireConverter(KA_CVT_BINARY), converter);
        conn->releaseConverter(converter, KA_CVT_BINARY);
        // What the converter left alone is still the caller's, and alive.
        if (c.borrowed)
            conn->releaseSource(source, KA_STREAM_MULTI_MEMORY);
        if (c.sinkHeld) {
            sink->notOwned = 0;
            conn->releaseSink(sink, KA_STREAM_TMPFILE);
        }
    }
}

TEST_F(ObjectPools, ACharConverterToACodePageWithoutConverterLeavesTheCallersObjects)
{
    KaDataSource* source = conn->acquireSource(KA_STREAM_MEMORY);
    KaDataSink* sink = conn->acquireSink(KA_STREAM_MULTI_MEMORY);
    ASSERT_NE(source, nullptr);
    ASSERT_NE(sink, nullptr);
    // A code page with an IANA number whose name ICU has no converter for.
    constexpr int64_t kNoConverter = 20;
    EXPECT_EQ(conn->acquireCharConverter(source, sink, kCodePageUtf8, kNoConverter, 1), nullptr);
    EXPECT_NE(errors.size(), 0u);
    // Both still usable: writing and releasing them touches no freed memory.
    EXPECT_EQ(sink->write("ok", 2, 0), 0);
    conn->releaseSource(source, KA_STREAM_MEMORY);
    conn->releaseSink(sink, KA_STREAM_MULTI_MEMORY);
    KaCharConverter* converter =
        conn->acquireCharConverter(conn->acquireSource(KA_STREAM_MEMORY), conn->acquireSink(KA_STREAM_MULTI_MEMORY),
                                   kCodePageUtf8, kCodePageUtf16LE, 1);
    ASSERT_NE(converter, nullptr);
    EXPECT_EQ(converter->pool, &conn->icuCache);
    conn->releaseConverter(converter, KA_CVT_CHAR);
}

TEST_F(ObjectPools, TheDriversKindsAreMadeByTheDriverAndKindsAboveAreNeverPooled)
{
    KaDataSink* own = conn->acquireSink(7);
    ASSERT_NE(own, nullptr);
    conn->releaseSink(own, 7);
    EXPECT_EQ(gDriverSinks, 0);
    KaDataSink* again = conn->acquireSink(7);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(conn->made, 2);
    conn->releaseSink(again, 7);
    EXPECT_EQ(gDriverSinks, 0);
    // Kind 0 is the driver's too, and pooled; the connection's end frees it.
    KaDataSink* zero = conn->acquireSink(0);
    ASSERT_NE(zero, nullptr);
    conn->releaseSink(zero, 0);
    EXPECT_EQ(conn->acquireSink(0), zero);
    conn->releaseSink(zero, 0);
    // The base connection has no kinds of its own.
    EXPECT_EQ(conn->BaseConnection::newSinkKind(7), nullptr);
    EXPECT_EQ(conn->BaseConnection::newConverterKind(9), nullptr);
}
