// The physical connection (BaseConnection) and the connection handle the
// application holds (BaseStubConnection): the operations the entry points
// call, the entry and exit steps of connection calls under the thread
// models, transactions, encrypted credentials, buffered attributes and
// recorded settings, the reconnect after a lost link, and the members the
// diagnostics, the resource strings and the conversion engine read.
#pragma once
#include <cstddef>
#include <cstdint>

#include "convert/workarounds.h"
#include "foundation/icucache.h"
#include "foundation/kaarray.h"
#include "foundation/kalist.h"
#include "foundation/kalock.h"
#include "foundation/kastringw.h"
#include "odbc/baseerr.h"
#include "security/kamembuf.h"

class BaseBufferedEvent;
class BaseSqlStringW;
class KaCharConverter;
class KaDataConverter;
class KaDataSink;
class KaDataSource;
class KaMemorySink;
class KaMemorySource;
struct BaseInfoTable;
class KaValueParserW;
class KaValueParser;
struct BaseDriverAttr;
class BaseEnv;
class BaseStatement;
class BaseStubConnection;
class BaseTunnelClient;
class KaEscapeHost;
class KaEscapeWriter;
class KaScannerW;
class KaString;
class KaTokenW;
class KaTracing;
class KaValueParser;
struct KaEscapeBody;
enum EscapeKind : int32_t;

// SQLSTATE indexes of the connect path.
constexpr uint16_t kBaseIdxInvalidTransactionState = MSG_SQLSTATE_INVALID_TRANSACTION_STATE;
constexpr uint16_t kBaseIdxTranslationLoad = MSG_SQLSTATE_TRANSLATION_LOAD_FAILED;

// Units of a driver resource text, the terminator included (512 bytes).
constexpr int32_t kBaseResourceTextUnits = 256;
// The driver's own connection attribute that carries a text of the
// application's (kept like the translation library and current catalog).
constexpr int32_t kBaseAttrText = 1045;

// Connection flags.
constexpr uint64_t kBaseConnConnected = 0x1;
constexpr uint64_t kBaseConnAnsiApp = 0x2;
constexpr uint64_t kBaseConnTransactionActive = 0x4;
constexpr uint64_t kBaseConnLoginTimeoutSettable = 0x80;
constexpr uint64_t kBaseConnUnicodeDriver = 0x100;
constexpr uint64_t kBaseConnConnectionTimeoutSettable = 0x200;
constexpr uint64_t kBaseConnCharAttrsSettable = 0x400;
constexpr uint64_t kBaseConnXaLocks = 0x4000;

// Thread models (option THREADCAPABILITY).
constexpr int32_t kBaseThreadSafe = 0;
constexpr int32_t kBaseThreadPerConnection = 1;
constexpr int32_t kBaseThreadPerDriver = 2;

// Function numbers of the driver's own bulk calls, recorded by their entry
// steps as the ODBC functions record theirs (SQL_API_*).
constexpr uint16_t kBaseApiLoadTable = 2000;
constexpr uint16_t kBaseApiExportTable = 2001;
constexpr uint16_t kBaseApiValidateTable = 2002;

// The owner-thread value that means "no thread owns the handle".
constexpr uint64_t kBaseNoOwnerThread = 0xfedcba89;

// The driver's own connection attributes the handle keeps: a value held
// encrypted, and the pool control (mark pooled connections for closing,
// shut the pool manager down).
constexpr int32_t kBaseAttrEncrypted = 1069;
constexpr int32_t kBaseAttrPoolControl = 1068;

// Random letters a connection or handle key is derived from.
constexpr size_t kBaseKeyLetters = 16;
// Units of the output buffer of the reconnect's driver connect.
constexpr int16_t kBaseReconnectOutUnits = 512;

// Stages that give a connection option its value (getOptionValue).
constexpr int32_t kBaseOptFromString = 0;
constexpr int32_t kBaseOptFromProfile = 1;
constexpr int32_t kBaseOptFromDataSource = 2;
constexpr int32_t kBaseOptFromDriver = 3;
constexpr int32_t kBaseOptFromDefault = 4;
constexpr int32_t kBaseOptNotFound = 5;
constexpr int32_t kBaseOptFromHook = 6;

// FailoverMode: after a lost connection, connect again and carry the
// statements over; with queries also repeated.
constexpr int32_t kBaseFailoverModeConnect = 1;
constexpr int32_t kBaseFailoverModeQueries = 2;

// Units of the ini buffers of the option lookup: the first read, and the
// second one for a value that filled the first.
constexpr int32_t kBaseOptionUnits = 4096;
constexpr int32_t kBaseOptionLongUnits = 32768;
// Units of a driver name taken from the connection string or the list of
// data sources.
constexpr int32_t kBaseDriverNameUnits = 1024;
// Units the completed connection string starts with.
constexpr size_t kBaseOutStringUnits = 512;

// Exclusion bits of the TLS protocols in the TLS option words, and their
// mask.
constexpr uint32_t kBaseTlsNoSslV2 = 0x01000000;
constexpr uint32_t kBaseTlsNoSslV3 = 0x02000000;
constexpr uint32_t kBaseTlsNoTlsV1 = 0x04000000;
constexpr uint32_t kBaseTlsNoTlsV12 = 0x08000000;
constexpr uint32_t kBaseTlsNoTlsV11 = 0x10000000;
constexpr uint32_t kBaseTlsProtocolMask = 0x3F000000;
// TLS flag: the connection runs on its fallback protocols.
constexpr uint32_t kBaseTlsFlagFellBack = 0x80;

// Kinds of recorded settings (BaseBufferedEvent::kind).
constexpr int32_t kBaseEventConnectAttr = 0;  // code: the attribute
constexpr int32_t kBaseEventConnected = 1;    // code 0: the connected marker
constexpr int32_t kBaseEventStmtAttr = 2;     // code: the statement attribute
constexpr int32_t kBaseEventStmtState = 3;    // code: the statement event

// The DES key of 16 letters: each pair gives the low nibbles of one byte,
// whose top bit is flipped when the seven below hold an even number of ones.
void baseDeriveKey(const uint8_t letters[kBaseKeyLetters], uint8_t key[KA_MEMBUF_KEY_SIZE]) noexcept;
// New letters from the kernel's generator; 0, or 1 with the diagnostic.
[[nodiscard]] int16_t baseDrawKeyLetters(uint8_t letters[kBaseKeyLetters]) noexcept;
// True when a diagnostics list holds a record of the link-failure SQLSTATE
// index (08S01); records carry their message number as native code, so the
// index is what identifies the failure.
bool baseListHasLinkFailure(KaErrorList* list) noexcept;

// Marks the records of one SQLSTATE index, from record `from` on, as
// standing for a request that never wholly left the driver.
void baseMarkRequestUnsent(KaErrorList* list, size_t from, uint16_t sqlstateIndex) noexcept;

// True when the list holds a link failure and every one of them is marked
// as a request that never wholly left the driver.
bool baseLinkFailureUnsent(KaErrorList* list) noexcept;

// The failover's diagnostic by its stage, on the current list: `lost`, the
// link failure when no usable connection came back; else the re-established
// connection (a warning when `warning`). The current server is named when
// the connection has one.
void basePostFailoverStage(BaseConnection* conn, uint16_t index, bool lost, bool warning) noexcept;

// The application code page (IANA number) from IANAAPPCODEPAGE in the ODBC
// section of odbc.ini, else odbcinst.ini; the locale's code page when it is
// unset or no number.
int64_t baseReadAppCodePage() noexcept;

// When name (UTF-16) names a data source that neither the user's nor the
// system's odbc.ini defines, and no [Default] one stands in: posts 08001
// naming both files and returns true.
bool basePostDataSourceMissing(const uint16_t* name) noexcept;

// The catalogue texts a connection posts when it is asked for work it cannot
// do in its state; each keeps the SQLSTATE ODBC gives for the case.
// 08003: the handle has no open connection.
KaError* basePostNotConnected() noexcept;
// A statement or descriptor call the driver cannot run: 08003 without an
// open connection, else HYC00, posted on the handle's own list; -1.
[[nodiscard]] int16_t baseRefuseCall(BaseErrorList* list, BaseConnection* conn) noexcept;

