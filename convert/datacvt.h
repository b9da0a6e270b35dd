// Streaming converters: KaDataConverter pumps the bytes of a KaDataSource
// into a KaDataSink, changing their form on the way (binary bytes to hex
// text and back, or text from one code page to another), block by block and
// window by window, carrying whatever a block or window border cuts in two
// (a character, a surrogate pair, a hex digit) over to the next step. Long
// column values reach the application through them, parameter text the
// server; connections and statements keep them in per-kind pools.
#pragma once
#include <cstdint>

#include <unicode/ucnv.h>

#include "foundation/icucache.h"
#include "foundation/kaobject.h"
#include "platform/kastream.h"
#include "platform/katmpsink.h"

// Kinds of converters: the index of the owner's pool they belong to.
constexpr int32_t KA_CVT_BINARY = 1;
constexpr int32_t KA_CVT_CHAR = 2;
constexpr int32_t KA_CVT_BINARY_INPUT = 3;
constexpr int32_t KA_CVT_CHAR_INPUT = 4;
constexpr int32_t KA_CVT_SIMPLE_CHAR = 5;

// Forms of the binary kinds.
constexpr int32_t KA_CVT_FORM_BYTES = 0;
constexpr int32_t KA_CVT_FORM_HEX = 1;    // upper-case hex, narrow: two bytes per byte
constexpr int32_t KA_CVT_FORM_HEX_W = 2;  // upper-case hex, UTF-16: four bytes per byte

// Own output buffers for sinks that lend no windows.
constexpr uint64_t KA_CVT_BINARY_BUFFER = 16384;
constexpr uint64_t KA_CVT_CHAR_BUFFER = 4096;
// UTF-16 units of the character kinds' pivot.
constexpr uint64_t KA_CVT_PIVOT_UNITS = 8192;
// Most bytes of one character that a last window can hold back.
constexpr uint64_t KA_CVT_CARRY_MAX = 4;

class KaDataConverter : public KaObject {
public:
    ~KaDataConverter() override;
    KaDataConverter(const KaDataConverter&) = delete;
    KaDataConverter& operator=(const KaDataConverter&) = delete;

    // Moves as much as the sink takes; `finished` tells whether the whole
    // value has been delivered.
    [[nodiscard]] virtual int convert() noexcept = 0;
    [[nodiscard]] virtual int open() noexcept = 0;
    // The same value again from its first byte.
    [[nodiscard]] virtual int rewind() noexcept;
    [[nodiscard]] virtual int prepareOutput() noexcept;
    // The expected input length (bytes, or characters when bytes are -1),
    // so that the output length can be known.
    virtual void setLength(int64_t bytes, int64_t characters) noexcept;
    // Converts the whole value into a temporary file and reads from that
    // from now on; the old source goes back to the caller.
    [[nodiscard]] virtual int convertToSource(KaTmpFileSink* tmpSink, KaTmpFileSource* tmpSource,
                                              KaDataSource** oldSource) noexcept;
    virtual int closeConverters() noexcept { return 0; }

    // The binary kinds (the input kind takes the form only).
    void setSourceSink(KaDataSource* newSource, KaDataSink* newSink, int32_t form, int32_t terminate) noexcept;

    KaDataSource* source;
    KaDataSink* sink;
    KaDataSink* secondSink;
    int64_t remaining;  // output bytes still expected; -1 when not known
    int32_t lastCall;
    int32_t borrowed;       // the source is not the converter's to destroy
    int32_t notPooled = 0;  // its holder keeps it: a release leaves it alone
    int32_t kind;
    int32_t finished;  // the whole value has reached the sink
    int32_t form;      // the binary kinds' form

protected:
    KaDataConverter(int32_t kind, uint64_t ownSize) noexcept;

