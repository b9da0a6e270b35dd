// Result-set persistence and the entry functions of the record-set writer.
#include "bulk/basexml.h"

#include <cstring>
#include <sqlucode.h>

#include "bulk/xpstpersist.h"
#include "bulk/xpsttempdata.h"
#include "convert/basecvt.h"
#include "foundation/errpost.h"
#include "foundation/icuconv.h"
#include "foundation/kaerror.h"
#include "foundation/kalock.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "platform/boscatalog.h"

namespace {

// Largest fixed-size value a column is read into (a timestamp).
constexpr SQLLEN kFixedValueSize = 32;

// A growing byte block holding one whole value.
struct ValueBuffer {
    uint8_t* data = nullptr;
    size_t length = 0;
    size_t capacity = 0;

    ~ValueBuffer() { ramFree(data); }
    [[nodiscard]] int reserve(size_t more) noexcept
    {
        if (length + more <= capacity)
            return 1;
        size_t want = capacity * 2 > length + more ? capacity * 2 : length + more;
        void* grown = data;
        if (ramRealloc(&grown, want))
            return 0;
        data = static_cast<uint8_t*>(grown);
        capacity = want;
        return 1;
    }
};

bool isCharacterCType(SQLSMALLINT cType) noexcept
{
    return cType == SQL_C_CHAR || cType == SQL_C_WCHAR;
}

// Reads the whole value of a column, piece after piece, so that no value is
// cut at the read length. *isNull on SQL_NULL_DATA. 1 success, 0 failure.
[[nodiscard]] int readWholeValue(const XPstResultSource& source, SQLUSMALLINT column, SQLSMALLINT cType,
                                 SQLLEN pieceBytes, ValueBuffer* value, bool* isNull) noexcept
{
    value->length = 0;
    *isNull = false;
    bool variable = isCharacterCType(cType) || cType == SQL_C_BINARY;
    SQLLEN capacity = variable ? pieceBytes : kFixedValueSize;
    size_t terminator = cType == SQL_C_WCHAR ? sizeof(SQLWCHAR) : cType == SQL_C_CHAR ? 1 : 0;
    for (bool first = true;; first = false) {
        if (!value->reserve(size_t(capacity)))
            return 0;
        SQLLEN indicator = 0;
        SQLRETURN rc = source.getData(source.context, column, cType, value->data + value->length, capacity, &indicator);
        if (rc == SQL_NO_DATA && !first)
            return 1;
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
            return 0;
        if (indicator == SQL_NULL_DATA) {
            *isNull = true;
            return 1;
        }
        if (!variable) {
            value->length = indicator >= 0 && indicator < capacity ? size_t(indicator) : size_t(capacity);
            return 1;
        }
        size_t room = size_t(capacity) - terminator;
        if (cType == SQL_C_WCHAR)
            room &= ~(sizeof(SQLWCHAR) - 1);  // whole units only
        // A piece fills the buffer (less its terminator) unless it is the
        // last one, whose length the indicator gives.
        size_t piece = indicator == SQL_NO_TOTAL || size_t(indicator) > room ? room : size_t(indicator);
        if (indicator < 0 && indicator != SQL_NO_TOTAL)
            return 0;
        value->length += piece;
        if (rc == SQL_SUCCESS)
            return 1;
    }
}

// UTF-16 units to UTF-8 in place of the buffer's content.
[[nodiscard]] int wideToUtf8(ValueBuffer* value) noexcept
{
    size_t units = value->length / sizeof(uint16_t);
    if (units == 0) {
        value->length = 0;
        return 1;
    }
    size_t capacity = units * 3 + 1;
    RamPtr<char> out = ramMake<char>(capacity);
    if (!out)
        return 0;
    // The units may lie unaligned in the byte buffer.
    RamPtr<uint16_t> wide = ramMake<uint16_t>(units);
    if (!wide)
        return 0;
    memcpy(wide.get(), value->data, units * sizeof(uint16_t));
    size_t length = 0;
    if (utf16ToUtf8(out.get(), capacity, wide.get(), int64_t(units), &length, 0) != 0) {
        errPost(MSG_CONVERSION_FAILED);
        return 0;
    }
    ramFree(value->data);
    value->data = reinterpret_cast<uint8_t*>(out.release());
    value->capacity = capacity;
    value->length = length;
    return 1;
}

}  // namespace