// Owned UTF-16 copies of a text connection attribute, which the recorded
// setting keeps: the value given in bytes or as SQL_NTS, or narrow
// NUL-terminated text widened unit by unit. 0 with *out and *units, 1 after
// the diagnostic (HY090 for a bad length, HY001).
[[nodiscard]] int16_t baseCopyWideAttr(const void* value, int32_t length, uint16_t** out, int32_t* units) noexcept;
[[nodiscard]] int16_t baseWidenAttr(const void* value, uint16_t** out, int32_t* units) noexcept;

// The COLUMN_SIZE of typeColumnSize's base form: the size a catalog result
// reports for sqlType, given the stored size (see typeColumnSize).
int32_t baseTypeColumnSize(int16_t sqlType, int32_t size, int32_t qualifier, int32_t binaryPrecision) noexcept;

// The statement attributes served whatever the connection's capabilities;
// the connection's answer for its statements and the statement's own agree
// on them.
bool baseStmtAttrAlwaysServed(int32_t attribute) noexcept;

// The 8-byte credential key derived from a connection's letters, wiped when
// it goes out of scope.
class BaseScopedKey {
public:
    explicit BaseScopedKey(const uint8_t* letters) noexcept { baseDeriveKey(letters, key); }
    ~BaseScopedKey();
    BaseScopedKey(const BaseScopedKey&) = delete;
    BaseScopedKey& operator=(const BaseScopedKey&) = delete;
    const uint8_t* get() const noexcept { return key; }

private:
    uint8_t key[KA_MEMBUF_KEY_SIZE];
};

// Option-value helpers of the connect path.
// A stored value ("@01#$" or U+00FF, then hexadecimal text) deciphered in
// place; other text is left alone. *length (may be null) gets the new
// length. 0, or 1 for bad hexadecimal text or a failed decipher.
[[nodiscard]] int16_t decodeStoredOptionValue(uint16_t* text, int64_t* length) noexcept;
// One delimiter character from an option value ("\t" and its kind give the
// control characters); 0 when the value names none.
uint16_t delimiterFromOption(const uint16_t* value) noexcept;
const char* skipBlanks(const char* text) noexcept;
// Items of a comma list, optionally in parentheses, matched against names:
// flags[i] set for name i. Absent or empty text copies defaults (zeros
// when null). *unknownStart/*unknownEnd mark the last item that matched no
// name (null when none). Returns 1 when the list was parenthesised.
int32_t parseKeywordList(uint8_t* flags, const char* text, const char* const* names, size_t count,
                         const uint8_t* defaults, const char** unknownStart, const char** unknownEnd) noexcept;
// The names whose flags are set, comma-separated, in parentheses when
// asked; 0 when out (size bytes) is too small, else the length.
size_t buildKeywordList(char* out, size_t size, const uint8_t* flags, const char* const* names, size_t count,
                        int32_t parenthesise) noexcept;
// The selected names joined by ", " (cut to size).
size_t joinSelectedNames(char* out, size_t size, const uint8_t* flags, const char* const* names, size_t count) noexcept;
// True when the set flags form one unbroken run.
bool flagsContiguous(const uint8_t* flags, size_t count) noexcept;
// "0" and the number of each method bit 1-7 set in mask, joined by ", ".
size_t encryptionMethodList(char* out, size_t size, uint32_t mask) noexcept;
// Sets the process-wide seed from which load-balanced connects choose the
// server they start at (negative: drawn anew on the next connect). For
// tests that need a given start.
void baseSetBalanceSeed(int64_t seed) noexcept;

// One server of the alternate-servers list: its attributes (long keyword,
// value, short keyword), the values pointing into the list text or into
// the entry's own copy.
struct BaseServerAttr {
    const uint16_t* longKey;
    size_t longLength;
    const uint16_t* value;
    size_t valueLength;
    const uint16_t* shortKey;
    size_t shortLength;
};
constexpr size_t kBaseServerMaxAttrs = 16;
struct ServerEntry {
    BaseServerAttr attrs[kBaseServerMaxAttrs];
    size_t count;
    uint16_t* owned;  // the primary server's values
};

// One column of a catalog function's result: name, SQL type, nullable,
// column size.
struct BaseCatalogColumn {
    const uint16_t* name;
    int16_t sqlType;
    int16_t nullable;
    uint32_t columnSize;
};
// The built-in result descriptions of SQLTables, SQLColumns, SQLProcedures
// and SQLProcedureColumns, shared by every connection, and the index of
// their REMARKS column.
extern const BaseCatalogColumn kBaseTablesColumns[];
extern const BaseCatalogColumn kBaseColumnsColumns[];
extern const BaseCatalogColumn kBaseProceduresColumns[];
extern const BaseCatalogColumn kBaseProcedureColumnsColumns[];
constexpr uint16_t kBaseTablesColumnCount = 5;
constexpr uint16_t kBaseColumnsColumnCount = 18;
constexpr uint16_t kBaseProceduresColumnCount = 8;
constexpr uint16_t kBaseProcedureColumnsColumnCount = 19;
constexpr uint16_t kBaseTablesRemarks = 4;
constexpr uint16_t kBaseColumnsRemarks = 11;
constexpr uint16_t kBaseProceduresRemarks = 6;
constexpr uint16_t kBaseProcedureColumnsRemarks = 12;

// One row of the driver's type table: what SQLGetTypeInfo reports of a
// type (the completion reads the SQL type too). Texts are the driver's,
// never freed through the row; message numbers 0 mean none.
struct BaseTypeRow {
    const uint16_t* name;
    int16_t localNameMessage;
    int16_t sqlType;
    uint32_t columnSize;
    const uint16_t* literalPrefix;
    const uint16_t* literalSuffix;
    int16_t createParamsMessage;
    int16_t nullable;
    int16_t searchable;
    uint16_t attributes;  // kBaseTypeUnsigned, kBaseTypeCaseSensitive, ...
    int16_t minimumScale;
    int16_t maximumScale;
    int16_t intervalPrecision;
};
// Bits of BaseTypeRow::attributes.
constexpr uint16_t kBaseTypeUnsigned = 1;
constexpr uint16_t kBaseTypeCaseSensitive = 4;
constexpr uint16_t kBaseTypeFixedPrecScale = 8;
constexpr uint16_t kBaseTypeAutoUnique = 16;

class BaseConnection : public KaNode {
public:
    explicit BaseConnection(BaseEnv* env) noexcept;
    ~BaseConnection() override;

    // Zero-filled storage: the driver class's fields start at zero.
    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;

