// The framework's diagnostics records, lists and posting operations.
#include "odbc/baseerr.h"

#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <cstring>

#include "convert/textcvt.h"
#include "foundation/numtext.h"
#include "foundation/kastringw.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/baseenv.h"
#include "odbc/basehandles.h"
#include "convert/basestring.h"

namespace {

// Longest text a message box shows, in units.
constexpr int64_t kShowErrorsMax = 32767;
// Style of the message box that shows all diagnostics.
constexpr int16_t kShowErrorsStyle = 8240;

#define U16(s) reinterpret_cast<const uint16_t*>(u##s)

const uint16_t kPrefix[] = {'[', 'M', 'i', 'r', 'r', 'o', 'w', 'e', 'n', ']', '[', 'O', 'D', 'B', 'C', ' ', 0};
constexpr int64_t kPrefixLen = 16;
const uint16_t kDriverSuffix[] = {' ', 'd', 'r', 'i', 'v', 'e', 'r', 0};
constexpr int64_t kDriverSuffixLen = 7;
const uint16_t kEmpty[] = {0};
const uint16_t kOutOfMemoryText[] = {'O', 'u', 't', ' ', 'O', 'f', ' ', 'M', 'e', 'm', 'o', 'r', 'y', 0};

int64_t unitLength(const uint16_t* s) noexcept
{
    int64_t n = 0;
    if (s != nullptr)
        while (s[n] != 0)
            ++n;
    return n;
}

struct Piece {
    const uint16_t* text;
    int64_t len;
};

// The static records every BaseErrorList hands out; made at load, gone at exit.
BaseError& staticOutOfMemory() noexcept
{
    static BaseError record(KaError::STATIC_OUT_OF_MEMORY);
    return record;
}

BaseError& staticParamSink() noexcept
{
    static BaseError record(KaError::STATIC_PARAM_SINK);
    return record;
}

// Force both records into being while the library loads.
[[maybe_unused]] const bool kStaticRecordsMade = (staticOutOfMemory(), staticParamSink(), true);

// The thread's current list may be a plain foundation list with no handle
// behind it.
BaseErrorList* asBaseList(KaErrorList* list) noexcept
{
    return list != nullptr ? dynamic_cast<BaseErrorList*>(list) : nullptr;
}

// The name that stands for the driver in message prefixes.
int64_t driverName(BaseConnection* conn, uint16_t* out) noexcept
{
    int64_t n = conn->getResourceString(MSG_DRIVER_PRODUCT_NAME, out);
    if (n == 0 || (out[0] >= '0' && out[0] <= '9'))
        n = conn->getResourceString(MSG_DBMS_PRODUCT_NAME, out);
    return n;
}

KaError* postOn(KaErrorList* list, KaError* record) noexcept
{
    if (list == nullptr)
        return KaErrorParamSink();
    return KaErrorPost(record);
}

KaError* postText(uint16_t index, uint32_t native, const uint16_t* text, int warning) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list == nullptr)
        return KaErrorParamSink();
    return KaErrorPost(list->newRecordW(0, text != nullptr ? text : kEmpty, warning, index, native));
}

KaError* postTextA(uint16_t index, uint32_t native, const char* text, int32_t encoding, int warning) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list == nullptr)
        return KaErrorParamSink();
    return KaErrorPost(list->newRecord(0, text != nullptr ? text : "", encoding, warning, index, native));
}

KaError* postResource(uint16_t index, uint16_t msg, int warning) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list == nullptr)
        return KaErrorParamSink();
    uint16_t text[kBaseDiagTextUnits];
    text[0] = 0;
    BaseErrorList* base = asBaseList(list);
    BaseConnection* conn = base != nullptr ? base->owningConnection() : nullptr;
    if (conn != nullptr)
        conn->getResourceString(msg, text);
    KaError* record = list->newRecordW(msg, text, warning, index, msg);
    if (record != nullptr)
        record->flags |= kBaseErrorDriverText;
    return KaErrorPost(record);
}

