// The catalog result holders and the statement's operations on them: the two
// holder stacks with the IRD each nested holder works in, the state check
// every catalog function starts with, the description of a catalog result,
// and the reading of the driver's rows while a result is built.
#include "odbc/basecatalog.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <utility>

#include "convert/basestring.h"
#include "convert/number.h"
#include "foundation/codepage.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/basedesc.h"
#include "odbc/baseerr.h"
#include "odbc/basestmt.h"
#include "odbc/basestmterr.h"

namespace {

// First read of a character cell; a longer value is read again whole.
constexpr int64_t kCatalogCellBytes = 6004;

bool isCharType(int16_t type) noexcept
{
    return type == SQL_CHAR || type == SQL_VARCHAR || type == SQL_LONGVARCHAR || type == SQL_WCHAR ||
           type == SQL_WVARCHAR || type == SQL_WLONGVARCHAR;
}

int16_t wideOf(int16_t type) noexcept
{
    switch (type) {
    case SQL_CHAR: return SQL_WCHAR;
    case SQL_VARCHAR: return SQL_WVARCHAR;
    case SQL_LONGVARCHAR: return SQL_WLONGVARCHAR;
    default: return type;
    }
}

}  // namespace

// ---- Helpers ------------------------------------------------------------------------------------

void baseCatalogDeleteRows(KaArray& rows) noexcept
{
    for (size_t i = 0; i < rows.count; ++i)
        delete rows.at(i);
    rows.count = 0;
}

int64_t baseCatalogTextLength(const uint16_t* text) noexcept
{
    int64_t n = 0;
    if (text != nullptr)
        while (text[n] != 0)
            ++n;
    return n;
}

uint16_t* baseCatalogCopyText(const uint16_t* text, int64_t length) noexcept
{
    if (length == SQL_NTS)
        length = baseCatalogTextLength(text);
    if (length < 0)
        length = 0;
    auto* out = static_cast<uint16_t*>(ramAlloc(static_cast<size_t>(length + 1) * sizeof(uint16_t)));
    if (out == nullptr)
        return nullptr;
    if (length > 0)
        std::memcpy(out, text, static_cast<size_t>(length) * sizeof(uint16_t));
    out[length] = 0;
    return out;
}

// ---- The wide holder ----------------------------------------------------------------------------

BaseCatalogInfoW::BaseCatalogInfoW(BaseStatement* stmt, int32_t k, const BaseCatalogColumn* table) noexcept
    : statement(stmt), kind(k), columns(table)
{
    rows.growStep = kCatalogRowGrowStep;
    rows.sortFlags = KaSortedArray::noSort1;
}

BaseCatalogInfoW::~BaseCatalogInfoW()
{
    baseCatalogDeleteRows(rows);
    if (savedIrd != nullptr && statement != nullptr) {
        delete statement->ird;
        statement->ird = savedIrd;
        statement->resultColumnCount = savedColumnCount;
        savedIrd = nullptr;
    }
    delete next;
}

int16_t BaseCatalogInfoW::fetchNext(int16_t* end) noexcept
{
    if (currentRow < rows.count) {
        ++currentRow;
        *end = 0;
    } else {
        *end = 1;
    }
    return 0;
}

int16_t BaseCatalogInfoW::setPosition(int64_t row, int16_t* status) noexcept
{
    if (row < 0 || static_cast<uint64_t>(row) > rows.count) {
        *status = kCatalogNoRow;
        return 0;
    }
    currentRow = static_cast<uint32_t>(row);
    *status = kCatalogRowAvailable;
    return 0;
}

KaObject* BaseCatalogInfoW::currentRowObject() const noexcept
{
    if (currentRow == 0 || currentRow > rows.count)
        return nullptr;
    return rows.at(currentRow - 1);
}

int16_t BaseCatalogInfoW::putText(uint16_t column, int16_t cType, BaseOutString* out, const uint16_t* text) noexcept
{
    if (text == nullptr)
        return putNull(cType, out);
    return statement->convertColumnValue(
        column, cType, out, text, baseCatalogTextLength(text) * static_cast<int64_t>(sizeof(uint16_t)), kBaseKindText);
}

int16_t BaseCatalogInfoW::putShort(uint16_t column, int16_t cType, BaseOutString* out, int16_t value) noexcept
{
    return statement->convertColumnValue(column, cType, out, &value, sizeof value, kBaseKindSmallInt);
}

