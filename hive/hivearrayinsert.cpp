// Array insert: a parameter array of an INSERT ... VALUES goes to the
// server as multi-row INSERT statements, each batch one ExecuteStatement
// whose text the framework's builder wrote into the area kept here.
#include "hive/hivearrayinsert.h"

#include <cstring>

#include "foundation/errpost.h"
#include "foundation/icuconv.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "hive/hiveconnection.h"
#include "hive/hivestatement.h"
#include "hive/hivethrift.h"
#include "kamessages.h"
#include "odbc/basedesc.h"
#include "odbc/baseerr.h"

DrvrMultiRowInsert::~DrvrMultiRowInsert() = default;

int16_t DrvrMultiRowInsert::reserve(size_t size) noexcept
{
    if (areaSize >= size)
        return 0;
    RamPtr<char> bigger = ramMake<char>(size);
    if (!bigger)
        return 1;
    area = std::move(bigger);
    areaSize = size;
    return 0;
}

int16_t DrvrMultiRowInsert::begin() noexcept
{
    storedRows = 0;
    auto* stmt = static_cast<HiveStatement*>(owner);
    HiveConnection* conn = stmt->hiveConnection();
    const int64_t limit = conn != nullptr ? conn->arrayInsertLimit : 0;
    if (limit <= kHiveArrayInsertOverhead - 1) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    const auto capacity = static_cast<size_t>(limit - kHiveArrayInsertOverhead);
    if (reserve(capacity) != 0)
        return 1;
    outputBuffer = area.get();
    outputCapacity = capacity;
    writeOffset = 0;
    return 0;
}

int hiveWriteExecuteUtf8(HiveConnection* conn, const char* text, size_t n, bool runAsync) noexcept
{
    // As the single-row execute writes it, runAsync in the request: the
    // text is UTF-8 already.
    HiveNetWriteBuffer& w = conn->writeBuffer;
    if (hiveWriteCallBegin(w, "ExecuteStatement", 0) || conn->writeSessionHandle(kTExecuteStatementReqSessionHandle) ||
        w.writeFieldBegin(HIVE_T_STRING, kTExecuteStatementReqStatement) || w.writeString(text, n) ||
        w.writeFieldBegin(HIVE_T_MAP, kTExecuteStatementReqConfOverlay) || w.put(HIVE_T_STRING) ||
        w.put(HIVE_T_STRING) || w.writeI32(0))
        return 1;
    if (runAsync && (w.writeFieldBegin(HIVE_T_BOOL, kTExecuteStatementReqRunAsync) || w.put(1)))
        return 1;
    return w.writeFieldStop() || w.writeFieldStop() || w.flush();
}

int16_t DrvrMultiRowInsert::send() noexcept
{
    auto* stmt = static_cast<HiveStatement*>(owner);
    HiveConnection* conn = stmt->hiveConnection();
    HiveCommunicatorHS2* comm = stmt->communicator;
    if (conn == nullptr || comm == nullptr || comm->closeCurrentOperation())
        return 1;
    comm->pendingMethod = "ExecuteStatement";
    const int rc = hiveWriteExecuteUtf8(conn, outputBuffer, writeOffset, stmt->settings.useAsync != 0);
    writeOffset = 0;
    return rc != 0 ? 1 : 0;
}

void DrvrMultiRowInsert::batchSent(int32_t) noexcept {}

void DrvrMultiRowInsert::setBatchRows(int64_t rows) noexcept
{
    storedRows = rows;
}

int64_t DrvrMultiRowInsert::batchRows() noexcept
{
    return storedRows;
}

int16_t DrvrMultiRowInsert::convertValue(uint16_t, const void* data, int64_t length, KaString* out) noexcept
{
    const auto units = static_cast<size_t>(length > 0 ? length : 0) / 2;
    const size_t room = units * 3 + 1;
    if (out->capacity < out->len + room && out->reserve(out->len + room) != 0)
        return 1;
    size_t produced = 0;
    if (utf16ToUtf8(out->data + out->len, out->capacity - out->len, static_cast<const uint16_t*>(data),
                    static_cast<int64_t>(units), &produced, 0) != 0 ||
        produced >= out->capacity - out->len) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    out->len += produced;
    return 0;
}

