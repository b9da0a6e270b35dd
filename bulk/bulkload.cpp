// The table load body: a bulk data file read field by field through
// BulkLoadFile, each record bound to the parameters of a prepared INSERT and
// executed, refused records copied byte for byte to the discard file, and
// the diagnostics and totals appended to the bulk log.
//
// Where the insert statement gathers parameter arrays into multi-row
// INSERTs, a batch of records goes as one array in one execution; row by row
// otherwise, when the batch size is 1, or when a column's values may be too
// long to hold a batch of them. Values are handed over whole: text as
// UTF-16, binary values as their bytes (hexadecimal fields decoded here, LOB
// side files as read), so no value depends on how the server would read
// hexadecimal text.
#include "bulk/bulkload.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <new>
#include <utility>

#include "bulk/bulkcall.h"
#include "bulk/bulkfiles.h"
#include "bulk/bulkhex.h"
#include "bulk/bulkloadfile.h"
#include "bulk/bulklog.h"
#include "convert/textcvt.h"
#include "foundation/codepage.h"
#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/baseerr.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"

namespace {

// The longest value one field may bring; a longer one fails the load.
constexpr size_t kLongValueMax = 10485760;
// Units of a column name the describe step reads.
constexpr int16_t kColumnNameUnits = 256;
// The most bytes a batch's bound arrays take: a batch of long values goes
// in several smaller ones. (Columns of the server's unbounded text and
// binary types are described with sizes of 2 GB, so their size says
// nothing of the values a batch will hold.)
constexpr size_t kBatchBytesMax = size_t{32} << 20;
// A parameter status the execution has not written.
constexpr uint16_t kStatusUnset = 0xFFFF;

bool isBinarySql(int16_t type) noexcept
{
    return type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY;
}

// A growing byte block, bounded by kLongValueMax plus a little slack.
struct Bytes {
    uint8_t* data = nullptr;
    size_t size = 0;
    size_t used = 0;

    Bytes() noexcept = default;
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;
    ~Bytes()
    {
        if (data != nullptr)
            ramFreeBlock(data);
    }
    void swap(Bytes& other) noexcept
    {
        std::swap(data, other.data);
        std::swap(size, other.size);
        std::swap(used, other.used);
    }
    // Room for need bytes; 1 without memory.
    [[nodiscard]] int reserve(size_t need) noexcept
    {
        if (need <= size)
            return 0;
        size_t grown = size < 4096 ? 4096 : size;
        while (grown < need)
            grown *= 2;
        auto* block = static_cast<uint8_t*>(ramAllocBlock(grown));
        if (block == nullptr)
            return 1;
        if (used != 0)
            memcpy(block, data, used);
        if (data != nullptr)
            ramFreeBlock(data);
        data = block;
        size = grown;
        return 0;
    }
};

// One whole field of the data file as the reader gave it.
struct Field {
    Bytes bytes;
    bool isNull = false;
    bool fromLob = false;
    int64_t codePage = 0;
    uint32_t number = 0;
    uint64_t recordStart = 0;
    bool tooLong = false;

    void swap(Field& other) noexcept
    {
        bytes.swap(other.bytes);
        std::swap(isNull, other.isNull);
        std::swap(fromLob, other.fromLob);
        std::swap(codePage, other.codePage);
        std::swap(number, other.number);
        std::swap(recordStart, other.recordStart);
        std::swap(tooLong, other.tooLong);
    }
};

// One column of the table.
struct LoadColumn {
    uint16_t name[kColumnNameUnits] = {};
    int16_t nameLength = 0;
    int16_t sqlType = 0;
    uint64_t size = 0;
    int16_t digits = 0;
    bool autoUnique = false;
    // The parameter value of the current record.
    Bytes value;
    int64_t indicator = 0;
    int16_t cType = SQL_C_WCHAR;
    // The batch being gathered: the values one after another, with each
    // row's offset (size_t) and indicator (int64_t); then the bound array
    // of equal elements and its indicators.
    Bytes pool;
    Bytes offsets;
    Bytes lengths;
    Bytes array;
    Bytes indicators;
    size_t longest = 0;
};

template <typename T>
T* slots(Bytes& b) noexcept
{
    return reinterpret_cast<T*>(b.data);
}

// What became of a row of a batch.
enum : uint8_t { kRowPending = 0, kRowLoaded = 1, kRowFailed = 2, kRowNotRun = 3 };

class Loader {
public:
    explicit Loader(BaseConnection* conn) noexcept : conn_(conn) {}
    ~Loader()
    {
        if (columns_ != nullptr) {
            for (uint16_t j = 0; j < columnCount_; ++j)
                columns_[j].~LoadColumn();
            ramFreeBlock(columns_);
        }
    }
    Loader(const Loader&) = delete;
    Loader& operator=(const Loader&) = delete;