// Copies a string field: whole when shorter than the buffer, else cut with a
// NUL. The length output is the full length in bytes.
[[nodiscard]] int16_t putStringField(const uint16_t* text, void* value, int16_t bufferLength,
                                     int16_t* stringLength) noexcept
{
    int64_t full = 0;
    bool cut = baseCopyWideAnswer(text, value, bufferLength, &full);
    if (stringLength != nullptr)
        *stringLength = full > INT16_MAX ? INT16_MAX : static_cast<int16_t>(full);
    return cut ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

void putInt32(void* value, int16_t* stringLength, int32_t v) noexcept
{
    if (value != nullptr)
        std::memcpy(value, &v, sizeof v);
    if (stringLength != nullptr)
        *stringLength = 4;
}

void putInt64(void* value, int16_t* stringLength, int64_t v) noexcept
{
    if (value != nullptr)
        std::memcpy(value, &v, sizeof v);
    if (stringLength != nullptr)
        *stringLength = 8;
}

struct DynamicFunction {
    const uint16_t* text;
    int32_t code;
};

}  // namespace

// ---- Records ---------------------------------------------------------------

BaseError::BaseError(uint16_t native, const char* text, int32_t encoding, int warning, uint16_t sqlstateMsg,
                     uintptr_t userData) noexcept
    : KaError(native, text, encoding, warning, sqlstateMsg, userData)
{}

BaseError::BaseError(uint16_t native, const uint16_t* text, int warning, uint16_t sqlstateMsg,
                     uintptr_t userData) noexcept
    : KaError(native, text, warning, sqlstateMsg, userData)
{}

BaseError::BaseError(int32_t staticKind) noexcept : KaError(staticKind) {}

BaseError::~BaseError() = default;

namespace {

// The pieces of the prefix of a record's text; the two buffers hold the
// resource texts the pieces may point into.
int buildPrefix(const BaseError& record, const BaseErrorList* list, Piece* pieces, uint16_t* nameBuf,
                uint16_t* dbmsBuf) noexcept
{
    static const uint16_t kOpen[] = {'[', 0};
    static const uint16_t kClose[] = {']', 0};
    int n = 0;
    pieces[n++] = {kPrefix, kPrefixLen};
    BaseConnection* conn = list != nullptr ? list->owningConnection() : nullptr;
    if (conn != nullptr) {
        pieces[n++] = {nameBuf, driverName(conn, nameBuf)};
        pieces[n++] = {kDriverSuffix, kDriverSuffixLen};
    } else if (list != nullptr && list->driverNameText != nullptr) {
        pieces[n++] = {list->driverNameText, unitLength(list->driverNameText)};
    }
    pieces[n++] = {kClose, 1};
    if (conn != nullptr && record.userData != 0 && (record.flags & kBaseErrorDriverText) == 0) {
        pieces[n++] = {kOpen, 1};
        if (conn->dbmsName != nullptr)
            pieces[n++] = {conn->dbmsName, unitLength(conn->dbmsName)};
        else
            pieces[n++] = {dbmsBuf, conn->getResourceString(MSG_DBMS_PRODUCT_NAME, dbmsBuf)};
        pieces[n++] = {kClose, 1};
    }
    return n;
}

bool cutAllowed(const BaseErrorList* list) noexcept
{
    BaseConnection* conn = list != nullptr ? list->owningConnection() : nullptr;
    return conn == nullptr || (conn->workarounds & kBaseWaNoMessageTruncation) == 0;
}

// Writes the prefix and the message m into out of b units, cut to fit and
// terminated; *fullLength gets the uncut length in units.
template <typename Unit>
void writeMessage(const BaseError& record, const BaseErrorList* list, const Unit* m, int64_t mLen, Unit* out, int64_t b,
                  int64_t* fullLength, bool* truncated) noexcept
{
    if (mLen == 0) {
        if (fullLength != nullptr)
            *fullLength = 0;
        if (out != nullptr && b > 0)
            out[0] = 0;
        return;
    }
    Piece pieces[8];
    uint16_t nameBuf[kBaseResourceTextUnits];
    uint16_t dbmsBuf[kBaseResourceTextUnits];
    int count = buildPrefix(record, list, pieces, nameBuf, dbmsBuf);
    int64_t full = mLen;
    for (int i = 0; i < count; ++i)
        full += pieces[i].len;
    if (fullLength != nullptr)
        *fullLength = full;
    if (out == nullptr)
        return;
    int64_t room = b > 0 ? b - 1 : 0;
    if (full > room && truncated != nullptr && cutAllowed(list))
        *truncated = true;
    if (b <= 0)
        return;
    int64_t pos = 0;
    // The prefix is ASCII text; for 8-bit output its units narrow to bytes
    // (the low byte of each).
    for (int i = 0; i < count && pos < room; ++i)
        for (int64_t k = 0; k < pieces[i].len && pos < room; ++k)
            out[pos++] = static_cast<Unit>(pieces[i].text[k]);
    int64_t n = mLen < room - pos ? mLen : room - pos;
    std::memcpy(out + pos, m, static_cast<size_t>(n) * sizeof(Unit));
    pos += n;
    out[pos] = 0;
}

}  // namespace

