// The table load body: a bulk data file read field by field through
// BulkLoadFile, each record bound to the parameters of a prepared INSERT and
// executed, refused records copied byte for byte to the discard file, and
// the diagnostics and totals appended to the bulk log.
//
// Every record goes through one execution of its own. Values are handed
// over whole: text as UTF-16, binary values as their bytes (hexadecimal
// fields decoded here, LOB side files as read), so no value depends on how
// the server would read hexadecimal text.
#include "bulk/bulkload.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <new>
#include <utility>

#include "bulk/bulkcall.h"
#include "bulk/bulkfiles.h"
#include "bulk/bulkloadfile.h"
#include "bulk/bulklog.h"
#include "convert/textcvt.h"
#include "foundation/codepage.h"
#include "foundation/errpost.h"
#include "foundation/kaerror.h"
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
};

int hexValue(uint16_t u) noexcept
{
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

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
        // Hexadecimal digits, two to a byte.
        size_t digits = bytes / 2;
        if (c.value.reserve(digits / 2 + 1) != 0)
            return 1;
        for (size_t i = 0; i < digits; i += 2) {
            uint16_t hi = 0;
            uint16_t lo = 0;
            memcpy(&hi, units + 2 * i, 2);
            if (i + 1 < digits)
                memcpy(&lo, units + 2 * i + 2, 2);
            int h = hexValue(hi);
            int l = i + 1 < digits ? hexValue(lo) : -1;
            if (h < 0 || l < 0) {
                basePostErrorMsg(kBaseIdxBadCharValue, MSG_INVALID_HEX_DIGIT);
                return 1;
            }
            c.value.data[c.value.used++] = uint8_t(h << 4 | l);
        }
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

int16_t Loader::run(const BulkText& table, const uint16_t* dataFile, int64_t errorTolerance,
                    int64_t warningTolerance, const uint16_t* description, const uint16_t* log,
                    const uint16_t* discard, int64_t firstRecord, int64_t recordCount, int64_t readBufferKb) noexcept
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
    bool failed = describeTable(table) != 0 || prepareInsert(table) != 0;
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
                if (j == 1)
                    start = current_.recordStart;
                if (c.autoUnique)
                    continue;
                int status = takeValue(c, current_);
                (void)insert_.moveDiagnostics(rowNumber_, j, false);
                if (status != 0) {
                    refused = true;
                    break;
                }
            }
            if (failed || noRecord)
                break;
            ++recordsRead_;
            if (!refused && executeRecord() == 0) {
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

int16_t bulkLoadTableBody(BaseConnection* conn, const uint16_t* table, const uint16_t* dataFile,
                          int64_t errorTolerance, int64_t warningTolerance, const uint16_t* description,
                          const uint16_t* log, const uint16_t* discard, int64_t firstRecord, int64_t recordCount,
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