    void attach(KaDataSource* newSource, KaDataSink* newSink) noexcept;
    // Bytes that may still be written into the current window, the
    // terminator's room kept free in the last one.
    uint64_t room() const noexcept;
    bool lastWindow() const noexcept { return windowMore == 0; }
    // Hands the bytes written to the sink; more 0 ends the value. With
    // more 1 the next window is taken when the sink offers one; *stop is set
    // when it does not.
    [[nodiscard]] int emit(int32_t more, bool* stop) noexcept;
    // The terminator after the data, when it fits the last window.
    void terminateWindow() noexcept;
    // The next block of the source when the current one is used up; false
    // at the end of the value.
    [[nodiscard]] int pull(bool* gotBlock) noexcept;

    uint8_t* ownBuffer;
    uint64_t ownSize;
    uint8_t* windowStart;
    uint64_t windowSpace;
    uint64_t writePos;
    int32_t sourceMore;
    int32_t windowMore;
    int32_t hasWindow;
    int32_t outputOpen;  // a window (or the own buffer) is ready to write into
    const uint8_t* block;
    uint64_t blockLeft;
    int32_t terminate;
    uint64_t terminatorSize;
};

// Bytes to bytes, hex text or UTF-16 hex text.
class KaBinaryConverter : public KaDataConverter {
public:
    KaBinaryConverter() noexcept;
    ~KaBinaryConverter() override;

    [[nodiscard]] int convert() noexcept override;
    [[nodiscard]] int open() noexcept override;
    void setLength(int64_t bytes, int64_t characters) noexcept override;
    [[nodiscard]] int convertToSource(KaTmpFileSink* tmpSink, KaTmpFileSource* tmpSource,
                                      KaDataSource** oldSource) noexcept override;

private:
    // Bytes of one output unit that a non-last window could not take whole.
    uint8_t pendingUnit[4];
    uint32_t pendingCount;
};

// Hex text (narrow or UTF-16) or bytes to bytes.
class KaBinaryConverterInput : public KaDataConverter {
public:
    KaBinaryConverterInput() noexcept;
    ~KaBinaryConverterInput() override;

    [[nodiscard]] int convert() noexcept override;
    [[nodiscard]] int open() noexcept override;
    [[nodiscard]] int rewind() noexcept override;
    // Hands the sink what is held back, more 0, unless lastCall was set.
    [[nodiscard]] int finish() noexcept;

    uint32_t carryCount;
    uint8_t carry[4];
};

// The shared body of the two character kinds: source bytes into a UTF-16
// pivot, the pivot into the target code page, and the target bytes into the
// sink's windows, or a plain copy when both code pages are one.
class KaCharConverterBase : public KaDataConverter {
public:
    ~KaCharConverterBase() override;

    [[nodiscard]] int convert() noexcept override;
    [[nodiscard]] int open() noexcept override;
    [[nodiscard]] int rewind() noexcept override;
    void setLength(int64_t bytes, int64_t characters) noexcept override;
    int closeConverters() noexcept override;

    int64_t from;
    int64_t to;
    KaIcuCache* pool;  // the owner's converter pool, or none
    int32_t mode;      // ReportCodepageConversionErrors
    int32_t substituted;
    int32_t deferredStatus;  // an ICU failure, reported again at the next call
    uint16_t maxCharSize;
    uint16_t minCharSize;

protected:
    KaCharConverterBase(int32_t kind, int64_t from, int64_t to, int32_t terminate, int32_t mode) noexcept;
    [[nodiscard]] int setCodePagesBody(KaDataSource* newSource, KaDataSink* newSink, int64_t newFrom, int64_t newTo,
                                       int32_t newTerminate) noexcept;

private:
    struct Handle {
        UConverter* converter;
        KaConvCallbackContext* context;
        int64_t codePage;
        int32_t pooled;
    };
    [[nodiscard]] int openHandle(Handle* h, int64_t codePage) noexcept;
    void closeHandle(Handle* h) noexcept;
    void resetConverters() noexcept;
    [[nodiscard]] int setupSizes() noexcept;
    [[nodiscard]] int copyValue() noexcept;
    [[nodiscard]] int convertValue() noexcept;
    [[nodiscard]] int fillStage() noexcept;
    [[nodiscard]] bool fillStageUtf16LE(uint64_t held) noexcept;
    [[nodiscard]] int fail(int32_t status) noexcept;
    // Bytes at the end of text[0, n) that begin a character the text does
    // not complete.
    [[nodiscard]] int incompleteTail(const uint8_t* text, uint64_t n, uint64_t* cut) noexcept;
    bool substitutionsSeen() noexcept;

