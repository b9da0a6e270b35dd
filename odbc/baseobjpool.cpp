// The pools of sinks, sources and converters of the physical connection
// and of each statement: one value takes one of each from the stack of its
// kind and gives it back, so that moving a value costs neither an allocation
// nor an initialisation. Which of the two pools serves is the threading
// model's choice: the connection's when its statements share it, else the
// statement's own.
#include <cstddef>
#include <cstdint>

#include "convert/datacvt.h"
#include "odbc/baseconn.h"
#include "odbc/baseerr.h"
#include "odbc/basestmt.h"
#include "platform/kastream.h"
#include "platform/katmpsink.h"

namespace {

// Kinds of sinks and sources the pools hold (0 to 4), and of converters (0
// to 6); kind 5 sinks and sources are the driver's and never pooled.
constexpr int32_t kPooledStreamKinds = 5;
constexpr int32_t kPooledConverterKinds = 7;
constexpr int32_t kDriverStreamKind = 4;
constexpr int32_t kDriverConverterKind = 6;

template <class T>
T* pop(T** stack, uint64_t* count) noexcept
{
    if (*count == 0)
        return nullptr;
    --*count;
    T* object = stack[*count];
    stack[*count] = nullptr;
    return object;
}

template <class T>
void emptyStack(T** stack, uint64_t* count) noexcept
{
    while (*count != 0)
        delete pop(stack, count);
}

// Pools the object when its kind is pooled and its stack has room and the
// object resets (reset runs only then); deletes it otherwise.
template <class T, size_t Depth, class Reset>
void keepOrDelete(T* object, int32_t kind, int32_t kinds, T* (*pools)[Depth], uint64_t* counts, Reset reset) noexcept
{
    if (object == nullptr)
        return;
    if (kind < 0 || kind >= kinds || counts[kind] >= Depth || reset(object) != 0) {
        delete object;
        return;
    }
    pools[kind][counts[kind]++] = object;
}

int sinkReset(KaDataSink* sink) noexcept
{
    return sink->discard();
}

int sourceReset(KaDataSource* source) noexcept
{
    return source->finish();
}

int converterReset(KaDataConverter* converter) noexcept
{
    return converter->closeConverters();
}

// Detaches the converter's source and sinks and hands each to `owner`'s
// pools, except a borrowed source and sinks their holders keep.
template <class Owner>
void releaseParts(KaDataConverter* converter, Owner* owner) noexcept
{
    KaDataSource* source = converter->source;
    converter->source = nullptr;
    if (source != nullptr && converter->borrowed == 0)
        owner->releaseSource(source, source->kind);
    KaDataSink* second = converter->secondSink;
    KaDataSink* sink = converter->sink;
    converter->secondSink = nullptr;
    converter->sink = nullptr;
    if (second != nullptr && second->notOwned == 0)
        owner->releaseSink(second, second->kind);
    if (sink != nullptr && sink != second && sink->notOwned == 0)
        owner->releaseSink(sink, sink->kind);
}

// A memory sink taken from a pool, pointed at the caller's bytes; a pooled
// one is empty already.
void pointMemorySink(KaMemorySink* sink, void* buffer, uint64_t size) noexcept
{
    sink->buffer = static_cast<uint8_t*>(buffer);
    sink->capacity = size;
    sink->position = 0;
    sink->owns = 0;
    sink->truncated = 0;
}

void pointMemorySource(KaMemorySource* source, const void* data, uint64_t size) noexcept
{
    if (source->owns != 0)
        (void)source->release();
    source->data = static_cast<const uint8_t*>(data);
    source->length = size;
    source->owns = 0;
    source->position = 0;
}

// The memory stream a maker made for the memory kind; a maker of another
// class would make a wrong cast: its object is deleted and the general error
// posted.
template <class Memory, class T>
Memory* memoryKind(T* object) noexcept
{
    auto* memory = dynamic_cast<Memory*>(object);
    if (memory == nullptr && object != nullptr) {
        delete object;
        basePostError(kBaseIdxGeneralError);
    }
    return memory;
}

// An object just made is opened; one that does not open is deleted.
template <class T>
T* opened(T* object) noexcept
{
    if (object != nullptr && object->open() != 0) {
        delete object;
        return nullptr;
    }
    return object;
}

// Converts under the connection's error mode with the converter cache
// given; the simple kind has no cache.
void setCharMode(KaDataConverter* converter, int32_t kind, int32_t mode, KaIcuCache* cache) noexcept
{
    if (kind == KA_CVT_CHAR || kind == KA_CVT_CHAR_INPUT) {
        auto* chars = static_cast<KaCharConverterBase*>(converter);
        chars->mode = mode;
        chars->pool = cache;
    } else if (kind == KA_CVT_SIMPLE_CHAR) {
        static_cast<KaSimpleCharConverter*>(converter)->mode = mode;
    }
}

// A new converter of one of the framework's kinds (null for another kind).
KaDataConverter* newOwnConverter(int32_t kind) noexcept
{
    switch (kind) {
    case KA_CVT_BINARY: return new KaBinaryConverter();
    case KA_CVT_CHAR: return new KaCharConverter();
    case KA_CVT_BINARY_INPUT: return new KaBinaryConverterInput();
    case KA_CVT_CHAR_INPUT: return new KaCharConverterInput();
    case KA_CVT_SIMPLE_CHAR: return new KaSimpleCharConverter();
    default: return nullptr;
    }
}

bool ownConverterKind(int32_t kind) noexcept
{
    return kind >= KA_CVT_BINARY && kind <= KA_CVT_SIMPLE_CHAR;
}

// The built-in makers of the statement's pools.
KaDataSink* makeStatementSink(BaseStatement* stmt, int kind) noexcept
{
    BaseConnection* conn = stmt->connection;
    switch (kind) {
    case KA_STREAM_MEMORY: return opened<KaDataSink>(new KaMemorySink());
    case KA_STREAM_MULTI_MEMORY: return opened<KaDataSink>(new KaMultiMemorySink(KA_STREAM_CHUNK_SIZE));
    case KA_STREAM_TMPFILE:
        return opened<KaDataSink>(new KaTmpFileSink(conn != nullptr ? conn->tmpSinkBufferSize : KA_TMP_SOURCE_BLOCK));
    default: break;
    }
    if (conn == nullptr) {
        basePostError(kBaseIdxGeneralError);
        return nullptr;
    }
    return conn->newSinkKind(kind);
}

KaDataSource* makeStatementSource(BaseStatement* stmt, int kind) noexcept
{
    switch (kind) {
    case KA_STREAM_MEMORY: return opened<KaDataSource>(new KaMemorySource());
    case KA_STREAM_MULTI_MEMORY: return opened<KaDataSource>(new KaMultiMemorySource(KA_STREAM_CHUNK_SIZE));
    case KA_STREAM_TMPFILE: return opened<KaDataSource>(new KaTmpFileSource(KA_TMP_SOURCE_BLOCK));
    default: break;
    }
    if (stmt->connection == nullptr) {
        basePostError(kBaseIdxGeneralError);
        return nullptr;
    }
    return stmt->connection->newSourceKind(kind);
}

KaDataConverter* makeStatementConverter(BaseStatement* stmt, int kind) noexcept
{
    BaseConnection* conn = stmt->connection;
    if (!ownConverterKind(kind)) {
        if (conn == nullptr) {
            basePostError(kBaseIdxGeneralError);
            return nullptr;
        }
        return conn->newConverterKind(kind);
    }
    KaDataConverter* converter = newOwnConverter(kind);
    if (converter == nullptr)
        return nullptr;
    const auto mode = conn != nullptr ? static_cast<int32_t>(conn->reportCodepageConversionErrors) : 0;
    setCharMode(converter, kind, mode, stmt->charConversionContext());
    return opened(converter);
}

BasePoolMakers gMakers{makeStatementSink, makeStatementSource, makeStatementConverter};

template <class T>
T* make(T* (*maker)(BaseStatement*, int) noexcept, BaseStatement* stmt, int kind) noexcept
{
    // A maker that fails has posted why.
    if (maker != nullptr)
        return maker(stmt, kind);
    basePostError(kBaseIdxGeneralError);
    return nullptr;
}

// The binary converter's binding, and the character one's: a failure leaves
// the caller's source and sink alone and deletes the converter.
template <class Owner>
KaDataConverter* bindBinary(Owner* owner, KaDataSource* source, KaDataSink* sink, int32_t form,
                            int32_t terminate) noexcept
{
    KaDataConverter* converter = owner->acquireConverter(KA_CVT_BINARY);
    if (converter == nullptr)
        return nullptr;
    converter->setSourceSink(source, sink, form, terminate);
    return converter;
}

template <class Owner>
KaCharConverter* bindChar(Owner* owner, KaDataSource* source, KaDataSink* sink, int64_t fromCodePage,
                          int64_t toCodePage, int32_t terminate) noexcept
{
    auto* converter = static_cast<KaCharConverter*>(owner->acquireConverter(KA_CVT_CHAR));
    if (converter == nullptr)
        return nullptr;
    if (converter->setCodePages(source, sink, fromCodePage, toCodePage, terminate) != 0) {
        converter->source = nullptr;
        converter->sink = nullptr;
        converter->secondSink = nullptr;
        delete converter;
        return nullptr;
    }
    return converter;
}

}  // namespace

