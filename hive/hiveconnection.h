// The HiveServer2 physical connection: the driver's form of BaseConnection,
// made by the environment when the application connects. It names the
// driver (its library name and resource texts), reads the Hive options,
// opens the socket, logs in, opens the session with its database, learns
// the server's name, version and types, and makes the driver's statements.
#pragma once
#include <cstddef>
#include <cstdint>

#include "hive/hivecommunicator.h"
#include "hive/hiveinfo.h"
#include "hive/hivenetread.h"
#include "hive/hivenetwrite.h"
#include "odbc/baseconn.h"
#include "transport/basesocket.h"

class BaseEnv;
class BaseStatement;
class HiveStatement;
class KaTracing;

// Login time-out the driver's connections start with, in seconds.
constexpr int64_t kHiveDefaultLoginTimeout = 30;
// Bytes of the session handle as the OpenSession reply carries it.
constexpr size_t kHiveSessionHandleBytes = 50;
// Longest server message kept from a status record; the rest is passed over.
constexpr size_t kHiveMaxServerMessage = 65536;
// Longest message of a refused SASL login the driver reads.
constexpr size_t kHiveSaslMessageSize = 1024;
// Both halves of the credentials with AuthenticationMethod -1.
constexpr char kHiveNoAuthIdentity[] = "VELTRANOX";
// SASL status bytes.
enum : uint8_t {
    HIVE_SASL_START = 1,
    HIVE_SASL_OK = 2,
    HIVE_SASL_BAD = 3,
    HIVE_SASL_ERROR = 4,
    HIVE_SASL_COMPLETE = 5,
};

// Status codes of a TStatus.
enum : int32_t {
    HIVE_STATUS_SUCCESS = 0,
    HIVE_STATUS_SUCCESS_WITH_INFO = 1,
    HIVE_STATUS_STILL_EXECUTING = 2,
    HIVE_STATUS_ERROR = 3,
    HIVE_STATUS_INVALID_HANDLE = 4,
};

// Longest resource text the driver hands out, in UTF-16 units.
constexpr int32_t kHiveResourceTextUnits = 1024;

// Bytes of the DBMS name and version texts learnt at open.
constexpr size_t kHiveDbmsTextSize = 1024;
// Rows of the connection's SQL type table.
constexpr size_t kHiveTypeRowCapacity = 19;
// Fixed rows of the type table, before the server is known.
constexpr size_t kHiveFixedTypeRows = 11;
// The client protocol when CliServiceProtocol is not set, and the one the
// server is asked for when the setting is left alone.
constexpr int32_t kHiveProtocolUnset = -999;
constexpr int32_t kHiveProtocolDefault = 5;
// Newest protocol with row-wise results only.
constexpr int32_t kHiveProtocolRowWiseLast = 4;
// GetInfo types the open asks.
constexpr int32_t kHiveInfoDbmsName = 17;
constexpr int32_t kHiveInfoDbmsVersion = 18;
// Option defaults the readers fall back to.
constexpr uint64_t kHiveDefaultReadBufferSize = 5120;
constexpr int64_t kHiveDefaultSendBufferSize = 65536;
constexpr int32_t kHiveDefaultMaxVarcharSize = 2147483647;
constexpr uint16_t kHiveDefaultStatusDelay = 25;
constexpr int64_t kHiveDefaultArrayInsertKb = 16384;
constexpr int64_t kHiveDefaultArrayFetchSize = 150000;
constexpr uint64_t kHiveDefaultLongDataBytes = 2097152;
constexpr uint32_t kHiveDefaultNumericLimit = 38;
// BatchMechanism: every row of a parameter array run on its own, or an
// INSERT ... VALUES sent as multi-row INSERT batches.
constexpr uint8_t kHiveBatchEachRow = 1;
constexpr uint8_t kHiveBatchMultiRowInsert = 2;
// The read buffer is kept between these sizes whatever the options say.
constexpr uint64_t kHiveMinReadBufferSize = 1024;
constexpr uint64_t kHiveMaxReadBufferSize = 64u * 1024 * 1024;
// UTF-16 copies of the framework's TLS options the socket reads.
constexpr size_t kHiveTlsTextCount = 11;
// Bytes of the operating-system login name taken for impersonation.
constexpr size_t kHiveLoginNameSize = 129;

// Authentication methods.
enum : int32_t {
    HIVE_AUTH_NONE = -1,
    HIVE_AUTH_USER_PASSWORD = 0,
    HIVE_AUTH_KERBEROS = 1,
};

// Transport modes.
enum : int32_t {
    HIVE_TRANSPORT_BINARY = 0,
    HIVE_TRANSPORT_HTTP = 1,
};