    // ---- Virtual operations -----------------------------------------------
    // The connection-level ODBC functions.
    [[nodiscard]] virtual int16_t browseConnect(const uint16_t* in, int16_t inLength, uint16_t* out,
                                                int16_t outCapacity, int16_t* outLength) noexcept;
    [[nodiscard]] virtual int16_t connect(const uint16_t* dsn, int16_t dsnLength, const uint16_t* user,
                                          int16_t userLength, const uint16_t* password,
                                          int16_t passwordLength) noexcept;
    [[nodiscard]] virtual int16_t driverConnect(void* window, const uint16_t* in, int16_t inLength, uint16_t* out,
                                                int16_t outCapacity, int16_t* outLength, uint16_t completion) noexcept;
    [[nodiscard]] virtual int16_t disconnect() noexcept;
    [[nodiscard]] virtual int16_t getConnectAttr(int32_t attribute, void* value, int32_t bufferLength,
                                                 int32_t* stringLength) noexcept;
    // SQLGetFunctions; supported points at one flag, or at the 100-entry
    // array (SQL_API_ALL_FUNCTIONS) or the 250-word bitmap
    // (SQL_API_ODBC3_ALL_FUNCTIONS).
    [[nodiscard]] virtual int16_t getFunctions(uint16_t functionId, uint16_t* supported) noexcept;
    [[nodiscard]] virtual int16_t getInfo(uint16_t infoType, void* value, int16_t bufferLength,
                                          int16_t* stringLength) noexcept;
    [[nodiscard]] virtual int16_t nativeSql(const uint16_t* in, int32_t inLength, uint16_t* out, int32_t outCapacity,
                                            int32_t* outLength) noexcept;
    // The driver's preparation of a statement text before its escapes are
    // translated (this form leaves it as it is); 0, or 1 with a diagnostic.
    [[nodiscard]] virtual int16_t preprocessSql(BaseSqlStringW* text) noexcept;
    // The text's escape clauses in the server's form: the parameter markers
    // seen, bit 0 of *flags for a call escape with a return value. This form
    // knows only the framework's own clauses and refuses every other.
    // 0, or 1 with a diagnostic.
    [[nodiscard]] virtual int16_t translateEscapes(BaseSqlStringW* text, int32_t forNativeSql, uint32_t* markers,
                                                   int32_t* flags) noexcept;
    [[nodiscard]] virtual int16_t setConnectAttr(int32_t attribute, void* value, int32_t length) noexcept;
    // SQLEndTran on this connection.
    [[nodiscard]] virtual int16_t endTran(int16_t completionType) noexcept;
    // The bulk export and validation, run inside the caller's frame of the
    // call (runApi): the SQLRETURN.
    [[nodiscard]] virtual int16_t exportTableToFile(const char* table, const uint16_t* tableW, const char* file,
                                                    const uint16_t* fileW, int64_t codePage, int64_t errorTolerance,
                                                    int64_t warningTolerance, const char* log,
                                                    const uint16_t* logW) noexcept;
    [[nodiscard]] virtual int16_t validateTableFromFile(const char* table, const uint16_t* tableW,
                                                        const char* description, const uint16_t* descriptionW,
                                                        char* messages, uint16_t* messagesW, int32_t bufferLength,
                                                        int32_t* messageCount) noexcept;
    // The driver's statement object, constructed and registered with
    // this connection (*out); 0, or 1 with the diagnostics posted.
    [[nodiscard]] virtual int16_t createStatement(BaseStatement** out) noexcept;
    // The driver's own file name into out (capacity units with the
    // terminator).
    [[nodiscard]] virtual int16_t driverLibraryName(uint16_t* out, int32_t capacity) noexcept;
    // Text of driver resource string `id` into out (capacity with
    // the terminator); returns its length.
    virtual int32_t driverResourceStrA(uint32_t id, char* out, int32_t capacity) noexcept;
    virtual int32_t driverResourceStr(uint32_t id, uint16_t* out, int32_t capacity) noexcept;
    // 0 when an implicit transaction may start.
    [[nodiscard]] virtual int16_t beginTranCheck() noexcept;
    // The server's commit (SQL_COMMIT) or rollback (SQL_ROLLBACK); 0 on
    // success.
    [[nodiscard]] virtual int16_t autocommitChange(int16_t completionType) noexcept;
    // Non-zero when the attribute may be set in the given state: before the
    // open only the login and packet settings and the text modes, after it
    // the rest.
    [[nodiscard]] virtual int16_t attrAllowedNow(int32_t connected, int32_t attribute) noexcept;
    // 1 refuses a physical connection just made for an application
    // connect.
    [[nodiscard]] virtual int16_t acceptNewConnection() noexcept;
    // Asked by bulk validation.
    [[nodiscard]] virtual int16_t bulkHook(int64_t* first, int64_t* second) noexcept;
    // Asked by enterApi and leaveApi; non-zero fails the call.
    [[nodiscard]] virtual int16_t enterHook() noexcept;
    [[nodiscard]] virtual int16_t leaveHook() noexcept;
    // The connection lock while enlisted.
    [[nodiscard]] virtual int16_t lock() noexcept;
    [[nodiscard]] virtual int16_t unlock() noexcept;
    // XA enlistment.
    [[nodiscard]] virtual int16_t xaEnlist(void* transaction) noexcept;
    [[nodiscard]] virtual int16_t xaDelist(void* transaction) noexcept;
    // The bulk load; 1 (failure, nothing posted) in this class.
    [[nodiscard]] virtual int16_t loadTableFromFile(const uint16_t* table, const uint16_t* dataFile,
                                                    int64_t errorTolerance, int64_t warningTolerance,
                                                    const uint16_t* description, const uint16_t* log,
                                                    const uint16_t* discard, int64_t firstRecord, int64_t recordCount,
                                                    int64_t readBufferKb) noexcept;
    // ---- Table load body ----------------------------------------------------
    // The complete load the entry points above do not reach, with the same
    // arguments (UTF-16 names): run by the bulk layer's registered
    // operations (odbc/bulkapi.h), inside the caller's connection call. 0
    // when at least one row was loaded, else 1 after posting.
    [[nodiscard]] int16_t loadTableFromFileBody(const uint16_t* table, const uint16_t* dataFile, int64_t errorTolerance,
                                                int64_t warningTolerance, const uint16_t* description,
                                                const uint16_t* log, const uint16_t* discard, int64_t firstRecord,
                                                int64_t recordCount, int64_t readBufferKb) noexcept;
    // Reads the driver's own options after the framework's (parser null for
    // SQLConnect); 0, or 1 with the diagnostic.
    [[nodiscard]] virtual int16_t readDriverOptions(KaValueParserW* parser, void* window) noexcept;
    // The driver's physical open of one connect attempt; 0, or 1 with the
    // diagnostics (their SQLSTATE index decides on a retry).
    [[nodiscard]] virtual int16_t openPhysical() noexcept;
    // Closes the link of the physical open; 0, or 1.
    [[nodiscard]] virtual int16_t closePhysical() noexcept;
    // One attempt of SQLDriverConnect: the driver checks its attributes and
    // completes the connect (completeConnect). 0, or 1.
    [[nodiscard]] virtual int16_t connectWithAttrs(void* window, uint16_t completion, KaValueParserW* parser) noexcept;
    // The value of a connection attribute the driver answers without a
    // call (SQL_ATTR_CONNECTION_DEAD); 0, or 1 with the diagnostic.
    [[nodiscard]] virtual int16_t getConnectAttrDefault(int32_t attribute, uint32_t* value) noexcept;
    // Asked before the options are read; a dialog may fill the parser or set
    // *cancelled. Without a dialog library nothing is asked: 0.
    [[nodiscard]] virtual int16_t promptHook(void* window, uint16_t completion, int32_t* cancelled,
                                             KaValueParserW* parser) noexcept;
    // A further source of option values after the ini files, or null.
    virtual KaValueParserW* optionSourceHook() noexcept;
    // The server keywords: long keywords, short keywords and defaults, each
    // a run of NUL-terminated texts ended by an empty one; null when the
    // driver has none. A keyword starting with "*" is optional.
    virtual const uint16_t* hostKeyword() noexcept;
    virtual const uint16_t* hostKeywordShort() noexcept;
    virtual const uint16_t* hostKeywordAlt() noexcept;
    // The alternate servers and the retry settings of a connect; 0, or 1.
    [[nodiscard]] virtual int16_t getAlternateServers(uint16_t** list, uint64_t* retryCount, uint64_t* retryDelay,
                                                      int32_t* loadBalance, KaValueParserW* parser) noexcept;
    // The driver's own server list (driverServersFlag); 0 with *list null
    // when it gives none.
    [[nodiscard]] virtual int16_t driverServers(uint16_t** list) noexcept;
    // One SQLGetInfo answer without the call's entry step, for the
    // framework's own use during a connect; an ODBC return code.
    [[nodiscard]] virtual int16_t getInfoValue(uint16_t infoType, void* value, int16_t bufferLength,
                                               int16_t* stringLength) noexcept;

