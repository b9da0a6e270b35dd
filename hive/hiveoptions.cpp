// The Hive connection's own options, read after the framework's at each
// connect through the framework's lookup (connection string, profile, data
// source, driver section, default), each with its parsing rule.
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

int16_t HiveConnection::readDriverOptions(KaValueParserW* parser, void* /*window*/) noexcept
{
    BaseOptionReader r(this, parser);
    // Text to and from the server is UTF-8 and column sizes count characters.
    columnSizeAsCharacter = 1;

    if (!r.get(u"HostName", u"HOST", nullptr))
        return 1;
    replace(&hostName, r.take(true));
    if (!r.get(u"PortNumber", u"PORT", nullptr))
        return 1;
    replace(&portNumber, r.take(true));
    if (!r.get(u"Database", u"DB", u"default"))
        return 1;
    replace(&databaseName, r.take(false));
    replace(&catalogDatabase, databaseName != nullptr ? strDupNW(databaseName, strLenOrZeroW(databaseName)) : nullptr);
    if (databaseName != nullptr && catalogDatabase == nullptr)
        return 1;

    resultStyle = 0;
    effectiveProtocol = 0;
    if (!r.get(u"CliServiceProtocol", u"CSP", u"-999"))
        return 1;
    if (r.value == nullptr || textWToI32(r.value, &clientProtocol) != 0)
        return 1;
    resultStyle = HIVE_RESULT_ROW_WISE;

    if (!r.get(u"UseAsyncExecute", u"UAE", u"0"))
        return 1;
    useAsyncExecute = pollCompletionStatus = r.exact1() ? 1 : 0;
    if (useAsyncExecute == 0) {
        if (!r.get(u"AlwaysPollCompletionStatus", u"APCS", u"0"))
            return 1;
        pollCompletionStatus = r.exact1() ? 1 : 0;
    }

    if (!r.get(u"AuthenticationMethod", u"AM", u"0"))
        return 1;
    {
        size_t n = strLenOrZeroW(r.value);
        if (n == 1)
            authenticationMethod = (r.value[0] == '1' || r.value[0] == '4') ? HIVE_AUTH_KERBEROS : 0;
        else if (n >= 2)
            authenticationMethod = (r.value[0] == '-' && r.value[1] == '1') ? HIVE_AUTH_NONE : 0;
        else
            authenticationMethod = 0;
    }
    if (!r.get(u"ServicePrincipalName", u"SPN", nullptr))
        return 1;
    replace(&servicePrincipalName, r.take(false));
    if (!r.get(u"GSSClient", u"GSSC", u"native"))
        return 1;
    replace(&gssLibraryName, r.value != nullptr && sameNoCase(r.value, "native") ? nullptr : r.take(false));

    struct Flag {
        const char16_t* longKey;
        const char16_t* shortKey;
        const char16_t* def;
        bool notZero;
        int32_t* field;
    };
    const Flag flags[] = {
        {u"UseCurrentSchema", u"UCS", u"0", false, &useCurrentSchema},
        {u"RemoveColumnQualifiers", u"RCQ", u"0", false, &removeColumnQualifiers},
        {u"QuoteAliases", u"QA", u"1", true, &quoteAliases},
        {u"ParseDelimitedIDs", u"PDID", u"1", true, &parseDelimitedIds},
        {u"DataSourceReadOnlyMode", u"DSROM", u"0", false, &dataSourceReadOnly},
        {u"EnableUserImpersonation", u"EUI", u"0", true, &enableUserImpersonation},
    };
    // A notZero flag is on for any value but "0", the others only for "1".
    auto readFlags = [&r](const auto& list) {
        for (const Flag& f : list) {
            if (!r.get(f.longKey, f.shortKey, f.def))
                return false;
            *f.field = (f.notZero ? r.not0() : r.exact1()) ? 1 : 0;
        }
        return true;
    };
    if (!readFlags(flags))
        return 1;

    if (!r.get(u"ProxyUser", u"PXU", nullptr))
        return 1;
    ramFree(hiveProxyUser);
    hiveProxyUser = nullptr;
    if (r.value != nullptr) {
        if (sameNoCase(r.value, "OSUSER")) {
            char login[kHiveLoginNameSize] = {};
            if (bosGetUserName(login, sizeof login) != 0 || login[0] == 0) {
                basePostErrorMsg(kBaseIdxGeneralError, MSG_HIVE_PROXY_USER_UNKNOWN);
                return 1;
            }
            size_t n = strnlen(login, sizeof login - 1);
            hiveProxyUser = static_cast<char*>(ramAlloc(n + 1));
            if (hiveProxyUser == nullptr)
                return 1;
            std::memcpy(hiveProxyUser, login, n);
            hiveProxyUser[n] = 0;
        } else if ((hiveProxyUser = strDupUtf8W(r.value)) == nullptr) {
            return 1;
        }
    }

    if (!r.get(u"EnableSqlParser", u"ESP", u"1"))
        return 1;
    enableSqlParser = r.not0() ? 1 : 0;
    if (!r.get(u"StringDescribeType", u"SDT", u"-9 - SQL_WVARCHAR"))
        return 1;
    stringDescribeType = r.is("-1") ? -1 : r.is("-10") ? -10 : -9;
    if (!r.get(u"TransactionMode", u"TM", u"0"))
        return 1;
    transactionMode = r.lenient(uint32_t{0}) == 1 ? 1 : 0;
    if (!r.get(u"BatchMechanism", u"BM", nullptr))
        return 1;
    batchMechanism = r.is("1") ? 1 : 2;
    if (!r.get(u"MaxVarcharSize", u"MVS", u"2147483647"))
        return 1;
    uint32_t maxVarchar = r.lenient(uint32_t(kHiveDefaultMaxVarcharSize));
    if (!r.get(u"MaxStringSize", u"MSS", u"0"))
        return 1;
    maxStringSize = r.lenient(int32_t{-1});
    if (maxStringSize < 1)
        maxStringSize = maxVarchar > uint32_t(INT32_MAX) ? INT32_MAX : int32_t(maxVarchar);

    if (receiveBufferSize == 0)
        receiveBufferSize = int64_t(kHiveDefaultReadBufferSize);
    if (sendBufferSize == 0)
        sendBufferSize = kHiveDefaultSendBufferSize;
    if (!r.get(u"DriverReadBufferSize", u"DRBS", u"5120"))
        return 1;
    readBufferSize = r.lenient(kHiveDefaultReadBufferSize);
    if (!r.get(u"SocketReadSize", u"SRS", u"5120"))
        return 1;
    socketReadSize = r.lenient(kHiveDefaultReadBufferSize);
    if (!r.get(u"MaxRowsInFetch", u"MRIF", u"-1"))
        return 1;
    maxRowsInFetch = r.lenient(int32_t{-1});
    if (maxRowsInFetch == 0)
        maxRowsInFetch = 1;
    if (!r.get(u"OperationStatusDelay", u"OSD", u"25"))
        return 1;
    operationStatusDelay = r.lenient(kHiveDefaultStatusDelay);
    if (operationStatusDelay == 0)
        operationStatusDelay = kHiveDefaultStatusDelay;
    if (!r.get(u"LongDataCacheSize", u"LDCS", u"0"))
        return 1;
    longDataCache = r.is("-1") ? 0 : 1;
    {
        uint64_t kb = r.lenient(uint64_t{0});
        r.limit(&kb, uint64_t{0}, kLongDataCacheLimitKb, u"LongDataCacheSize");
        // A size whose bytes overflow is taken as the default.
        longDataBufferSize = kb == 0 || kb > UINT64_MAX / 1024 ? kHiveDefaultLongDataBytes : kb * 1024;
    }
    if (!r.get(u"EnableDescribeParam", u"EDP", u"0"))
        return 1;
    enableDescribeParam = r.exact1() ? 1 : 0;
    if (!r.get(u"NullBehavior", u"NB", u"0"))
        return 1;
    nullBehavior = r.exact1() ? 0 : 1;
    if (!r.get(u"CatalogMode", u"CM", u"-1"))
        return 1;
    catalogMode = r.lenient(int32_t{-1});
    if (catalogMode < -1 || catalogMode > 2)
        catalogMode = -1;
    if (catalogMode == -1) {
        if (!r.get(u"UseNativeCatalogFunctions", u"UNCF", u"0"))
            return 1;
        catalogMode = r.lenient(int32_t{0});
        if (catalogMode < -1 || catalogMode > 2)
            catalogMode = 0;
    }
    const Flag more[] = {
        {u"ReturnNativeErrorsFromCatalogFunctions", u"RNEFCF", u"0", false, &returnNativeCatalogErrors},
        {u"ReturnSearchableSpecialColumns", u"RSSC", u"0", false, &returnSearchableSpecialColumns},
        {u"DecimalIsSearchable", u"DIS", u"1", false, &decimalIsSearchable},
        {u"TimestampIsSearchable", u"TIS", u"1", false, &timestampIsSearchable},
    };
    if (!readFlags(more))
        return 1;
    if (!r.get(u"TransportMode", u"TRM", u"0"))
        return 1;
    transportMode = r.lenient(int32_t{0});
    if (transportMode != HIVE_TRANSPORT_BINARY && transportMode != HIVE_TRANSPORT_HTTP)
        transportMode = HIVE_TRANSPORT_BINARY;
    if (!r.get(u"HTTPPath", u"HP", u"cliservice"))
        return 1;
    replace(&httpPath, r.take(false));

    // Sizes in kilobytes with a second option as their fallback.
    auto sized = [&](const char16_t* longKey, const char16_t* shortKey, const char16_t* otherLong,
                     const char16_t* otherShort, int32_t* out) noexcept {
        if (!r.get(longKey, shortKey, u"-1"))
            return false;
        int32_t v = -1;
        if (r.value == nullptr || textWToI32(r.value, &v) != 0) {
            baseDiscardLastDiagnostic();
            v = -1;
        } else if (v < 0) {
            if (!r.get(otherLong, otherShort, u"-1"))
                return false;
            v = r.lenient(int32_t{-1});
        }
        *out = v;
        return true;
    };
    int32_t insertKb = -1;
    if (!sized(u"ArrayInsertSize", u"AIS", u"BatchMechanismSize", u"BMS", &insertKb))
        return 1;
    arrayInsertLimit = (int64_t(insertKb < 1 ? kHiveDefaultArrayInsertKb : insertKb) + 1) * 1024;
    int32_t fetch = -1;
    if (!sized(u"ArrayFetchSize", u"AFS", u"ArraySize", u"AS", &fetch))
        return 1;
    // Below 1 means "not given" (the default follows); only the top is held.
    r.limit(&fetch, std::numeric_limits<int32_t>::min(), kArrayFetchLimit, u"ArrayFetchSize");
    arrayFetchSize = fetch < 1 ? kHiveDefaultArrayFetchSize : fetch;

    if (!r.get(u"EnableCookieAuthentication", u"ECA", u"1"))
        return 1;
    enableCookieAuthentication = r.not0() ? 1 : 0;
    if (!r.get(u"CookieName", u"CN", u"Olvenrey_Default_Hive_Cookie"))
        return 1;
    replace(&cookieName, r.take(false));
    if (!r.get(u"MaxNumericPrecision", u"MNP", u"38"))
        return 1;
    maxNumericPrecision = r.lenient(kHiveDefaultNumericLimit);
    if (!r.get(u"MaxNumericScale", u"MNS", u"38"))
        return 1;
    maxNumericScale = r.lenient(kHiveDefaultNumericLimit);
    return 0;
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
