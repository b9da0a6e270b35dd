// The shared pieces of the bulk connection operations.
#include "bulk/bulkcall.h"

#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "convert/basecvt.h"
#include "convert/textcvt.h"
#include "foundation/codepage.h"
#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/baseerr.h"
#include "odbc/basestmt.h"

BulkText::~BulkText()
{
    if (text != nullptr)
        ramFree(text);
}

int BulkText::take(BaseConnection* conn, const char* narrow, const uint16_t* wide) noexcept
{
    const char* source = wide != nullptr ? reinterpret_cast<const char*>(wide) : narrow;
    if (source == nullptr)
        return 0;
    int64_t cp = wide != nullptr ? conn->wideCharCodePage : conn->appCodePage;
    if (cp == 0)
        cp = wide != nullptr ? kCodePageUtf16LE : kCodePageUtf8;
    BaseTextContext context{&conn->icuCache, conn->driverTextMode, conn->appCodePage, 4, 1};
    int64_t bytes = baseTerminatedLength(source, baseCodePageUnitWidth(cp));
    int64_t produced = 0;
    if (baseAllocWideFromCp(context, cp, source, bytes, &text, &produced) != 0)
        return 1;
    length = size_t(produced);
    text[length] = 0;
    return 0;
}

int BulkText::copy(const uint16_t* wide) noexcept
{
    if (wide == nullptr)
        return 0;
    size_t n = 0;
    while (wide[n] != 0)
        ++n;
    text = static_cast<uint16_t*>(ramAlloc((n + 1) * sizeof(uint16_t)));
    if (text == nullptr)
        return 1;
    memcpy(text, wide, (n + 1) * sizeof(uint16_t));
    length = n;
    return 0;
}

int bulkPathOf(const uint16_t* name, char out[KA_BULK_PATH_SIZE]) noexcept
{
    char* dest = out;
    const uint16_t* src = name;
    int32_t produced = 0;
    UErrorCode status = U_ZERO_ERROR;
    ucnvUtf16ToUtf8(&dest, KA_BULK_PATH_SIZE - 1, &produced, &src, -1, &status);
    if (U_FAILURE(status) || produced <= 0 || produced >= int32_t(KA_BULK_PATH_SIZE)) {
        errPost(MSG_BULK_FILE_NAME_TOO_LONG)->addParamW(name)->setSqlstate("HY000");
        return 1;
    }
    out[produced] = 0;
    return 0;
}

BulkOwnerScope::BulkOwnerScope(BaseConnection* conn) noexcept
{
    BaseStubConnection* handle = conn != nullptr ? conn->handle : nullptr;
    if (handle != nullptr && !handle->ownedByCaller()) {
        handle->markOwner();
        handle_ = handle;
    }
}

BulkOwnerScope::~BulkOwnerScope()
{
    if (handle_ != nullptr)
        handle_->clearOwner();
}

BulkStatement::~BulkStatement()
{
    if (stmt != nullptr && !borrowed_) {
        (void)stmt->freeStmt(SQL_DROP);
        stmt = nullptr;
    }
}

int BulkStatement::create(BaseConnection* conn) noexcept
{
    KaErrorList* current = KaErrorCurrentList();
    mark_ = current != nullptr ? current->recordCount() : 0;
    return conn->createStatement(&stmt) != 0 || stmt == nullptr ? 1 : 0;
}

void BulkStatement::adopt(BaseStatement* given) noexcept
{
    KaErrorList* current = KaErrorCurrentList();
    mark_ = current != nullptr ? current->recordCount() : 0;
    stmt = given;
    borrowed_ = true;
}

bool BulkStatement::moveDiagnostics(int64_t row, int64_t column, bool dropTruncation) noexcept
{
    KaErrorList* target = KaErrorCurrentList();
    if (stmt == nullptr || target == nullptr)
        return false;
    bool truncated = false;
    BaseErrorList& list = stmt->diagnostics;
    if (&list != target) {
        while (list.recordCount() != 0) {
            KaError* record = list.removeFirst();
            if (record == nullptr)
                break;
            if (target->add(record) != 0 && !record->isStatic())
                delete record;
        }
        if (list.outOfMemoryMark != 0)
            target->setOutOfMemoryMark();
        list.clear();
    }
    static const uint16_t kTruncated[] = {u'0', u'1', u'0', u'0', u'4', 0};
    size_t i = mark_ < target->recordCount() ? mark_ : target->recordCount();
    while (i < target->recordCount()) {
        KaError* record = target->recordAt(i);
        uint16_t state[KA_SQLSTATE_LEN + 1];
        record->effectiveSqlstate(state);
        bool cut = memcmp(state, kTruncated, sizeof kTruncated) == 0;
        truncated = truncated || cut;
        if (dropTruncation && target->outOfMemoryMark == 0 && cut) {
            KaError* gone = target->removeAt(i);
            if (gone != nullptr && !gone->isStatic())
                delete gone;
            continue;
        }
        if (record->row == -1 && record->column == -1)
            record->setRowColumn(row, column);
        ++i;
    }
    mark_ = target->recordCount();
    return truncated;
}

int bulkTableQuery(const BulkText& table, const char16_t* tail, KaStringW& out) noexcept
{
    static const char16_t kSelect[] = u"SELECT * FROM ";
    if (out.append(reinterpret_cast<const uint16_t*>(kSelect), sizeof kSelect / 2 - 1) != 0)
        return 1;
    if (bulkQuoteTableName(table.text, table.length, out) != 0)
        return 1;
    if (tail != nullptr) {
        size_t n = 0;
        while (tail[n] != 0)
            ++n;
        if (out.append(reinterpret_cast<const uint16_t*>(tail), n) != 0)
            return 1;
    }
    return out.appendChar(0) != 0 ? 1 : 0;
}

void BulkTolerances::take(const KaErrorList* list, int64_t errorTolerance, int64_t warningTolerance) noexcept
{
    errorLimit = uint64_t(errorTolerance & INT64_MAX) + uint64_t(list != nullptr ? list->errorCount : 0);
    warningLimit = uint64_t(warningTolerance & INT64_MAX) + uint64_t(list != nullptr ? list->warningCount : 0);
}

bool BulkTolerances::exceeded(const KaErrorList* list) const noexcept
{
    if (list == nullptr)
        return false;
    if (uint64_t(list->errorCount) > errorLimit) {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_BULK_ERROR_TOLERANCE_EXCEEDED);
        return true;
    }
    if (uint64_t(list->warningCount) > warningLimit) {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_BULK_WARNING_TOLERANCE_EXCEEDED);
        return true;
    }
    return false;
}