int16_t BaseCatalogInfoW::putLong(uint16_t column, int16_t cType, BaseOutString* out, int32_t value) noexcept
{
    return statement->convertColumnValue(column, cType, out, &value, sizeof value, kBaseKindInteger);
}

int16_t BaseCatalogInfoW::putNull(int16_t cType, BaseOutString* out) noexcept
{
    if (out->setNull(1) != 0)
        return 1;
    int64_t width = 1;
    switch (cType) {
    case SQL_C_WCHAR: width = 2; break;
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT: width = 2; break;
    case SQL_C_LONG:
    case SQL_C_SLONG:
    case SQL_C_ULONG:
    case SQL_C_FLOAT: width = 4; break;
    case SQL_C_DOUBLE: width = 8; break;
    default: break;
    }
    if (out->buffer != nullptr && out->bufferLength > 0)
        std::memset(out->buffer, 0, static_cast<size_t>(width < out->bufferLength ? width : out->bufferLength));
    return 0;
}

// ---- The narrow holder --------------------------------------------------------------------------

BaseCatalogInfo::BaseCatalogInfo(BaseStatement* stmt, int32_t k) noexcept : statement(stmt), kind(k)
{
    rows.growStep = kCatalogRowGrowStep;
    rows.sortFlags = KaSortedArray::noSort1;
}

BaseCatalogInfo::~BaseCatalogInfo()
{
    baseCatalogDeleteRows(rows);
    delete next;
}

int16_t BaseCatalogInfo::fetchNext(int16_t* end) noexcept
{
    if (currentRow < rows.count) {
        ++currentRow;
        *end = 0;
    } else {
        *end = 1;
    }
    return 0;
}

int16_t BaseCatalogInfo::setPosition(int64_t row, int16_t* status) noexcept
{
    if (row < 0 || static_cast<uint64_t>(row) > rows.count) {
        *status = kCatalogNoRow;
        return 0;
    }
    currentRow = static_cast<uint32_t>(row);
    *status = kCatalogRowAvailable;
    return 0;
}

int16_t BaseCatalogInfo::getData(uint16_t, int16_t, BaseOutString*) noexcept
{
    basePostError(kBaseIdxGeneralError);
    return 1;
}

// ---- The statement's operations -----------------------------------------------------------------

int16_t BaseStatement::checkCatalogState() noexcept
{
    if (reentryPending)
        return 0;
    if (statementState == kBaseStmtCursorOpen) {
        if (connection == nullptr || (connection->workarounds2 & kBaseWa2CloseOpenCursor) == 0) {
            basePostError(kBaseIdxCursorState);
            return 1;
        }
        if (resetStatement() != 0)
            return 1;
    }
    if (statementState != kBaseStmtAllocated && resetStatement() != 0)
        return 1;
    // A statement whose last result was a catalog result has been reset, but
    // a holder left by a failed reset must not be read as the new result.
    freeCatalogInfo();
    executionMode = kBaseExecCatalog;
    return 0;
}

int16_t BaseStatement::pushColumnsInfo(BaseCatalogInfoW* holder) noexcept
{
    holder->savedColumnCount = resultColumnCount;
    holder->savedIrd = nullptr;
    if (catalogInfoW != nullptr) {
        BaseIRD* outer = ird;
        BaseIRD* fresh = nullptr;
        if (createIRD(&fresh) != 0 || fresh == nullptr) {
            ird = outer;
            return 1;
        }
        holder->savedIrd = outer;
        ird = fresh;
    }
    resultColumnCount = 0;
    resultDescribed = false;
    holder->next = catalogInfoW;
    catalogInfoW = holder;
    return 0;
}

int16_t BaseStatement::popColumnsInfo() noexcept
{
    BaseCatalogInfoW* top = catalogInfoW;
    if (top == nullptr)
        return 0;
    if (top->savedIrd != nullptr) {
        delete ird;
        ird = top->savedIrd;
        top->savedIrd = nullptr;
    }
    resultColumnCount = top->savedColumnCount;
    resultDescribed = true;
    catalogInfoW = top->next;
    top->next = nullptr;
    delete top;
    return 0;
}

int16_t BaseStatement::pushCatalogInfo(BaseCatalogInfo* holder) noexcept
{
    holder->savedColumnCount = resultColumnCount;
    holder->next = catalogInfo;
    catalogInfo = holder;
    return 0;
}