BasePoolMakers baseSetPoolMakers(const BasePoolMakers& makers) noexcept
{
    BasePoolMakers old = gMakers;
    gMakers = makers;
    return old;
}

KaDataSink* BaseConnection::newSinkKind(int32_t) noexcept
{
    basePostError(kBaseIdxGeneralError);
    return nullptr;
}

KaDataSource* BaseConnection::newSourceKind(int32_t) noexcept
{
    basePostError(kBaseIdxGeneralError);
    return nullptr;
}

KaDataConverter* BaseConnection::newConverterKind(int32_t) noexcept
{
    basePostError(kBaseIdxGeneralError);
    return nullptr;
}

KaDataSink* BaseConnection::acquireSink(int32_t kind) noexcept
{
    if (kind >= 0 && kind < kPooledStreamKinds) {
        if (KaDataSink* pooledSink = pop(sinkPool[kind], &sinkCount[kind]))
            return pooledSink;
    }
    switch (kind) {
    case KA_STREAM_MEMORY: return opened<KaDataSink>(new KaMemorySink());
    case KA_STREAM_MULTI_MEMORY: return opened<KaDataSink>(new KaMultiMemorySink(KA_STREAM_CHUNK_SIZE));
    case KA_STREAM_TMPFILE: return opened<KaDataSink>(new KaTmpFileSink(tmpSinkBufferSize));
    default: return newSinkKind(kind);
    }
}

