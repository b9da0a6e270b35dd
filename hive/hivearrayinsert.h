// The Hive form of the multi-row insert builder, embedded in every Hive
// statement: its batch text area, and the ExecuteStatement that sends a
// batch. HiveStatement::beginMultiRowInsert decides whether an execute
// takes this path.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaowner.h"
#include "foundation/kastringw.h"
#include "odbc/basemultirow.h"

class HiveConnection;

// Bytes of the message around the text that the connection's array-insert
// limit leaves room for; a limit no larger than this cannot hold a batch.
constexpr int64_t kHiveArrayInsertOverhead = 107;

class DrvrMultiRowInsert : public BaseMultiRowInsert {
public:
    DrvrMultiRowInsert() noexcept = default;
    ~DrvrMultiRowInsert() override;

    [[nodiscard]] int16_t begin() noexcept override;
    [[nodiscard]] int16_t send() noexcept override;
    void batchSent(int32_t flag) noexcept override;
    void setBatchRows(int64_t rows) noexcept override;
    int64_t batchRows() noexcept override;
    // data is the value's HiveQL literal as the single-row text has it
    // (UTF-16, length in bytes): the same rendering serves both paths.
    [[nodiscard]] int16_t convertValue(uint16_t param, const void* data, int64_t length,
                                       KaString* out) noexcept override;

    // The text area holds at least size bytes. 0, or 1 when memory ran out.
    [[nodiscard]] int16_t reserve(size_t size) noexcept;

    RamPtr<char> area;
    size_t areaSize = 0;
    int64_t storedRows = 0;
};

// The INSERT ... VALUES form of text into out: the SQL parser's one-row
// INSERT ... SELECT ... TEMP_ALIAS form turned back, any other text copied.
// 0, or 1 when memory ran out.
[[nodiscard]] int16_t hiveInsertValuesText(const uint16_t* text, size_t units, KaStringW* out) noexcept;
// Writes and sends ExecuteStatement for the UTF-8 text on conn's session,
// with runAsync as the single-row execute sends it. 0 or 1.
[[nodiscard]] int hiveWriteExecuteUtf8(HiveConnection* conn, const char* text, size_t n, bool runAsync) noexcept;