    int16_t run(const BulkText& table, const uint16_t* dataFile, int64_t errorTolerance, int64_t warningTolerance,
                const uint16_t* description, const uint16_t* log, const uint16_t* discard, int64_t firstRecord,
                int64_t recordCount, int64_t readBufferKb) noexcept;

private:
    [[nodiscard]] int describeTable(const BulkText& table) noexcept;
    [[nodiscard]] int prepareInsert(const BulkText& table) noexcept;
    // One whole field; *end at the end of the data. 0, or 1 after posting.
    [[nodiscard]] int readField(Field& f, bool* end) noexcept;
    // The field as the value of column c; 0, or 1 after posting (the record
    // is refused).
    [[nodiscard]] int takeValue(LoadColumn& c, const Field& f) noexcept;
    [[nodiscard]] int executeRecord() noexcept;
    // Decides between row by row and batches; 0, or 1 without memory.
    [[nodiscard]] int chooseMode(int64_t recordCount) noexcept;
    // Adds the current values as a row of the batch; 0, or 1.
    [[nodiscard]] int appendRow(uint64_t start, int64_t number) noexcept;
    // Whether the current values would take the batch's arrays above
    // kBatchBytesMax.
    bool batchWouldOverflow() const noexcept;
    // The record that began at the batch's last row ends at end.
    void closeRecord(uint64_t end) noexcept;
    // Executes the batch, counting its loaded rows and copying the records
    // of its failed rows to the discard file. *stopped when the tolerances
    // were exceeded (the rows not yet run then count as not read). 0, or 1
    // when the load cannot go on.
    [[nodiscard]] int flushBatch(BulkTolerances& tolerances, KaErrorList* list, bool* rejected, bool* stopped) noexcept;
    // Copies the refused record (from start) to the discard file.
    [[nodiscard]] int discardRecord(uint64_t start, bool nextBegun) noexcept;
    void logTail(size_t start) noexcept;

    BaseConnection* conn_;
    BulkLoadFile file_;
    BulkStatement query_;
    BulkStatement insert_;
    LoadColumn* columns_ = nullptr;
    uint16_t columnCount_ = 0;
    uint16_t insertable_ = 0;
    Field current_;
    Field held_;
    bool haveHeld_ = false;
    bool surplusWarned_ = false;
    int64_t recordsRead_ = 0;
    int64_t rowsLoaded_ = 0;
    int64_t rowNumber_ = -1;
    // The batch: its size, the rows gathered, and per row the record's
    // start and end offsets, its number, parameter status, operation and
    // outcome. The last row's end stays open until the next record begins.
    bool batched_ = false;
    int64_t batchSize_ = 1;
    int64_t batchRows_ = 0;
    bool lastEndOpen_ = false;
    Bytes starts_;
    Bytes ends_;
    Bytes numbers_;
    Bytes statuses_;
    Bytes operations_;
    Bytes outcomes_;
};

int Loader::describeTable(const BulkText& table) noexcept
{
    KaStringW sql;
    if (query_.create(conn_) != 0 || bulkTableQuery(table, u" WHERE 0=1", sql) != 0)
        return 1;
    int16_t rc = query_.stmt->prepare(sql.data, int32_t(sql.len - 1));
    (void)query_.moveDiagnostics(-1, -1, false);
    if (rc == SQL_ERROR || query_.stmt->getResultColumnCount(&columnCount_) != 0) {
        (void)query_.moveDiagnostics(-1, -1, false);
        return 1;
    }
    if (columnCount_ == 0) {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_BULK_NO_INSERTABLE_COLUMN);
        return 1;
    }
    columns_ = static_cast<LoadColumn*>(ramAllocBlock(sizeof(LoadColumn) * columnCount_));
    if (columns_ == nullptr) {
        columnCount_ = 0;
        return 1;
    }
    for (uint16_t j = 0; j < columnCount_; ++j)
        new (&columns_[j]) LoadColumn();
    for (uint16_t j = 1; j <= columnCount_; ++j) {
        LoadColumn& c = columns_[j - 1];
        int16_t nullable = 0;
        rc = query_.stmt->describeCol(j, c.name, kColumnNameUnits, &c.nameLength, &c.sqlType, &c.size, &c.digits,
                                      &nullable);
        int64_t autoUnique = 0;
        if (rc != SQL_ERROR)
            rc = query_.stmt->colAttribute(j, SQL_DESC_AUTO_UNIQUE_VALUE, nullptr, 0, nullptr, &autoUnique);
        (void)query_.moveDiagnostics(-1, j, true);
        if (rc == SQL_ERROR)
            return 1;
        // A name the describe buffer cut could not be put into the INSERT.
        if (c.nameLength >= kColumnNameUnits) {
            errPost(MSG_BULK_FIELD_TOO_LONG)
                ->addParamUnsigned(uint64_t(c.nameLength))
                ->addParamUnsigned(kColumnNameUnits - 1)
                ->setSqlstate("HY000");
            return 1;
        }
        c.autoUnique = autoUnique == SQL_TRUE;
        if (!c.autoUnique)
            ++insertable_;
    }
    if (insertable_ == 0) {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_BULK_NO_INSERTABLE_COLUMN);
        return 1;
    }
    return 0;
}