    // ---- Browse connect and the 8-bit hooks -------------------------------
    // The driver's text for a browse reply after "=" (its choices, say) in
    // text: 1 when it gives one, 0 when not, -1 on failure (posted).
    [[nodiscard]] virtual int16_t browseAttrHook(const uint16_t* shortKey, KaStringW& text, const BaseDriverAttr* table,
                                                 uint32_t count) noexcept;
    // Opens the connection once a browse has every attribute it needs, from
    // the accumulated attributes: 0 when the open was made, whatever it
    // reported (its errors tell a failed open); 1 when it could not start.
    [[nodiscard]] virtual int16_t openBrowsed(KaValueParserW* parser) noexcept;
    [[nodiscard]] virtual int16_t openBrowsedA(KaValueParser* parser) noexcept;
    // The 8-bit forms of the hooks, called instead of the UTF-16 ones for a
    // driver without kBaseConnUnicodeDriver. The option and connect forms
    // refuse with HY000 unless the driver supplies them; the prompt asks
    // nothing and there is no further option source.
    [[nodiscard]] virtual int16_t readDriverOptionsA(KaValueParser* parser, void* window) noexcept;
    [[nodiscard]] virtual int16_t promptHookA(void* window, uint16_t completion, int32_t* cancelled,
                                              KaValueParser* parser) noexcept;
    virtual KaValueParser* optionSourceHookA() noexcept;
    [[nodiscard]] virtual int16_t connectWithAttrsA(void* window, uint16_t completion, KaValueParser* parser) noexcept;
    // The 8-bit bridge: a new 8-bit parser holding the UTF-16 parser's
    // attributes in the application code page (null after the diagnostic);
    // its used-marks copied back; its attributes set back in the UTF-16
    // parser (credentials encrypted again under the connection key).
    KaValueParser* makeNarrowParser(KaValueParserW* parser) noexcept;
    void copyUsedMarks(const KaValueParser* narrow, KaValueParserW* parser) noexcept;
    [[nodiscard]] int16_t copyNarrowAttributes(KaValueParser* narrow, KaValueParserW* parser) noexcept;
    bool narrowHooks() const noexcept { return (connectionFlags & kBaseConnUnicodeDriver) == 0; }
    // The hooks in the form the driver takes: an 8-bit driver gets an 8-bit
    // copy of the parser, whose used-marks (and, after a prompt or a connect
    // attempt, attributes) come back into the UTF-16 one.
    [[nodiscard]] int16_t readDriverOptionsAny(KaValueParserW* parser, void* window) noexcept;
    [[nodiscard]] int16_t promptHookAny(void* window, uint16_t completion, int32_t* cancelled,
                                        KaValueParserW* parser) noexcept;
    [[nodiscard]] int16_t connectWithAttrsAny(void* window, uint16_t completion, KaValueParserW* parser) noexcept;
    // The server passes of a browse open, over the browse's attributes.
    [[nodiscard]] int16_t openBrowsedServers(KaValueParserW* parser) noexcept;
    // The option from the 8-bit option-source hook as new UTF-16 text (*out
    // null when it has none); 0, or 1.
    [[nodiscard]] int16_t narrowHookValue(const uint16_t* shortKey, const uint16_t* longKey, uint16_t** out) noexcept;
    // The driver's attribute table and its browse password: asked at all,
    // required, and the level that asks for it.
    const BaseDriverAttr* driverAttrs = nullptr;
    uint32_t driverAttrCount = 0;
    int32_t browsePasswordAsked = 0;
    int32_t browsePasswordRequired = 0;
    uint32_t browsePasswordLevel = 0;

    // ---- Connection options -------------------------------------------------
    // The value of one option by the lookup order: connection string,
    // profile, data source, driver section, hook, default. *out is a new
    // NUL-terminated copy for the caller to free (null when nothing was
    // found and no default given); *source (may be null) names the stage.
    // 1 only when memory ran out, a stored value would not decode, or the
    // string gave both keywords with different values.
    [[nodiscard]] int16_t getOptionValue(KaValueParserW* parser, const uint16_t* shortKey, const uint16_t* longKey,
                                         const uint16_t* defaultValue, uint16_t** out, int32_t* source,
                                         int32_t decode) noexcept;
    // Every framework option into this connection; parser null for
    // SQLConnect; credentials 1 reads user id and password too. 0, or 1.
    [[nodiscard]] int16_t readConnectOptions(const uint16_t* text, int64_t length, KaValueParserW* parser,
                                             int32_t credentials) noexcept;
    // UID or PWD straight into an encrypted holder.
    [[nodiscard]] int16_t readCredentialOption(KaValueParserW* parser, const uint16_t* shortKey,
                                               const uint16_t* longKey, const uint16_t* defaultValue,
                                               KaMemoryBuffer& target, int32_t* source) noexcept;
    // dsnNameW from a data-source name that odbc.ini defines, else
    // "Default". 0, or 1 when memory ran out.
    [[nodiscard]] int16_t checkDataSource(const uint16_t* name) noexcept;
    // The completed connection string: the parser's attributes, then DSN,
    // UID and PWD (braced where needed) when the parser lacks them. 0, or 1.
    [[nodiscard]] int16_t buildOutConnectString(KaStringW& out, KaValueParserW* parser) noexcept;
    // The value with the lowest source among the option (short and long
    // keyword) and further long keywords (null-terminated list), stopping
    // at the connection string.
    [[nodiscard]] int16_t getOptionValueBest(KaValueParserW* parser, const uint16_t* shortKey, const uint16_t* longKey,
                                             const uint16_t* const* moreKeys, const uint16_t* defaultValue,
                                             uint16_t** out, int32_t* source, int32_t decode) noexcept;
    // Take ownership of a new 8-bit text, freeing the old one.
    void setHostNameInCertificate(char* text) noexcept;
    void setTrustStore(char* text) noexcept;
    void setTrustStorePassword(char* text) noexcept;
    // One warning (message 6015) for each attribute nothing looked up.
    void warnUnusedAttributes(KaValueParserW* parser) noexcept;

    // ---- Connect, disconnect ------------------------------------------------
    // Ends the physical link and frees what the connect read; 0, or 1.
    [[nodiscard]] int16_t closeConnection() noexcept;
    int16_t resetConnectState() noexcept;
    // The four catalog descriptions: a private copy of the built-in one
    // with the REMARKS options applied, when either is set. 0, or 1.
    [[nodiscard]] int16_t patchCatalogColumns(const BaseCatalogColumn* builtIn, uint16_t count,
                                              const BaseCatalogColumn** description, uint16_t* outCount,
                                              uint16_t remarks) noexcept;
    [[nodiscard]] int16_t copyColumnTable(const BaseCatalogColumn* builtIn, uint16_t count,
                                          const BaseCatalogColumn** description) noexcept;
    [[nodiscard]] int16_t setRemarksColumnSize(uint32_t size) noexcept;
    // The built-in REMARKS type and size back into private copies.
    void restoreCatalogColumns() noexcept;
    // The wide character types the driver's type table names.
    void scanTypeTable() noexcept;
    // 0 when the driver binds the character type as its wide form.
    int16_t bindsCharTypeNarrow(int16_t sqlType) const noexcept;
    // Frees (and wipes, for the passwords) the 8-bit option texts.
    void releaseOptionTexts() noexcept;
    // The server passes of a connect; 0 connected, 1 failed.
    [[nodiscard]] int16_t connectToServers(const uint16_t* servers, uint64_t retryCount, uint64_t retryDelay,
                                           int32_t loadBalance, const uint16_t* text, int64_t length, void* window,
                                           uint16_t completion, KaValueParserW* parser) noexcept;
    // One attempt: open and the SQLGetInfo answers kept for the connection.
    [[nodiscard]] int16_t completeConnect() noexcept;
    [[nodiscard]] int16_t readServerInfo() noexcept;
    // The ODBC translation library; 0, or 1 (error 112 posted).
    [[nodiscard]] int16_t loadTranslator(const uint16_t* path) noexcept;
    void unloadTranslator() noexcept;
    // UTF-16 text translated in place towards the driver; 0, or 1.
    [[nodiscard]] int16_t translateToDriverW(uint16_t* text, int64_t units) noexcept;
    // The first unit of a text SQLGetInfo answer; 0, or 1.
    [[nodiscard]] int16_t getInfoChar(uint16_t infoType, uint16_t* out) noexcept;

    // ---- Entry and exit of every connection-level call -------------------
    // 0, or 1 when the call must fail; leaveApi runs on every path.
    [[nodiscard]] int16_t enterApi(uint16_t apiId) noexcept;
    [[nodiscard]] int16_t leaveApi(int16_t rc) noexcept;
    // The call's frame around body(), which returns the call's SQLRETURN.
    template <class Body>
    [[nodiscard]] int16_t runApi(uint16_t apiId, Body body) noexcept
    {
        return baseRunApi(*this, apiId, body);
    }
    // rc is SQL_ERROR and the call's diagnostics hold a link failure.
    bool hasLinkFailure(int16_t rc) noexcept;
    // The exit step's reconnect: the handle reconnects once, and the call's
    // diagnostics become the one record that says so.
    void reconnectAfterLinkFailure(BaseErrorList* list) noexcept;
    // The list a call of this connection posts to: the handle's, else the
    // environment's.
    BaseErrorList* callDiagnostics() noexcept;