// The catalog strategy switches of a connection: GetSchemas for the
// database list, GetTables for SQLTables, GetColumns for SQLColumns and
// GetTables for the table list of SQLColumns. Only GetColumns is ever
// switched on (by the connect, for a 1.2 server).
enum : int32_t {
    HIVE_CATALOG_USE_GET_SCHEMAS = 0,
    HIVE_CATALOG_USE_GET_TABLES = 1,
    HIVE_CATALOG_USE_GET_COLUMNS = 2,
    HIVE_CATALOG_USE_GET_TABLES_FOR_COLUMNS = 3,
};

// Decimal rows of the type table.
enum : uint8_t {
    HIVE_DECIMAL_NONE = 0,
    HIVE_DECIMAL_PLAIN = 1,
    HIVE_DECIMAL_PRECISION_SCALE = 2,
};

// One row of the connection's SQL type table, as SQLGetTypeInfo and the
// catalog functions read it.
struct HiveTypeRow {
    const char16_t* typeName;
    uint16_t localTypeName;  // message number of the local type name
    int16_t sqlType;
    int32_t columnSize;
    const char16_t* literalPrefix;
    const char16_t* literalSuffix;
    uint16_t createParams;  // message number; 0 none
    int16_t nullable;
    int16_t searchable;
    uint8_t flags;  // kHiveTypeCaseSensitive
    int16_t minimumScale;
    int16_t maximumScale;
};
constexpr uint8_t kHiveTypeCaseSensitive = 4;

// The version text as the open keeps it: "MM.mm.pppp" from whatever the
// server's GetInfo gave, with the three numbers out. text is rewritten in
// place (size bytes); a number of too many digits shows as asterisks.
void hiveFormatDbmsVersion(char* text, size_t size, uint32_t* major, uint32_t* minor, uint32_t* patch) noexcept;
// A NUL-terminated server message with the values of "username", "user",
// "password" and "pwd" (followed by ":" or "=") replaced by asterisks, in
// place: some servers repeat the request, credentials included, in their
// refusals.
void hiveMaskCredentials(char* text) noexcept;

class HiveConnection : public BaseConnection {
public:
    explicit HiveConnection(BaseEnv* env) noexcept;
    ~HiveConnection() override;

    [[nodiscard]] int16_t createStatement(BaseStatement** out) noexcept override;
    [[nodiscard]] int16_t driverLibraryName(uint16_t* out, int32_t capacity) noexcept override;
    int32_t driverResourceStr(uint32_t id, uint16_t* out, int32_t capacity) noexcept override;
    // The server keywords alternate servers and browsing name: host and
    // port, and optionally the database.
    const uint16_t* hostKeyword() noexcept override;
    const uint16_t* hostKeywordShort() noexcept override;
    const uint16_t* hostKeywordAlt() noexcept override;
    // Reads the Hive options after the framework's; 0, or 1.
    [[nodiscard]] int16_t readDriverOptions(KaValueParserW* parser, void* window) noexcept override;
    // The attribute table a browse connect walks, and its password level.
    void setDriverAttrTable() noexcept;
    // Trailing semicolons go and the rewriter runs as the options say.
    [[nodiscard]] int16_t preprocessSql(BaseSqlStringW* text) noexcept override;
    // Escapes in HiveQL's form.
    [[nodiscard]] int16_t translateEscapes(BaseSqlStringW* text, int32_t forNativeSql, uint32_t* markers,
                                           int32_t* flags) noexcept override;
    // Socket, login, session, database, server probe and type table; 0,
    // or 1 with 08001 or HYT00 posted.
    [[nodiscard]] int16_t openPhysical() noexcept override;
    // Session and socket closed; always 0.
    [[nodiscard]] int16_t closePhysical() noexcept override;
    // The required attributes checked, then the framework's completion.
    [[nodiscard]] int16_t connectWithAttrs(void* window, uint16_t completion, KaValueParserW* parser) noexcept override;
    // A pooled connection taken again (ConnectionReset on): the framework's
    // reset, then the session (opened when it was lost) switched back to
    // the data source's database, whatever the last taker chose; 0, or 1.
    [[nodiscard]] int16_t resetConnection() noexcept override;

    // Select failover given up for results whose values are read forward
    // (a warning says so); called once the result style is known.
    void settleFailoverMode() noexcept;