int Loader::prepareInsert(const BulkText& table) noexcept
{
    // The table and column names are quoted as the export's query quotes
    // them, so no name reaches the server as SQL.
    KaStringW sql;
    static const char16_t kInsert[] = u"INSERT INTO ";
    if (sql.append(reinterpret_cast<const uint16_t*>(kInsert), sizeof kInsert / 2 - 1) != 0 ||
        bulkQuoteTableName(table.text, table.length, sql) != 0)
        return 1;
    if (insertable_ != columnCount_) {
        if (sql.append(reinterpret_cast<const uint16_t*>(u" ("), 2) != 0)
            return 1;
        bool first = true;
        for (uint16_t j = 0; j < columnCount_; ++j) {
            const LoadColumn& c = columns_[j];
            if (c.autoUnique)
                continue;
            if (!first && sql.append(reinterpret_cast<const uint16_t*>(u", "), 2) != 0)
                return 1;
            first = false;
            if (sql.appendChar('`') != 0)
                return 1;
            for (int16_t i = 0; i < c.nameLength; ++i)
                if ((c.name[i] == '`' && sql.appendChar('`') != 0) || sql.appendChar(c.name[i]) != 0)
                    return 1;
            if (sql.appendChar('`') != 0)
                return 1;
        }
        if (sql.appendChar(')') != 0)
            return 1;
    }
    if (sql.append(reinterpret_cast<const uint16_t*>(u" VALUES ("), 9) != 0)
        return 1;
    for (uint16_t k = 0; k < insertable_; ++k)
        if ((k != 0 && sql.appendChar(',') != 0) || sql.appendChar('?') != 0)
            return 1;
    if (sql.appendChar(')') != 0 || sql.appendChar(0) != 0)
        return 1;
    if (insert_.create(conn_) != 0)
        return 1;
    int16_t rc = insert_.stmt->setStmtAttr(SQL_ATTR_NOSCAN, reinterpret_cast<void*>(uintptr_t(SQL_NOSCAN_ON)), 0);
    if (rc != SQL_ERROR)
        rc = insert_.stmt->prepare(sql.data, int32_t(sql.len - 1));
    (void)insert_.moveDiagnostics(-1, -1, false);
    return rc == SQL_ERROR ? 1 : 0;
}

int Loader::readField(Field& f, bool* end) noexcept
{
    *end = false;
    f.bytes.used = 0;
    f.isNull = false;
    f.fromLob = false;
    f.tooLong = false;
    int32_t continued = 0;
    bool first = true;
    do {
        const uint8_t* data = nullptr;
        uint64_t length = 0;
        int32_t isNull = 0;
        int64_t cp = 0;
        if (file_.readRecord(&data, &length, &continued, &isNull, &cp) != 0)
            return 1;
        if (data == nullptr) {
            *end = first;
            return 0;
        }
        if (first) {
            first = false;
            f.number = file_.fieldNumber;
            f.recordStart = file_.recordStart;
            f.isNull = isNull != 0;
            f.codePage = cp;
            // A side file stays open until the next field begins.
            f.fromLob = file_.lobFile >= 0;
        }
        if (f.tooLong || f.bytes.used + length > kLongValueMax) {
            f.tooLong = true;
            continue;
        }
        if (f.bytes.reserve(f.bytes.used + size_t(length) + 4) != 0)
            return 1;
        memcpy(f.bytes.data + f.bytes.used, data, size_t(length));
        f.bytes.used += size_t(length);
    } while (continued != 0);
    return 0;
}