    // ---- Transactions ----------------------------------------------------
    // 0 done, 1 failed (diagnostics posted).
    [[nodiscard]] int16_t endTransaction(int16_t completionType) noexcept;
    [[nodiscard]] int16_t beginTransaction() noexcept;

    // Applies one connection attribute to this connection after the checks
    // its value needs (a transaction to commit first, a level the driver
    // offers): 0 applied, 1 failed (posted).
    [[nodiscard]] int16_t applyConnectAttr(int32_t attribute, void* value, int32_t length) noexcept;

    // Text of driver resource string `id` as UTF-16 into outW
    // (kBaseResourceTextUnits).
    int32_t getResourceString(uint32_t id, uint16_t* outW) noexcept;
    // Narrow data-source name; "Default" when there is none.
    const char* getDsnName() noexcept;
    // 0, or 1 when no memory is left.
    [[nodiscard]] int16_t setDsnName(const uint16_t* textW) noexcept;

    bool isConnected() const noexcept { return (connectionFlags & kBaseConnConnected) != 0; }

    // ---- Credentials ------------------------------------------------------
    // Kept encrypted under the connection key; length in units or SQL_NTS.
    // 0, or 1 with the diagnostic.
    [[nodiscard]] int16_t setUserId(const uint16_t* textW, int64_t length) noexcept;
    [[nodiscard]] int16_t setPassword(const uint16_t* textW, int64_t length) noexcept;
    [[nodiscard]] int16_t setUserIdCStr(const uint16_t* textW) noexcept;
    [[nodiscard]] int16_t setPasswordCStr(const uint16_t* textW) noexcept;
    // Decrypts into the caller's holder (plain state); 0, or non-zero.
    [[nodiscard]] int16_t getUserId(KaMemoryBuffer& outHolder) noexcept;
    [[nodiscard]] int16_t getPassword(KaMemoryBuffer& outHolder) noexcept;
    // New connection letters, drawn at each connect; the credentials stored
    // under the old ones are re-encrypted. 0, or 1 with the diagnostic.
    [[nodiscard]] int16_t drawConnectionKey() noexcept;

    // ---- Recorded settings ------------------------------------------------
    // The new event appended to `events`, or null (out of memory posted).
    BaseBufferedEvent* addBufferedEvent(int32_t kind, int32_t code, intptr_t value, int32_t length, int32_t owned,
                                        void* owner) noexcept;
    void removeBufferedEvents(void* owner) noexcept;
    // The same for the events of another list (a replaced connection's).
    static void removeListEvents(KaDList* list, void* owner) noexcept;
    // At disconnect: the attribute events become the handle's buffered
    // attributes. 0, or 1 when one could not be kept.
    [[nodiscard]] int16_t saveBufferedAttrs() noexcept;
    void applyBufferedAttrs() noexcept;
    void applyBufferedEvents() noexcept;
    // Replays events [from, to] (-1: the first, the last) of another
    // connection's list onto this one; 0, or 1 when any failed.
    [[nodiscard]] int16_t replayEvents(KaDList* list, int64_t from, int64_t to) noexcept;
    // Records an attribute set on this connection: with failover off it
    // replaces the earlier setting of the same attribute.
    void recordConnectAttr(int32_t attribute, void* value, int32_t length) noexcept;
    // With failover off, drops the recorded setting of the attribute so that
    // a new one replaces it; with failover on, every setting stays.
    void forgetConnectAttr(int32_t attribute) noexcept;

    KaIcuCache icuCache;
    uint32_t xaState;                  // 0 not enlisted; 1 and 2 enlisted
    KaCriticalSection connectionLock;  // taken by lock()/unlock() while enlisted
    BaseEnv* env;
    BaseStubConnection* handle;
    KaList statements;   // BaseStatement objects of this connection
    KaList descriptors;  // explicitly allocated descriptors
    uint16_t* dsnNameW;
    char* dsnNameA;
    int64_t accessMode;
    int64_t autocommit;
    int64_t loginTimeout;
    int64_t connectionTimeout;
    int64_t txnIsolation;
    int64_t packetSize;
    int64_t quietMode;
    int64_t wideCharCodePage;
    uint32_t driverTextMode;
    uint64_t connectionFlags;
    int32_t threadModel;
    int64_t appCodePage;
    int32_t failoverMode;
    // Set by the pool when it hands the connection out: 1 until a call after
    // a re-established link has been repeated; the failover mode configured
    // for the connection, restored into failoverMode then.
    uint32_t freshFromPool;
    int32_t configuredFailoverMode;

    // Option values (read with the connection options).
    uint64_t workarounds;
    uint16_t doubleToStringPrecision;
    uint16_t roundingMode;
    uint32_t timestampTruncationBehavior;
    uint32_t allowHH24;
    uint32_t allowTime24;  // 24:00:00 accepted in timestamp text
    uint16_t* dbmsName;    // SQL_DBMS_NAME kept from the completion of the connect

    KaMemoryBuffer userId;
    KaMemoryBuffer password;
    // Server reached (keyword=value pairs) and the alternate-servers text of
    // the connect; they choose and fill the reconnect messages.
    char* serverNameA;
    uint16_t* serverNameW;
    // Set when CryptoProtocolVersion was given: only then may a refused
    // protocol fall back to an older one.
    int32_t cryptoProtocolExplicit = 0;
    uint8_t connectionKey[kBaseKeyLetters];
    KaDList events;  // BaseBufferedEvent, owned
    uint16_t failoverPreconnect;