SQLSMALLINT xmlCTypeForSqlType(int32_t sqlType, int isUnsigned) noexcept
{
    switch (sqlType) {
    case SQL_CHAR:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case kBaseSqlGraphic:
    case kBaseSqlVarGraphic:
    case kBaseSqlLongVarGraphic: return SQL_C_CHAR;
    case SQL_INTEGER: return isUnsigned ? SQL_C_ULONG : SQL_C_SLONG;
    case SQL_SMALLINT: return isUnsigned ? SQL_C_USHORT : SQL_C_SSHORT;
    case SQL_TINYINT: return isUnsigned ? SQL_C_UTINYINT : SQL_C_STINYINT;
    case SQL_BIGINT: return isUnsigned ? SQL_C_UBIGINT : SQL_C_SBIGINT;
    case SQL_FLOAT:
    case SQL_DOUBLE: return SQL_C_DOUBLE;
    case SQL_REAL: return SQL_C_FLOAT;
    case SQL_TYPE_DATE: return SQL_C_TYPE_DATE;
    case SQL_TYPE_TIME: return SQL_C_TYPE_TIME;
    case SQL_TYPE_TIMESTAMP: return SQL_C_TYPE_TIMESTAMP;
    case SQL_BIT: return SQL_C_BIT;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return SQL_C_BINARY;
    default: return 0;
    }
}

void xmlFreeColumnInfo(XPstColumn* columns, uint16_t count) noexcept
{
    if (columns == nullptr)
        return;
    for (uint16_t i = 0; i < count; ++i)
        ramFree(const_cast<uint16_t*>(columns[i].name));
    ramFree(columns);
}

int xmlBuildColumnInfo(XPstColumn** out, uint16_t count, const XPstResultSource& source) noexcept
{
    *out = nullptr;
    if (count == 0)
        return 0;
    auto* columns = static_cast<XPstColumn*>(ramAlloc(size_t(count) * sizeof(XPstColumn)));
    if (columns == nullptr)
        return 1;
    memset(columns, 0, size_t(count) * sizeof(XPstColumn));
    for (uint16_t i = 0; i < count; ++i) {
        XPstColumn record{};
        if (source.describeColumn(source.context, uint16_t(i + 1), &record)) {
            xmlFreeColumnInfo(columns, count);
            return 1;
        }
        size_t units = 0;
        while (record.name != nullptr && record.name[units] != 0)
            ++units;
        auto* name = static_cast<uint16_t*>(ramAlloc((units + 1) * sizeof(uint16_t)));
        if (name == nullptr) {
            xmlFreeColumnInfo(columns, count);
            return 1;
        }
        if (units > 0)
            memcpy(name, record.name, units * sizeof(uint16_t));
        name[units] = 0;
        record.name = name;
        if (record.sqlType == SQL_NUMERIC || record.sqlType == SQL_DECIMAL) {
            record.size = 0;
        } else {
            record.precision = 0;
            record.scale = 0;
        }
        columns[i] = record;
    }
    *out = columns;
    return 0;
}

void XPstClearErrors() noexcept
{
    if (KaErrorList* list = KaErrorCurrentList())
        list->clear();
}

int XPstOpen(const uint16_t* path, uint32_t mode, XPstTrelliwavePersist** writer) noexcept
{
    if (writer != nullptr)
        *writer = nullptr;
    if (path == nullptr || path[0] == 0 || writer == nullptr) {
        errPost(MSG_XPST_ARGUMENT_INVALID);
        return XPST_FAILED;
    }
    if (mode != XPST_MODE_ONE_DOCUMENT && mode != XPST_MODE_SEPARATE_SCHEMA) {
        errPost(MSG_XPST_PERSIST_MODE_INVALID)->addParamUnsigned(mode);
        return XPST_FAILED;
    }
    std::unique_ptr<XPstTrelliwavePersist> created(new XPstTrelliwavePersist());
    if (created == nullptr) {
        errPost(MSG_XPST_OUT_OF_MEMORY);
        return XPST_FAILED;
    }
    if (int rc = created->open(path, int32_t(mode)); rc != XPST_OK)
        return rc;
    *writer = created.release();
    return XPST_OK;
}

int XPstSetColumns(XPstTrelliwavePersist* writer, const XPstColumn* columns, uint32_t count) noexcept
{
    if (writer == nullptr || columns == nullptr || count == 0) {
        errPost(MSG_XPST_ARGUMENT_INVALID);
        return XPST_FAILED;
    }
    return writer->setColumns(columns, count);
}