int Loader::takeValue(LoadColumn& c, const Field& f) noexcept
{
    c.value.used = 0;
    if (f.isNull) {
        c.indicator = SQL_NULL_DATA;
        c.cType = isBinarySql(c.sqlType) ? SQL_C_BINARY : SQL_C_WCHAR;
        return 0;
    }
    if (f.tooLong) {
        basePostError(kBaseIdxRightTruncation);
        return 1;
    }
    // Text of the data file arrives in 16-bit units of the machine's order
    // whatever the file's byte order; side files come as they are written.
    int64_t cp = f.codePage;
    if (!f.fromLob && (cp == kCodePageUtf16BE || cp == kCodePageUtf16))
        cp = kCodePageUtf16LE;
    if (isBinarySql(c.sqlType) && (f.fromLob || cp == 0)) {
        if (c.value.reserve(f.bytes.used + 1) != 0)
            return 1;
        if (f.bytes.used != 0)
            memcpy(c.value.data, f.bytes.data, f.bytes.used);
        c.value.used = f.bytes.used;
        c.indicator = int64_t(f.bytes.used);
        c.cType = SQL_C_BINARY;
        return 0;
    }
    // Everything else becomes UTF-16 first.
    Bytes wide;
    const uint8_t* units = f.bytes.data;
    size_t bytes = f.bytes.used;
    if (cp != kCodePageUtf16LE && bytes != 0) {
        size_t room = bytes * 2 + 8;
        if (wide.reserve(room) != 0)
            return 1;
        int64_t produced = 0;
        int32_t truncated = 0;
        if (baseConvertText(cp, f.bytes.data, int64_t(bytes), kCodePageUtf16LE, wide.data, int64_t(room), &produced,
                            &truncated, &conn_->icuCache, 0) != 0)
            return 1;
        units = wide.data;
        bytes = size_t(produced);
    }
    if (isBinarySql(c.sqlType)) {
        // Hexadecimal digits, two to a byte; an odd digit at the end has
        // no partner and is refused like a bad one.
        size_t digits = bytes / 2;
        if (c.value.reserve(digits / 2 + 1) != 0)
            return 1;
        // Copied to aligned units: the text may sit at any byte offset.
        Bytes aligned;
        if (aligned.reserve(digits * 2 + 2) != 0)
            return 1;
        if (digits != 0)
            memcpy(aligned.data, units, digits * 2);
        BulkHexState hex;
        size_t produced = 0;
        if (unhexifyW(slots<uint16_t>(aligned), digits, c.value.data, &produced, &hex) != 0)
            return 1;
        if (hex.pending >= 0) {
            basePostErrorMsg(kBaseIdxBadCharValue, MSG_INVALID_HEX_DIGIT);
            return 1;
        }
        c.value.used = produced;
        c.indicator = int64_t(c.value.used);
        c.cType = SQL_C_BINARY;
        return 0;
    }
    if (c.value.reserve(bytes + 2) != 0)
        return 1;
    if (bytes != 0)
        memcpy(c.value.data, units, bytes);
    c.value.used = bytes;
    c.indicator = int64_t(bytes);
    c.cType = SQL_C_WCHAR;
    return 0;
}

int Loader::executeRecord() noexcept
{
    BaseStatement* s = insert_.stmt;
    uint16_t param = 0;
    int16_t rc = SQL_SUCCESS;
    for (uint16_t j = 0; j < columnCount_ && rc != SQL_ERROR; ++j) {
        LoadColumn& c = columns_[j];
        if (c.autoUnique)
            continue;
        ++param;
        // Even an empty value needs a buffer to point at.
        if (c.value.reserve(2) != 0)
            return 1;
        rc = s->bindParameter(param, SQL_PARAM_INPUT, c.cType, c.sqlType, c.size, c.digits, c.value.data,
                              int64_t(c.value.size), &c.indicator);
    }
    if (rc != SQL_ERROR)
        rc = s->execute();
    (void)insert_.moveDiagnostics(rowNumber_, -1, false);
    return rc == SQL_ERROR || rc == SQL_NEED_DATA || rc == SQL_STILL_EXECUTING ? 1 : 0;
}

