// Table export: "SELECT * FROM" the table on an internal statement, its
// column description into the ".xml" file, its rows into the data file and
// large values into LOB files, with a report in the bulk log. Every file is
// written under a temporary name beside its target and renamed into place
// only when the export has run to its end, so a failed export leaves no
// partial file and clobbers nothing.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstdio>
#include <cstring>

#include "bulk/bulkcall.h"
#include "bulk/bulkexport.h"
#include "bulk/bulkfiles.h"
#include "bulk/bulklog.h"
#include "bulk/xpstsource.h"
#include "convert/textcvt.h"
#include "foundation/codepage.h"
#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/karandom.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseerr.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"
#include "platform/bosenv.h"
#include "platform/bosfile.h"
#include "platform/bosreplace.h"

namespace {

// The schema every description names.
constexpr char kSchemaLine[] = "\" xsi:noNamespaceSchemaLocation=\"http://bulk.mirrowen.invalid/ns/bulk/BulkData.xsd\" "
                               "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
constexpr size_t kMinValueBuffer = 32768;
constexpr size_t kOutBuffer = 65536;
constexpr size_t kTokenLength = 8;

// A file written through a 64 KB buffer.
struct OutFile {
    int32_t fd = -1;
    uint8_t* buffer = nullptr;
    size_t used = 0;

    OutFile() noexcept = default;
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;
    ~OutFile()
    {
        (void)close();
        if (buffer != nullptr)
            ramFreeBlock(buffer);
    }
    // Creates a file that must not exist yet.
    [[nodiscard]] int create(const char* path) noexcept
    {
        if (buffer == nullptr) {
            buffer = static_cast<uint8_t*>(ramAllocBlock(kOutBuffer));
            if (buffer == nullptr)
                return 1;
        }
        char name[KA_BULK_PATH_SIZE];
        memcpy(name, path, strlen(path) + 1);
        used = 0;
        if (bosfopen(name, BOS_OPEN_CREATE | BOS_OPEN_EXCLUSIVE | BOS_OPEN_NO_LOCK, &fd) != 0) {
            fd = -1;
            return 1;
        }
        return 0;
    }
    [[nodiscard]] int flush() noexcept
    {
        if (used != 0 && bosfwrite(fd, -1, buffer, used) != 0)
            return 1;
        used = 0;
        return 0;
    }
    [[nodiscard]] int write(const void* data, size_t length) noexcept
    {
        const auto* p = static_cast<const uint8_t*>(data);
        while (length != 0) {
            if (used == kOutBuffer && flush() != 0)
                return 1;
            size_t n = kOutBuffer - used < length ? kOutBuffer - used : length;
            memcpy(buffer + used, p, n);
            used += n;
            p += n;
            length -= n;
        }
        return 0;
    }
    [[nodiscard]] int close() noexcept
    {
        if (fd < 0)
            return 0;
        int status = flush();
        if (bosfclose(fd) != 0)
            status = 1;
        fd = -1;
        return status;
    }
};

bool isCharacterSql(int16_t type) noexcept
{
    switch (type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case -95:
    case -96:
    case -97: return true;
    default: return false;
    }
}

bool isBinarySql(int16_t type) noexcept
{
    return type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY;
}

bool isUnicodeCp(int64_t cp) noexcept
{
    return cp == kCodePageUtf8 || cp == kCodePageUtf16LE || cp == kCodePageUtf16BE || cp == kCodePageUtf16;
}

// One result column as the export needs it.
struct ExportColumn {
    uint16_t* name;  // owned block
    int16_t nameLength;
    int16_t sqlType;
    int16_t bulkType;
    uint64_t size;
    int16_t precision;
    int16_t scale;
    int16_t nullable;
    int64_t codePage;
    int64_t lobCodePage;
};

class Exporter {
public:
    Exporter(BaseConnection* conn, int64_t codePage) noexcept : conn_(conn), cp_(codePage) {}
    ~Exporter()
    {
        for (uint16_t j = 0; columns_ != nullptr && j < columnCount_; ++j)
            if (columns_[j].name != nullptr)
                ramFreeBlock(columns_[j].name);
        for (void* block : {static_cast<void*>(value_), static_cast<void*>(work_), static_cast<void*>(columns_)})
            if (block != nullptr)
                ramFreeBlock(block);
    }