void BaseError::formatMessageW(const BaseErrorList* list, uint16_t* out, int64_t b, int64_t* fullLength,
                               bool* truncated) const noexcept
{
    if (truncated != nullptr)
        *truncated = false;
    auto* self = const_cast<BaseError*>(this);
    const uint16_t* m = isOutOfMemory() ? kOutOfMemoryText : self->messageW();
    writeMessage(*this, list, m, unitLength(m), out, b, fullLength, truncated);
}

void BaseError::formatMessageA(const BaseErrorList* list, char* out, int64_t b, int64_t* fullLength,
                               bool* truncated) const noexcept
{
    if (truncated != nullptr)
        *truncated = false;
    auto* self = const_cast<BaseError*>(this);
    const char* m = isOutOfMemory() ? "Out Of Memory" : self->messageA();
    int64_t mLen = m != nullptr ? static_cast<int64_t>(std::strlen(m)) : 0;
    writeMessage(*this, list, m, mLen, out, b, fullLength, truncated);
}

// ---- Lists -----------------------------------------------------------------

BaseErrorList::BaseErrorList(BaseConnection* owner) noexcept
    : KaErrorList(owner), dynamicFunctionText(kEmpty), dynamicFunctionCode(0), cursorRowCount(0), rowCount(0),
      currentRow(nullptr), currentColumn(nullptr), driverNameText(nullptr), currentApiFunction(0)
{}

BaseErrorList::~BaseErrorList() = default;

KaError* BaseErrorList::outOfMemoryRecord() noexcept
{
    return &staticOutOfMemory();
}

KaError* BaseErrorList::staticRecord() noexcept
{
    return &staticParamSink();
}

KaError* BaseErrorList::newRecord(uint16_t native, const char* text, int32_t encoding, int warning,
                                  uint16_t sqlstateMsg, uintptr_t userData) noexcept
{
    auto* record = new BaseError(native, text, encoding, warning, sqlstateMsg, userData);
    if (record == nullptr)
        return nullptr;
    if (currentRow != nullptr)
        record->row = *currentRow + 1;
    if (currentColumn != nullptr)
        record->column = *currentColumn;
    return record;
}

KaError* BaseErrorList::newRecordW(uint16_t native, const uint16_t* text, int warning, uint16_t sqlstateMsg,
                                   uintptr_t userData) noexcept
{
    auto* record = new BaseError(native, text, warning, sqlstateMsg, userData);
    if (record == nullptr)
        return nullptr;
    if (currentRow != nullptr)
        record->row = *currentRow + 1;
    if (currentColumn != nullptr)
        record->column = *currentColumn;
    return record;
}

KaError* BaseErrorList::postError(uint16_t index, uint16_t msg) noexcept
{
    BaseError* record = baseMakeDiag(this, index, msg, false);
    if (record == nullptr)
        return staticRecord();
    if (add(record) != 0) {
        delete record;
        return staticRecord();
    }
    return record;
}

BaseConnection* BaseErrorList::owningConnection() const noexcept
{
    return static_cast<BaseConnection*>(ownerData);
}

void BaseErrorList::enterApi(uint16_t apiId) noexcept
{
    clear();
    KaErrorPushList(this);
    currentApiFunction = apiId;
}

int16_t BaseErrorList::leaveApi(int16_t rc) noexcept
{
    if (rc == SQL_SUCCESS && hasOnlyWarnings())
        rc = SQL_SUCCESS_WITH_INFO;
    KaErrorPopList();
    if (recordCount() > 1)
        sort();
    return rc;
}

