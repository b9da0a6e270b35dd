// One connect attempt's completion: the recorded settings replayed, the
// driver's physical open (with one retry on older TLS protocols when the
// user allowed them), and the SQLGetInfo answers the framework keeps for
// the connection's life; also the ODBC translation library.
#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "foundation/codepage.h"
#include "foundation/fast.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "foundation/kastr.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/baseenv.h"
#include "odbc/baseinfo.h"
#include "platform/boslib.h"

namespace {

// OpenSSL's reasons for a protocol the peer refuses.
const char* const kRefusedProtocol[] = {"14077102", "unsupported protocol", "140943E8"};

bool refusedProtocol(KaErrorList* list) noexcept
{
    for (size_t i = 0; i < list->recordCount(); ++i) {
        KaError* record = list->recordAt(i);
        if (record == nullptr || record->isWarning())
            continue;
        const char* text = record->messageA();
        if (text == nullptr)
            continue;
        for (const char* reason : kRefusedProtocol)
            if (std::strstr(text, reason) != nullptr)
                return true;
    }
    return false;
}

// The protocols an option word offers, for the diagnostic.
void offeredProtocols(uint32_t options, char* out, size_t size) noexcept
{
    struct Name {
        uint32_t bit;
        const char* name;
    };
    const Name names[] = {{kBaseTlsNoSslV2, "SSLv2"},
                          {kBaseTlsNoSslV3, "SSLv3"},
                          {kBaseTlsNoTlsV1, "TLSv1"},
                          {kBaseTlsNoTlsV11, "TLSv1.1"},
                          {kBaseTlsNoTlsV12, "TLSv1.2"}};
    size_t w = 0;
    out[0] = 0;
    for (const Name& n : names) {
        if ((options & n.bit) != 0)
            continue;
        const char* parts[2] = {w != 0 ? ", " : "", n.name};
        for (const char* s : parts)
            for (; *s != 0 && w + 1 < size; ++s)
                out[w++] = *s;
    }
    out[w] = 0;
}

constexpr uint64_t kEmulationDefault = 0x1FE40;

// The pair rule: for each driver cursor bit, what the driver does itself
// (low bits) or what the framework must emulate (high bits).
uint64_t cursorOps(uint32_t driver, uint64_t emulated) noexcept
{
    struct Pair {
        uint32_t bit;
        bool needsEmulable;
        uint64_t has;
        uint64_t lacks;
    };
    const Pair pairs[] = {
        {SQL_CA1_POS_DELETE, true, 0x2, 0x20000},  {SQL_CA1_POS_UPDATE, true, 0x1, 0x10000},
        {SQL_CA1_POS_REFRESH, true, 0x4, 0x40000}, {SQL_CA1_POS_POSITION, true, 0x8, 0x80000},
        {SQL_CA1_BULK_ADD, true, 0x10, 0x100000},  {SQL_CA1_LOCK_NO_CHANGE, true, 0x20, 0x200000},
        {SQL_CA1_BOOKMARK, false, 0x40, 0x400000}, {SQL_CA1_LOCK_UNLOCK, false, 0x100, 0},
        {SQL_CA1_LOCK_EXCLUSIVE, false, 0x80, 0},
    };
    uint64_t ops = 0;
    for (const Pair& p : pairs) {
        if (p.needsEmulable && (emulated & p.bit) == 0)
            continue;
        ops |= (driver & p.bit) != 0 ? p.has : p.lacks;
    }
    return ops;
}

}  // namespace

// ---- Catalog result descriptions ---------------------------------------------