int Loader::chooseMode(int64_t recordCount) noexcept
{
    batched_ = false;
    bool rowMode = conn_->bulkLoadProtocol == 3;
    for (uint16_t j = 0; j < columnCount_; ++j) {
        const LoadColumn& c = columns_[j];
        if (!c.autoUnique &&
            (c.sqlType == SQL_LONGVARCHAR || c.sqlType == SQL_WLONGVARCHAR || c.sqlType == SQL_LONGVARBINARY))
            rowMode = true;
    }
    uint64_t size = conn_->bulkLoadBatchSize;
    if (recordCount > 0 && uint64_t(recordCount) < size)
        size = uint64_t(recordCount);
    if (rowMode || size <= 1 || size > uint64_t(INT32_MAX))
        return 0;
    // The statement says whether it gathers an array into batches of its
    // own; one that runs the array row by row gains nothing from it.
    BaseStatement* s = insert_.stmt;
    int16_t rc = s->setStmtAttr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<void*>(uintptr_t(size)), 0);
    int16_t mode = rc == SQL_ERROR ? 0 : int16_t(s->beginMultiRowInsert() & 3);
    (void)insert_.moveDiagnostics(-1, -1, false);
    if (mode == 0) {
        (void)s->setStmtAttr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<void*>(uintptr_t(1)), 0);
        (void)insert_.moveDiagnostics(-1, -1, false);
        return 0;
    }
    const size_t rows = size_t(size);
    if (starts_.reserve(rows * sizeof(uint64_t)) != 0 || ends_.reserve(rows * sizeof(uint64_t)) != 0 ||
        numbers_.reserve(rows * sizeof(int64_t)) != 0 || statuses_.reserve(rows * sizeof(uint16_t)) != 0 ||
        operations_.reserve(rows * sizeof(uint16_t)) != 0 || outcomes_.reserve(rows) != 0)
        return 1;
    for (uint16_t j = 0; j < columnCount_; ++j) {
        LoadColumn& c = columns_[j];
        if (!c.autoUnique &&
            (c.offsets.reserve(rows * sizeof(size_t)) != 0 || c.lengths.reserve(rows * sizeof(int64_t)) != 0 ||
             c.indicators.reserve(rows * sizeof(int64_t)) != 0))
            return 1;
    }
    batchSize_ = int64_t(size);
    batched_ = true;
    return 0;
}

int Loader::appendRow(uint64_t start, int64_t number) noexcept
{
    const int64_t row = batchRows_;
    for (uint16_t j = 0; j < columnCount_; ++j) {
        LoadColumn& c = columns_[j];
        if (c.autoUnique)
            continue;
        const size_t length = c.indicator > 0 ? size_t(c.indicator) : 0;
        if (c.pool.reserve(c.pool.used + length + 1) != 0)
            return 1;
        slots<size_t>(c.offsets)[row] = c.pool.used;
        if (length > c.longest)
            c.longest = length;
        slots<int64_t>(c.lengths)[row] = c.indicator;
        if (length != 0)
            memcpy(c.pool.data + c.pool.used, c.value.data, length);
        c.pool.used += length;
    }
    slots<uint64_t>(starts_)[row] = start;
    slots<int64_t>(numbers_)[row] = number;
    lastEndOpen_ = true;
    ++batchRows_;
    return 0;
}

bool Loader::batchWouldOverflow() const noexcept
{
    const size_t rows = size_t(batchRows_) + 1;
    size_t bytes = 0;
    for (uint16_t j = 0; j < columnCount_; ++j) {
        const LoadColumn& c = columns_[j];
        if (c.autoUnique)
            continue;
        const size_t length = c.indicator > 0 ? size_t(c.indicator) : 0;
        const size_t element = (length > c.longest ? length : c.longest) + 2 + 8 + sizeof(int64_t);
        if (element > kBatchBytesMax / rows)
            return true;
        bytes += element * rows;
        if (bytes > kBatchBytesMax)
            return true;
    }
    return false;
}

void Loader::closeRecord(uint64_t end) noexcept
{
    if (!lastEndOpen_)
        return;
    slots<uint64_t>(ends_)[batchRows_ - 1] = end;
    lastEndOpen_ = false;
}

// The execute core turns the errors of a partly run array into warnings;
// for the load a failed row stays an error, as it is row by row, so that
// the error tolerance counts it. Warnings by their SQLSTATE stay warnings.
void takeBatchDiagnostics(KaErrorList& from, KaErrorList* to) noexcept
{
    while (from.recordCount() != 0) {
        KaError* record = from.removeFirst();
        if (record == nullptr)
            break;
        uint16_t state[KA_SQLSTATE_LEN + 1];
        record->effectiveSqlstate(state);
        if (!record->isStatic() && record->isWarning() && !(state[0] == '0' && state[1] == '1'))
            record->flags &= uint8_t(~KaError::WARNING);
        if ((to == nullptr || to->add(record) != 0) && !record->isStatic())
            delete record;
    }
    if (from.outOfMemoryMark != 0 && to != nullptr)
        to->setOutOfMemoryMark();
    from.clear();
}