    // Exports the rows of table ("SELECT * FROM" it on an internal
    // statement) or, with given, the open result of that statement from
    // its current row on; the ODBC return code.
    int16_t run(const BulkText* table, BaseStatement* given, const BulkText& file, const BulkText& log,
                int64_t errorTolerance, int64_t warningTolerance) noexcept;

private:
    [[nodiscard]] int prepareNames(const BulkText& file) noexcept;
    [[nodiscard]] int describe() noexcept;
    [[nodiscard]] int writeDescription() noexcept;
    [[nodiscard]] int writeHeader(const KaStringW& sql) noexcept;
    [[nodiscard]] int writeRow() noexcept;
    [[nodiscard]] int writeField(uint16_t j) noexcept;
    [[nodiscard]] int writeFieldBody(uint16_t j) noexcept;
    [[nodiscard]] int writeText(OutFile& out, int64_t cp, const uint16_t* text, size_t units) noexcept;
    [[nodiscard]] int writeAscii(OutFile& out, const char* text) noexcept;
    [[nodiscard]] int openLob(OutFile& lob) noexcept;
    void tempName(const char* path, char out[KA_BULK_PATH_SIZE]) const noexcept;
    void removeTemps(bool keepNothing) noexcept;
    [[nodiscard]] int commit() noexcept;
    void logTail(int32_t logFd, size_t start) noexcept;

    // The statement's reading steps: its entry points for the export's own
    // statement, the steps inside its call for a statement whose call the
    // export runs in (its entry step holds it already).
    int16_t describeColumn(uint16_t j, uint16_t* name, int16_t units, int16_t* nameLength, int16_t* type,
                           uint64_t* size, int16_t* digits, int16_t* nullable) noexcept
    {
        BaseStatement* s = stmt_.stmt;
        return inCall_ ? s->describeColInCall(j, name, units, nameLength, type, size, digits, nullable)
                       : s->describeCol(j, name, units, nameLength, type, size, digits, nullable);
    }
    int16_t columnNumber(uint16_t j, uint16_t field, int64_t* value) noexcept
    {
        BaseStatement* s = stmt_.stmt;
        return inCall_ ? s->colAttributeInCall(j, field, nullptr, 0, nullptr, value)
                       : s->colAttribute(j, field, nullptr, 0, nullptr, value);
    }
    int16_t nextRow() noexcept
    {
        return inCall_ ? int16_t(xpstStatementFetch(stmt_.stmt, SQL_FETCH_NEXT, 0)) : stmt_.stmt->fetch();
    }
    // The next piece of column j into the value buffer.
    int16_t piece(uint16_t j, int16_t cType, int64_t* indicator) noexcept
    {
        if (!inCall_)
            return stmt_.stmt->getData(j, cType, value_, int64_t(valueSize_), indicator);
        SQLLEN length = 0;
        int16_t rc = xpstStatementGetData(stmt_.stmt, j, cType, value_, SQLLEN(valueSize_), &length);
        *indicator = length;
        return rc;
    }