    // Steps of the open, each 0 or 1 with the diagnostic posted.
    [[nodiscard]] int openSessionAndUseDb() noexcept;
    [[nodiscard]] int openSession() noexcept;
    [[nodiscard]] int closeSession() noexcept;
    [[nodiscard]] int useDatabase(const uint16_t* name) noexcept;
    // GetInfo 18 and 17 on a session: the version as "MM.mm.pppp" and the
    // server's name, NUL-terminated into size bytes.
    [[nodiscard]] int getDbmsVersion(char* text, size_t size, uint32_t* major, uint32_t* minor,
                                     uint32_t* patch) noexcept;
    [[nodiscard]] int getDbmsName(char* text, size_t size) noexcept;
    // The fixed rows, then the rows the server's version allows.
    [[nodiscard]] int buildTypeInfoTable() noexcept;
    void appendServerTypeRows() noexcept;
    // The login of the binary transport with the stored credentials.
    [[nodiscard]] int loginWithStoredCredentials() noexcept;
    // The socket settings from the connection's options, and the packet
    // log writer when packet logging is on; 0, or 1 when the connect must
    // fail.
    [[nodiscard]] int prepareSocketSettings() noexcept;
    void dropSocket() noexcept;
    void freeOptionTexts() noexcept;
    // The TLS settings from the framework's options; 0, or 1 when memory
    // ran out.
    [[nodiscard]] int prepareTlsSettings() noexcept;
    void freeTlsTexts() noexcept;

    // Server errors: a TStatus read and posted, an EXCEPTION reply posted.
    [[nodiscard]] int readStatus(int32_t* statusCode) noexcept;
    void postServerError(int32_t errorCode, const char* sqlstate, const char* message, size_t length) noexcept;
    [[nodiscard]] int readServerException(HiveNetReadBuffer* buffer) noexcept;

    // The session calls the connection makes itself.
    [[nodiscard]] int writeOpenSession(int32_t clientProtocol, const char* proxyUser, size_t proxyUserLength) noexcept;
    [[nodiscard]] int readOpenSessionReply(int32_t* serverProtocol) noexcept;
    [[nodiscard]] int writeCloseSession() noexcept;
    [[nodiscard]] int readCloseSessionReply() noexcept;
    // SASL PLAIN over the bare socket (framing off). method -1 logs in with
    // the fixed identity, 0 with user and password as given; loginName,
    // when not null, is the operating-system login to impersonate. The
    // credential bytes are wiped from the write buffer afterwards.
    [[nodiscard]] int saslPlainLogin(int32_t method, const char* user, size_t userLength, const char* password,
                                     size_t passwordLength, const char* loginName) noexcept;
    // The Kerberos login through GSSAPI: on HTTP one token for the socket's
    // Negotiate header, on the binary transport the SASL GSSAPI exchange.
    [[nodiscard]] int kerberosLogin() noexcept;
    [[nodiscard]] int kerberosExchange() noexcept;
    // A read or write failed part-way through a message: the server and the
    // driver no longer agree where one message ends, so nothing more may be
    // sent. 1 after posting why (a link failure, which failover repairs);
    // 0 while the wire is sound.
    [[nodiscard]] int refuseIfUnusable() noexcept;
    [[nodiscard]] bool unusable() const noexcept { return readBuffer.failed != 0 || writeBuffer.writeFailed != 0; }
    // A struct field holding the session handle.
    [[nodiscard]] int writeSessionHandle(int16_t fieldId) noexcept;

    // The wire, shared by the connection's statements.
    HiveNetWriteBuffer writeBuffer;
    HiveNetReadBuffer readBuffer;
    uint8_t sessionHandle[kHiveSessionHandleBytes] = {};
    bool sessionOpen = false;
    // Severity the next posted status record takes: status SUCCESS_WITH_INFO
    // gives a warning, the call going on.
    bool postingWarning = false;

