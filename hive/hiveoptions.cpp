// The Hive connection's own options, read after the framework's at each
// connect through the framework's lookup (connection string, profile, data
// source, driver section, default), each with its parsing rule.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <limits>

#include "foundation/fast.h"
#include "foundation/kaerror.h"
#include "foundation/kastr.h"
#include "foundation/kastringw.h"
#include "foundation/numtext.h"
#include "foundation/ram.h"
#include "hive/hiveconnection.h"
#include "kamessages.h"
#include "odbc/baseattrtable.h"
#include "odbc/baseerr.h"
#include "odbc/baseoptreader.h"
#include "platform/bosenv.h"

namespace {

// Largest long-data buffer (in KiB) and fetch array (values per fetch) a
// connection asks for; larger values are brought down with a warning.
constexpr uint64_t kLongDataCacheLimitKb = 1048576;
constexpr int32_t kArrayFetchLimit = 10000000;

bool sameNoCase(const uint16_t* a, const char* b) noexcept
{
    size_t i = 0;
    for (; a[i] != 0 && b[i] != 0; ++i) {
        uint16_t u = a[i] >= 'a' && a[i] <= 'z' ? uint16_t(a[i] - 32) : a[i];
        char c = b[i] >= 'a' && b[i] <= 'z' ? char(b[i] - 32) : b[i];
        if (u != uint16_t(uint8_t(c)))
            return false;
    }
    return a[i] == 0 && b[i] == 0;
}

void replace(uint16_t** field, uint16_t* text) noexcept
{
    ramFree(*field);
    *field = text;
}

}  // namespace

void HiveConnection::freeOptionTexts() noexcept
{
    uint16_t** texts[] = {&hostName,       &portNumber, &databaseName, &catalogDatabase, &servicePrincipalName,
                          &gssLibraryName, &httpPath,   &cookieName};
    for (uint16_t** text : texts) {
        ramFree(*text);
        *text = nullptr;
    }
    ramFree(hiveProxyUser);
    hiveProxyUser = nullptr;
}

namespace {

using Conn = HiveConnection;
using Kw = BaseKeyword<Conn>;
using K = BaseKwKind;

bool readProtocol(Conn& c, BaseOptionReader& r, const Kw* row) noexcept
{
    c.resultStyle = 0;
    c.effectiveProtocol = 0;
    if (!row->get(r))
        return false;
    if (r.value == nullptr || textWToI32(r.value, &c.clientProtocol) != 0)
        return false;
    c.resultStyle = HIVE_RESULT_ROW_WISE;
    return true;
}

bool readAuthentication(Conn& c, BaseOptionReader& r, const Kw*) noexcept
{
    size_t n = strLenOrZeroW(r.value);
    if (n == 1)
        c.authenticationMethod = (r.value[0] == '1' || r.value[0] == '4') ? HIVE_AUTH_KERBEROS : 0;
    else if (n >= 2)
        c.authenticationMethod = (r.value[0] == '-' && r.value[1] == '1') ? HIVE_AUTH_NONE : 0;
    else
        c.authenticationMethod = 0;
    return true;
}

// OSUSER stands for the login name of the process.
bool readProxyUser(Conn& c, BaseOptionReader& r, const Kw*) noexcept
{
    ramFree(c.hiveProxyUser);
    c.hiveProxyUser = nullptr;
    if (r.value == nullptr)
        return true;
    if (!sameNoCase(r.value, "OSUSER"))
        return (c.hiveProxyUser = strDupUtf8W(r.value)) != nullptr;
    char login[kHiveLoginNameSize] = {};
    if (bosGetUserName(login, sizeof login) != 0 || login[0] == 0) {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_HIVE_PROXY_USER_UNKNOWN);
        return false;
    }
    size_t n = strnlen(login, sizeof login - 1);
    c.hiveProxyUser = static_cast<char*>(ramAlloc(n + 1));
    if (c.hiveProxyUser == nullptr)
        return false;
    std::memcpy(c.hiveProxyUser, login, n);
    c.hiveProxyUser[n] = 0;
    return true;
}

