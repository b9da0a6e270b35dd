// The reading side of the bulk files: one BulkLoadFile stands for a data
// file with its XML column description, an optional log and an optional
// discard file. Its open reads and checks the description into one
// BulkColumnDesc per column; readRecord then returns the data file's fields
// one at a time, with LOB references resolved to their side files. Used by
// table validation (the description only) and by the table-load body.
#pragma once
#include <cstddef>
#include <cstdint>

#include "bulk/bulkfiles.h"

struct KaXmlNode;

// One described column.
struct BulkColumnDesc {
    uint16_t* name;
    uint64_t nameLength;
    int64_t datatype;
    uint64_t length;  // the length or the precision attribute
    int64_t scale;
    uint16_t* sourceCodePageName;
    int64_t sourceCodePage;
    uint16_t* externalCodePageName;
    int64_t externalCodePage;
    int64_t nullable;  // 1 true, 0 false, 2 not given
    int64_t columnNumber;
};

// The delimiters a reader splits by: the field delimiter, and the record
// delimiter (0: line ends, with a carriage return before the line feed
// belonging to them).
struct BulkDelimiters {
    uint16_t field = ',';
    uint16_t record = 0;
};

// Blocks of a data file are at least this many bytes, and at most the
// larger one, whatever the caller asks for.
constexpr uint64_t KA_BULK_MIN_BLOCK = 1024;
constexpr uint64_t KA_BULK_MAX_BLOCK = 64u * 1024u * 1024u;
// Fields passed over while seeking a target field that keep a null flag.
constexpr uint32_t KA_BULK_MAX_SKIPPED_FIELDS = 1025;
// Bytes of a code-page name the description may give.
constexpr size_t KA_BULK_CODEPAGE_NAME_SIZE = 512;

class BulkLoadFile {
public:
    BulkLoadFile() noexcept;
    virtual ~BulkLoadFile();
    BulkLoadFile(const BulkLoadFile&) = delete;
    BulkLoadFile& operator=(const BulkLoadFile&) = delete;

    // One field of the current record, or one chunk of it. *continued is
    // passed back as the previous call left it. Results: *data null and
    // *length 0 at the end of the data; *continued 1 when the field goes
    // on; *isNull 1 for an empty unquoted field; *codePage the table's for
    // data file text, the column's external one for LOB file bytes. The
    // data stays valid until the next call. 0, or 1 after the diagnostic.
    [[nodiscard]] virtual int32_t readRecord(const uint8_t** data, uint64_t* length, int32_t* continued,
                                             int32_t* isNull, int64_t* codePage) noexcept;
    // Reads on to the end of the current record and appends its raw bytes
    // to the discard file.
    [[nodiscard]] virtual int32_t readRecordCopy(const uint8_t** data, uint64_t* length, int32_t* continued,
                                                 int32_t* isNull, int64_t* codePage) noexcept;

    // Names are UTF-8. description: null derives it from the data file
    // name; empty reads no description (table code page 4, no columns).
    // Null data, log or discard names open nothing. 0, or 1 after the
    // diagnostics; the object may be opened again or destroyed.
    [[nodiscard]] int32_t open(const char* dataName, const char* descriptionName, const char* logName,
                               const char* discardName, uint64_t blockKb, BulkDelimiters delimiters) noexcept;
    // The same with UTF-16 names (null or terminated).
    [[nodiscard]] int32_t openW(const uint16_t* dataName, const uint16_t* descriptionName, const uint16_t* logName,
                                const uint16_t* discardName, uint64_t blockKb, BulkDelimiters delimiters) noexcept;
    // Closes the open files; the status of the last close.
    int32_t closeFiles() noexcept;

    // Passes n records; 0 also when the data ends first.
    [[nodiscard]] int32_t skipRows(uint64_t n) noexcept;
    // The next readRecord passes over the fields before field number n of
    // the current record, keeping their null flags in skippedNulls.
    [[nodiscard]] int32_t setTargetField(uint64_t n) noexcept;
    // Byte offset of the read position in the data file.
    uint64_t currentOffset() const noexcept;
    // Appends bytes from..to-1 of the data file to the discard file.
    [[nodiscard]] int32_t copyRange(uint64_t from, uint64_t to) noexcept;

    // Entry i - 1 is column i.
    const BulkColumnDesc* column(uint64_t i) const noexcept
    {
        return i >= 1 && i <= columnCount ? &columns[i] : nullptr;
    }