KaMemorySink* BaseConnection::acquireMemorySink(void* buffer, uint64_t size) noexcept
{
    auto* sink = static_cast<KaMemorySink*>(pop(sinkPool[KA_STREAM_MEMORY], &sinkCount[KA_STREAM_MEMORY]));
    if (sink == nullptr)
        sink = static_cast<KaMemorySink*>(opened<KaDataSink>(new KaMemorySink()));
    if (sink != nullptr)
        pointMemorySink(sink, buffer, size);
    return sink;
}

void BaseConnection::releaseSink(KaDataSink* sink, int32_t kind) noexcept
{
    keepOrDelete(sink, kind, kPooledStreamKinds, sinkPool, sinkCount, sinkReset);
}

KaDataSource* BaseConnection::acquireSource(int32_t kind) noexcept
{
    if (kind >= 0 && kind < kPooledStreamKinds) {
        if (KaDataSource* pooledSource = pop(sourcePool[kind], &sourceCount[kind]))
            return pooledSource;
    }
    switch (kind) {
    case KA_STREAM_MEMORY: return opened<KaDataSource>(new KaMemorySource());
    case KA_STREAM_MULTI_MEMORY: return opened<KaDataSource>(new KaMultiMemorySource(KA_STREAM_CHUNK_SIZE));
    case KA_STREAM_TMPFILE: return opened<KaDataSource>(new KaTmpFileSource(KA_TMP_SOURCE_BLOCK));
    default: return newSourceKind(kind);
    }
}

