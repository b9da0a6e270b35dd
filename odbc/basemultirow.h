// The multi-row insert builder: an INSERT INTO ... VALUES (...) executed
// with a parameter array is split once into a template, and the rows are
// written into a batch text INSERT ... VALUES (row),(row),... that the
// driver owns and sends whenever it is full. Drivers derive their form from
// it and start it from BaseStatement::beginMultiRowInsert.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaobject.h"
#include "foundation/kastring.h"

class BaseStatement;

// Builder states.
enum : int16_t {
    kBaseInsertUsable = 4,  // template parsed; rows go into batches
    kBaseInsertIdle = 5,    // no template, or one row is run on its own
};

// Bytes left in the area at which a batch is sent after a complete row.
constexpr size_t kBaseInsertLowWater = 1023;

// Digits, sign, point and exponent only: a number's text that cannot carry
// anything else into a statement (8-bit or UTF-16 text).
template <typename C>
bool baseIsNumberText(const C* text, size_t n) noexcept
{
    if (n == 0)
        return false;
    for (size_t i = 0; i < n; ++i) {
        const C c = text[i];
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return false;
    }
    return true;
}

// Adds an execution's affected rows to a total; an unknown count (-1) or an
// overflow leaves the total unknown for good.
inline void baseAddRowCount(int64_t* total, int64_t count) noexcept
{
    if (count < 0 || *total < 0 || count > INT64_MAX - *total)
        *total = -1;
    else
        *total += count;
}

class BaseMultiRowInsert : public KaObject {
public:
    BaseMultiRowInsert() noexcept = default;
    ~BaseMultiRowInsert() override;
    BaseMultiRowInsert(const BaseMultiRowInsert&) = delete;
    BaseMultiRowInsert& operator=(const BaseMultiRowInsert&) = delete;

    // Starts a batch text: outputBuffer and outputCapacity set, writeOffset
    // 0. 0, or 1 after the diagnostic.
    [[nodiscard]] virtual int16_t begin() noexcept = 0;
    // Sends the batch text (outputBuffer, writeOffset bytes). 0 or 1.
    [[nodiscard]] virtual int16_t send() noexcept = 0;
    // Told after a batch was executed successfully.
    virtual void batchSent(int32_t flag) noexcept;
    virtual void setBatchRows(int64_t rows) noexcept;
    virtual int64_t batchRows() noexcept;
    // The literal text of a value the driver renders itself (convert flag
    // set), appended to out as UTF-8. 0, or 1 after the diagnostic.
    [[nodiscard]] virtual int16_t convertValue(uint16_t param, const void* data, int64_t length,
                                               KaString* out) noexcept;

    void init(BaseStatement* ownerStatement) noexcept;
    void reset() noexcept;
    // Splits the INSERT text (UTF-16) into the template; 0 with insertState
    // telling whether it is usable (an unusable text posts error 60 with
    // its offset unless an error is pending), or 1 on a failure.
    [[nodiscard]] int16_t parseInsert(const uint16_t* text, size_t units) noexcept;
    // Writes parameter p of the current row; a full area sends the complete
    // rows first. 0, or 1 (a failed conversion or a failed batch).
    [[nodiscard]] int16_t appendValues(uint16_t p, int16_t sqlType, const void* data, int64_t length, bool isNull,
                                       bool escapePrefix, bool convert) noexcept;
    // Forgets what the current row wrote (a value of it failed).
    void dropPartialRow() noexcept;
    // The batch holds at least one complete row.
    bool holdsRows() const noexcept { return nextSegment != 0 && rowMark > 0; }
    bool active() const noexcept { return insertState == kBaseInsertUsable; }
    // Markers the template holds (one per item at most).
    size_t templateMarkers() const noexcept { return markerTotal; }

    struct Segment {
        size_t start;
        size_t length;
        size_t markerOffset;  // an expression's "?" inside it; 0 none
        bool lone;            // the item is a lone "?"
    };

    BaseStatement* owner = nullptr;
    Segment* segments = nullptr;
    size_t segmentCount = 0;
    size_t segmentCapacity = 0;
    char* templateText = nullptr;
    size_t templateLength = 0;
    uint16_t nextSegment = 0;
    int16_t insertState = kBaseInsertIdle;
    // End of the last complete row in the batch text; 0 none; -1 the
    // current row does not fit an empty batch and is run on its own.
    int64_t rowMark = 0;
    char* outputBuffer = nullptr;
    size_t outputCapacity = 0;
    size_t writeOffset = 0;

private:
    [[nodiscard]] int16_t addSegment(size_t start, size_t length, size_t markerOffset, bool lone) noexcept;
    [[nodiscard]] int16_t renderValue(uint16_t p, int16_t sqlType, const void* data, int64_t length, bool isNull,
                                      bool escapePrefix, bool convert) noexcept;
    [[nodiscard]] int16_t composePiece(uint16_t p, uint16_t last) noexcept;
    [[nodiscard]] int16_t runOversizedRow() noexcept;
    [[nodiscard]] int16_t flushCompleteRows() noexcept;
    [[nodiscard]] int16_t startBatch() noexcept;
    void write(const char* data, size_t n) noexcept;

    size_t markerTotal = 0;
    // The current parameter's rendered value and everything it adds to the
    // batch text, so that the room it needs is known before it is written.
    KaString value;
    KaString piece;
    KaString carried;
    // Segment the current piece starts at, and where it leaves off.
    uint16_t pieceEnd = 0;
};