    // Option values of the connect (read by readConnectOptions).
    uint64_t workarounds2 = 0;
    uint64_t workarounds3 = 0;
    uint16_t* profilePathW = nullptr;  // the profile in use, or null
    uint16_t* driverNameW = nullptr;   // cached from the list of data sources
    uint16_t* initializationString = nullptr;
    int32_t autoTune = 0;
    int32_t userIdFromFile = 0;
    int32_t passwordFromFile = 0;
    int32_t modifySql = 0;
    int32_t vendorSqlStates = 0;
    uint64_t defaultLongDataBuffLen = 0;
    uint64_t catalogOptions = 0;
    uint64_t maxRowsetSize = 0;
    int32_t staticToKeyset = 0;
    uint16_t driverCompatibility = 0;
    int32_t useLongQualifiers = 0;
    int32_t usePositiveScale = 0;
    int32_t applicationUsingThreads = 0;
    int32_t unicodeWorkarounds = 0;
    int32_t identifierCaseSensitive = 0;
    int32_t metadataIdOffCaseInsensitive = 0;
    uint64_t staticCursorLongColBuffLen = 0;
    uint32_t reportCodepageConversionErrors = 0;
    uint32_t encryptionMethod = 0;
    uint32_t allowedEncryptionMethods = 0;  // bit n allows method n
    uint32_t tlsProtocols = 0;
    uint32_t tlsFallbackProtocols = 0;
    uint32_t tlsFlags = 0;
    int32_t disableStaticCursorEmulation = 0;
    int32_t staticCursorEmulation = 0;
    uint16_t seedBeforeConnect = 0;
    uint16_t validateServerCertificate = 0;
    char* allowedOpenSSLVersions = nullptr;
    int32_t failoverSupported = 0;  // the driver reads the failover options
    uint16_t failoverGranularity = 0;
    uint64_t failoverCacheSize = 0;
    int32_t pooling = 0;
    int64_t maxPoolSize = 0;
    int64_t minPoolSize = 0;
    int64_t loadBalanceTimeout = 0;
    int32_t enableAsyncSupport = 0;
    int32_t serverNameBehavior = 0;
    uint16_t* serverTextW = nullptr;  // SQL_SERVER_NAME under ServerNameBehavior
    int32_t driverServersFlag = 0;
    uint64_t translationOption = 0;
    void* translatorLibrary = nullptr;
    uint16_t* translatorPathW = nullptr;
    // The library's entry points: (option, SQL type, in, in length, out, out
    // size, out length, message, message size, message length) -> BOOL.
    int32_t (*translateToDriverFn)(uint32_t, int16_t, void*, int32_t, void*, int32_t, int32_t*, uint8_t*, int16_t,
                                   int16_t*) = nullptr;
    int32_t (*translateToDataSourceFn)(uint32_t, int16_t, void*, int32_t, void*, int32_t, int32_t*, uint8_t*, int16_t,
                                       int16_t*) = nullptr;
    int32_t needLongDataLen = 0;
    // SQL_ATTR_CONCURRENCY of new statements, set by the completion.
    int64_t defaultConcurrency = 1;
    // Catalog result descriptions (built-in, or private copies) and the
    // driver's type table with the wide types it names.
    const BaseCatalogColumn* tablesColumns = kBaseTablesColumns;
    uint16_t tablesColumnCount = kBaseTablesColumnCount;
    const BaseCatalogColumn* columnsColumns = kBaseColumnsColumns;
    uint16_t columnsColumnCount = kBaseColumnsColumnCount;
    const BaseCatalogColumn* proceduresColumns = kBaseProceduresColumns;
    uint16_t proceduresColumnCount = kBaseProceduresColumnCount;
    const BaseCatalogColumn* procedureColumnsColumns = kBaseProcedureColumnsColumns;
    uint16_t procedureColumnsColumnCount = kBaseProcedureColumnsColumnCount;
    const BaseTypeRow* typeTable = nullptr;
    size_t typeTableCount = 0;
    int32_t hasWChar = 0;
    int32_t hasWVarchar = 0;
    int32_t hasWLongVarchar = 0;
    // Proxy, TLS files and libraries (8-bit, owned).
    uint32_t proxyMode = 0;
    char* proxyHost = nullptr;
    uint32_t proxyPort = 0;
    char* proxyUser = nullptr;
    char* proxyPassword = nullptr;
    char* cipherList = nullptr;
    int32_t tlsTunnel = 0;
    char* prngSeedFile = nullptr;
    int64_t prngMaxBytes = 0;
    uint16_t prngSeedSource = 0;
    char* trustStore = nullptr;
    char* trustStorePassword = nullptr;
    char* keyStore = nullptr;
    char* keyStorePassword = nullptr;
    char* keyPassword = nullptr;
    char* hostNameInCertificate = nullptr;
    char* sslLibName = nullptr;
    char* cryptoLibName = nullptr;
    // Bulk, packet logging, sockets and catalog results.
    uint16_t bulkFieldDelimiter = ',';
    uint16_t bulkRecordDelimiter = 0;
    int32_t columnSizeAsCharacter = 0;
    uint16_t packetLogging = 0;
    uint32_t packetLoggingOptions = 0;
    uint64_t packetLoggingMode = 0;
    int32_t reportBinaryPrecision = 1;
    int64_t sendBufferSize = 0;
    int64_t receiveBufferSize = 0;
    int64_t maxReadSize = 0;
    uint64_t bulkLoadBatchSize = 1024;
    int64_t catalogRemarksDataType = 0;
    int64_t catalogRemarksColumnSize = 0;
    uint32_t enableBulkLoad = 0;
    uint64_t bulkLoadThreshold = 0;
    uint64_t bulkLoadReadBufferSize = 2048;
    uint64_t bulkLoadWriteBufferSize = 256;
    uint32_t bulkLoadProtocol = 0;
    int64_t bulkBinaryThreshold = 32 * 1024;
    int64_t bulkCharacterThreshold = -1;
    int64_t bulkLoadErrorTolerance = 0;
    int64_t bulkLoadWarningTolerance = -1;
    uint16_t getDataLength = 0;
    int32_t enableFallbackMapping = 0;
    int32_t reauthenticationEnabled = 0;
    // Time-outs and the rest.
    int32_t useBlockingConnect = 1;
    int32_t loginTimeoutLocked = 0;
    int32_t queryTimeoutSupported = 0;  // the driver reads the query time-outs
    int64_t queryTimeout = 0;
    int32_t queryTimeoutIgnored = 0;
    int64_t interruptTimeout = 0;
    int32_t connectionReset = 0;
    int32_t keepAlive = 0;
    uint16_t octetSizeCalculation = 0;
    int32_t allowDiskCaching = 1;
    uint32_t varcharThreshold = UINT32_MAX;
    uint32_t wvarcharThreshold = UINT32_MAX;
    int64_t minLongVarcharSize = -1;
    int64_t minWLongVarcharSize = -1;
    int64_t longDataDescriptorLimit = 0;
    // What each cursor type does itself (low bits) and what the framework
    // emulates (high bits); the emulation the framework offers.
    uint64_t keysetCursorOps = 0;
    uint64_t dynamicCursorOps = 0;
    uint64_t staticCursorOps = 0;
    uint64_t forwardCursorOps = 0;
    uint64_t emulatedCursorAttrs = 0x1FE40;
    // No browse is under way; the browse level and its accumulated
    // attributes.
    int32_t browseFresh = 1;
    uint16_t browseLevel = 0;
    KaValueParserW* browseParser = nullptr;

    // Statement framework: the driver asks for numeric literals of select
    // lists to be aliased (odbc/basealias.h).
    int32_t numericLiteralAliasing = 0;
    // Packet logging's writer settings (read with ENABLEPACKETLOGGING): the
    // memory buffer and file sizes in KB, the files kept, the flush mode and
    // the file-name prefix (8-bit, owned).
    uint64_t packetLoggingMemBuffSize = 0;
    uint64_t packetLoggingMaxFileSize = 0;
    uint64_t packetLoggingMaxNumFiles = 0;
    uint64_t packetLoggingFlush = 0;
    char* packetLoggingFilePrefix = nullptr;
    // ---- Information types and connection attributes ----------------------
    // The driver's answer for an info type its table leaves to it: *value a
    // number, or a UTF-16 text allocated for the caller (*kind
    // kBaseInfoText); an info type it does not handle leaves both alone. 0,
    // or 1 with the diagnostic.
    [[nodiscard]] virtual int16_t driverInfoValue(uint16_t infoType, uint64_t* value, int32_t* kind) noexcept;
    // The generic read of a connection attribute: numbers as 32 bits (the
    // quiet-mode handle as 64), texts into bufferLength bytes. 0, or 1 with
    // the diagnostic.
    [[nodiscard]] virtual int16_t getConnectAttrDefault(int32_t attribute, void* value, int32_t bufferLength,
                                                        int32_t* outLength) noexcept;
    // The generic store of a connection attribute; 0, or 1 with the
    // diagnostic.
    [[nodiscard]] virtual int16_t setConnectAttrDefault(int32_t attribute, void* value, int32_t length) noexcept;
    // *supported SQL_TRUE when the driver offers the ODBC function, else
    // SQL_FALSE; 0.
    [[nodiscard]] virtual int16_t functionSupported(uint16_t functionId, uint16_t* supported) noexcept;
    // The SQLGetInfo resolver: the answer from the driver's and the base
    // table with what the connection's state and settings change. *value
    // holds a number or a UTF-16 text pointer; *allocated says the caller
    // frees the text. 0, or 1 with the diagnostic.
    [[nodiscard]] int16_t getInfoValue(uint16_t infoType, uint64_t* value, int32_t* kind, int32_t* allocated) noexcept;
    // 1 when statement attribute `code` may be set on the connection, with
    // *limit its largest value (0: none); else 0.
    int16_t getAttrNumber(int32_t code, uint64_t* limit) noexcept;
    // The value of a statement attribute set on the connection, which its
    // statements start with; false when none was set.
    bool defaultStmtAttr(int32_t attribute, int64_t* value) const noexcept;

    // The first statement in the list whose cursor name is name (length
    // units), compared without regard to letter case; null when none. The
    // caller holds baseHandleListLock() while it uses the answer.
    BaseStatement* findStatementByCursorName(const uint16_t* name, size_t length) noexcept;