    BaseConnection* conn_;
    int64_t cp_;
    BulkStatement stmt_;
    char dataPath_[KA_BULK_PATH_SIZE] = {};
    char descPath_[KA_BULK_PATH_SIZE] = {};
    char token_[kTokenLength + 1] = {};
    bool dataReserved_ = false;
    OutFile data_;
    OutFile desc_;
    uint16_t columnCount_ = 0;
    ExportColumn* columns_ = nullptr;
    uint8_t* value_ = nullptr;
    size_t valueSize_ = 0;
    uint8_t* work_ = nullptr;
    size_t workSize_ = 0;
    uint32_t lobNumber_ = 0;
    int64_t rowsWritten_ = 0;
    bool descWritten_ = false;
    bool inCall_ = false;
};

void Exporter::tempName(const char* path, char out[KA_BULK_PATH_SIZE]) const noexcept
{
    snprintf(out, KA_BULK_PATH_SIZE, "%s.%s.tmp", path, token_);
}

int Exporter::prepareNames(const BulkText& file) noexcept
{
    if (bulkPathOf(file.text, dataPath_) != 0 || bulkDescriptionName(dataPath_, descPath_) != 0)
        return 1;
    // A data file named like its description would be overwritten by it.
    if (strcmp(dataPath_, descPath_) == 0) {
        errPost(MSG_BULK_DATA_FILE_IS_DESCRIPTION)->addParamText(dataPath_)->setSqlstate("HY000");
        return 1;
    }
    // Temporary names carry the longest suffix of the set.
    if (strlen(dataPath_) + 2 * kTokenLength + 24 >= KA_BULK_PATH_SIZE) {
        errPost(MSG_BULK_FILE_NAME_TOO_LONG)->addParamText(dataPath_)->setSqlstate("HY000");
        return 1;
    }
    if (KaRandomLetters(token_, kTokenLength) != 0) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    token_[kTokenLength] = 0;
    return 0;
}

int Exporter::describe() noexcept
{
    BaseStatement* s = stmt_.stmt;
    if (s->getResultColumnCount(&columnCount_) != 0)
        return 1;
    if (columnCount_ == 0)
        return 0;
    columns_ = static_cast<ExportColumn*>(ramAllocBlock(sizeof(ExportColumn) * columnCount_));
    if (columns_ == nullptr)
        return 1;
    memset(columns_, 0, sizeof(ExportColumn) * columnCount_);
    size_t need = kMinValueBuffer;
    int64_t charThreshold = conn_->bulkCharacterThreshold;
    int64_t binThreshold = conn_->bulkBinaryThreshold;
    if (charThreshold > int64_t(need) && charThreshold < int64_t(64) * 1024 * 1024)
        need = size_t(charThreshold);
    if (binThreshold > int64_t(need) && binThreshold < int64_t(64) * 1024 * 1024)
        need = size_t(binThreshold);
    for (uint16_t j = 1; j <= columnCount_; ++j) {
        ExportColumn& c = columns_[j - 1];
        uint64_t size = 0;
        int16_t digits = 0;
        uint16_t shortName[256];
        int16_t rc = describeColumn(j, shortName, int16_t(sizeof shortName / 2), &c.nameLength, &c.sqlType, &size,
                                    &digits, &c.nullable);
        (void)stmt_.moveDiagnostics(-1, j, true);
        if (rc == SQL_ERROR)
            return 1;
        if (c.nameLength < 0)
            c.nameLength = 0;
        // The longest name a describe buffer can hold.
        if (c.nameLength > INT16_MAX - 1)
            c.nameLength = INT16_MAX - 1;
        c.name = static_cast<uint16_t*>(ramAllocBlock((size_t(c.nameLength) + 1) * 2));
        if (c.name == nullptr)
            return 1;
        if (c.nameLength < int16_t(sizeof shortName / 2)) {
            memcpy(c.name, shortName, size_t(c.nameLength) * 2);
        } else {
            // A long name is read again whole.
            int16_t again = 0;
            rc = describeColumn(j, c.name, int16_t(c.nameLength + 1), &again, &c.sqlType, &size, &digits, &c.nullable);
            (void)stmt_.moveDiagnostics(-1, j, true);
            if (rc == SQL_ERROR)
                return 1;
        }
        c.name[c.nameLength] = 0;
        c.size = size;
        int64_t isUnsigned = 0;
        int64_t precision = 0;
        (void)columnNumber(j, SQL_DESC_UNSIGNED, &isUnsigned);
        (void)columnNumber(j, SQL_DESC_PRECISION, &precision);
        stmt_.moveDiagnostics(-1, j, true);
        c.precision = int16_t(precision);
        c.scale = digits;
        c.bulkType = bulkIntegerType(c.sqlType, isUnsigned == SQL_TRUE);
        const BaseIRDRecord* record = s->ird != nullptr ? s->ird->irdRecord(j) : nullptr;
        c.codePage = record != nullptr && record->codePage > 0 ? record->codePage : kCodePageUtf8;
        if (c.sqlType == SQL_WCHAR || c.sqlType == SQL_WVARCHAR || c.sqlType == SQL_WLONGVARCHAR)
            c.codePage = record != nullptr && record->codePage > 0 ? record->codePage : kCodePageUtf16LE;
        // The code page of the column's LOB files.
        c.lobCodePage = c.codePage;
        if (isCharacterSql(c.sqlType) && c.codePage != cp_ && charThreshold >= 0) {
            if (charThreshold > 0)
                c.lobCodePage = isUnicodeCp(cp_) && !isUnicodeCp(c.codePage) ? c.codePage : cp_;
            else if (c.codePage == kCodePageUtf8)
                c.lobCodePage = kCodePageUtf8;
            else if (isUnicodeCp(c.codePage))
                c.lobCodePage = conn_->wideCharCodePage != 0 ? conn_->wideCharCodePage : kCodePageUtf16LE;
        }
        // Fixed-length values fit one piece.
        if ((c.sqlType == SQL_BINARY || c.sqlType == SQL_CHAR || c.sqlType == SQL_WCHAR) && size < (1u << 24)) {
            size_t fixed = size_t(size) * 4 + 4;
            if (fixed > need)
                need = fixed;
        }
    }
    valueSize_ = (need + 7) & ~size_t(7);
    workSize_ = valueSize_ * 4 + 16;
    value_ = static_cast<uint8_t*>(ramAllocBlock(valueSize_ + 8));
    work_ = static_cast<uint8_t*>(ramAllocBlock(workSize_));
    return value_ == nullptr || work_ == nullptr ? 1 : 0;
}

int Exporter::writeDescription() noexcept
{
    char temp[KA_BULK_PATH_SIZE];
    tempName(descPath_, temp);
    if (desc_.create(temp) != 0)
        return 1;
    const char* cpName = ianaPreferredName(cp_);
    KaString text;
    if (text.append("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<table codepage=\"") != 0 ||
        bulkAppendXmlEscaped(text, cpName, strlen(cpName)) != 0 || text.append(kSchemaLine) != 0 ||
        text.append("  <row>\n") != 0)
        return 1;
    for (uint16_t j = 0; j < columnCount_; ++j) {
        const ExportColumn& c = columns_[j];
        if (text.append("    <column datatype=\"") != 0 || text.append(bulkDataTypeName(c.bulkType, 0)) != 0 ||
            text.appendChar('"') != 0)
            return 1;
        auto number = [&text](const char* name, int64_t value) -> int {
            return text.appendChar(' ') != 0 || text.append(name) != 0 || text.append("=\"") != 0 ||
                           text.appendSignedNumber(value) != 0 || text.appendChar('"') != 0
                       ? 1
                       : 0;
        };
        auto word = [&text](const char* name, const char* value) -> int {
            return text.appendChar(' ') != 0 || text.append(name) != 0 || text.append("=\"") != 0 ||
                           bulkAppendXmlEscaped(text, value, strlen(value)) != 0 || text.appendChar('"') != 0
                       ? 1
                       : 0;
        };
        auto cpWord = [&](const char* name, int64_t cp) -> int {
            const char* n = ianaPreferredName(cp);
            if (n != nullptr)
                return word(name, n);
            char iana[32];
            snprintf(iana, sizeof iana, "IANA%lld", static_cast<long long>(cp));
            return word(name, iana);
        };
        int rc = 0;
        switch (c.sqlType) {
        case SQL_CHAR:
        case SQL_WCHAR:
        case SQL_VARCHAR:
        case SQL_WVARCHAR: rc = number("length", int64_t(c.size)); [[fallthrough]];
        case SQL_LONGVARCHAR:
        case SQL_WLONGVARCHAR:
            rc = rc != 0 ? rc : cpWord("sourcecodepage", c.codePage);
            if (rc == 0 && c.lobCodePage != c.codePage)
                rc = cpWord("externalfilecodepage", c.lobCodePage);
            break;
        case SQL_BINARY:
        case SQL_VARBINARY: rc = number("length", int64_t(c.size)); break;
        case SQL_NUMERIC:
        case SQL_DECIMAL: rc = number("precision", c.precision) != 0 || number("scale", c.scale) != 0 ? 1 : 0; break;
        case SQL_TIME:
        case SQL_TYPE_TIME:
        case SQL_TIMESTAMP:
        case SQL_TYPE_TIMESTAMP:
        case SQL_INTERVAL_SECOND:
        case SQL_INTERVAL_DAY_TO_SECOND:
        case SQL_INTERVAL_HOUR_TO_SECOND:
        case SQL_INTERVAL_MINUTE_TO_SECOND:
        case 131: rc = number("scale", c.scale); break;
        default: break;
        }
        if (rc == 0 && c.nullable == SQL_NULLABLE)
            rc = word("nullable", "true");
        else if (rc == 0 && c.nullable == SQL_NO_NULLS)
            rc = word("nullable", "false");
        if (rc != 0 || text.appendChar('>') != 0)
            return 1;
        // Column names are escaped, so that any name makes a readable file.
        size_t room = size_t(c.nameLength) * 3 + 1;
        RamPtr<char> name = ramMake<char>(room);
        if (!name)
            return 1;
        char* dest = name.get();
        const uint16_t* src = c.name;
        int32_t produced = 0;
        UErrorCode status = U_ZERO_ERROR;
        ucnvUtf16ToUtf8(&dest, int32_t(room - 1), &produced, &src, c.nameLength, &status);
        if (U_FAILURE(status))
            produced = 0;
        if (bulkAppendXmlEscaped(text, name.get(), size_t(produced)) != 0 || text.append("</column>\n") != 0)
            return 1;
    }
    if (text.append("  </row>\n</table>\n") != 0)
        return 1;
    if (desc_.write(text.data, text.len) != 0 || desc_.close() != 0)
        return 1;
    descWritten_ = true;
    return 0;
}

int Exporter::writeText(OutFile& out, int64_t cp, const uint16_t* text, size_t units) noexcept
{
    if (units == 0)
        return 0;
    if (cp == kCodePageUtf16LE)
        return out.write(text, units * 2);
    size_t room = workSize_;
    // Converted in steps that the work buffer holds whatever the code page.
    size_t step = room / 8;
    while (units != 0) {
        size_t n = units < step ? units : step;
        // A surrogate pair stays in one step.
        if (n < units && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF)
            --n;
        int64_t produced = 0;
        int32_t truncated = 0;
        if (baseConvertText(kCodePageUtf16LE, text, int64_t(n * 2), cp, work_, int64_t(room), &produced, &truncated,
                            &conn_->icuCache, 0) != 0)
            return 1;
        if (out.write(work_, size_t(produced)) != 0)
            return 1;
        text += n;
        units -= n;
    }
    return 0;
}

int Exporter::writeAscii(OutFile& out, const char* text) noexcept
{
    uint16_t wide[64];
    size_t n = 0;
    while (*text != 0) {
        wide[n++] = static_cast<uint8_t>(*text++);
        if (n == sizeof wide / 2 || *text == 0) {
            if (writeText(out, cp_, wide, n) != 0)
                return 1;
            n = 0;
        }
    }
    return 0;
}

int Exporter::writeHeader(const KaStringW& sql) noexcept
{
    if (cp_ == kCodePageUtf8 && data_.write("\xEF\xBB\xBF", 3) != 0)
        return 1;
    if (cp_ == kCodePageUtf16LE && data_.write("\xFF\xFE", 2) != 0)
        return 1;
    if (cp_ == kCodePageUtf16BE && data_.write("\xFE\xFF", 2) != 0)
        return 1;
    BosLocalTime now{};
    bosGetLocalTime(&now);
    char stamp[KA_BULK_DATE_STAMP_LEN + 1];
    bulkFormatDateStamp(now, stamp);
    if (writeAscii(data_, "// ") != 0 || writeAscii(data_, stamp) != 0 || writeAscii(data_, "\n") != 0)
        return 1;
    // The query stays on its one comment line.
    if (writeAscii(data_, "// ") != 0)
        return 1;
    for (size_t i = 0; i + 1 < sql.len; ++i) {
        uint16_t u = sql.data[i] == '\n' || sql.data[i] == '\r' ? uint16_t(' ') : sql.data[i];
        if (writeText(data_, cp_, &u, 1) != 0)
            return 1;
    }
    return writeAscii(data_, "\n");
}

int Exporter::openLob(OutFile& lob) noexcept
{
    char name[KA_BULK_PATH_SIZE];
    char temp[KA_BULK_PATH_SIZE];
    if (bulkLobFileName(dataPath_, lobNumber_ + 1, name) != 0)
        return 1;
    ++lobNumber_;
    tempName(name, temp);
    if (lob.create(temp) != 0)
        return 1;
    const char* file = name + bulkFilePartOffset(name, strlen(name));
    if (writeAscii(data_, "{TW LOBFILE \"") != 0)
        return 1;
    // The name is ASCII but for the data file's own name.
    uint16_t wide[KA_BULK_PATH_SIZE];
    const char* src = file;
    uint16_t* dest = wide;
    int32_t produced = 0;
    UErrorCode status = U_ZERO_ERROR;
    ucnvUtf8ToUtf16(&dest, int32_t(KA_BULK_PATH_SIZE - 1), &produced, &src, -1, &status);
    if (U_FAILURE(status))
        produced = 0;
    return writeText(data_, cp_, wide, size_t(produced)) != 0 || writeAscii(data_, "\"}") != 0 ? 1 : 0;
}

int Exporter::writeField(uint16_t j) noexcept
{
    int status = writeFieldBody(j);
    // What the field's own conversions posted carries its row and column.
    (void)stmt_.moveDiagnostics(rowsWritten_ + 1, j, true);
    return status;
}

int Exporter::writeFieldBody(uint16_t j) noexcept
{
    const ExportColumn& c = columns_[j - 1];
    bool character = isCharacterSql(c.sqlType);
    bool binary = isBinarySql(c.sqlType);
    bool trims = c.sqlType == SQL_CHAR || c.sqlType == SQL_WCHAR || c.sqlType == SQL_BINARY;
    int16_t cType = binary ? SQL_C_BINARY : SQL_C_WCHAR;
    int64_t wideCp = conn_->wideCharCodePage != 0 ? conn_->wideCharCodePage : kCodePageUtf16LE;
    int64_t threshold = character ? conn_->bulkCharacterThreshold : conn_->bulkBinaryThreshold;
    OutFile lob;
    bool toLob = false;
    bool first = true;
    // Held back from the end of a piece: trailing padding and half a pair.
    size_t heldPadding = 0;
    uint16_t heldHigh = 0;
    while (true) {
        int64_t indicator = 0;
        // A cut piece of text ends at its terminator, found in the zeroed
        // tail of the buffer.
        memset(value_ + valueSize_ - 8, 0, 8);
        int16_t rc = piece(j, cType, &indicator);
        bool cut = stmt_.moveDiagnostics(rowsWritten_ + 1, j, true);
        if (rc == SQL_NO_DATA)
            break;
        if (rc == SQL_ERROR)
            return 1;
        if (indicator == SQL_NULL_DATA)
            return 0;
        size_t room = binary ? valueSize_ : valueSize_ - 2;
        bool more = (cut || rc == SQL_SUCCESS_WITH_INFO) && (indicator == SQL_NO_TOTAL || size_t(indicator) > room);
        size_t bytes = 0;
        if (!more) {
            // A whole piece; its length is bounded by the buffer whatever the
            // indicator says.
            bytes = size_t(indicator) < room ? size_t(indicator) : room;
        } else if (binary) {
            bytes = valueSize_;
        } else {
            const auto* tail = reinterpret_cast<const uint16_t*>(value_ + valueSize_);
            bytes = valueSize_ - 2;
            for (size_t k = 2; k <= 4 && tail[-int(k)] == 0; ++k)
                bytes = valueSize_ - 2 * k;
        }
        uint16_t* units = reinterpret_cast<uint16_t*>(value_);
        size_t count = binary ? bytes : bytes / 2;
        // Wide text in UTF-8 (a connection whose wide encoding is UTF-8)
        // becomes UTF-16 first.
        if (!binary && wideCp != kCodePageUtf16LE) {
            int64_t produced = 0;
            int32_t truncated = 0;
            if (baseConvertText(wideCp, value_, int64_t(bytes), kCodePageUtf16LE, work_, int64_t(workSize_), &produced,
                                &truncated, &conn_->icuCache, 0) != 0)
                return 1;
            memcpy(value_, work_, size_t(produced) < valueSize_ ? size_t(produced) : valueSize_);
            count = size_t(produced) / 2;
        }
        if (first) {
            first = false;
            if (character || binary) {
                int64_t total = indicator;
                toLob = threshold == 0 || (threshold > 0 && (total == SQL_NO_TOTAL || total >= threshold || more));
                if (threshold < 0)
                    toLob = false;
            }
            if (toLob) {
                if (openLob(lob) != 0)
                    return 1;
            } else if (character) {
                if (writeAscii(data_, "\"") != 0)
                    return 1;
            } else if (binary) {
                if (writeAscii(data_, "0x") != 0)
                    return 1;
            }
        }
        // Padding at the end of this piece waits for what follows it.
        size_t keep = count;
        if (trims) {
            size_t padding = 0;
            while (keep != 0 && (binary ? value_[keep - 1] == 0 : units[keep - 1] == u' ')) {
                --keep;
                ++padding;
            }
            if (keep != 0 && heldPadding != 0) {
                // Earlier padding is inside the value after all.
                for (; heldPadding != 0; --heldPadding) {
                    int status = 0;
                    if (binary) {
                        uint8_t zero = 0;
                        status = toLob ? lob.write(&zero, 1) : writeAscii(data_, "00");
                    } else {
                        uint16_t blank = u' ';
                        status = toLob ? writeText(lob, c.lobCodePage, &blank, 1) : writeText(data_, cp_, &blank, 1);
                    }
                    if (status != 0)
                        return 1;
                }
            }
            heldPadding += padding;
        }
        if (binary) {
            if (toLob) {
                if (lob.write(value_, keep) != 0)
                    return 1;
            } else {
                static const char kHex[] = "0123456789ABCDEF";
                for (size_t i = 0; i < keep; i += 256) {
                    uint16_t hex[512];
                    size_t n = keep - i < 256 ? keep - i : 256;
                    for (size_t k = 0; k < n; ++k) {
                        hex[2 * k] = static_cast<uint8_t>(kHex[value_[i + k] >> 4]);
                        hex[2 * k + 1] = static_cast<uint8_t>(kHex[value_[i + k] & 15]);
                    }
                    if (writeText(data_, cp_, hex, 2 * n) != 0)
                        return 1;
                }
            }
        } else {
            // Half a surrogate pair from the previous piece goes first.
            size_t from = 0;
            uint16_t pair[2];
            if (heldHigh != 0 && keep != 0) {
                pair[0] = heldHigh;
                pair[1] = units[0];
                heldHigh = 0;
                from = 1;
                if (toLob ? writeText(lob, c.lobCodePage, pair, 2) : writeText(data_, cp_, pair, 2))
                    return 1;
            }
            size_t end = keep;
            if (more && end > from && units[end - 1] >= 0xD800 && units[end - 1] <= 0xDBFF && heldPadding == 0) {
                heldHigh = units[end - 1];
                --end;
            }
            if (toLob) {
                if (writeText(lob, c.lobCodePage, units + from, end - from) != 0)
                    return 1;
            } else if (!character) {
                if (writeText(data_, cp_, units + from, end - from) != 0)
                    return 1;
            } else {
                // Double every quote of the value.
                size_t start = from;
                for (size_t i = from; i < end; ++i) {
                    if (units[i] != u'"')
                        continue;
                    if (writeText(data_, cp_, units + start, i + 1 - start) != 0)
                        return 1;
                    start = i;
                }
                if (writeText(data_, cp_, units + start, end - start) != 0)
                    return 1;
            }
        }
        if (!more)
            break;
    }
    if (heldHigh != 0) {
        // A value that ends in half a pair: written as it came.
        if (toLob ? writeText(lob, c.lobCodePage, &heldHigh, 1) : writeText(data_, cp_, &heldHigh, 1))
            return 1;
    }
    if (toLob)
        return lob.close();
    if (character)
        return writeAscii(data_, "\"");
    return 0;
}

int Exporter::writeRow() noexcept
{
    char field[3] = {};
    char record[3] = {};
    field[0] = static_cast<char>(conn_->bulkFieldDelimiter != 0 ? conn_->bulkFieldDelimiter : ',');
    record[0] = static_cast<char>(conn_->bulkRecordDelimiter != 0 ? conn_->bulkRecordDelimiter : '\n');
    for (uint16_t j = 1; j <= columnCount_; ++j) {
        if (j > 1 && writeAscii(data_, field) != 0)
            return 1;
        if (writeField(j) != 0)
            return 1;
    }
    return writeAscii(data_, record);
}

void Exporter::removeTemps(bool keepNothing) noexcept
{
    char temp[KA_BULK_PATH_SIZE];
    char name[KA_BULK_PATH_SIZE];
    tempName(descPath_, temp);
    (void)bosfdelete(temp);
    tempName(dataPath_, temp);
    (void)bosfdelete(temp);
    for (uint32_t i = 1; i <= lobNumber_; ++i) {
        if (bulkLobFileName(dataPath_, i, name) != 0)
            break;
        tempName(name, temp);
        (void)bosfdelete(temp);
    }
    if (keepNothing && dataReserved_)
        (void)bosfdelete(dataPath_);
}

int Exporter::commit() noexcept
{
    char temp[KA_BULK_PATH_SIZE];
    char name[KA_BULK_PATH_SIZE];
    for (uint32_t i = 1; i <= lobNumber_; ++i) {
        if (bulkLobFileName(dataPath_, i, name) != 0)
            return 1;
        tempName(name, temp);
        if (bosReplaceFile(temp, name) != 0)
            return 1;
    }
    tempName(descPath_, temp);
    if (bosReplaceFile(temp, descPath_) != 0)
        return 1;
    tempName(dataPath_, temp);
    return bosReplaceFile(temp, dataPath_) != 0 ? 1 : 0;
}

void Exporter::logTail(int32_t logFd, size_t start) noexcept
{
    if (logFd < 0)
        return;
    KaErrorList* list = KaErrorCurrentList();
    if (list != nullptr && (list->recordCount() > start || list->outOfMemoryMark != 0)) {
        (void)bosfwrite(logFd, -1, "\n", 1);
        bulkLogRowErrors(logFd, start, *list);
    }
    (void)bulkLogTotals(logFd, rowsWritten_, rowsWritten_, 0);
}

int16_t Exporter::run(const BulkText* table, BaseStatement* given, const BulkText& file, const BulkText& log,
                      int64_t errorTolerance, int64_t warningTolerance) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    size_t startCount = list != nullptr ? list->recordCount() : 0;
    bool noSource = given == nullptr && (table == nullptr || table->text == nullptr || table->length == 0);
    if (noSource || file.text == nullptr || file.length == 0) {
        basePostError(kBaseIdxNullPointer);
        return SQL_ERROR;
    }
    if (ianaPreferredName(cp_) == nullptr) {
        KaError* e = basePostError(kBaseIdxGeneralError);
        char text[64];
        snprintf(text, sizeof text, " Invalid IANAAppCodePage: %lld", static_cast<long long>(cp_));
        if (e != nullptr)
            e->appendText(text);
        return SQL_ERROR;
    }
    if (prepareNames(file) != 0)
        return SQL_ERROR;
    int32_t logFd = -1;
    if (log.text != nullptr && log.length != 0) {
        char logPath[KA_BULK_PATH_SIZE];
        if (bulkPathOf(log.text, logPath) != 0)
            return SQL_ERROR;
        if (bosfopen(logPath, BOS_OPEN_CREATE_MISSING | BOS_OPEN_READWRITE | BOS_OPEN_APPEND | BOS_OPEN_NO_LOCK,
                     &logFd) != 0)
            return SQL_ERROR;
    }
    bool stopped = false;
    bool failed = true;
    do {
        // The data file is claimed first: an existing one stops the export
        // before anything is written.
        {
            char claim[KA_BULK_PATH_SIZE];
            memcpy(claim, dataPath_, strlen(dataPath_) + 1);
            int32_t fd = -1;
            if (bosfopen(claim, BOS_OPEN_CREATE | BOS_OPEN_EXCLUSIVE | BOS_OPEN_NO_LOCK, &fd) != 0)
                break;
            dataReserved_ = true;
            (void)bosfclose(fd);
        }
        KaStringW sql;
        int16_t rc = SQL_SUCCESS;
        if (given != nullptr) {
            // The statement's result is open already; its text heads the
            // data file as the query does for a table.
            stmt_.adopt(given);
            inCall_ = true;
            if (given->savedSqlText != nullptr && given->savedSqlLength > 0 &&
                sql.append(given->savedSqlText, size_t(given->savedSqlLength)) != 0)
                break;
            if (sql.appendChar(0) != 0)
                break;
        } else {
            if (bulkTableQuery(*table, nullptr, sql) != 0 || stmt_.create(conn_) != 0)
                break;
            rc = stmt_.stmt->execDirect(sql.data, int32_t(sql.len - 1));
            stmt_.moveDiagnostics(-1, -1, false);
        }
        if (rc == SQL_ERROR || describe() != 0 || writeDescription() != 0)
            break;
        if (logFd >= 0 && bulkLogExportStart(logFd) != 0)
            break;
        char temp[KA_BULK_PATH_SIZE];
        tempName(dataPath_, temp);
        if (data_.create(temp) != 0 || writeHeader(sql) != 0)
            break;
        BulkTolerances tolerances;
        tolerances.take(list, errorTolerance, warningTolerance);
        bool rowFailed = false;
        while (true) {
            rc = columnCount_ == 0 ? int16_t(SQL_NO_DATA) : nextRow();
            stmt_.moveDiagnostics(rowsWritten_ + 1, -1, false);
            if (rc == SQL_NO_DATA)
                break;
            if (rc == SQL_ERROR) {
                rowFailed = true;
                break;
            }
            if (writeRow() != 0) {
                rowFailed = true;
                break;
            }
            ++rowsWritten_;
            if (tolerances.exceeded(list)) {
                stopped = true;
                break;
            }
        }
        if (rowFailed || data_.close() != 0)
            break;
        // Rows before a stop are complete: the files are kept.
        if (commit() != 0)
            break;
        failed = false;
    } while (false);
    (void)data_.close();
    (void)desc_.close();
    if (failed)
        removeTemps(true);
    logTail(logFd, startCount);
    if (logFd >= 0)
        (void)bosfclose(logFd);
    if (failed || stopped)
        return SQL_ERROR;
    // Errors of single values did not stop the export: they read as
    // warnings of a completed one.
    if (list != nullptr && list->errorCount != 0)
        list->demoteAll();
    return SQL_SUCCESS;
}

}  // namespace