// MaxVarcharSize, and MaxStringSize (the next row), which it bounds when
// that is not given.
bool readStringSizes(Conn& c, BaseOptionReader& r, const Kw* row) noexcept
{
    if (!row->get(r))
        return false;
    uint32_t maxVarchar = r.lenient(uint32_t(kHiveDefaultMaxVarcharSize));
    if (!row[1].get(r))
        return false;
    c.maxStringSize = r.lenient(int32_t{-1});
    if (c.maxStringSize < 1)
        c.maxStringSize = maxVarchar > uint32_t(INT32_MAX) ? INT32_MAX : int32_t(maxVarchar);
    if (c.receiveBufferSize == 0)
        c.receiveBufferSize = int64_t(kHiveDefaultReadBufferSize);
    if (c.sendBufferSize == 0)
        c.sendBufferSize = kHiveDefaultSendBufferSize;
    return true;
}

bool readLongDataCache(Conn& c, BaseOptionReader& r, const Kw* row) noexcept
{
    c.longDataCache = r.is("-1") ? 0 : 1;
    uint64_t kb = r.lenient(uint64_t{0});
    r.limit(&kb, uint64_t{0}, kLongDataCacheLimitKb, row->longKey);
    // A size whose bytes overflow is taken as the default.
    c.longDataBufferSize = kb == 0 || kb > UINT64_MAX / 1024 ? kHiveDefaultLongDataBytes : kb * 1024;
    return true;
}

// A size in kilobytes (or values) read from the row, with the next row's
// keyword as its fallback when it is negative; -1 when neither is given.
bool readSized(BaseOptionReader& r, const Kw* row, int32_t* out) noexcept
{
    if (!row->get(r))
        return false;
    int32_t v = -1;
    if (r.value == nullptr || textWToI32(r.value, &v) != 0) {
        baseDiscardLastDiagnostic();
        v = -1;
    } else if (v < 0) {
        if (!row[1].get(r))
            return false;
        v = r.lenient(int32_t{-1});
    }
    *out = v;
    return true;
}

bool readArrayInsertSize(Conn& c, BaseOptionReader& r, const Kw* row) noexcept
{
    int32_t insertKb = -1;
    if (!readSized(r, row, &insertKb))
        return false;
    c.arrayInsertLimit = (int64_t(insertKb < 1 ? kHiveDefaultArrayInsertKb : insertKb) + 1) * 1024;
    return true;
}

bool readArrayFetchSize(Conn& c, BaseOptionReader& r, const Kw* row) noexcept
{
    int32_t fetch = -1;
    if (!readSized(r, row, &fetch))
        return false;
    // Below 1 means "not given" (the default follows); only the top is held.
    r.limit(&fetch, std::numeric_limits<int32_t>::min(), kArrayFetchLimit, row->longKey);
    c.arrayFetchSize = fetch < 1 ? kHiveDefaultArrayFetchSize : fetch;
    return true;
}

// CatalogMode and UseNativeCatalogFunctions take -1..2; anything else is
// their fallback.
void holdCatalogMode(Conn& c, int32_t fallback) noexcept
{
    if (c.catalogMode < -1 || c.catalogMode > 2)
        c.catalogMode = fallback;
}