int Loader::flushBatch(BulkTolerances& tolerances, KaErrorList* list, bool* rejected, bool* stopped) noexcept
{
    const int64_t n = batchRows_;
    if (n == 0)
        return 0;
    BaseStatement* s = insert_.stmt;
    uint16_t* statuses = slots<uint16_t>(statuses_);
    uint16_t* operations = slots<uint16_t>(operations_);
    uint8_t* outcomes = outcomes_.data;
    const int64_t* numbers = slots<int64_t>(numbers_);
    int16_t rc = SQL_SUCCESS;
    uint16_t param = 0;
    for (uint16_t j = 0; j < columnCount_ && rc != SQL_ERROR; ++j) {
        LoadColumn& c = columns_[j];
        if (c.autoUnique)
            continue;
        ++param;
        const int64_t* lengths = slots<int64_t>(c.lengths);
        size_t longest = 0;
        for (int64_t r = 0; r < n; ++r)
            if (lengths[r] > 0 && size_t(lengths[r]) > longest)
                longest = size_t(lengths[r]);
        // Room for a terminator, elements kept 8-byte aligned.
        const size_t element = (longest + 2 + 7) & ~size_t{7};
        if (c.array.reserve(element * size_t(n)) != 0)
            return 1;
        int64_t* indicators = slots<int64_t>(c.indicators);
        for (int64_t r = 0; r < n; ++r) {
            uint8_t* slot = c.array.data + size_t(r) * element;
            const size_t length = lengths[r] > 0 ? size_t(lengths[r]) : 0;
            if (length != 0)
                memcpy(slot, c.pool.data + slots<size_t>(c.offsets)[r], length);
            memset(slot + length, 0, element - length);
            indicators[r] = lengths[r];
        }
        rc = s->bindParameter(param, SQL_PARAM_INPUT, c.cType, c.sqlType, c.size, c.digits, c.array.data,
                              int64_t(element), indicators);
    }
    if (rc != SQL_ERROR)
        rc = s->setStmtAttr(SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<void*>(uintptr_t(n)), 0);
    if (rc != SQL_ERROR)
        rc = s->setStmtAttr(SQL_ATTR_PARAM_STATUS_PTR, statuses, 0);
    if (rc != SQL_ERROR)
        rc = s->setStmtAttr(SQL_ATTR_PARAM_OPERATION_PTR, operations, 0);
    (void)insert_.moveDiagnostics(numbers[0], -1, false);
    for (int64_t r = 0; r < n; ++r) {
        operations[r] = SQL_PARAM_PROCEED;
        outcomes[r] = rc == SQL_ERROR ? kRowFailed : kRowPending;
    }
    // The execution stops at a row whose value fails, having sent the rows
    // before it; the rows after it run again. Each round settles at least
    // one row, so there are at most n rounds.
    int64_t pending = rc == SQL_ERROR ? 0 : n;
    while (pending > 0) {
        for (int64_t r = 0; r < n; ++r)
            statuses[r] = kStatusUnset;
        BaseErrorList scratch(conn_);
        {
            KaErrorListScope scope(&scratch);
            rc = s->execute();
        }
        takeBatchDiagnostics(scratch, list);
        const bool ran = rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
        int64_t firstFailed = -1;
        int64_t settled = 0;
        for (int64_t r = 0; r < n; ++r) {
            if (outcomes[r] != kRowPending)
                continue;
            const uint16_t st = statuses[r];
            if (st == SQL_PARAM_SUCCESS || st == SQL_PARAM_SUCCESS_WITH_INFO || (st == kStatusUnset && ran)) {
                outcomes[r] = kRowLoaded;
                ++rowsLoaded_;
            } else if (st == SQL_PARAM_UNUSED) {
                continue;
            } else {
                outcomes[r] = kRowFailed;
                if (firstFailed < 0)
                    firstFailed = r;
            }
            operations[r] = SQL_PARAM_IGNORE;
            ++settled;
        }
        if (settled == 0) {
            // Nothing the statuses account for: the rest of the batch failed.
            for (int64_t r = 0; r < n; ++r) {
                if (outcomes[r] != kRowPending)
                    continue;
                outcomes[r] = kRowFailed;
                if (firstFailed < 0)
                    firstFailed = r;
                ++settled;
            }
        }
        (void)insert_.moveDiagnostics(numbers[firstFailed >= 0 ? firstFailed : 0], -1, false);
        pending -= settled;
        // A load already stopped runs the rows read before its stop.
        if (pending > 0 && !*stopped && tolerances.exceeded(list)) {
            // The rows not run were read but not loaded: as row by row, the
            // load ends after the record that exceeded the tolerance.
            for (int64_t r = 0; r < n; ++r)
                if (outcomes[r] == kRowPending)
                    outcomes[r] = kRowNotRun;
            recordsRead_ -= pending;
            *stopped = true;
            break;
        }
    }
    // The failed rows' records, byte for byte, in their order.
    const uint64_t* starts = slots<uint64_t>(starts_);
    const uint64_t* ends = slots<uint64_t>(ends_);
    int status = 0;
    for (int64_t r = 0; r < n && status == 0; ++r) {
        if (outcomes[r] != kRowFailed)
            continue;
        *rejected = true;
        status = r == n - 1 && lastEndOpen_ ? discardRecord(starts[r], false) : file_.copyRange(starts[r], ends[r]);
    }
    batchRows_ = 0;
    lastEndOpen_ = false;
    for (uint16_t j = 0; j < columnCount_; ++j) {
        columns_[j].pool.used = 0;
        columns_[j].longest = 0;
    }
    return status;
}