int16_t BaseStatement::popCatalogInfo() noexcept
{
    BaseCatalogInfo* top = catalogInfo;
    if (top == nullptr)
        return 0;
    catalogInfo = top->next;
    top->next = nullptr;
    delete top;
    return 0;
}

void BaseStatement::freeCatalogInfo() noexcept
{
    // Each holder puts back the IRD it saved, innermost first, so the
    // statement ends with the IRD it had before the outermost push.
    while (catalogInfoW != nullptr)
        (void)popColumnsInfo();
    delete catalogInfo;
    catalogInfo = nullptr;
}

int16_t BaseStatement::bindCatalogColumns(uint16_t count, const BaseCatalogColumn* table,
                                          int16_t catalogColumn) noexcept
{
    if (ird == nullptr || ensureDescriptorRecords(count, 1) != 0 || ird->setRecordCount(count) != 0)
        return 1;
    // The driver's catalog rows are read as UTF-16; an application that has
    // not declared itself an ANSI one sees the wide character types.
    const bool wide = connection != nullptr && (connection->connectionFlags & kBaseConnAnsiApp) == 0 &&
                      (connection->workarounds & kBaseWaAnsiApp) == 0;
    for (uint16_t k = 0; k < count; ++k) {
        BaseIRDRecord* rec = ird->irdRecord(k + 1);
        if (rec == nullptr)
            return 1;
        rec->freeTypeInfo();
        rec->dropName();
        if (rec->label != nullptr && rec->labelBorrowed == 0)
            ramFree(rec->label);
        const BaseCatalogColumn& c = table[k];
        rec->name = const_cast<uint16_t*>(c.name);
        rec->nameBorrowed = 1;
        rec->label = const_cast<uint16_t*>(c.name);
        rec->labelBorrowed = 1;
        const int16_t type = wide ? wideOf(c.sqlType) : c.sqlType;
        rec->setConciseType(type);
        uint32_t size = c.columnSize;
        if (catalogColumn >= 0 && k == static_cast<uint16_t>(catalogColumn) && connection != nullptr &&
            connection->useLongQualifiers != 0)
            size = 1024;
        rec->precision = static_cast<int16_t>(size);
        rec->length = size;
        rec->columnSize = size;
        rec->octetLength = isCharType(type) ? static_cast<int64_t>(size) * (type == c.sqlType ? 1 : 2) : 0;
        rec->nullable = c.nullable;
        rec->scale = 0;
        rec->searchable = 0;
        rec->updatable = 0;
        if (isCharType(type))
            rec->setCodePage(kCodePageUtf16LE);
    }
    resultColumnCount = count;
    resultDescribed = true;
    fixColumnSizes();
    return 0;
}

int16_t BaseStatement::bindCatalogColumn(uint16_t column, BaseIRDRecord* source, bool clientCodePage) noexcept
{
    if (ird == nullptr || ensureDescriptorRecords(column, 1) != 0)
        return 1;
    BaseIRDRecord* rec = ird->irdRecord(column);
    if (rec == nullptr || source == nullptr)
        return 1;
    rec->dropName();
    rec->name = source->name;
    rec->nameBorrowed = source->nameBorrowed;
    source->nameBorrowed = 1;
    rec->label = rec->name;
    rec->labelBorrowed = 1;
    rec->precision = source->precision;
    rec->setConciseType(source->conciseType);
    rec->nullable = source->nullable;
    if (isCharType(source->conciseType)) {
        rec->setCodePage(clientCodePage && connection != nullptr ? connection->appCodePage : kCodePageUtf16LE);
        rec->length = source->length != 0 ? source->length : static_cast<uint64_t>(source->precision);
    } else {
        rec->length = static_cast<uint64_t>(source->precision);
    }
    resultColumnCount = column;
    fixColumnSizes();
    return 0;
}

void BaseStatement::makeCatalogColumnsWide() noexcept
{
    if (ird == nullptr)
        return;
    for (uint16_t c = 1; c <= resultColumnCount; ++c)
        if (BaseIRDRecord* rec = ird->irdRecord(c); rec != nullptr && isCharType(rec->conciseType))
            rec->setCodePage(kCodePageUtf16LE);
}