#define KA_COL(name, type, nullable, size)                                                                             \
    {                                                                                                                  \
        reinterpret_cast<const uint16_t*>(u##name), type, nullable, size                                               \
    }

const BaseCatalogColumn kBaseTablesColumns[kBaseTablesColumnCount] = {
    KA_COL("TABLE_CAT", 12, 1, 128), KA_COL("TABLE_SCHEM", 12, 1, 128), KA_COL("TABLE_NAME", 12, 1, 128),
    KA_COL("TABLE_TYPE", 12, 1, 128), KA_COL("REMARKS", 12, 1, 254)};

const BaseCatalogColumn kBaseColumnsColumns[kBaseColumnsColumnCount] = {
    KA_COL("TABLE_CAT", 12, 1, 128),      KA_COL("TABLE_SCHEM", 12, 1, 128),   KA_COL("TABLE_NAME", 12, 0, 128),
    KA_COL("COLUMN_NAME", 12, 0, 128),    KA_COL("DATA_TYPE", 5, 0, 0),        KA_COL("TYPE_NAME", 12, 0, 128),
    KA_COL("COLUMN_SIZE", 4, 1, 0),       KA_COL("BUFFER_LENGTH", 4, 1, 0),    KA_COL("DECIMAL_DIGITS", 5, 1, 0),
    KA_COL("NUM_PREC_RADIX", 5, 1, 0),    KA_COL("NULLABLE", 5, 0, 0),         KA_COL("REMARKS", 12, 1, 254),
    KA_COL("COLUMN_DEF", 12, 1, 2000),    KA_COL("SQL_DATA_TYPE", 5, 0, 0),    KA_COL("SQL_DATETIME_SUB", 5, 1, 0),
    KA_COL("CHAR_OCTET_LENGTH", 4, 1, 0), KA_COL("ORDINAL_POSITION", 4, 0, 0), KA_COL("IS_NULLABLE", 12, 1, 254)};

const BaseCatalogColumn kBaseProceduresColumns[kBaseProceduresColumnCount] = {
    KA_COL("PROCEDURE_CAT", 12, 1, 128), KA_COL("PROCEDURE_SCHEM", 12, 1, 128), KA_COL("PROCEDURE_NAME", 12, 0, 128),
    KA_COL("NUM_INPUT_PARAMS", 4, 1, 0), KA_COL("NUM_OUTPUT_PARAMS", 4, 1, 0),  KA_COL("NUM_RESULT_SETS", 4, 1, 0),
    KA_COL("REMARKS", 12, 1, 254),       KA_COL("PROCEDURE_TYPE", 5, 1, 0)};

const BaseCatalogColumn kBaseProcedureColumnsColumns[kBaseProcedureColumnsColumnCount] = {
    KA_COL("PROCEDURE_CAT", 12, 1, 128), KA_COL("PROCEDURE_SCHEM", 12, 1, 128), KA_COL("PROCEDURE_NAME", 12, 0, 128),
    KA_COL("COLUMN_NAME", 12, 0, 128),   KA_COL("COLUMN_TYPE", 5, 0, 0),        KA_COL("DATA_TYPE", 5, 0, 0),
    KA_COL("TYPE_NAME", 12, 0, 128),     KA_COL("COLUMN_SIZE", 4, 1, 0),        KA_COL("BUFFER_LENGTH", 4, 1, 0),
    KA_COL("DECIMAL_DIGITS", 5, 1, 0),   KA_COL("NUM_PREC_RADIX", 5, 1, 0),     KA_COL("NULLABLE", 5, 0, 0),
    KA_COL("REMARKS", 12, 1, 254),       KA_COL("COLUMN_DEF", 12, 1, 254),      KA_COL("SQL_DATA_TYPE", 5, 0, 0),
    KA_COL("SQL_DATETIME_SUB", 5, 1, 0), KA_COL("CHAR_OCTET_LENGTH", 4, 1, 0),  KA_COL("ORDINAL_POSITION", 4, 0, 0),
    KA_COL("IS_NULLABLE", 12, 1, 254)};

#undef KA_COL

namespace {

struct CatalogSet {
    const BaseCatalogColumn* builtIn;
    uint16_t count;
    const BaseCatalogColumn** description;
    uint16_t* outCount;
    uint16_t remarks;
};

}  // namespace

int16_t BaseConnection::copyColumnTable(const BaseCatalogColumn* builtIn, uint16_t count,
                                        const BaseCatalogColumn** description) noexcept
{
    auto* copy = static_cast<BaseCatalogColumn*>(ramAlloc(sizeof(BaseCatalogColumn) * count));
    if (copy == nullptr)
        return 1;
    std::memcpy(copy, builtIn, sizeof(BaseCatalogColumn) * count);
    *description = copy;
    return 0;
}

int16_t BaseConnection::patchCatalogColumns(const BaseCatalogColumn* builtIn, uint16_t count,
                                            const BaseCatalogColumn** description, uint16_t* outCount,
                                            uint16_t remarks) noexcept
{
    if (catalogRemarksColumnSize == 0 && catalogRemarksDataType == 0)
        return 0;
    if (*description == builtIn && copyColumnTable(builtIn, count, description) != 0)
        return 1;
    auto* rows = const_cast<BaseCatalogColumn*>(*description);
    if (catalogRemarksColumnSize > 0)
        rows[remarks].columnSize = static_cast<uint32_t>(catalogRemarksColumnSize);
    if (catalogRemarksDataType != 0)
        rows[remarks].sqlType = static_cast<int16_t>(catalogRemarksDataType);
    *outCount = count;
    return 0;
}

int16_t BaseConnection::setRemarksColumnSize(uint32_t size) noexcept
{
    const CatalogSet sets[] = {
        {kBaseTablesColumns, kBaseTablesColumnCount, &tablesColumns, &tablesColumnCount, kBaseTablesRemarks},
        {kBaseColumnsColumns, kBaseColumnsColumnCount, &columnsColumns, &columnsColumnCount, kBaseColumnsRemarks},
        {kBaseProceduresColumns, kBaseProceduresColumnCount, &proceduresColumns, &proceduresColumnCount,
         kBaseProceduresRemarks},
        {kBaseProcedureColumnsColumns, kBaseProcedureColumnsColumnCount, &procedureColumnsColumns,
         &procedureColumnsColumnCount, kBaseProcedureColumnsRemarks}};
    for (const CatalogSet& set : sets) {
        if (*set.description == set.builtIn && copyColumnTable(set.builtIn, set.count, set.description) != 0)
            return 1;
        const_cast<BaseCatalogColumn*>(*set.description)[set.remarks].columnSize = size;
    }
    return 0;
}

void BaseConnection::restoreCatalogColumns() noexcept
{
    const CatalogSet sets[] = {
        {kBaseTablesColumns, 0, &tablesColumns, nullptr, kBaseTablesRemarks},
        {kBaseColumnsColumns, 0, &columnsColumns, nullptr, kBaseColumnsRemarks},
        {kBaseProceduresColumns, 0, &proceduresColumns, nullptr, kBaseProceduresRemarks},
        {kBaseProcedureColumnsColumns, 0, &procedureColumnsColumns, nullptr, kBaseProcedureColumnsRemarks}};
    for (const CatalogSet& set : sets) {
        if (*set.description == set.builtIn)
            continue;
        auto* rows = const_cast<BaseCatalogColumn*>(*set.description);
        rows[set.remarks].sqlType = set.builtIn[set.remarks].sqlType;
        rows[set.remarks].columnSize = set.builtIn[set.remarks].columnSize;
    }
}

void BaseConnection::scanTypeTable() noexcept
{
    for (size_t i = 0; typeTable != nullptr && i < typeTableCount; ++i) {
        switch (typeTable[i].sqlType) {
        case SQL_WLONGVARCHAR: hasWLongVarchar = 1; break;
        case SQL_WVARCHAR: hasWVarchar = 1; break;
        case SQL_WCHAR: hasWChar = 1; break;
        default: break;
        }
    }
}

int16_t BaseConnection::bindsCharTypeNarrow(int16_t sqlType) const noexcept
{
    switch (sqlType) {
    case SQL_CHAR: return static_cast<int16_t>(hasWChar);
    case SQL_VARCHAR: return static_cast<int16_t>(hasWVarchar);
    case SQL_LONGVARCHAR: return static_cast<int16_t>(hasWLongVarchar);
    default: return 1;
    }
}

// ---- Default driver answers -------------------------------------------------

int16_t BaseConnection::getConnectAttrDefault(int32_t attribute, uint32_t* value) noexcept
{
    if (attribute == SQL_ATTR_CONNECTION_DEAD) {
        *value = isConnected() ? SQL_CD_FALSE : SQL_CD_TRUE;
        return 0;
    }
    basePostError(kBaseIdxNotSupported);
    return 1;
}

// ---- The attempt ------------------------------------------------------------

int16_t BaseConnection::completeConnect() noexcept
{
    applyBufferedEvents();
    if (patchCatalogColumns(kBaseTablesColumns, kBaseTablesColumnCount, &tablesColumns, &tablesColumnCount,
                            kBaseTablesRemarks) != 0 ||
        patchCatalogColumns(kBaseColumnsColumns, kBaseColumnsColumnCount, &columnsColumns, &columnsColumnCount,
                            kBaseColumnsRemarks) != 0 ||
        patchCatalogColumns(kBaseProceduresColumns, kBaseProceduresColumnCount, &proceduresColumns,
                            &proceduresColumnCount, kBaseProceduresRemarks) != 0 ||
        patchCatalogColumns(kBaseProcedureColumnsColumns, kBaseProcedureColumnsColumnCount, &procedureColumnsColumns,
                            &procedureColumnsColumnCount, kBaseProcedureColumnsRemarks) != 0)
        return 1;
    if (openPhysical() != 0) {
        KaErrorList* list = KaErrorCurrentList();
        uint32_t primary = tlsProtocols & kBaseTlsProtocolMask;
        uint32_t fallback = tlsFallbackProtocols & kBaseTlsProtocolMask;
        if (list == nullptr || primary == fallback || !refusedProtocol(list))
            return 1;
        char tried[64];
        offeredProtocols(tlsProtocols, tried, sizeof tried);
        // An attacker on the path can make any handshake fail: an older
        // protocol is offered only when the user named it.
        if (cryptoProtocolExplicit == 0) {
            basePostErrorMsg(kBaseIdxUnableToConnect, MSG_TLS_PROTOCOL_REFUSED)->addParamText(tried);
            return 1;
        }
        list->clear();
        uint32_t kept = tlsProtocols;
        tlsProtocols = tlsFallbackProtocols;
        tlsFlags |= kBaseTlsFlagFellBack;
        int16_t rc = openPhysical();
        // The fallback serves this attempt only: a later attempt or a
        // reconnect offers the strongest protocol first again.
        tlsProtocols = kept;
        tlsFlags &= ~kBaseTlsFlagFellBack;
        if (rc != 0) {
            char fellBack[64];
            offeredProtocols(tlsFallbackProtocols, fellBack, sizeof fellBack);
            basePostErrorMsg(kBaseIdxUnableToConnect, MSG_TLS_PROTOCOL_REFUSED)->addParamText(fellBack);
            return 1;
        }
    }
    scanTypeTable();
    staticCursorEmulation = disableStaticCursorEmulation != 0 ? 0 : 1;
    return readServerInfo();
}

int16_t BaseConnection::readServerInfo() noexcept
{
    uint32_t number = 0;
    int16_t length = 0;
    auto ask = [&](uint16_t type) noexcept {
        number = 0;
        return SQL_SUCCEEDED(getInfoValue(type, &number, sizeof number, &length));
    };
    uint16_t text[kBaseResourceTextUnits];
    auto askText = [&](uint16_t type) noexcept {
        text[0] = 0;
        return SQL_SUCCEEDED(getInfoValue(type, text, sizeof text, &length));
    };
    if (!ask(SQL_DEFAULT_TXN_ISOLATION))
        return 1;
    txnIsolation = number;
    connectionFlags |= kBaseConnConnected;
    // An ODBC 2 application expects updatable statements by default.
    defaultConcurrency = env != nullptr && env->odbc2Mode != 0 ? SQL_CONCUR_VALUES : SQL_CONCUR_READ_ONLY;
    if (!askText(SQL_DBMS_NAME))
        return 1;
    ramFree(dbmsName);
    size_t n = strLenOrZeroW(text);
    dbmsName = static_cast<uint16_t*>(ramAlloc((n + 1) * 2));
    if (dbmsName == nullptr)
        return 1;
    std::memcpy(dbmsName, text, (n + 1) * 2);
    applyBufferedEvents();
    if (!askText(SQL_DATA_SOURCE_READ_ONLY))
        return 1;
    bool readOnly = text[0] == 'Y';
    if (readOnly)
        emulatedCursorAttrs &= ~static_cast<uint64_t>(0x10C00);
    keysetCursorOps = dynamicCursorOps = staticCursorOps = forwardCursorOps = 0;
    struct Kind {
        uint16_t first;
        uint16_t second;
        uint64_t* ops;
    };
    const Kind kinds[] = {
        {SQL_DYNAMIC_CURSOR_ATTRIBUTES1, SQL_DYNAMIC_CURSOR_ATTRIBUTES2, &dynamicCursorOps},
        {SQL_KEYSET_CURSOR_ATTRIBUTES1, SQL_KEYSET_CURSOR_ATTRIBUTES2, &keysetCursorOps},
        {SQL_STATIC_CURSOR_ATTRIBUTES1, SQL_STATIC_CURSOR_ATTRIBUTES2, &staticCursorOps},
    };
    for (const Kind& kind : kinds) {
        if (!ask(kind.first))
            return 1;
        uint32_t first = number;
        if (first != 0)
            *kind.ops = cursorOps(first, emulatedCursorAttrs);
        if (!ask(kind.second))
            return 1;
        // A driver without static cursors gets the framework's: the cursor
        // cache (0x800000) and whatever positioned work it emulates.
        if (kind.ops == &staticCursorOps && first == 0 && staticCursorEmulation != 0) {
            if (emulatedCursorAttrs == kEmulationDefault) {
                staticCursorOps = 0xFF0000;
            } else {
                const uint64_t e = emulatedCursorAttrs;
                staticCursorOps =
                    ((e & SQL_CA1_POS_UPDATE) != 0 ? 0x10000 : 0) | ((e & SQL_CA1_POS_DELETE) != 0 ? 0x20000 : 0) |
                    ((e & SQL_CA1_POS_POSITION) != 0 ? 0x80000 : 0) | ((e & SQL_CA1_POS_REFRESH) != 0 ? 0x40000 : 0) |
                    ((e & SQL_CA1_BULK_ADD) != 0 ? 0x100000 : 0) |
                    ((e & SQL_CA1_LOCK_NO_CHANGE) != 0 ? 0xE00000 : 0xC00000);
            }
        }
        // The driver's second attributes describe the cursor of that type,
        // the emulated one included: it counts its rows as the driver says.
        if (*kind.ops != 0 && (number & (SQL_CA2_CRC_EXACT | SQL_CA2_CRC_APPROXIMATE)) != 0)
            *kind.ops |= 0x200;
    }
    // The emulated static cursor is offered as the driver's own would be.
    if ((staticCursorOps & 0x800000) != 0)
        infoFlags |= kBaseInfoStaticCursors;
    else
        infoFlags &= ~kBaseInfoStaticCursors;
    if (!ask(SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1))
        return 1;
    if (number != 0) {
        uint32_t d = number;
        uint64_t e = emulatedCursorAttrs;
        if ((e & SQL_CA1_BULK_ADD) != 0)
            forwardCursorOps |= (d & SQL_CA1_BULK_ADD) != 0 ? 0x10 : 0x100000;
        if ((d & SQL_CA1_BOOKMARK) != 0)
            forwardCursorOps |= 0x40;
        else if (keysetCursorOps != 0 || dynamicCursorOps != 0 || staticCursorOps != 0)
            forwardCursorOps |= 0x400000;
        if ((e & SQL_CA1_LOCK_NO_CHANGE) != 0)
            forwardCursorOps |= (d & SQL_CA1_LOCK_NO_CHANGE) != 0 ? 0x20 : 0x200000;
        if ((d & SQL_CA1_LOCK_UNLOCK) != 0)
            forwardCursorOps |= 0x100;
        if ((d & SQL_CA1_LOCK_EXCLUSIVE) != 0)
            forwardCursorOps |= 0x80;
    }
    if (readOnly) {
        keysetCursorOps &= 0x40FFFF;
        dynamicCursorOps &= 0x40FFFF;
        staticCursorOps &= 0xC0FFFF;
        forwardCursorOps &= 0x40FFFF;
    }
    if (!askText(SQL_NEED_LONG_DATA_LEN))
        return 1;
    if ((text[0] == 'Y' || text[0] == 'y') && text[1] == 0) {
        needLongDataLen = 1;
    } else if ((text[0] == 'N' || text[0] == 'n') && text[1] == 0) {
        needLongDataLen = 0;
    } else {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_SQL_NEED_LONG_DATA_LEN_INVALID)
            ->addParamText(" SQL_NEED_LONG_DATA_LEN returned ")
            ->addParamW(text);
        return 1;
    }
    return 0;
}