    // The driver's information table, searched before the base table.
    const BaseInfoTable* driverInfoTable = nullptr;
    uint32_t infoFlags = 0;  // kBaseInfo* flags (odbc/baseinfo.h)
    // SQL_DATABASE_NAME when neither table answers it; the driver's open
    // sets it (owned).
    uint16_t* databaseNameW = nullptr;
    // How wide character data travels (attribute 1061): the application's
    // mode (2 UTF-16, 3 UTF-8, 1 its code page) and the unit width.
    uint32_t appWideCharMode = 2;
    uint32_t wideCharWidthMode = 2;
    // Attribute 1139: while 0, the private info types are refused.
    int32_t attribute1139 = 1;
    int32_t quietModeOff = 1;
    // What the driver offers: XA enlistment, attribute 1069 on a pooled
    // connection, the statement attribute -2, asynchronous execution.
    int32_t xaSupported = 0;
    int32_t bufferedAttr1069Allowed = 0;
    int32_t attrNumberMinus2 = 0;
    uint32_t asyncMask = 0;
    int32_t asyncSupported = 0;
    // Both bits set: the driver cannot simulate cursors.
    uint32_t cursorSimulation = 0;
    // Limits of statement attributes set on the connection (0: none).
    uint64_t queryTimeoutLimit = 0;
    uint64_t maxRowsLimit = 0;
    uint64_t maxLength = 0;
    uint64_t rowsetLimit = 0;
    uint64_t paramsetLimit = 0;
    // Statement attributes set on the connection (ODBC 2 style).
    static constexpr size_t kBaseDefaultStmtAttrs = 32;
    struct DefaultStmtAttr {
        int32_t attribute;
        int64_t value;
    };
    DefaultStmtAttr defaultStmtAttrs[kBaseDefaultStmtAttrs] = {};
    size_t defaultStmtAttrCount = 0;
    // The timestamp statement attribute 1120 stores on its connection: the
    // fields of the text given, milliseconds in place of the fraction; all 0
    // (and set 0) after a null or empty value.
    struct StoredTimestamp {
        int32_t set;
        int16_t year;
        uint16_t month, day, hour, minute, second, millisecond;
    };
    StoredTimestamp storedTimestamp = {};

    // ---- Connection pooling (odbc/basepool.h) -------------------------------
    // Resets option-derived state when a pooled connection is taken again
    // with ConnectionReset on; the driver's override also opens a new
    // session. 0, or 1 with the diagnostics (a link failure drops the
    // connection from its pool).
    [[nodiscard]] virtual int16_t resetConnection() noexcept;
    // The disconnect of a pooled connection in use: its session state goes
    // back to the defaults and its link stays open for the pool. 0, or 1.
    [[nodiscard]] int16_t resetForReuse() noexcept;
    // Set while the connection belongs to a pool; its pool and slot, -1
    // when it belongs to none.
    int32_t pooled = 0;
    int64_t poolIndex = -1;
    int64_t poolSlot = -1;

    // ---- Object pools (odbc/baseobjpool.cpp) --------------------------------
    // The driver's own kinds of sinks, sources and converters (kind 0 and
    // kinds the framework does not know); the framework's default posts
    // HY000 and gives null.
    virtual KaDataSink* newSinkKind(int32_t kind) noexcept;
    virtual KaDataSource* newSourceKind(int32_t kind) noexcept;
    virtual KaDataConverter* newConverterKind(int32_t kind) noexcept;
    // One value's sink, source or converter: the one released last of its
    // kind, else a new one, opened; null after the diagnostic. A release
    // keeps it for the next value (a stack of kBaseObjectPoolDepth per kind)
    // or deletes it; it never fails.
    KaDataSink* acquireSink(int32_t kind) noexcept;
    void releaseSink(KaDataSink* sink, int32_t kind) noexcept;
    KaMemorySink* acquireMemorySink(void* buffer, uint64_t size) noexcept;
    KaDataSource* acquireSource(int32_t kind) noexcept;
    void releaseSource(KaDataSource* source, int32_t kind) noexcept;
    KaMemorySource* acquireMemorySource(const void* data, uint64_t size) noexcept;
    KaDataConverter* acquireConverter(int32_t kind) noexcept;
    // Detaches its source and sinks and releases each to its own pool,
    // except a borrowed source and sinks their holders keep.
    void releaseConverter(KaDataConverter* converter, int32_t kind) noexcept;
    // Converters attached to the caller's source and sink; null (the
    // caller's objects untouched) when attaching fails.
    KaDataConverter* acquireBinaryConverter(KaDataSource* source, KaDataSink* sink, int32_t form,
                                            int32_t terminate) noexcept;
    KaCharConverter* acquireCharConverter(KaDataSource* source, KaDataSink* sink, int64_t fromCodePage,
                                          int64_t toCodePage, int32_t terminate) noexcept;
    // Deletes every pooled object.
    void emptyObjectPools() noexcept;

    static constexpr size_t kBaseObjectPoolDepth = 256;
    static constexpr size_t kBaseStreamKinds = 5;
    static constexpr size_t kBaseConverterKinds = 7;
    KaDataSink* sinkPool[kBaseStreamKinds][kBaseObjectPoolDepth] = {};
    KaDataSource* sourcePool[kBaseStreamKinds][kBaseObjectPoolDepth] = {};
    KaDataConverter* converterPool[kBaseConverterKinds][kBaseObjectPoolDepth] = {};
    uint64_t sinkCount[kBaseStreamKinds] = {};
    uint64_t sourceCount[kBaseStreamKinds] = {};
    uint64_t converterCount[kBaseConverterKinds] = {};
    // Buffer of the temporary-file sinks made for the pools.
    uint64_t tmpSinkBufferSize = 65536;

    // What the driver does with parameters: output parameters and a return
    // value at all; long values handed to it in pieces instead of whole;
    // data beyond a binding's size an error for ODBC 2 applications too.
    bool outputParamsSupported = true;
    bool returnValueSupported = true;
    bool streamsLongData = false;
    bool truncationIsError = false;
    // Which result columns SQLGetData reads through a streaming converter
    // (character and binary types, or only the long ones), and whether a
    // value whose converted length the converter cannot know is spooled
    // first so that every piece reports the true remaining length (2).
    bool streamCharColumns = false;
    bool streamLongColumns = false;
    int32_t longDataMode = 0;

    // ---- Driver hooks the framework answers itself ----------------------------
    // One outer join of an escape body, asked by the host's escape walk (the
    // arguments are the host's); this form writes it in the host's notation.
    [[nodiscard]] virtual int16_t translateOuterJoin(KaEscapeHost& host, KaScannerW& scanner, KaTokenW& token,
                                                     KaEscapeWriter& writer, uint64_t* bodyLength, int32_t mode,
                                                     int32_t joinKind, const uint16_t* leftText,
                                                     uint64_t leftLength) noexcept;
    // The server's form of one escape clause, UTF-16 and narrow; these forms
    // know none and refuse with HY000.
    [[nodiscard]] virtual int16_t translateEscape(const KaEscapeBody& body, KaStringW& out, EscapeKind kind,
                                                  uint32_t code) noexcept;
    [[nodiscard]] virtual int16_t translateEscapeA(const char* body, size_t length, KaString& out, int32_t kind,
                                                   uint32_t code) noexcept;
    // Asked by the conversion engine for a binary value of sqlType: non-zero
    // copies the bytes as they are instead of the type's binary image.
    virtual int32_t convertHook(int16_t sqlType) noexcept;
    // A driver's own column listing; the framework never asks it, so this
    // form posts HY000 and answers 0.
    virtual int16_t columnsHook() noexcept;
    // First step of resetForReuse; non-zero fails the reset.
    [[nodiscard]] virtual int16_t resetHook() noexcept;
    // Socket buffer sizes when the options give none; -1: the system's.
    virtual int64_t defaultSendBufferSize() noexcept;
    virtual int64_t defaultReceiveBufferSize() noexcept;
    // Asked when a statement could not follow its connection over a
    // reconnect; 0.
    virtual int16_t statementFailoverHook(BaseStatement* statement) noexcept;
    // Registers a resource text on this connection and gives its id (*id);
    // this form has no per-connection texts: *id 0, HY000, 1.
    [[nodiscard]] virtual int16_t addResourceString(const uint16_t* text, uint32_t* id) noexcept;
    // COLUMN_SIZE a catalog result reports for sqlType with the size the
    // driver stored; qualifier 2 keeps a BIGINT's stored size, 0 gives its
    // digits, anything else its digits with the sign.
    virtual int32_t typeColumnSize(int16_t sqlType, int32_t size, const uint16_t* typeName, int32_t qualifier,
                                   int32_t binaryPrecision) noexcept;
    // Rewrites quotes inside the literals of a statement text (units long,
    // NUL-terminated) in place, keeping its length; this form leaves it as
    // it is. 0, or 1 with a diagnostic.
    [[nodiscard]] virtual int16_t fixQuotedLiterals(uint16_t* text, int64_t units) noexcept;
    // 0 when a WCHAR or WVARCHAR column of this type name is listed as CHAR
    // or VARCHAR by SQLColumns; 1 keeps it wide.
    virtual int16_t columnsWideTypes(int32_t reserved, const uint16_t* typeName) noexcept;
    // SQLGetTypeInfo's rows (GetTypeRowInfo) for the requested type before
    // they are sorted; 0, or 1 with a diagnostic to fail the call.
    [[nodiscard]] virtual int16_t typeInfoHook(KaSortedArray* rows, int16_t dataType) noexcept;
    // One classified escape clause of the host's walk: NATIVE and REFRESH
    // here, every other kind through translateEscape. 0, or 1.
    [[nodiscard]] virtual int16_t dispatchEscape(KaEscapeHost& host, const KaEscapeBody& body, KaStringW& out,
                                                 EscapeKind kind, uint32_t code) noexcept;
    virtual int16_t reservedHook() noexcept;