int16_t BaseStatement::getCatalogColumnValue(uint16_t column, void* cell) noexcept
{
    const BaseCatalogInfoW* top = catalogInfoW;
    if (top == nullptr || top->columns == nullptr || column == 0) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    const int16_t declared = top->columns[column - 1].sqlType;
    resetLongData();
    if (declared == SQL_INTEGER || declared == SQL_SMALLINT) {
        const bool wide32 = declared == SQL_INTEGER;
        int32_t value32 = 0;
        int16_t value16 = 0;
        int64_t indicator = 0;
        BaseOutString out(wide32 ? static_cast<void*>(&value32) : static_cast<void*>(&value16),
                          static_cast<int64_t>(wide32 ? sizeof value32 : sizeof value16), &indicator, &indicator);
        if (catalogColumnData(column, wide32 ? SQL_C_SLONG : SQL_C_SSHORT, &out) != 0)
            return 1;
        if (indicator != SQL_NULL_DATA) {
            if (wide32)
                *static_cast<int32_t*>(cell) = value32;
            else
                *static_cast<int16_t*>(cell) = value16;
        }
        return 0;
    }
    if (!isCharType(declared))
        return 0;
    return readCatalogText(column, static_cast<uint16_t**>(cell), false);
}

namespace {

// Reads text column `column` of the current row whole, as UTF-16, so no
// name, type or comment is cut: the first read into kCatalogCellBytes from
// place(0, bytes), a longer value read again into place(1, its bytes).
// *text: where it was read, NUL-terminated; *units its length, -1 for NULL.
// place gives null after the out-of-memory diagnostic. 0, or 1.
template <class Place>
int16_t readWholeText(BaseStatement* s, uint16_t column, bool nested, Place place, uint16_t** text,
                      int64_t* units) noexcept
{
    BaseConnection* conn = s->connection;
    int64_t room = kCatalogCellBytes;
    for (int attempt = 0; attempt < 2; ++attempt) {
        uint16_t* buffer = place(attempt, room);
        if (buffer == nullptr)
            return 1;
        int64_t indicator = 0;
        BaseOutString out(buffer, room, &indicator, &indicator);
        KaDiagMark mark;
        s->resetLongData();
        const int64_t savedCp = conn != nullptr ? conn->wideCharCodePage : 0;
        if (conn != nullptr)
            conn->wideCharCodePage = kCodePageUtf16LE;
        const int16_t rc = nested ? s->getDataQuick(column, SQL_C_WCHAR, &out, false, 0)
                                  : s->catalogColumnData(column, SQL_C_WCHAR, &out);
        if (conn != nullptr)
            conn->wideCharCodePage = savedCp;
        s->resetLongData();
        if (rc != 0)
            return 1;
        if (indicator == SQL_NULL_DATA) {
            *units = -1;
            return 0;
        }
        const bool cut = indicator == SQL_NO_TOTAL || indicator > room - 2;
        if (cut && attempt == 0 && indicator != SQL_NO_TOTAL) {
            // The truncation warning of the first read says nothing to the
            // application: the value is read again whole.
            while (mark.posted() > 0)
                mark.list()->discardLast();
            room = indicator + 2;
            continue;
        }
        *units = (cut ? room - 2 : indicator) / 2;
        buffer[*units] = 0;
        *text = buffer;
        return 0;
    }
    return 0;
}

}  // namespace

int16_t BaseStatement::readCatalogText(uint16_t column, uint16_t** text, bool nested) noexcept
{
    // The first read goes into a stage on the stack and what is kept is
    // copied to a block of its own length: catalog results hold these texts
    // for every row, and a block of the stage's size each made a listing of
    // a large warehouse cost kilobytes per row.
    alignas(uint16_t) char stage[kCatalogCellBytes];
    RamPtr<uint16_t> large;
    auto place = [&](int attempt, int64_t bytes) noexcept -> uint16_t* {
        if (attempt == 0)
            return reinterpret_cast<uint16_t*>(stage);
        large = ramMake<uint16_t>(static_cast<size_t>(bytes) / sizeof(uint16_t) + 1);
        return large.get();
    };
    uint16_t* read = nullptr;
    int64_t units = -1;
    if (readWholeText(this, column, nested, place, &read, &units) != 0)
        return 1;
    if (units < 0)
        return 0;
    uint16_t* kept = read == large.get() ? large.release() : baseCatalogCopyText(read, units);
    if (kept == nullptr)
        return 1;
    ramFree(*text);
    *text = kept;
    return 0;
}