int Loader::discardRecord(uint64_t start, bool nextBegun) noexcept
{
    if (nextBegun)
        return file_.copyRange(start, held_.recordStart);
    const uint8_t* data = nullptr;
    uint64_t length = 0;
    int32_t continued = 0;
    int32_t isNull = 0;
    int64_t cp = 0;
    return file_.readRecordCopy(&data, &length, &continued, &isNull, &cp);
}

void Loader::logTail(size_t start) noexcept
{
    if (file_.logFile < 0)
        return;
    KaErrorList* list = KaErrorCurrentList();
    if (list != nullptr && (list->recordCount() > start || list->outOfMemoryMark != 0))
        bulkLogRowErrors(file_.logFile, start, *list);
    (void)bulkLogTotals(file_.logFile, recordsRead_, rowsLoaded_, 1);
}

int16_t Loader::run(const BulkText& table, const uint16_t* dataFile, int64_t errorTolerance, int64_t warningTolerance,
                    const uint16_t* description, const uint16_t* log, const uint16_t* discard, int64_t firstRecord,
                    int64_t recordCount, int64_t readBufferKb) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    const size_t startCount = list != nullptr ? list->recordCount() : 0;
    if (table.text == nullptr || table.length == 0 || dataFile == nullptr || dataFile[0] == 0) {
        basePostError(kBaseIdxNullPointer);
        return 1;
    }
    BulkDelimiters delimiters;
    delimiters.field = conn_->bulkFieldDelimiter != 0 ? conn_->bulkFieldDelimiter : ',';
    delimiters.record = conn_->bulkRecordDelimiter;
    const uint64_t blockKb = readBufferKb > 0 ? uint64_t(readBufferKb) : 0;
    if (file_.openW(dataFile, description, log, discard, blockKb, delimiters) != 0) {
        logTail(startCount);
        return 1;
    }
    if (firstRecord > 1 && file_.skipRows(uint64_t(firstRecord - 1)) != 0) {
        logTail(startCount);
        return 1;
    }
    if (recordCount == 0) {
        logTail(startCount);
        return 1;
    }
    // Values are bound as UTF-16 text, whatever wide encoding the
    // application chose for its own calls.
    const int64_t keptWide = conn_->wideCharCodePage;
    conn_->wideCharCodePage = kCodePageUtf16LE;
    bool failed = describeTable(table) != 0 || prepareInsert(table) != 0 || chooseMode(recordCount) != 0;
    bool stopped = false;
    bool rejected = false;
    if (!failed) {
        BulkTolerances tolerances;
        tolerances.take(list, errorTolerance, warningTolerance);
        const int64_t firstNumber = firstRecord > 1 ? firstRecord : 1;
        bool dataEnded = false;
        while (!dataEnded && (recordCount < 0 || recordsRead_ < recordCount)) {
            rowNumber_ = firstNumber + recordsRead_;
            bool nextBegun = false;
            bool refused = false;
            bool noRecord = false;
            uint64_t start = 0;
            uint16_t j = 1;
            for (; j <= columnCount_; ++j) {
                LoadColumn& c = columns_[j - 1];
                if (nextBegun || dataEnded) {
                    c.indicator = SQL_NULL_DATA;
                    continue;
                }
                bool end = false;
                if (haveHeld_) {
                    current_.swap(held_);
                    haveHeld_ = false;
                } else if (readField(current_, &end) != 0) {
                    failed = true;
                    break;
                }
                // Fields beyond the previous record's columns are dropped.
                while (!end && j == 1 && current_.number > 1) {
                    if (!surplusWarned_) {
                        basePostWarningMsg(kBaseIdxGeneralWarning, MSG_BULK_SURPLUS_FIELDS);
                        surplusWarned_ = true;
                    }
                    if (readField(current_, &end) != 0) {
                        failed = true;
                        break;
                    }
                }
                if (failed)
                    break;
                if (end) {
                    dataEnded = true;
                    noRecord = j == 1;
                    if (noRecord)
                        break;
                    c.indicator = SQL_NULL_DATA;
                    continue;
                }
                if (j > 1 && current_.number == 1) {
                    // A short record: the field begins the next one.
                    held_.swap(current_);
                    haveHeld_ = true;
                    nextBegun = true;
                    c.indicator = SQL_NULL_DATA;
                    continue;
                }
                if (j == 1) {
                    start = current_.recordStart;
                    // A full batch goes once the end of its last record is
                    // known.
                    closeRecord(start);
                    if (batched_ && batchRows_ >= batchSize_) {
                        if (flushBatch(tolerances, list, &rejected, &stopped) != 0) {
                            failed = true;
                            break;
                        }
                        if (stopped || tolerances.exceeded(list)) {
                            stopped = true;
                            break;
                        }
                    }
                }
                if (c.autoUnique)
                    continue;
                int status = takeValue(c, current_);
                (void)insert_.moveDiagnostics(rowNumber_, j, false);
                if (status != 0) {
                    refused = true;
                    break;
                }
            }
            if (failed || noRecord || stopped)
                break;
            ++recordsRead_;
            if (batched_ && !refused) {
                if (batchRows_ > 0 && batchWouldOverflow()) {
                    if (flushBatch(tolerances, list, &rejected, &stopped) != 0) {
                        failed = true;
                        break;
                    }
                    if (stopped || tolerances.exceeded(list)) {
                        // This record was not run.
                        --recordsRead_;
                        stopped = true;
                        break;
                    }
                }
                if (appendRow(start, rowNumber_) != 0) {
                    failed = true;
                    break;
                }
            } else if (!refused && executeRecord() == 0) {
                ++rowsLoaded_;
            } else {
                rejected = true;
                if (discardRecord(start, nextBegun || haveHeld_) != 0) {
                    failed = true;
                    break;
                }
            }
            if (tolerances.exceeded(list)) {
                stopped = true;
                break;
            }
        }
        // The rows gathered since the last batch, unless the load failed;
        // a stop at a refused record comes after them, as row by row.
        if (batched_ && !failed) {
            if (dataEnded)
                closeRecord(file_.currentOffset());
            else if (haveHeld_)
                closeRecord(held_.recordStart);
            if (flushBatch(tolerances, list, &rejected, &stopped) != 0)
                failed = true;
        }
    }
    conn_->wideCharCodePage = keptWide;
    logTail(startCount);
    (void)file_.closeFiles();
    // A load stopped by its tolerance did not load what was asked: it fails
    // as the export does, with the rows before the stop in the table.
    if (failed || stopped || rowsLoaded_ == 0)
        return 1;
    if (list != nullptr && list->errorCount != 0)
        list->demoteAll();
    if (rejected)
        basePostWarningMsg(kBaseIdxGeneralWarning, MSG_BULK_ROWS_REJECTED);
    return 0;
}

}  // namespace