    // ---- Proxy tunnel and memory tracing -------------------------------------
    // Opens an HTTP CONNECT tunnel to host:port through the proxy of the
    // options (ProxyMode 1), with an HTTP client made on first use; the wait
    // is bounded by the login time-out. 0, or 1 with the diagnostic.
    [[nodiscard]] int16_t openProxyTunnel(const uint16_t* hostW, const uint16_t* portW) noexcept;
    // The client of openProxyTunnel (owned), and the writer the pool tells
    // when it hands this connection out or takes it back (owned, or null).
    BaseTunnelClient* httpClient = nullptr;
    KaTracing* memoryTracing = nullptr;

private:
    // Re-encrypts one holder from the old key to the new one.
    [[nodiscard]] int16_t rekey(KaMemoryBuffer& holder, const uint8_t* oldKey, const uint8_t* newKey) noexcept;
};

// A setting recorded on a physical connection, replayed after a reconnect
// and carried to the next connect of the handle.
class BaseBufferedEvent : public KaDNode {
public:
    BaseBufferedEvent(int32_t kind, int32_t code, intptr_t value, void* owner, int32_t length, int32_t owned) noexcept;
    ~BaseBufferedEvent() override;

    int32_t kind;
    int32_t code;
    intptr_t value;
    void* owner;  // the connection (kinds 0, 1) or the statement (2, 3)
    int32_t length;
    int32_t owned;
};

// A connection attribute set on a handle before a physical connection
// existed, applied to every physical connection of the handle.
class BaseBufferedAttr : public KaObject {
public:
    BaseBufferedAttr(int32_t attribute, intptr_t value, int32_t length, int32_t owned) noexcept;
    ~BaseBufferedAttr() override;

    int32_t attribute;
    intptr_t value;  // the value, or a pointer to the owned copy
    int32_t length;
    int32_t owned;
};

class BaseStubConnection : public KaNode {
public:
    explicit BaseStubConnection(BaseEnv* env) noexcept;
    ~BaseStubConnection() override;

    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;

    // Entry and exit of calls that run on the handle alone; the entry
    // cannot fail (0).
    int16_t enterApi(uint16_t apiId) noexcept;
    [[nodiscard]] int16_t leaveApi(int16_t rc) noexcept;
    // The call's frame around body(), which returns the call's SQLRETURN.
    template <class Body>
    [[nodiscard]] int16_t runApi(uint16_t apiId, Body body) noexcept
    {
        return baseRunApi(*this, apiId, body);
    }

    // Attach a new physical connection and make it current; 0.
    int16_t setCurrentConnection(BaseConnection* connection) noexcept;
    void addConnection(BaseConnection* connection) noexcept;
    void removeConnection(BaseConnection* connection) noexcept;
    // SQLSetConnectAttr while there is no physical connection.
    [[nodiscard]] int16_t setBufferedAttr(int32_t attribute, void* value, int32_t length) noexcept;
    // The buffered value of an attribute, or null.
    BaseBufferedAttr* findBufferedAttr(int32_t attribute) const noexcept;
    // Applies the buffered attributes the connection allows in its state;
    // one it refuses is dropped with a warning, the others stay for later
    // connections.
    void applyBufferedAttrs(BaseConnection* connection) noexcept;
    // Replaces the buffered attribute of the same number; 0, or 1 (the
    // attribute is deleted, out of memory posted).
    [[nodiscard]] int16_t putBufferedAttr(BaseBufferedAttr* attr) noexcept;

    // Attribute 1069 kept encrypted under the handle key: 0, or -1.
    [[nodiscard]] int16_t setEncryptedAttr(const uint16_t* textW, int64_t length) noexcept;
    // The connection string of the last connect, kept encrypted for the
    // reconnect under newly drawn handle letters; length in units or SQL_NTS.
    // 0, or 1 with the diagnostic.
    [[nodiscard]] int16_t storeConnectString(const uint16_t* textW) noexcept;
    [[nodiscard]] int16_t storeConnectString(const uint16_t* textW, int64_t length) noexcept;
    [[nodiscard]] int16_t storeConnectString(const KaStringW& text) noexcept;
    // Decrypts a holder kept under the handle key into outHolder.
    [[nodiscard]] int16_t decryptHandleValue(const KaMemoryBuffer& holder, KaMemoryBuffer& outHolder) noexcept;

    // After a link failure: a new physical connection, connected with the
    // stored string, with the recorded settings replayed. 0, or 1.
    [[nodiscard]] int16_t reconnect() noexcept;
    [[nodiscard]] int16_t reconnectNew(BaseConnection** out) noexcept;

    // Switches the handle's locking off for good (the application said it
    // uses no threads). Called inside a connection call; the locks stay
    // alive, so the running call's exit step and any thread already waiting
    // release what they took, and later calls take none.
    void switchLockingOff() noexcept;
    bool lockingOff() const noexcept;

    // The owner mark: set by the thread that reconnects or replays, so that
    // its nested connection calls do not wait for apiLock.
    void markOwner() noexcept;
    void clearOwner() noexcept;
    bool ownedByCaller() const noexcept;

    uint64_t magic;
    uint8_t handleKey[16];
    BaseEnv* env;
    BaseConnection* current;
    KaList connections;
    BaseErrorList diagnostics;
    uint64_t ansiApp;
    KaMemoryBuffer attr1069Value;
    KaArray bufferedAttrs;  // BaseBufferedAttr, owned
    uint64_t nextServerIndex;
    uint16_t standbyReady;
    uint16_t reconnecting;
    KaCriticalSection apiLock;
    uint32_t ownerThreadSet;
    uint64_t ownerThread;
    KaCriticalSection reconnectLock;
    BaseStatement* failoverStatement;
    uint32_t failoverDisabled;
    KaMemoryBuffer connectString;

private:
    // Pre-connect and post-connect replay of the old connection's events.
    [[nodiscard]] int16_t replayBeforeConnect(BaseConnection* target, BaseConnection* old) noexcept;
    [[nodiscard]] int16_t replayAfterConnect(BaseConnection* target, BaseConnection* old) noexcept;
    void postReconnectFailure(BaseConnection* old) noexcept;

    // Read by every entering thread while one thread may set it.
    int32_t lockingSwitchedOff;
};

constexpr uint64_t kBaseStubMagic = 0xdd1e1c74776e6172ULL;

// Growth step of a handle's buffered attributes.
constexpr size_t kBaseBufferedAttrGrowth = 16;