// The Hive connection's keywords, in the order they are read (after the
// framework's).
const Kw kHiveKeywords[] = {
    {u"HostName", u"HOST", nullptr, K::Wide, &Conn::hostName, nullptr, nullptr, 0, kBaseKwTrim},
    {u"PortNumber", u"PORT", nullptr, K::Wide, &Conn::portNumber, nullptr, nullptr, 0, kBaseKwTrim},
    // The catalog functions start from their own copy of the database.
    {u"Database", u"DB", u"default", K::Wide, &Conn::databaseName,
     [](Conn& c, BaseOptionReader&, const Kw*) noexcept {
         replace(&c.catalogDatabase,
                 c.databaseName != nullptr ? strDupNW(c.databaseName, strLenOrZeroW(c.databaseName)) : nullptr);
         return c.databaseName == nullptr || c.catalogDatabase != nullptr;
     }},
    {u"CliServiceProtocol", u"CSP", u"-999", K::Own, {}, readProtocol},
    {u"UseAsyncExecute", u"UAE", u"0", K::Exact1, &Conn::useAsyncExecute,
     [](Conn& c, BaseOptionReader&, const Kw*) noexcept {
         c.pollCompletionStatus = c.useAsyncExecute;
         return true;
     }},
    {u"AlwaysPollCompletionStatus", u"APCS", u"0", K::Exact1, &Conn::pollCompletionStatus, nullptr,
     [](const Conn& c) noexcept { return c.useAsyncExecute == 0; }},
    {u"AuthenticationMethod", u"AM", u"0", K::Custom, {}, readAuthentication},
    {u"ServicePrincipalName", u"SPN", nullptr, K::Wide, &Conn::servicePrincipalName},
    // "native" uses the system's GSS library.
    {u"GSSClient",
     u"GSSC",
     u"native",
     K::Custom,
     {},
     [](Conn& c, BaseOptionReader& r, const Kw*) noexcept {
         replace(&c.gssLibraryName, r.value != nullptr && sameNoCase(r.value, "native") ? nullptr : r.take(false));
         return true;
     }},
    {u"UseCurrentSchema", u"UCS", u"0", K::Exact1, &Conn::useCurrentSchema},
    {u"RemoveColumnQualifiers", u"RCQ", u"0", K::Exact1, &Conn::removeColumnQualifiers},
    {u"QuoteAliases", u"QA", u"1", K::Not0, &Conn::quoteAliases},
    {u"ParseDelimitedIDs", u"PDID", u"1", K::Not0, &Conn::parseDelimitedIds},
    {u"DataSourceReadOnlyMode", u"DSROM", u"0", K::Exact1, &Conn::dataSourceReadOnly},
    {u"EnableUserImpersonation", u"EUI", u"0", K::Not0, &Conn::enableUserImpersonation},
    {u"ProxyUser", u"PXU", nullptr, K::Custom, {}, readProxyUser},
    {u"EnableSqlParser", u"ESP", u"1", K::Not0, &Conn::enableSqlParser},
    {u"StringDescribeType",
     u"SDT",
     u"-9 - SQL_WVARCHAR",
     K::Custom,
     {},
     [](Conn& c, BaseOptionReader& r, const Kw*) noexcept {
         c.stringDescribeType = r.is("-1") ? SQL_LONGVARCHAR : r.is("-10") ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
         return true;
     }},
    {u"TransactionMode",
     u"TM",
     u"0",
     K::Custom,
     {},
     [](Conn& c, BaseOptionReader& r, const Kw*) noexcept {
         c.transactionMode = r.lenient(uint32_t{0}) == 1 ? 1 : 0;
         return true;
     }},
    {u"BatchMechanism",
     u"BM",
     nullptr,
     K::Custom,
     {},
     [](Conn& c, BaseOptionReader& r, const Kw*) noexcept {
         c.batchMechanism = r.is("1") ? kHiveBatchEachRow : kHiveBatchMultiRowInsert;
         return true;
     }},
    {u"MaxVarcharSize", u"MVS", u"2147483647", K::Own, {}, readStringSizes},
    {u"MaxStringSize", u"MSS", u"0", K::Listed},
    {u"DriverReadBufferSize", u"DRBS", u"5120", K::Lenient, &Conn::readBufferSize, nullptr, nullptr,
     kHiveDefaultReadBufferSize},
    {u"SocketReadSize", u"SRS", u"5120", K::Lenient, &Conn::socketReadSize, nullptr, nullptr,
     kHiveDefaultReadBufferSize},
    {u"MaxRowsInFetch", u"MRIF", u"-1", K::Lenient, &Conn::maxRowsInFetch,
     [](Conn& c, BaseOptionReader&, const Kw*) noexcept {
         if (c.maxRowsInFetch == 0)
             c.maxRowsInFetch = 1;
         return true;
     },
     nullptr, -1},
    {u"OperationStatusDelay", u"OSD", u"25", K::Lenient, &Conn::operationStatusDelay,
     [](Conn& c, BaseOptionReader&, const Kw*) noexcept {
         if (c.operationStatusDelay == 0)
             c.operationStatusDelay = kHiveDefaultStatusDelay;
         return true;
     },
     nullptr, kHiveDefaultStatusDelay},
    {u"LongDataCacheSize", u"LDCS", u"0", K::Custom, {}, readLongDataCache},
    {u"EnableDescribeParam", u"EDP", u"0", K::Exact1, &Conn::enableDescribeParam},
    // 1 keeps nulls as they are; the field says whether they are mapped.
    {u"NullBehavior",
     u"NB",
     u"0",
     K::Custom,
     {},
     [](Conn& c, BaseOptionReader& r, const Kw*) noexcept {
         c.nullBehavior = r.exact1() ? 0 : 1;
         return true;
     }},
    {u"CatalogMode", u"CM", u"-1", K::Lenient, &Conn::catalogMode,
     [](Conn& c, BaseOptionReader&, const Kw*) noexcept {
         holdCatalogMode(c, -1);
         return true;
     },
     nullptr, -1},
    // The older keyword, read when CatalogMode leaves the choice open.
    {u"UseNativeCatalogFunctions", u"UNCF", u"0", K::Lenient, &Conn::catalogMode,
     [](Conn& c, BaseOptionReader&, const Kw*) noexcept {
         holdCatalogMode(c, 0);
         return true;
     },
     [](const Conn& c) noexcept { return c.catalogMode == -1; }},
    {u"ReturnNativeErrorsFromCatalogFunctions", u"RNEFCF", u"0", K::Exact1, &Conn::returnNativeCatalogErrors},
    {u"ReturnSearchableSpecialColumns", u"RSSC", u"0", K::Exact1, &Conn::returnSearchableSpecialColumns},
    {u"DecimalIsSearchable", u"DIS", u"1", K::Exact1, &Conn::decimalIsSearchable},
    {u"TimestampIsSearchable", u"TIS", u"1", K::Exact1, &Conn::timestampIsSearchable},
    {u"TransportMode", u"TRM", u"0", K::Lenient, &Conn::transportMode,
     [](Conn& c, BaseOptionReader&, const Kw*) noexcept {
         if (c.transportMode != HIVE_TRANSPORT_BINARY && c.transportMode != HIVE_TRANSPORT_HTTP)
             c.transportMode = HIVE_TRANSPORT_BINARY;
         return true;
     }},
    {u"HTTPPath", u"HP", u"cliservice", K::Wide, &Conn::httpPath},
    // Sizes in kilobytes (inserts) and values (fetches), each with an older
    // keyword as its fallback.
    {u"ArrayInsertSize", u"AIS", u"-1", K::Own, {}, readArrayInsertSize},
    {u"BatchMechanismSize", u"BMS", u"-1", K::Listed},
    {u"ArrayFetchSize", u"AFS", u"-1", K::Own, {}, readArrayFetchSize},
    {u"ArraySize", u"AS", u"-1", K::Listed},
    {u"EnableCookieAuthentication", u"ECA", u"1", K::Not0, &Conn::enableCookieAuthentication},
    {u"CookieName", u"CN", u"Olvenrey_Default_Hive_Cookie", K::Wide, &Conn::cookieName},
    {u"MaxNumericPrecision", u"MNP", u"38", K::Lenient, &Conn::maxNumericPrecision, nullptr, nullptr,
     kHiveDefaultNumericLimit},
    {u"MaxNumericScale", u"MNS", u"38", K::Lenient, &Conn::maxNumericScale, nullptr, nullptr, kHiveDefaultNumericLimit},
};

}  // namespace