// ---- Translation library ----------------------------------------------------

// The platform layer loads the library; it has no symbol lookup or unload of
// its own yet, so those two steps use the loader directly.
int16_t BaseConnection::loadTranslator(const uint16_t* path) noexcept
{
    unloadTranslator();
    if (path == nullptr || path[0] == 0)
        return 0;
    void* library = LoadLibraryW(path, 0);
    void* toDriver = library != nullptr ? dlsym(library, "SQLDataSourceToDriver") : nullptr;
    void* toSource = library != nullptr ? dlsym(library, "SQLDriverToDataSource") : nullptr;
    if (toDriver == nullptr || toSource == nullptr) {
        if (library != nullptr)
            dlclose(library);
        basePostError(kBaseIdxTranslationLoad);
        return 1;
    }
    size_t n = strLenOrZeroW(path);
    translatorPathW = static_cast<uint16_t*>(ramAlloc((n + 1) * 2));
    if (translatorPathW == nullptr) {
        dlclose(library);
        return 1;
    }
    std::memcpy(translatorPathW, path, (n + 1) * 2);
    translatorLibrary = library;
    translateToDriverFn = reinterpret_cast<decltype(translateToDriverFn)>(toDriver);
    translateToDataSourceFn = reinterpret_cast<decltype(translateToDataSourceFn)>(toSource);
    return 0;
}