int XPstWriteRows(XPstTrelliwavePersist* writer, XPstTempData* store, uint64_t rows) noexcept
{
    if (writer == nullptr || store == nullptr) {
        errPost(MSG_XPST_ARGUMENT_INVALID);
        return XPST_FAILED;
    }
    return writer->writeRows(store->valuesFile, store->offsetsFile, store->lengthsFile, store->valuesSize,
                             store->offsetsSize, store->lengthsSize, rows);
}

int XPstClose(XPstTrelliwavePersist* writer) noexcept
{
    if (writer == nullptr) {
        errPost(MSG_XPST_ARGUMENT_INVALID);
        return XPST_FAILED;
    }
    int rc = writer->close();
    delete writer;
    return rc;
}

int XPstAbort(XPstTrelliwavePersist* writer) noexcept
{
    if (writer == nullptr) {
        errPost(MSG_XPST_ARGUMENT_INVALID);
        return XPST_FAILED;
    }
    writer->abort();
    delete writer;
    return XPST_OK;
}

int XPstCreateTempData(XPstTempData** store) noexcept
{
    if (store == nullptr) {
        errPost(MSG_XPST_ARGUMENT_INVALID);
        return XPST_FAILED;
    }
    *store = nullptr;
    std::unique_ptr<XPstTempData> created(new XPstTempData());
    if (created == nullptr) {
        errPost(MSG_XPST_OUT_OF_MEMORY);
        return XPST_FAILED;
    }
    if (!created->openFiles(nullptr, nullptr, nullptr, 0, 0, 0))
        return XPST_FAILED;
    *store = created.release();
    return XPST_OK;
}

int XPstTempDataAppend(XPstTempData* store, const void* bytes, int64_t length) noexcept
{
    if (store == nullptr || (bytes == nullptr && length != -1)) {
        errPost(MSG_XPST_ARGUMENT_INVALID);
        return XPST_FAILED;
    }
    return store->append(bytes, length) ? XPST_OK : XPST_FAILED;
}

int XPstTempDataRead(XPstTempData* store, void** bytes, int64_t* length) noexcept
{
    if (store == nullptr || bytes == nullptr || length == nullptr) {
        errPost(MSG_XPST_ARGUMENT_INVALID);
        return XPST_FAILED;
    }
    uint8_t* block = nullptr;
    int rc = store->readNext(&block, length);
    *bytes = block;
    return rc ? XPST_OK : XPST_FAILED;
}

int XPstTempDataFree(XPstTempData* store) noexcept
{
    if (store == nullptr) {
        errPost(MSG_XPST_ARGUMENT_INVALID);
        return XPST_FAILED;
    }
    delete store;
    return XPST_OK;
}

void XPstFree(void* block) noexcept
{
    ramFree(block);
}