    // The description.
    uint16_t* tableCodePageName = nullptr;
    int64_t tableCodePage = 4;
    uint64_t columnCount = 0;
    BulkColumnDesc* columns = nullptr;  // count + 1 entries; entry 0 holds no column

    // Reading state the callers read.
    uint32_t fieldNumber = 1;
    uint64_t recordsRead = 0;
    uint64_t recordsSkipped = 0;
    uint64_t recordStart = 0;
    uint64_t previousRecordStart = 0;
    uint32_t skippedNulls[KA_BULK_MAX_SKIPPED_FIELDS] = {};
    uint32_t skippedCount = 0;

    // Open files (-1 when not open).
    int32_t dataFile = -1;
    int32_t discardFile = -1;
    int32_t logFile = -1;
    int32_t lobFile = -1;

private:
    enum class State { Unread, FieldStart, InField, InLob, AfterField, End };

    void releaseColumns() noexcept;
    void releaseBuffers() noexcept;
    [[nodiscard]] int32_t readDescription(const char* path) noexcept;
    [[nodiscard]] int32_t readColumn(KaXmlNode* node, uint64_t i) noexcept;
    [[nodiscard]] int32_t openSideFiles(const char* logName, const char* discardName) noexcept;

    // Units of the data file.
    [[nodiscard]] int32_t fill(size_t need) noexcept;
    [[nodiscard]] int32_t peek(size_t ahead, int32_t* unit) noexcept;
    void consume(size_t units) noexcept;
    bool isBlank(int32_t unit) const noexcept;
    [[nodiscard]] int32_t malformed(uint64_t offset) noexcept;

    [[nodiscard]] int32_t start() noexcept;
    // 0 a separator passed (recordEnded tells which), 2 the data ended.
    [[nodiscard]] int32_t consumeSeparator(bool* recordEnded) noexcept;
    // 0 a field begins, 2 the data ended.
    [[nodiscard]] int32_t fieldStart() noexcept;
    [[nodiscard]] int32_t readField(const uint8_t** data, uint64_t* length, int32_t* continued,
                                    int32_t* isNull) noexcept;
    [[nodiscard]] int32_t readOne(const uint8_t** data, uint64_t* length, int32_t* continued, int32_t* isNull,
                                  int64_t* codePage) noexcept;
    [[nodiscard]] int32_t put(int32_t unit) noexcept;
    // Whether `unit`, `ahead` units on, ends an unquoted value. 0, or 1.
    [[nodiscard]] int32_t endsUnquoted(size_t ahead, int32_t unit, bool* ends) noexcept;
    [[nodiscard]] int32_t lobReference() noexcept;
    [[nodiscard]] int32_t lobChunk(const uint8_t** data, uint64_t* length, int32_t* continued) noexcept;
    void closeLob() noexcept;
    bool columnIsBinary(uint32_t field) const noexcept;

    char dataName_[KA_BULK_PATH_SIZE] = {};
    size_t dataDirLength_ = 0;
    BulkDelimiters delimiters_{};
    uint64_t blockSize_ = 0;
    size_t unitBytes_ = 1;
    bool bigEndian_ = false;

    uint8_t* block_ = nullptr;  // raw bytes of the data file
    size_t blockCount_ = 0;     // bytes held
    size_t blockPos_ = 0;       // byte index of the read position
    uint64_t blockOffset_ = 0;  // file offset of block_[0]
    uint64_t readEnd_ = 0;      // file offset after the last byte read
    bool fileEnded_ = false;

    uint8_t* value_ = nullptr;  // the field being returned
    size_t valueLength_ = 0;    // bytes
    State state_ = State::Unread;
    bool quoted_ = false;
    bool firstChunk_ = true;
    size_t keptBlanks_ = 0;  // blanks ahead known to lie inside the value
    uint64_t quoteOffset_ = 0;
    uint64_t toSkip_ = 0;
    bool skipping_ = false;
    uint64_t targetField_ = 0;

    uint8_t* lobBuffer_ = nullptr;  // block + 1 bytes
    uint64_t lobOffset_ = 0;
    int64_t lobCodePage_ = 0;
    char lobName_[KA_BULK_MAX_LOB_NAME * 3 + 1] = {};
    size_t lobNameLength_ = 0;

    uint8_t* copyBuffer_ = nullptr;
};