KaMemorySource* BaseConnection::acquireMemorySource(const void* data, uint64_t size) noexcept
{
    auto* source = static_cast<KaMemorySource*>(pop(sourcePool[KA_STREAM_MEMORY], &sourceCount[KA_STREAM_MEMORY]));
    if (source == nullptr)
        source = static_cast<KaMemorySource*>(opened<KaDataSource>(new KaMemorySource()));
    if (source != nullptr)
        pointMemorySource(source, data, size);
    return source;
}

void BaseConnection::releaseSource(KaDataSource* source, int32_t kind) noexcept
{
    keepOrDelete(source, kind, kPooledStreamKinds, sourcePool, sourceCount, sourceReset);
}

KaDataConverter* BaseConnection::acquireConverter(int32_t kind) noexcept
{
    if (kind >= 0 && kind < kPooledConverterKinds) {
        if (KaDataConverter* pooledConverter = pop(converterPool[kind], &converterCount[kind]))
            return pooledConverter;
    }
    if (!ownConverterKind(kind))
        return newConverterKind(kind);
    KaDataConverter* converter = newOwnConverter(kind);
    if (converter == nullptr)
        return nullptr;
    setCharMode(converter, kind, static_cast<int32_t>(reportCodepageConversionErrors), &icuCache);
    return opened(converter);
}

void BaseConnection::releaseConverter(KaDataConverter* converter, int32_t kind) noexcept
{
    if (converter == nullptr || converter->notPooled != 0)
        return;
    releaseParts(converter, this);
    keepOrDelete(converter, kind, kPooledConverterKinds, converterPool, converterCount, converterReset);
}

KaDataConverter* BaseConnection::acquireBinaryConverter(KaDataSource* source, KaDataSink* sink, int32_t form,
                                                        int32_t terminate) noexcept
{
    return bindBinary(this, source, sink, form, terminate);
}

KaCharConverter* BaseConnection::acquireCharConverter(KaDataSource* source, KaDataSink* sink, int64_t fromCodePage,
                                                      int64_t toCodePage, int32_t terminate) noexcept
{
    return bindChar(this, source, sink, fromCodePage, toCodePage, terminate);
}

void BaseConnection::emptyObjectPools() noexcept
{
    // Kind 0 is emptied too: the driver's own objects are pooled like the
    // others and would otherwise outlive the connection.
    for (int32_t kind = 0; kind <= kDriverStreamKind; ++kind) {
        emptyStack(sinkPool[kind], &sinkCount[kind]);
        emptyStack(sourcePool[kind], &sourceCount[kind]);
    }
    for (int32_t kind = 0; kind <= kDriverConverterKind; ++kind)
        emptyStack(converterPool[kind], &converterCount[kind]);
}

// ---- The statement's pools ---------------------------------------------------------

KaDataSink* BaseStatement::acquireSink(int kind) noexcept
{
    if (kind >= 0 && kind < kBaseSinkKinds) {
        if (KaDataSink* pooled = pop(sinkPools[kind], &sinkCounts[kind]))
            return pooled;
    }
    return make(gMakers.makeSink, this, kind);
}

KaDataSource* BaseStatement::acquireSource(int kind) noexcept
{
    if (kind >= 0 && kind < kBaseSourceKinds) {
        if (KaDataSource* pooled = pop(sourcePools[kind], &sourceCounts[kind]))
            return pooled;
    }
    return make(gMakers.makeSource, this, kind);
}