int16_t bulkExportTable(BaseConnection* conn, const char* table, const uint16_t* tableW, const char* file,
                        const uint16_t* fileW, int64_t codePage, int64_t errorTolerance, int64_t warningTolerance,
                        const char* log, const uint16_t* logW) noexcept
{
    if (!conn->isConnected()) {
        basePostNotConnected();
        return SQL_ERROR;
    }
    BulkText tableText;
    BulkText fileText;
    BulkText logText;
    if (tableText.take(conn, table, tableW) != 0 || fileText.take(conn, file, fileW) != 0 ||
        logText.take(conn, log, logW) != 0)
        return SQL_ERROR;
    BulkOwnerScope owner(conn);
    Exporter exporter(conn, codePage);
    return exporter.run(&tableText, nullptr, fileText, logText, errorTolerance, warningTolerance);
}

int16_t bulkExportResultSet(BaseStatement* stmt, const uint16_t* fileName, int64_t codePage, int64_t errorTolerance,
                            int64_t warningTolerance, const uint16_t* logName) noexcept
{
    BaseConnection* conn = stmt->connection;
    if (conn == nullptr) {
        basePostNotConnected();
        return 1;
    }
    BulkText fileText;
    BulkText logText;
    if (fileText.copy(fileName) != 0 || logText.copy(logName) != 0)
        return 1;
    Exporter exporter(conn, codePage);
    int16_t rc = exporter.run(nullptr, stmt, fileText, logText, errorTolerance, warningTolerance);
    xpstStatementReadDone(stmt);
    return rc == SQL_ERROR ? 1 : 0;
}