int64_t BaseErrorList::diagCount() const noexcept
{
    return static_cast<int64_t>(recordCount()) + (outOfMemoryMark != 0 ? 1 : 0);
}

KaError* BaseErrorList::getRecord(int64_t n) noexcept
{
    if (n < 1 || n > diagCount())
        return nullptr;
    if (outOfMemoryMark != 0) {
        if (n == 1)
            return outOfMemoryRecord();
        return at(static_cast<size_t>(n - 2));
    }
    return at(static_cast<size_t>(n - 1));
}

void BaseErrorList::sqlstateOf(const KaError* record, uint16_t* out) const noexcept
{
    if (record->sqlstateWide[0] != 0) {
        std::memcpy(out, record->sqlstateWide, kBaseSqlstateUnits * 2);
        out[KA_SQLSTATE_LEN] = 0;
        return;
    }
    uint16_t index = record->sqlstateMsg;
    if (index == 0)
        index = record->isOutOfMemory() ? kBaseIdxOutOfMemory : kBaseIdxGeneralError;
    baseSqlstateText(index, out);
}

int16_t BaseErrorList::getDiagRec(int16_t recNumber, uint16_t* sqlstate, int32_t* native, uint16_t* message,
                                  int16_t bufferLength, int16_t* textLength) noexcept
{
    if (recNumber < 1)
        return SQL_ERROR;
    KaError* record = getRecord(recNumber);
    if (record == nullptr)
        return SQL_NO_DATA;
    if (sqlstate != nullptr)
        sqlstateOf(record, sqlstate);
    if (native != nullptr) {
        auto value = static_cast<int32_t>(record->userData & 0xFFFFFFFFu);
        if (value == 0 && record->sqlstateMsg == 0)
            value = record->nativeCode;
        *native = value;
    }
    int64_t full = 0;
    bool cut = false;
    static_cast<BaseError*>(record)->formatMessageW(this, message, bufferLength, &full, &cut);
    if (textLength != nullptr)
        *textLength = full > INT16_MAX ? INT16_MAX : static_cast<int16_t>(full);
    return cut ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

int16_t BaseErrorList::getDiagField(int16_t recNumber, int16_t fieldId, void* value, int16_t bufferLength,
                                    int16_t* stringLength) noexcept
{
    if (recNumber < 0)
        return SQL_NO_DATA;
    // Header fields do not depend on the record number.
    switch (fieldId) {
    case SQL_DIAG_NUMBER: putInt32(value, stringLength, static_cast<int32_t>(diagCount())); return SQL_SUCCESS;
    case SQL_DIAG_ROW_COUNT: putInt64(value, stringLength, rowCount); return SQL_SUCCESS;
    case SQL_DIAG_DYNAMIC_FUNCTION:
        return putStringField(dynamicFunctionText != nullptr ? dynamicFunctionText : kEmpty, value, bufferLength,
                              stringLength);
    case SQL_DIAG_DYNAMIC_FUNCTION_CODE: putInt32(value, stringLength, dynamicFunctionCode); return SQL_SUCCESS;
    case SQL_DIAG_CURSOR_ROW_COUNT: putInt64(value, stringLength, cursorRowCount); return SQL_SUCCESS;
    default: break;
    }
    switch (fieldId) {
    case SQL_DIAG_SQLSTATE:
    case SQL_DIAG_NATIVE:
    case SQL_DIAG_MESSAGE_TEXT:
    case SQL_DIAG_CLASS_ORIGIN:
    case SQL_DIAG_SUBCLASS_ORIGIN:
    case SQL_DIAG_CONNECTION_NAME:
    case SQL_DIAG_SERVER_NAME:
    case SQL_DIAG_ROW_NUMBER:
    case SQL_DIAG_COLUMN_NUMBER: break;
    default: return SQL_ERROR;
    }
    if (recNumber == 0)
        return SQL_ERROR;
    KaError* record = getRecord(recNumber);
    if (record == nullptr)
        return SQL_NO_DATA;
    BaseConnection* conn = owningConnection();
    switch (fieldId) {
    case SQL_DIAG_SQLSTATE: {
        uint16_t state[kBaseSqlstateUnits];
        sqlstateOf(record, state);
        return putStringField(state, value, bufferLength, stringLength);
    }
    case SQL_DIAG_NATIVE:
        putInt32(value, stringLength, static_cast<int32_t>(record->userData & 0xFFFFFFFFu));
        return SQL_SUCCESS;
    case SQL_DIAG_MESSAGE_TEXT: {
        int64_t full = 0;
        bool cut = false;
        int64_t chars = bufferLength > 0 ? bufferLength / 2 : 0;
        static_cast<BaseError*>(record)->formatMessageW(this, static_cast<uint16_t*>(value), chars, &full, &cut);
        if (stringLength != nullptr)
            *stringLength = full * 2 > INT16_MAX ? INT16_MAX : static_cast<int16_t>(full * 2);
        return cut ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    }
    case SQL_DIAG_CLASS_ORIGIN: {
        uint16_t state[kBaseSqlstateUnits];
        sqlstateOf(record, state);
        const uint16_t* origin = U16("ISO 9075");
        if (state[0] == 'I' && state[1] == 'M') {
            bool odbc2 = conn != nullptr && conn->env != nullptr && conn->env->odbc2Mode != 0;
            origin = odbc2 ? U16("ODBC 2.0") : U16("ODBC 3.0");
        }
        return putStringField(origin, value, bufferLength, stringLength);
    }
    case SQL_DIAG_SUBCLASS_ORIGIN: return putStringField(U16("ISO 9075"), value, bufferLength, stringLength);
    case SQL_DIAG_CONNECTION_NAME: {
        if (conn == nullptr)
            return putStringField(kEmpty, value, bufferLength, stringLength);
        static const uint16_t kHead[] = {'T', 'r', 'e', 'l', 'l', 'i', 'w', 'a', 'v',
                                         'e', ' ', 'O', 'D', 'B', 'C', ' ', 0};
        constexpr int64_t kHeadLen = 16;
        uint16_t name[kBaseResourceTextUnits];
        int64_t nameLen = driverName(conn, name);
        uint16_t text[kHeadLen + kBaseResourceTextUnits + kDriverSuffixLen + 1];
        std::memcpy(text, kHead, kHeadLen * 2);
        std::memcpy(text + kHeadLen, name, static_cast<size_t>(nameLen) * 2);
        std::memcpy(text + kHeadLen + nameLen, kDriverSuffix, (kDriverSuffixLen + 1) * 2);
        return putStringField(text, value, bufferLength, stringLength);
    }
    case SQL_DIAG_SERVER_NAME: {
        if (conn == nullptr)
            return putStringField(kEmpty, value, bufferLength, stringLength);
        const uint16_t* dsn = conn->dsnNameW;
        if (dsn == nullptr || dsn[0] == 0)
            dsn = U16("Default");
        return putStringField(dsn, value, bufferLength, stringLength);
    }
    case SQL_DIAG_ROW_NUMBER: putInt64(value, stringLength, record->row); return SQL_SUCCESS;
    case SQL_DIAG_COLUMN_NUMBER:
        putInt32(value, stringLength, static_cast<int32_t>(record->column));
        return SQL_SUCCESS;
    default: return SQL_ERROR;
    }
}

namespace {

// Rewrites a five-character SQLSTATE held in units of type T.
template <typename T>
void mapToOdbc2(T* s, uint16_t api) noexcept
{
    auto is = [s](const char* state) {
        for (int i = 0; i < 5; ++i)
            if (s[i] != static_cast<T>(state[i]))
                return false;
        return true;
    };
    auto set = [s](const char* state) {
        for (int i = 0; i < 5; ++i)
            s[i] = static_cast<T>(state[i]);
    };
    if (is("01S07"))
        set("01004");
    else if (is("42000"))
        set("37000");
    else if (is("07002"))
        set("S1002");
    else if (is("07005"))
        set("24000");
    else if (is("07008"))
        set("S1000");
    else if (is("07009")) {
        if (api == SQL_API_SQLBINDPARAMETER || api == SQL_API_SQLDESCRIBEPARAM)
            set("S1093");
        else if (api == SQL_API_SQLBINDCOL || api == SQL_API_SQLCOLATTRIBUTE || api == SQL_API_SQLFETCH ||
                 api == SQL_API_SQLGETDATA || api == SQL_API_SQLFETCHSCROLL)
            set("S1002");
    } else if (is("22007"))
        set("22008");
    else if (is("22018"))
        set("22005");
    else if (is("HY007"))
        set("S1010");
    else if (is("HY020"))
        set("S1011");
    else if (is("HY018"))
        set("70100");
    else if (is("HY024"))
        set("S1009");
    else if (s[0] == 'H' && s[1] == 'Y') {
        s[0] = 'S';
        s[1] = '1';
    } else if (s[0] == '4' && s[1] == '2' && s[2] == 'S') {
        s[0] = 'S';
        s[1] = '0';
        s[2] = '0';
    }
}

}  // namespace

void BaseErrorList::mapSqlStateToOdbc2W(uint16_t* sqlstate) const noexcept
{
    if (sqlstate != nullptr && unitLength(sqlstate) >= 5)
        mapToOdbc2(sqlstate, currentApiFunction);
}

void BaseErrorList::mapSqlStateToOdbc2(char* sqlstate) const noexcept
{
    if (sqlstate != nullptr && std::strlen(sqlstate) >= 5)
        mapToOdbc2(sqlstate, currentApiFunction);
}

void BaseErrorList::setDynamicFunction(int32_t kind, int32_t subKind, bool dynamicCursor, bool callFlag) noexcept
{
    clearDynamicFunction();
    DynamicFunction f{kEmpty, 0};
    if (callFlag) {
        f = {U16("CALL"), 7};
    } else {
        switch (kind) {
        case 1:
            if (subKind == 1)
                f = {U16("ALTER TABLE"), 4};
            break;
        case 2:
            if (subKind == 1)
                f = {U16("CREATE TABLE"), 77};
            else if (subKind == 2)
                f = {U16("CREATE INDEX"), -1};
            else if (subKind == 3)
                f = {U16("CREATE VIEW"), 84};
            break;
        case 3:
            f = dynamicCursor ? DynamicFunction{U16("DYNAMIC DELETE CURSOR"), 38}
                              : DynamicFunction{U16("DELETE WHERE"), 19};
            break;
        case 4:
            if (subKind == 1)
                f = {U16("DROP TABLE"), 32};
            else if (subKind == 2)
                f = {U16("DROP INDEX"), -2};
            else if (subKind == 3)
                f = {U16("DROP VIEW"), 36};
            break;
        case 5: f = {U16("GRANT"), 48}; break;
        case 6: f = {U16("INSERT"), 50}; break;
        case 7: f = {U16("REVOKE"), 59}; break;
        case 8: f = {U16("SELECT CURSOR"), 85}; break;
        case 9:
            f = dynamicCursor ? DynamicFunction{U16("DYNAMIC UPDATE CURSOR"), 81}
                              : DynamicFunction{U16("UPDATE WHERE"), 82};
            break;
        default: break;
        }
    }
    dynamicFunctionText = f.text;
    dynamicFunctionCode = f.code;
}

void BaseErrorList::clearDynamicFunction() noexcept
{
    dynamicFunctionText = kEmpty;
    dynamicFunctionCode = 0;
}

uint16_t* BaseErrorList::concatenateMessages() noexcept
{
    static const uint16_t kMore[] = {' ', '.', '.', '.', 0};
    static const char kFailed[] = "Error getting message ";
    int64_t n = diagCount();
    int64_t sum = 0;
    for (int64_t i = 1; i <= n; ++i) {
        int16_t len = 0;
        int16_t rc =
            getDiagRec(static_cast<int16_t>(i > INT16_MAX ? INT16_MAX : i), nullptr, nullptr, nullptr, 0, &len);
        sum += (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) ? len + 4 : 1024;
    }
    int64_t total = sum + 64;
    auto* text = static_cast<uint16_t*>(ramAlloc(static_cast<size_t>(total) * 2));
    if (text == nullptr)
        return nullptr;
    int64_t pos = 0;
    for (int64_t i = 1; i <= n && i <= INT16_MAX; ++i) {
        if (i > 1)
            text[pos++] = '\n';
        // Room for the text and its NUL, leaving space for " ..." behind it.
        int64_t space = total - pos - 8;
        if (space > INT16_MAX)
            space = INT16_MAX;
        if (space < 1)
            break;
        int16_t len = 0;
        int16_t rc =
            getDiagRec(static_cast<int16_t>(i), nullptr, nullptr, text + pos, static_cast<int16_t>(space), &len);
        if (rc == SQL_SUCCESS_WITH_INFO) {
            pos += unitLength(text + pos);
            std::memcpy(text + pos, kMore, 4 * 2);
            pos += 4;
            break;
        }
        if (rc != SQL_SUCCESS) {
            for (const char* p = kFailed; *p != 0 && pos < total - 32; ++p)
                text[pos++] = static_cast<uint16_t>(*p);
            uint16_t digits[kNumTextCapacity + 1];
            size_t d = u64ToTextW(digits, static_cast<uint64_t>(i));
            std::memcpy(text + pos, digits, d * 2);
            pos += static_cast<int64_t>(d);
            continue;
        }
        // A cut reported as success (the no-truncation workaround) leaves
        // fewer units than the full length: advance by what was written.
        pos += unitLength(text + pos);
    }
    text[pos] = 0;
    clear();
    return text;
}

int16_t BaseErrorList::showErrors(void* window) noexcept
{
    (void)window;
    char title[KA_MESSAGE_TEXT_SIZE];
    errLoadMessage(title, sizeof title, MSG_DIAGNOSTICS_TITLE);
    uint16_t* text = concatenateMessages();
    if (text == nullptr)
        return errMessageBox("Out of memory", title, kShowErrorsStyle);
    int64_t len = unitLength(text);
    if (len > kShowErrorsMax) {
        static const uint16_t kDots[] = {'.', '.', '.', 0};
        std::memcpy(text + kShowErrorsMax - 3, kDots, 4 * 2);
        len = kShowErrorsMax;
    }
    KaStringW wide;
    wide.attach(text, static_cast<size_t>(len) + 1, static_cast<size_t>(len));
    const char* narrow = wide.toNarrow(KA_TEXT_LOCALE);
    int16_t rc = errMessageBox(narrow != nullptr ? narrow : "Out of memory", title, kShowErrorsStyle);
    wide.attach(nullptr, 0, 0);
    ramFree(text);
    return rc;
}

// ---- SQLSTATE texts --------------------------------------------------------

void baseSqlstateText(uint16_t index, uint16_t out[kBaseSqlstateUnits]) noexcept
{
    uint16_t text[KA_MESSAGE_TEXT_SIZE];
    size_t n = errLoadMessageW(text, KA_MESSAGE_TEXT_SIZE, index);
    if (n < 5) {
        // Without the catalogue the general SQLSTATEs still read right.
        const char* fallback = index == kBaseIdxOutOfMemory ? "HY001" : "HY000";
        for (int i = 0; i < 5; ++i)
            out[i] = static_cast<uint16_t>(fallback[i]);
    } else {
        std::memcpy(out, text, 5 * 2);
    }
    out[5] = 0;
}

// ---- Posting ---------------------------------------------------------------

BaseError* baseMakeDiag(BaseErrorList* list, uint16_t index, uint16_t msg, bool warning) noexcept
{
    if (list == nullptr)
        return nullptr;
    uint16_t text[KA_MESSAGE_TEXT_SIZE];
    text[0] = 0;
    if (msg == 0) {
        errLoadMessageW(text, KA_MESSAGE_TEXT_SIZE, static_cast<uint16_t>(index + kBaseDefaultTextOffset));
    } else if (baseIsResourceMessage(msg)) {
        BaseConnection* conn = list->owningConnection();
        if (conn != nullptr)
            conn->getResourceString(msg, text);
    } else {
        errLoadMessageW(text, KA_MESSAGE_TEXT_SIZE, msg);
    }
    return static_cast<BaseError*>(list->newRecordW(msg, text, warning ? 1 : 0, index, 0));
}

KaError* basePostDiag(uint16_t index, uint16_t msg, bool warning) noexcept
{
    KaErrorList* current = KaErrorCurrentList();
    if (current == nullptr)
        return KaErrorParamSink();
    BaseErrorList* list = asBaseList(current);
    if (list == nullptr) {
        // A foundation list (no handle owns it): the same record, no resources.
        uint16_t text[KA_MESSAGE_TEXT_SIZE];
        errLoadMessageW(text, KA_MESSAGE_TEXT_SIZE,
                        static_cast<uint16_t>(msg == 0 ? index + kBaseDefaultTextOffset : msg));
        return postOn(current, current->newRecordW(msg, text, warning ? 1 : 0, index, 0));
    }
    return KaErrorPost(baseMakeDiag(list, index, msg, warning));
}

KaError* basePostError(uint16_t index) noexcept
{
    return basePostDiag(index, 0, false);
}

KaError* basePostErrorMsg(uint16_t index, uint16_t msg) noexcept
{
    return basePostDiag(index, msg, false);
}

KaError* basePostWarning(uint16_t index) noexcept
{
    return basePostDiag(index, 0, true);
}

KaError* basePostWarningMsg(uint16_t index, uint16_t msg) noexcept
{
    return basePostDiag(index, msg, true);
}

KaError* basePostErrorTextW(uint16_t index, uint32_t native, const uint16_t* text) noexcept
{
    return postText(index, native, text, 0);
}

KaError* basePostWarningTextW(uint16_t index, uint32_t native, const uint16_t* text) noexcept
{
    return postText(index, native, text, 1);
}

KaError* basePostErrorTextA(uint16_t index, uint32_t native, const char* text, int32_t encoding) noexcept
{
    return postTextA(index, native, text, encoding, 0);
}

KaError* basePostWarningTextA(uint16_t index, uint32_t native, const char* text, int32_t encoding) noexcept
{
    return postTextA(index, native, text, encoding, 1);
}

KaError* basePostResourceError(uint16_t index, uint16_t msg) noexcept
{
    return postResource(index, msg, 0);
}

KaError* basePostResourceWarning(uint16_t index, uint16_t msg) noexcept
{
    return postResource(index, msg, 1);
}

KaError* basePostResourceErrorGeneral(uint16_t msg) noexcept
{
    return basePostResourceError(kBaseIdxGeneralError, msg);
}

KaError* basePostResourceWarningGeneral(uint16_t msg) noexcept
{
    return basePostResourceWarning(kBaseIdxGeneralWarning, msg);
}

void baseSetLastSqlstate(uint16_t msg) noexcept
{
    KaError* record = KaErrorGetLast();
    if (record == nullptr)
        return;
    uint16_t text[KA_MESSAGE_TEXT_SIZE];
    size_t n = errLoadMessageW(text, KA_MESSAGE_TEXT_SIZE, msg);
    if (n < 5)
        return;
    text[5] = 0;
    record->setSqlstateW(text);
}

// ---- Export ----------------------------------------------------------------

extern "C" __attribute__((visibility("default"))) char* getConnectionErrors(void* connectionHandle)
{
    // Any pointer may arrive here; only a live connection handle is read.
    auto* connHandle = baseHandleKindOf(connectionHandle) == BaseHandleKind::connection
                           ? static_cast<BaseStubConnection*>(static_cast<KaObject*>(connectionHandle))
                           : nullptr;
    if (connHandle == nullptr || connHandle->magic != kBaseStubMagic || connHandle->current == nullptr)
        return nullptr;
    BaseConnection* conn = connHandle->current;
    BaseErrorList* list = nullptr;
    if (conn->handle != nullptr)
        list = &conn->handle->diagnostics;
    else if (conn->env != nullptr)
        list = &conn->env->diagnostics;
    if (list == nullptr)
        return nullptr;
    uint16_t* text = list->concatenateMessages();
    if (text == nullptr)
        return nullptr;
    BaseTextContext context{&conn->icuCache, conn->driverTextMode, conn->appCodePage, 4, 1};
    char* narrow = nullptr;
    int64_t produced = 0;
    if (baseAllocFromWide(context, text, SQL_NTS, conn->appCodePage, &narrow, &produced, 4, 1) != 0) {
        // The caller gets the text in any case: each unit narrowed to its low byte.
        narrow = ramDupWToBytes(text, static_cast<size_t>(unitLength(text)));
    }
    ramFree(text);
    return narrow;
}