void BaseConnection::unloadTranslator() noexcept
{
    if (translatorLibrary != nullptr)
        dlclose(translatorLibrary);
    translatorLibrary = nullptr;
    ramFree(translatorPathW);
    translatorPathW = nullptr;
    translateToDriverFn = nullptr;
    translateToDataSourceFn = nullptr;
}

int16_t BaseConnection::translateToDriverW(uint16_t* text, int64_t units) noexcept
{
    if (translateToDriverFn == nullptr || units <= 0)
        return 0;
    char message[512];
    int16_t messageLength = 0;
    int32_t outLength = 0;
    auto translate = [&](void* data, int32_t bytes) noexcept {
        message[0] = 0;
        int32_t ok =
            translateToDriverFn(static_cast<uint32_t>(translationOption), SQL_WCHAR, data, bytes, data, bytes,
                                &outLength, reinterpret_cast<uint8_t*>(message), sizeof message, &messageLength);
        if (messageLength != 0) {
            message[sizeof message - 1] = 0;
            basePostErrorMsg(kBaseIdxGeneralError, MSG_TRANSLATION_FAILED)->addParamText(message);
            return false;
        }
        // A library that says it failed has failed, message or not.
        if (ok == 0) {
            basePostErrorMsg(kBaseIdxGeneralError, MSG_TRANSLATION_FAILED)->addParamText("");
            return false;
        }
        if (outLength != bytes) {
            basePostErrorMsg(kBaseIdxGeneralError, MSG_TRANSLATION_LENGTH_CHANGED);
            return false;
        }
        return true;
    };
    if (wideCharCodePage == kCodePageUtf16LE)
        return translate(text, static_cast<int32_t>(units * 2)) ? 0 : 1;
    KaStringW wide;
    if (wide.assign(text, static_cast<size_t>(units)) != 0)
        return 1;
    const char* utf8 = wide.toNarrow(KA_TEXT_UTF8);
    if (utf8 == nullptr) {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_TRANSLATION_CONVERSION_FAILED);
        return 1;
    }
    size_t bytes = std::strlen(utf8);
    auto* buffer = static_cast<char*>(ramAlloc(bytes + 1));
    if (buffer == nullptr)
        return 1;
    std::memcpy(buffer, utf8, bytes + 1);
    bool ok = translate(buffer, static_cast<int32_t>(bytes));
    KaStringW back;
    if (ok && back.assignNarrow(buffer, bytes, KA_TEXT_UTF8) != 0) {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_TRANSLATION_CONVERSION_FAILED);
        ok = false;
    }
    ramFree(buffer);
    if (!ok)
        return 1;
    if (back.len != static_cast<size_t>(units)) {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_TRANSLATION_LENGTH_CHANGED);
        return 1;
    }
    std::memcpy(text, back.data, back.len * 2);
    return 0;
}

int16_t BaseConnection::getInfoChar(uint16_t infoType, uint16_t* out) noexcept
{
    uint16_t text[kBaseResourceTextUnits];
    text[0] = 0;
    int16_t length = 0;
    if (!SQL_SUCCEEDED(getInfoValue(infoType, text, sizeof text, &length)))
        return 1;
    *out = text[0];
    return 0;
}