KaDataConverter* BaseStatement::acquireConverter(int kind) noexcept
{
    if (kind >= 0 && kind < kBaseConverterKinds) {
        if (KaDataConverter* pooled = pop(converterPools[kind], &converterCounts[kind]))
            return pooled;
    }
    return make(gMakers.makeConverter, this, kind);
}

KaMemorySink* BaseStatement::acquireMemorySink(void* buffer, uint64_t size) noexcept
{
    KaMemorySink* memory = memoryKind<KaMemorySink>(acquireSink(KA_STREAM_MEMORY));
    if (memory != nullptr)
        pointMemorySink(memory, buffer, size);
    return memory;
}

KaMemorySource* BaseStatement::acquireMemorySource(const void* data, uint64_t size) noexcept
{
    KaMemorySource* memory = memoryKind<KaMemorySource>(acquireSource(KA_STREAM_MEMORY));
    if (memory != nullptr)
        pointMemorySource(memory, data, size);
    return memory;
}

void BaseStatement::releaseSink(KaDataSink* sink, int kind) noexcept
{
    keepOrDelete(sink, kind, kBaseSinkKinds, sinkPools, sinkCounts, sinkReset);
}

void BaseStatement::releaseSource(KaDataSource* source, int kind) noexcept
{
    keepOrDelete(source, kind, kBaseSourceKinds, sourcePools, sourceCounts, sourceReset);
}

void BaseStatement::releaseConverter(KaDataConverter* converter, int kind) noexcept
{
    if (converter == nullptr || converter->notPooled != 0)
        return;
    if (connection != nullptr && connection->threadModel != 0)
        releaseParts(converter, connection);
    else
        releaseParts(converter, this);
    keepOrDelete(converter, kind, kBaseConverterKinds, converterPools, converterCounts, converterReset);
}

void BaseStatement::returnSink(KaDataSink* sink, int kind) noexcept
{
    if (connection != nullptr && connection->threadModel != 0)
        connection->releaseSink(sink, kind);
    else
        releaseSink(sink, kind);
}

void BaseStatement::returnConverter(KaDataConverter* converter) noexcept
{
    if (converter == nullptr)
        return;
    if (connection != nullptr && connection->threadModel != 0)
        connection->releaseConverter(converter, converter->kind);
    else
        releaseConverter(converter, converter->kind);
}

void BaseStatement::returnSource(KaDataSource* source, int kind) noexcept
{
    if (connection != nullptr && connection->threadModel != 0)
        connection->releaseSource(source, kind);
    else
        releaseSource(source, kind);
}

void BaseStatement::releaseLongDataSink(KaObject* object) noexcept
{
    auto* sink = dynamic_cast<KaDataSink*>(object);
    if (sink == nullptr) {
        delete object;
        return;
    }
    // The record held it against converters; pooled, it is anyone's again.
    sink->notOwned = 0;
    returnSink(sink, sink->kind);
}

void BaseStatement::emptyPools() noexcept
{
    // Every kind, kind 0 included, last pooled first.
    for (int k = 0; k < kBaseSinkKinds; ++k)
        emptyStack(sinkPools[k], &sinkCounts[k]);
    for (int k = 0; k < kBaseSourceKinds; ++k)
        emptyStack(sourcePools[k], &sourceCounts[k]);
    for (int k = 0; k < kBaseConverterKinds; ++k)
        emptyStack(converterPools[k], &converterCounts[k]);
}

KaDataConverter* BaseStatement::makeBinaryConverter(KaDataSource* source, KaDataSink* sink, int32_t form,
                                                    int32_t terminate) noexcept
{
    return bindBinary(this, source, sink, form, terminate);
}

KaCharConverter* BaseStatement::makeCharConverter(KaDataSource* source, KaDataSink* sink, int64_t fromCodePage,
                                                  int64_t toCodePage, int32_t terminate) noexcept
{
    return bindChar(this, source, sink, fromCodePage, toCodePage, terminate);
}