int16_t bulkLoadTableBody(BaseConnection* conn, const uint16_t* table, const uint16_t* dataFile, int64_t errorTolerance,
                          int64_t warningTolerance, const uint16_t* description, const uint16_t* log,
                          const uint16_t* discard, int64_t firstRecord, int64_t recordCount,
                          int64_t readBufferKb) noexcept
{
    BulkText tableText;
    if (tableText.copy(table) != 0)
        return 1;
    BulkOwnerScope owner(conn);
    Loader loader(conn);
    return loader.run(tableText, dataFile, errorTolerance, warningTolerance, description, log, discard, firstRecord,
                      recordCount, readBufferKb);
}

int16_t bulkLoadTableFromFileNarrow(BaseConnection* conn, const char* table, const char* dataFile,
                                    int64_t errorTolerance, int64_t warningTolerance, const char* description,
                                    const char* log, const char* discard, int64_t firstRecord, int64_t recordCount,
                                    int64_t readBufferKb) noexcept
{
    BulkText texts[5];
    const char* narrow[5] = {table, dataFile, description, log, discard};
    for (int i = 0; i < 5; ++i)
        if (texts[i].take(conn, narrow[i], nullptr) != 0)
            return 1;
    return conn->loadTableFromFileBody(texts[0].text, texts[1].text, errorTolerance, warningTolerance, texts[2].text,
                                       texts[3].text, texts[4].text, firstRecord, recordCount, readBufferKb);
}