    // Option texts (UTF-16, owned; null or NUL-terminated).
    uint16_t* hostName = nullptr;
    uint16_t* portNumber = nullptr;
    uint16_t* databaseName = nullptr;
    uint16_t* catalogDatabase = nullptr;
    uint16_t* servicePrincipalName = nullptr;
    // ProxyUser in UTF-8 (the connection's application code page).
    char* hiveProxyUser = nullptr;
    int64_t arrayInsertLimit = 0;
    int32_t transactionMode = 0;
    int32_t maxStringSize = 0;
    uint16_t operationStatusDelay = kHiveDefaultStatusDelay;
    int64_t arrayFetchSize = 0;
    int32_t maxRowsInFetch = -1;
    int16_t stringDescribeType = -9;
    int32_t resultStyle = 0;
    uint8_t batchMechanism = kHiveBatchMultiRowInsert;
    int32_t catalogMode = -1;
    // The catalog strategy switches, by HIVE_CATALOG_USE_*; zeroed at every
    // connect.
    int32_t catalogFlags[4] = {};
    int32_t nativeArrayInsert = 0;
    int32_t useAsyncExecute = 0;
    int32_t pollCompletionStatus = 0;
    int32_t enableUserImpersonation = 0;
    int32_t useCurrentSchema = 0;
    int32_t enableSqlParser = 0;
    int32_t dataSourceReadOnly = 0;
    int32_t removeColumnQualifiers = 0;
    int32_t quoteAliases = 0;
    int32_t parseDelimitedIds = 0;
    int32_t longDataCache = 0;
    int32_t enableDescribeParam = 0;
    int32_t nullBehavior = 0;
    int32_t returnNativeCatalogErrors = 0;
    int32_t decimalIsSearchable = 0;
    int32_t timestampIsSearchable = 0;
    int32_t returnSearchableSpecialColumns = 0;
    int32_t serverHasDate = 0;
    int32_t serverHasVarchar = 0;
    uint16_t typeTableCapacity = 0;
    uint8_t decimalKind = HIVE_DECIMAL_NONE;
    int32_t authenticationMethod = 0;
    uint32_t maxNumericPrecision = kHiveDefaultNumericLimit;
    uint32_t maxNumericScale = kHiveDefaultNumericLimit;
    int32_t clientProtocol = kHiveProtocolUnset;
    int32_t effectiveProtocol = 0;
    char dbmsVersion[kHiveDbmsTextSize] = {};
    char dbmsNameText[kHiveDbmsTextSize] = {};
    int32_t spark21 = 0;
    uint16_t* gssLibraryName = nullptr;
    int32_t transportMode = HIVE_TRANSPORT_BINARY;
    uint16_t* httpPath = nullptr;
    int32_t enableCookieAuthentication = 0;
    uint16_t* cookieName = nullptr;
    BaseSocket* socket = nullptr;
    HiveStatement* wireOwner = nullptr;
    // Operations of statements closed while another statement's reply was
    // on the wire; sent by the next statement that takes the wire.
    HiveCloseQueue closeQueue;
    // Read-buffer sizes (DriverReadBufferSize, SocketReadSize) and the
    // long-data buffer of the cache.
    uint64_t readBufferSize = kHiveDefaultReadBufferSize;
    uint64_t socketReadSize = kHiveDefaultReadBufferSize;
    uint64_t longDataBufferSize = kHiveDefaultLongDataBytes;
    // The connection's SQL type table: the driver's rows and the sql types
    // the framework scans.
    HiveTypeRow typeRows[kHiveTypeRowCapacity] = {};
    BaseTypeRow baseTypeRows[kHiveTypeRowCapacity] = {};
    size_t typeRowCount = 0;
    // What the socket reads of the connection, alive as long as the socket;
    // the packet-log writer it writes to, when packet logging is on.
    BaseSocketSettings socketSettings;
    // The TLS settings the socket reads, and the UTF-16 copies of the
    // framework's 8-bit TLS options they point at (passwords wiped when
    // freed).
    BaseSocketTlsSettings tlsSettings;
    uint16_t* tlsTexts[kHiveTlsTextCount] = {};
    KaTracing* packetLog = nullptr;
    KaSockTraceSink* packetLogSink = nullptr;

    // ---- SQLGetInfo, SQLGetFunctions and attribute rules (hiveinfo.cpp) ----
    [[nodiscard]] int16_t driverInfoValue(uint16_t infoType, uint64_t* value, int32_t* kind) noexcept override;
    using BaseConnection::getConnectAttrDefault;
    [[nodiscard]] int16_t getConnectAttrDefault(int32_t attribute, void* value, int32_t bufferLength,
                                                int32_t* outLength) noexcept override;
    [[nodiscard]] int16_t setConnectAttrDefault(int32_t attribute, void* value, int32_t length) noexcept override;
    [[nodiscard]] int16_t getConnectAttrDefault(int32_t attribute, uint32_t* value) noexcept override;
    [[nodiscard]] int16_t functionSupported(uint16_t functionId, uint16_t* supported) noexcept override;

    // ---- Transactions (hiveconnhooks.cpp) ------------------------------------
    // TransactionMode 0 refuses transactions; 1 accepts a commit, with
    // nothing to send, and refuses a rollback.
    [[nodiscard]] int16_t beginTranCheck() noexcept override;
    [[nodiscard]] int16_t autocommitChange(int16_t completionType) noexcept override;
    // In place (the length never changes): inside a single-quoted literal a
    // doubled apostrophe becomes a backslash and an apostrophe, since Hive
    // joins adjacent literals; a backslash and the character after it are
    // passed over as a pair; double-quoted literals and back-quoted names
    // are passed over.
    static void fixQuotedLiterals(uint16_t* text, size_t units) noexcept;
    // The same as the connection's literal hook, which SQLNativeSql asks.
    [[nodiscard]] int16_t fixQuotedLiterals(uint16_t* text, int64_t units) noexcept override;
};