int xmlPersistResult(const XPstResultSource& source, const uint16_t* path, int32_t length, int32_t mode) noexcept
{
    // An empty name is refused: it would otherwise become a file of some
    // made-up name in the current directory.
    if (path == nullptr || length == 0 || (length < 0 && path[0] == 0)) {
        errPost(MSG_XPST_ARGUMENT_INVALID);
        return 1;
    }
    size_t units = 0;
    if (length < 0)
        while (path[units] != 0)
            ++units;
    else
        units = size_t(length);
    RamPtr<uint16_t> target = ramMake<uint16_t>(units + 1);
    if (!target)
        return 1;
    memcpy(target.get(), path, units * sizeof(uint16_t));
    target.get()[units] = 0;

    int failed = 0;
    XPstTrelliwavePersist* writer = nullptr;
    XPstTempData* store = nullptr;
    XPstColumn* columns = nullptr;
    uint16_t count = source.columnCount(source.context);
    uint64_t startRow = source.rowNumber(source.context);
    if (XPstOpen(target.get(), uint32_t(mode), &writer) != XPST_OK)
        failed = 1;
    target.reset();
    if (!failed && count == 0) {
        errPost(MSG_XPST_ARGUMENT_INVALID);
        failed = 1;
    }
    if (!failed && xmlBuildColumnInfo(&columns, count, source))
        failed = 1;
    if (!failed && (XPstSetColumns(writer, columns, count) != XPST_OK || XPstCreateTempData(&store) != XPST_OK))
        failed = 1;
    if (!failed) {
        int64_t buffer = source.longColumnBuffer > 0 ? source.longColumnBuffer : XPST_DEFAULT_LONG_COLUMN_BUFFER;
        if (buffer < XPST_LEAST_LONG_COLUMN_BUFFER)
            buffer = XPST_LEAST_LONG_COLUMN_BUFFER;
        SQLLEN piece = SQLLEN(3 * buffer);
        ValueBuffer value;
        uint64_t rows = 0;
        SQLRETURN rc = source.fetch(source.context, SQL_FETCH_FIRST, 0);
        while (!failed && (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO)) {
            ++rows;
            for (uint16_t j = 0; j < count && !failed; ++j) {
                SQLSMALLINT cType = xmlCTypeForSqlType(columns[j].sqlType, columns[j].isUnsigned);
                if (cType == SQL_C_CHAR && source.wideCharacters)
                    cType = SQL_C_WCHAR;
                bool isNull = false;
                if (cType == 0 || !readWholeValue(source, uint16_t(j + 1), cType, piece, &value, &isNull) ||
                    (!isNull && cType == SQL_C_WCHAR && !wideToUtf8(&value))) {
                    failed = 1;
                    break;
                }
                if (XPstTempDataAppend(
                        store, isNull ? nullptr : (value.data ? value.data : reinterpret_cast<const uint8_t*>("")),
                        isNull ? -1 : int64_t(value.length)) != XPST_OK)
                    failed = 1;
            }
            if (!failed)
                rc = source.fetch(source.context, SQL_FETCH_NEXT, 0);
        }
        if (!failed && rc != SQL_NO_DATA)
            failed = 1;
        if (!failed) {
            if (source.setRowTotal != nullptr)
                source.setRowTotal(source.context, rows);
            if (XPstWriteRows(writer, store, rows) != XPST_OK) {
                failed = 1;
            } else {
                int closed = XPstClose(writer);
                writer = nullptr;
                failed = closed != XPST_OK;
            }
        }
    }
    if (writer != nullptr)
        XPstAbort(writer);
    if (store != nullptr)
        XPstTempDataFree(store);
    xmlFreeColumnInfo(columns, count);
    // Back to the row the cursor stood on; row 0 leaves it before the first.
    SQLRETURN back = source.fetch(source.context, SQL_FETCH_ABSOLUTE, SQLLEN(startRow));
    if (back == SQL_ERROR)
        failed = 1;
    return failed;
}

// ---- The error list of a caller of the entry functions ---------------------------

namespace {

// Room for the catalogue name XPstInit remembers and for the fallback text.
constexpr size_t kXPstCatalogueNameSize = 256;
constexpr size_t kXPstFallbackTextSize = 128;

// The lists XPstInit makes carry this owner, so that XPstTerm destroys only
// a list of its own making and never one a statement pushed.
const char kXPstListOwner = 0;

KaCriticalSection gXPstTextLock(0, kKaLockPlain);
char gXPstCatalogue[kXPstCatalogueNameSize];
char gXPstFallbackText[kXPstFallbackTextSize];

}  // namespace

int XPstInit(const char* catalogue) noexcept
{
    {
        KaLockGuard<KaCriticalSection> guard(gXPstTextLock);
        gXPstCatalogue[0] = 0;
        if (catalogue != nullptr) {
            size_t n = strnlen(catalogue, kXPstCatalogueNameSize - 1);
            memcpy(gXPstCatalogue, catalogue, n);
            gXPstCatalogue[n] = 0;
        }
    }
    auto* list = new KaErrorList(const_cast<char*>(&kXPstListOwner));
    if (list == nullptr)
        return 1;
    KaErrorPushList(list);
    return 0;
}

int XPstTerm() noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list != nullptr && list->ownerData == &kXPstListOwner) {
        (void)KaErrorPopList();
        delete list;
    }
    return 0;
}

const char* XPstLastErrorText() noexcept
{
    if (KaError* last = KaErrorGetLast(); last != nullptr) {
        if (const char* text = last->messageA(); text != nullptr)
            return text;
    }
    KaLockGuard<KaCriticalSection> guard(gXPstTextLock);
    (void)LoadStringFromOpenFile(gXPstCatalogue, MSG_XPST_NO_ERROR, gXPstFallbackText, sizeof gXPstFallbackText);
    return gXPstFallbackText;
}