namespace {

bool unitsEqual(const uint16_t* text, const char* ascii, size_t n) noexcept
{
    for (size_t i = 0; i < n; ++i)
        if (text[i] != static_cast<uint8_t>(ascii[i]))
            return false;
    return true;
}

bool blank(uint16_t u) noexcept
{
    return u == ' ' || u == '\t' || u == '\r' || u == '\n';
}

}  // namespace

// The SQL parser sends a one-row INSERT ... VALUES to the server as INSERT
// INTO TABLE name SELECT items FROM (SELECT COUNT(*) FROM name) TEMP_ALIAS,
// a form that cannot take more rows: the VALUES form is given back, items
// unchanged. Any other text is copied as it is.
int16_t hiveInsertValuesText(const uint16_t* text, size_t units, KaStringW* out) noexcept
{
    static const char kFrom[] = " FROM (SELECT COUNT(*) FROM ";
    static const char kTail[] = ") TEMP_ALIAS";
    static const char kSelect[] = "SELECT ";
    const size_t fromLength = sizeof kFrom - 1;
    const size_t tailLength = sizeof kTail - 1;
    out->len = 0;
    if (units < fromLength + tailLength || !unitsEqual(text + units - tailLength, kTail, tailLength))
        return out->append(text, units) != 0 ? 1 : 0;
    size_t from = units - tailLength - fromLength;
    for (;; --from) {
        if (unitsEqual(text + from, kFrom, fromLength))
            break;
        if (from == 0)
            return out->append(text, units) != 0 ? 1 : 0;
    }
    const uint16_t* name = text + from + fromLength;
    const size_t nameLength = units - tailLength - (from + fromLength);
    // The head is INSERT INTO TABLE, the name as the tail repeats it, then
    // the SELECT the rewriter put in place of the opening parenthesis.
    for (size_t at = 0; at + nameLength <= from; ++at) {
        if (nameLength == 0 || std::memcmp(text + at, name, nameLength * sizeof(uint16_t)) != 0)
            continue;
        size_t items = at + nameLength;
        while (items < from && blank(text[items]))
            ++items;
        if (from - items < sizeof kSelect - 1 || !unitsEqual(text + items, kSelect, sizeof kSelect - 1))
            continue;
        items += sizeof kSelect - 1;
        return out->append(text, at + nameLength) || out->appendNarrow(" VALUES (", 9) ||
                       out->append(text + items, from - items) || out->appendChar(')')
                   ? 1
                   : 0;
    }
    return out->append(text, units) != 0 ? 1 : 0;
}

int16_t HiveStatement::beginMultiRowInsert() noexcept
{
    arrayInsert.init(this);
    HiveConnection* conn = hiveConnection();
    const BaseAXD* apd = currentApd;
    if (preparedKind != HIVE_KIND_INSERT || conn == nullptr || conn->batchMechanism != kHiveBatchMultiRowInsert ||
        apd == nullptr || apd->arraySize <= 1 || markerCount == 0 || conn->nativeArrayInsert == 0 || sqlText == nullptr)
        return 0;
    // The template gets the quote rewriting the single-row text gets; the
    // values' literals need none, their quotes being escaped.
    KaStringW insert;
    if (hiveInsertValuesText(sqlText, sqlTextLength, &insert) != 0)
        return 0;
    HiveConnection::fixQuotedLiterals(insert.data, insert.len);
    const KaDiagMark mark;
    const int16_t rc = arrayInsert.parseInsert(insert.data, insert.len);
    if (rc == 0 && arrayInsert.active() && arrayInsert.templateMarkers() == markerOffsetCount) {
        multiRowInsert = &arrayInsert;
        return 1;
    }
    // The rows then go one by one; why the text could not be batched is no
    // concern of the application's.
    mark.drop();
    arrayInsert.reset();
    return 0;
}