int16_t HiveConnection::readDriverOptions(KaValueParserW* parser, void* /*window*/) noexcept
{
    BaseOptionReader r(this, parser);
    // Text to and from the server is UTF-8 and column sizes count characters.
    columnSizeAsCharacter = 1;
    return baseReadKeywords(*this, r, kHiveKeywords) ? 0 : 1;
}

namespace {

// The attributes a browse connect asks for, level by level, and what a
// setup dialog would show: long keyword, number, kind, choices, default,
// maximum length, short keyword, level, optional.
const BaseDriverAttr kHiveDriverAttrs[] = {
    {u"HostName", 1, kBaseAttrKindText, nullptr, nullptr, 0, u"HOST", 1, 0},
    {u"PortNumber", 2, kBaseAttrKindText, nullptr, u"10000", 0, u"PORT", 1, 0},
    {u"Database", 3, kBaseAttrKindText, nullptr, u"default", 0, u"DB", 1, 1},
    {u"LogonID", 4, kBaseAttrKindText, nullptr, nullptr, 0, u"UID", 1, 0},
    {u"ServicePrincipalName", 5, kBaseAttrKindText, nullptr, nullptr, 0, u"SPN", 1, 0},
    {u"ProxyUser", 6, kBaseAttrKindText, nullptr, nullptr, 0, u"PXU", 1, 0},
    {u"KeepAlive", 7, kBaseAttrKindCheckBox, nullptr, u"0", 0, u"", 1, 1},
    {u"EnableDescribeParam", 8, kBaseAttrKindCheckBox, nullptr, u"0", 0, u"EDP", 1, 1},
    {u"UseCurrentSchema", 9, kBaseAttrKindCheckBox, nullptr, u"0", 0, u"UCS", 1, 1},
    {u"RemoveColumnQualifiers", 10, kBaseAttrKindCheckBox, nullptr, u"0", 0, u"RCQ", 1, 1},
    {u"StringDescribeType", 11, kBaseAttrKindList, u"-10 - SQL_WLONGVARCHAR,-9 - SQL_WVARCHAR", u"-9 - SQL_WVARCHAR", 0,
     u"SDT", 1, 1},
    {u"TransactionMode", 12, kBaseAttrKindList, u"0 - No Transactions,1 - Ignore", nullptr, 0, u"TM", 1, 1},
    {u"DefaultLongDataBuffLen", 13, kBaseAttrKindText, nullptr, u"1024", 0, u"DLDBL", 1, 1},
    {u"LoginTimeout", 14, kBaseAttrKindText, nullptr, u"30", 0, u"LT", 1, 1},
    {u"ExtendedOptions", 15, kBaseAttrKindText, nullptr, nullptr, 0, u"XO", 1, 1},
    {u"AuthenticationMethod", 16, kBaseAttrKindList, u"-1 - No Authentication,0 - User ID/Password,4 - Kerberos",
     u"0 - User ID/Password", 0, u"AM", 1, 1},
    {u"EncryptionMethod", 17, kBaseAttrKindList, u"0 - No Encryption,1 - SSL", nullptr, 0, u"EM", 1, 1},
    {u"CryptoProtocolVersion", 18, kBaseAttrKindText, nullptr, nullptr, 0, u"CPV", 1, 1},
    {u"TrustStore", 19, kBaseAttrKindText, nullptr, nullptr, 0, u"TS", 1, 1},
    {u"TrustStorePassword", 20, kBaseAttrKindPassword, nullptr, nullptr, 0, u"TSP", 1, 1},
    {u"HostNameInCertificate", 21, kBaseAttrKindText, nullptr, nullptr, 0, u"HNIC", 1, 1},
    {u"KeyStore", 22, kBaseAttrKindText, nullptr, nullptr, 0, u"KS", 1, 1},
    {u"KeyStorePassword", 23, kBaseAttrKindPassword, nullptr, nullptr, 0, u"KSP", 1, 1},
    {u"KeyPassword", 24, kBaseAttrKindPassword, nullptr, nullptr, 0, u"KP", 1, 1},
    {u"ValidateServerCertificate", 25, kBaseAttrKindCheckBox, nullptr, u"1", 0, u"VSC", 1, 1},
    {u"VarcharThreshold", 26, kBaseAttrKindText, nullptr, nullptr, 0, u"VT", 2, 1},
    {u"MinLongVarcharSize", 27, kBaseAttrKindText, nullptr, nullptr, 0, u"MINLVS", 2, 1},
    {u"ArrayInsertSize", 28, kBaseAttrKindText, nullptr, u"16384", 0, u"AIS", 2, 1},
    {u"ArrayFetchSize", 29, kBaseAttrKindText, nullptr, u"150000", 0, u"AFS", 2, 1},
    {u"MaxStringSize", 30, kBaseAttrKindText, nullptr, nullptr, 0, u"MSS", 2, 1},
    {u"Description", 31, kBaseAttrKindText, nullptr, nullptr, 0, u"", 0, 1},
    {u"GSSClient", 32, kBaseAttrKindText, nullptr, u"native", 0, u"GSSC", 0, 1},
};

}  // namespace

void HiveConnection::setDriverAttrTable() noexcept
{
    driverAttrs = kHiveDriverAttrs;
    driverAttrCount = sizeof kHiveDriverAttrs / sizeof kHiveDriverAttrs[0];
    // The password is asked with the first level, and required, unless the
    // connection authenticates no one or by a Kerberos ticket.
    bool withPassword = authenticationMethod != HIVE_AUTH_NONE && authenticationMethod != HIVE_AUTH_KERBEROS;
    browsePasswordAsked = withPassword ? 1 : 0;
    browsePasswordRequired = withPassword ? 1 : 0;
    browsePasswordLevel = 1;
}