// ---- The texts of one row -----------------------------------------------------------------------

BaseCatalogRowTexts::~BaseCatalogRowTexts()
{
    ramFree(spill_);
}

uint16_t* BaseCatalogRowTexts::reserve(int64_t units) noexcept
{
    const size_t need = used_ + static_cast<size_t>(units);
    if (need <= capacity_)
        return (spill_ != nullptr ? spill_ : inline_) + used_;
    size_t grown = capacity_ * 2;
    while (grown < need)
        grown *= 2;
    auto* bigger = static_cast<uint16_t*>(ramAlloc(grown * sizeof(uint16_t)));
    if (bigger == nullptr)
        return nullptr;
    std::memcpy(bigger, spill_ != nullptr ? spill_ : inline_, used_ * sizeof(uint16_t));
    ramFree(spill_);
    spill_ = bigger;
    capacity_ = grown;
    return spill_ + used_;
}

int16_t BaseCatalogRowTexts::read(BaseStatement* stmt, uint16_t column, bool nested, uint16_t** field) noexcept
{
    if (count_ == kMaxTexts) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    // Each read goes straight to the end of the stage, which grows to hold
    // the text whole.
    auto place = [&](int, int64_t bytes) noexcept { return reserve(bytes / 2 + 1); };
    uint16_t* read = nullptr;
    int64_t units = -1;
    if (readWholeText(stmt, column, nested, place, &read, &units) != 0)
        return 1;
    slots_[count_++] = Slot{field, used_, units};
    if (units >= 0)
        used_ += static_cast<size_t>(units) + 1;
    return 0;
}

int16_t BaseCatalogRowTexts::add(const uint16_t* text, int64_t length, uint16_t** field) noexcept
{
    if (count_ == kMaxTexts) {
        basePostError(kBaseIdxGeneralError);
        return 1;
    }
    if (text == nullptr) {
        slots_[count_++] = Slot{field, used_, -1};
        return 0;
    }
    if (length == SQL_NTS)
        length = baseCatalogTextLength(text);
    if (length < 0)
        length = 0;
    uint16_t* at = reserve(length + 1);
    if (at == nullptr)
        return 1;
    if (length > 0)
        std::memmove(at, text, static_cast<size_t>(length) * sizeof(uint16_t));
    at[length] = 0;
    slots_[count_++] = Slot{field, used_, length};
    used_ += static_cast<size_t>(length) + 1;
    return 0;
}

const uint16_t* BaseCatalogRowTexts::at(size_t i) const noexcept
{
    if (i >= count_ || slots_[i].length < 0)
        return nullptr;
    return (spill_ != nullptr ? spill_ : inline_) + slots_[i].offset;
}

int64_t BaseCatalogRowTexts::lengthAt(size_t i) const noexcept
{
    return i < count_ ? slots_[i].length : -1;
}

int16_t BaseCatalogRowTexts::keep(RamPtr<uint16_t>* block) noexcept
{
    RamPtr<uint16_t> kept;
    if (used_ > 0) {
        kept = ramMake<uint16_t>(used_);
        if (kept == nullptr) {
            clear();
            return 1;
        }
        std::memcpy(kept.get(), spill_ != nullptr ? spill_ : inline_, used_ * sizeof(uint16_t));
    }
    for (size_t i = 0; i < count_; ++i)
        if (slots_[i].field != nullptr)
            *slots_[i].field = slots_[i].length < 0 ? nullptr : kept.get() + slots_[i].offset;
    *block = std::move(kept);
    clear();
    return 0;
}

void BaseCatalogRowTexts::clear() noexcept
{
    count_ = 0;
    used_ = 0;
}

int16_t BaseStatement::closeDriverResult() noexcept
{
    return freeResultsHook(false);
}

int16_t BaseStatement::finishCatalogExecute() noexcept
{
    setExecutedState();
    if (resultColumnCount != 0 && cursorName == nullptr)
        return generateCursorName();
    return 0;
}

int16_t BaseStatement::catalogFetchRow(int16_t* end) noexcept
{
    return fetchRow(end);
}

int16_t BaseStatement::catalogColumnData(uint16_t column, int16_t cType, BaseOutString* out) noexcept
{
    return getColumnData(column, cType, out);
}