    Handle sourceConv;
    Handle targetConv;
    Handle boundaryConv;  // finds character borders of a copy in variable-width text
    UChar pivot[KA_CVT_PIVOT_UNITS];
    uint64_t pivotStart;
    uint64_t pivotEnd;
    uint8_t stage[KA_CVT_CHAR_BUFFER];
    int32_t stageOffsets[KA_CVT_CHAR_BUFFER];
    uint8_t stageCharStart[KA_CVT_CHAR_BUFFER];
    uint64_t stageStart;
    uint64_t stageEnd;
    uint64_t stageHeld;           // bytes after stageEnd of a character still being converted
    int32_t targetConverterUsed;  // the target converter has worked on this value
    int32_t toFlushed;            // the source converter was flushed at the end of the input
    int32_t fromFlushed;          // the target converter was flushed
    uint32_t carryCount;
    uint8_t carry[KA_CVT_CARRY_MAX];
};

// Text from the server's code page to the application's, terminated.
class KaCharConverter : public KaCharConverterBase {
public:
    KaCharConverter() noexcept;
    KaCharConverter(KaDataSource* source, KaDataSink* sink, int64_t from, int64_t to, int32_t terminate,
                    int32_t mode) noexcept;
    ~KaCharConverter() override;

    [[nodiscard]] int setCodePages(KaDataSource* newSource, KaDataSink* newSink, int64_t newFrom, int64_t newTo,
                                   int32_t newTerminate) noexcept;
    [[nodiscard]] int convertToSource(KaTmpFileSink* tmpSink, KaTmpFileSource* tmpSource,
                                      KaDataSource** oldSource) noexcept override;
};

// Parameter text towards the server: no terminator.
class KaCharConverterInput : public KaCharConverterBase {
public:
    KaCharConverterInput() noexcept;
    KaCharConverterInput(KaDataSource* source, KaDataSink* sink, int64_t from, int64_t to, int32_t mode) noexcept;
    ~KaCharConverterInput() override;

    [[nodiscard]] int setCodePages(KaDataSource* newSource, KaDataSink* newSink, int64_t newFrom,
                                   int64_t newTo) noexcept;
    // Hands the sink what the window holds, more 0, unless lastCall was set.
    [[nodiscard]] int finish() noexcept;
};

// One memory block into a memory sink, cut on a character border, with a
// terminator: the cheap kind for values that are already whole in memory.
class KaSimpleCharConverter : public KaDataConverter {
public:
    KaSimpleCharConverter() noexcept;
    ~KaSimpleCharConverter() override;

    // Each call delivers what fits the sink's room; later calls go on.
    [[nodiscard]] int convert() noexcept override;
    [[nodiscard]] int open() noexcept override;
    // Neither is possible for a borrowed block: both post and fail.
    [[nodiscard]] int rewind() noexcept override;
    [[nodiscard]] int prepareOutput() noexcept override { return 0; }
    void setLength(int64_t bytes, int64_t characters) noexcept override;
    int closeConverters() noexcept override;

    [[nodiscard]] int set(const void* data, uint64_t length, KaMemorySink* memorySink, int64_t codePage,
                          int32_t newTerminate) noexcept;

    int64_t codePage;
    UConverter* converter;  // finds character borders only
    const uint8_t* input;
    const uint8_t* inputEnd;
    uint16_t maxCharSize;
    uint16_t minCharSize;
    int32_t deferredStatus;
    int32_t mode;
};
