// The physical connection's pools of sinks, sources and converters: one
// value takes one of each from the stack of its kind and gives it back, so
// that moving a value costs neither an allocation nor an initialisation.
#include <cstddef>
#include <cstdint>

#include "convert/datacvt.h"
#include "odbc/baseconn.h"
#include "odbc/baseerr.h"
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

}  // namespace

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
    KaDataSink* sink = nullptr;
    switch (kind) {
    case KA_STREAM_MEMORY: sink = new KaMemorySink(); break;
    case KA_STREAM_MULTI_MEMORY: sink = new KaMultiMemorySink(KA_STREAM_CHUNK_SIZE); break;
    case KA_STREAM_TMPFILE: sink = new KaTmpFileSink(tmpSinkBufferSize); break;
    default: return newSinkKind(kind);
    }
    if (sink == nullptr)
        return nullptr;
    if (sink->open() != 0) {
        delete sink;
        return nullptr;
    }
    return sink;
}

KaMemorySink* BaseConnection::acquireMemorySink(void* buffer, uint64_t size) noexcept
{
    auto* sink = static_cast<KaMemorySink*>(pop(sinkPool[KA_STREAM_MEMORY], &sinkCount[KA_STREAM_MEMORY]));
    if (sink != nullptr) {
        // Rebound by its fields: a pooled memory sink is empty already.
        sink->buffer = static_cast<uint8_t*>(buffer);
        sink->capacity = size;
        sink->position = 0;
        sink->owns = 0;
        sink->truncated = 0;
        return sink;
    }
    sink = new KaMemorySink();
    if (sink == nullptr)
        return nullptr;
    (void)sink->open();
    sink->attach(buffer, size);
    return sink;
}

void BaseConnection::releaseSink(KaDataSink* sink, int32_t kind) noexcept
{
    if (sink == nullptr)
        return;
    if (kind < 0 || kind >= kPooledStreamKinds || sinkCount[kind] >= kBaseObjectPoolDepth || sink->discard() != 0) {
        delete sink;
        return;
    }
    sinkPool[kind][sinkCount[kind]++] = sink;
}

KaDataSource* BaseConnection::acquireSource(int32_t kind) noexcept
{
    if (kind >= 0 && kind < kPooledStreamKinds) {
        if (KaDataSource* pooledSource = pop(sourcePool[kind], &sourceCount[kind]))
            return pooledSource;
    }
    KaDataSource* source = nullptr;
    switch (kind) {
    case KA_STREAM_MEMORY: source = new KaMemorySource(); break;
    case KA_STREAM_MULTI_MEMORY: source = new KaMultiMemorySource(KA_STREAM_CHUNK_SIZE); break;
    case KA_STREAM_TMPFILE: source = new KaTmpFileSource(KA_TMP_SOURCE_BLOCK); break;
    default: return newSourceKind(kind);
    }
    if (source == nullptr)
        return nullptr;
    if (source->open() != 0) {
        delete source;
        return nullptr;
    }
    return source;
}

KaMemorySource* BaseConnection::acquireMemorySource(const void* data, uint64_t size) noexcept
{
    auto* source = static_cast<KaMemorySource*>(pop(sourcePool[KA_STREAM_MEMORY], &sourceCount[KA_STREAM_MEMORY]));
    if (source == nullptr) {
        source = new KaMemorySource();
        if (source == nullptr)
            return nullptr;
        (void)source->open();
    } else if (source->owns != 0) {
        (void)source->release();
    }
    source->data = static_cast<const uint8_t*>(data);
    source->length = size;
    source->owns = 0;
    source->position = 0;
    return source;
}

void BaseConnection::releaseSource(KaDataSource* source, int32_t kind) noexcept
{
    if (source == nullptr)
        return;
    if (kind < 0 || kind >= kPooledStreamKinds || sourceCount[kind] >= kBaseObjectPoolDepth || source->finish() != 0) {
        delete source;
        return;
    }
    sourcePool[kind][sourceCount[kind]++] = source;
}

KaDataConverter* BaseConnection::acquireConverter(int32_t kind) noexcept
{
    if (kind >= 0 && kind < kPooledConverterKinds) {
        if (KaDataConverter* pooledConverter = pop(converterPool[kind], &converterCount[kind]))
            return pooledConverter;
    }
    KaDataConverter* converter = nullptr;
    switch (kind) {
    case KA_CVT_BINARY: converter = new KaBinaryConverter(); break;
    case KA_CVT_CHAR: converter = new KaCharConverter(); break;
    case KA_CVT_BINARY_INPUT: converter = new KaBinaryConverterInput(); break;
    case KA_CVT_CHAR_INPUT: converter = new KaCharConverterInput(); break;
    case KA_CVT_SIMPLE_CHAR: converter = new KaSimpleCharConverter(); break;
    default: return newConverterKind(kind);
    }
    if (converter == nullptr)
        return nullptr;
    // The character kinds convert under the connection's error mode, with
    // its converter cache.
    auto mode = static_cast<int32_t>(reportCodepageConversionErrors);
    if (kind == KA_CVT_CHAR || kind == KA_CVT_CHAR_INPUT) {
        auto* chars = static_cast<KaCharConverterBase*>(converter);
        chars->mode = mode;
        chars->pool = &icuCache;
    } else if (kind == KA_CVT_SIMPLE_CHAR) {
        static_cast<KaSimpleCharConverter*>(converter)->mode = mode;
    }
    if (converter->open() != 0) {
        delete converter;
        return nullptr;
    }
    return converter;
}

void BaseConnection::releaseConverter(KaDataConverter* converter, int32_t kind) noexcept
{
    if (converter == nullptr)
        return;
    KaDataSource* source = converter->source;
    converter->source = nullptr;
    if (source != nullptr && converter->borrowed == 0)
        releaseSource(source, source->kind);
    KaDataSink* second = converter->secondSink;
    KaDataSink* sink = converter->sink;
    converter->secondSink = nullptr;
    converter->sink = nullptr;
    if (second != nullptr && second->notOwned == 0)
        releaseSink(second, second->kind);
    if (sink != nullptr && sink != second && sink->notOwned == 0)
        releaseSink(sink, sink->kind);
    if (kind < 0 || kind >= kPooledConverterKinds || converterCount[kind] >= kBaseObjectPoolDepth ||
        converter->closeConverters() != 0) {
        delete converter;
        return;
    }
    converterPool[kind][converterCount[kind]++] = converter;
}

KaDataConverter* BaseConnection::acquireBinaryConverter(KaDataSource* source, KaDataSink* sink, int32_t form,
                                                        int32_t terminate) noexcept
{
    KaDataConverter* converter = acquireConverter(KA_CVT_BINARY);
    if (converter == nullptr)
        return nullptr;
    converter->setSourceSink(source, sink, form, terminate);
    return converter;
}

KaCharConverter* BaseConnection::acquireCharConverter(KaDataSource* source, KaDataSink* sink, int64_t fromCodePage,
                                                      int64_t toCodePage, int32_t terminate) noexcept
{
    auto* converter = static_cast<KaCharConverter*>(acquireConverter(KA_CVT_CHAR));
    if (converter == nullptr)
        return nullptr;
    if (converter->setCodePages(source, sink, fromCodePage, toCodePage, terminate) != 0) {
        // The caller's source and sink survive the converter.
        converter->source = nullptr;
        converter->sink = nullptr;
        converter->secondSink = nullptr;
        delete converter;
        return nullptr;
    }
    return converter;
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
