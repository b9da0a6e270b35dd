// Opening and closing the Hive connection: the required attributes, the
// socket made from the options, the SASL login, the probe session that
// learns the server's name and version, the type table they decide, the
// working session with its database, and the close. The session calls and
// "use" run through a communicator of the connection's own: opening needs
// no statement of the application.
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/fast.h"
#include "foundation/icuconv.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/kastr.h"
#include "foundation/kastringw.h"
#include "foundation/numtext.h"
#include "foundation/ram.h"
#include "hive/hivecommunicator.h"
#include "hive/hiveconnection.h"
#include "hive/hivehttpsocket.h"
#include "kamessages.h"
#include "odbc/baseerr.h"
#include "odbc/kavalueparser.h"
#include "odbc/setupapi.h"
#include "platform/bosenv.h"
#include "platform/katracing.h"

namespace {

// Password sent when method 0 has none stored: SASL PLAIN needs one.
constexpr char kHiveNoPasswordPlaceholder[] = "x";
// Polls of a "use" whose operation is still running, at the status delay.
constexpr int kHiveUsePolls = 2400;

// The packet-log writer as the socket's trace sink.
class HivePacketLogSink : public KaObject, public KaSockTraceSink {
public:
    explicit HivePacketLogSink(KaTracing* writer) noexcept : writer_(writer) {}
    void write(const char* text, size_t length) noexcept override { (void)writer_->write(text, length); }
    void flush() noexcept override { (void)writer_->flush(); }

private:
    KaTracing* writer_;
};

void discardFrom(size_t before) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    while (list != nullptr && list->recordCount() > before)
        list->discardLast();
}

// The records from before on become general warnings (01000) that end with
// the text given: a step the connection can do without tells the
// application what went wrong with it instead of failing the connect.
void warnFrom(size_t before, const char* text) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    for (size_t i = before; list != nullptr && i < list->recordCount(); ++i) {
        KaError* record = list->recordAt(i);
        if (record == nullptr || record->isStatic() || record->isWarning())
            continue;
        record->sqlstateMsg = kBaseIdxGeneralWarning;
        record->appendText(text);
        record->setWarning();
    }
}

bool postedSince(size_t before, uint16_t message) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    for (size_t i = before; list != nullptr && i < list->recordCount(); ++i) {
        KaError* record = list->recordAt(i);
        if (record != nullptr && record->nativeCode == message)
            return true;
    }
    return false;
}

// What a failed open posted since `before` reads as a failure to connect:
// a lost link or a server's refusal during the open is 08001, so that the
// server passes may try the next server and no reconnect is started; a
// time-out stays HYT00. timeoutMessage says which step ran out of the
// login time-out; it becomes the first record, the one applications that
// show a single record show.
void reportAsConnectFailure(size_t before, int64_t loginTimeout, uint16_t timeoutMessage) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list == nullptr)
        return;
    size_t n = list->recordCount();
    bool settled = false;
    bool timedOut = false;
    for (size_t i = before; i < n; ++i) {
        KaError* record = list->recordAt(i);
        if (record == nullptr || record->isWarning())
            continue;
        if (record->sqlstateMsg == kBaseIdxTimeout || record->sqlstateMsg == kBaseIdxUnableToConnect) {
            timedOut = timedOut || record->sqlstateMsg == kBaseIdxTimeout;
            settled = true;
        } else if (record->sqlstateMsg == kBaseIdxLinkFailure) {
            record->setSqlstateMsg(kBaseIdxUnableToConnect);
            settled = true;
        }
    }
    // The time-out says which budget ran out.
    if (timedOut) {
        if (postedSince(before, MSG_TLS_HANDSHAKE_TIMED_OUT))
            timeoutMessage = MSG_TLS_HANDSHAKE_LOGIN_TIMED_OUT;
        basePostErrorMsg(kBaseIdxTimeout, timeoutMessage)->addParamSigned(loginTimeout);
        list->moveLastTo(before);
    }
    if (!settled) {
        for (size_t i = n; i > before; --i) {
            KaError* record = list->recordAt(i - 1);
            if (record != nullptr && !record->isWarning()) {
                record->setSqlstateMsg(kBaseIdxUnableToConnect);
                return;
            }
        }
        basePostErrorMsg(kBaseIdxUnableToConnect, MSG_SASL_LOGIN_FAILED);
    }
}

// True when what was posted since `before` is the server's answer alone:
// no lost link, no time-out, so the socket can carry another request.
bool refusedOnly(size_t before) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list == nullptr)
        return false;
    for (size_t i = before; i < list->recordCount(); ++i) {
        KaError* record = list->recordAt(i);
        if (record != nullptr && (record->sqlstateMsg == kBaseIdxLinkFailure || record->sqlstateMsg == kBaseIdxTimeout))
            return false;
    }
    return list->recordCount() > before;
}

// A credential holder's text as UTF-8 in out (wiped by the caller); 0, or 1.
int credentialUtf8(const KaMemoryBuffer& holder, char* out, size_t size, size_t* length) noexcept
{
    *length = 0;
    out[0] = 0;
    if (holder.data == nullptr || holder.length == 0)
        return 0;
    return utf16ToUtf8(out, size, holder.data, int64_t(holder.length), length, 0) == kConvDone ? 0 : 1;
}

// The database name as "use" takes it. A plain identifier, or one the user
// quoted already, goes as it stands; anything else is quoted, so that a
// name holding ";" or blanks names a database instead of adding a
// statement.
[[nodiscard]] int appendDatabaseName(KaStringW& text, const uint16_t* name, size_t n) noexcept
{
    bool plain = n != 0;
    for (size_t i = 0; i < n && plain; ++i) {
        uint16_t u = name[i];
        plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_';
    }
    bool quoted = n >= 2 && name[0] == '`' && name[n - 1] == '`';
    for (size_t i = 1; quoted && i + 1 < n; ++i) {
        if (name[i] == '`') {
            quoted = i + 2 < n && name[i + 1] == '`';
            ++i;
        }
    }
    if (plain || quoted)
        return text.append(name, n);
    if (text.appendChar('`') != 0)
        return 1;
    for (size_t i = 0; i < n; ++i)
        if ((name[i] == '`' && text.appendChar('`') != 0) || text.appendChar(name[i]) != 0)
            return 1;
    return text.appendChar('`');
}

bool unitsEmpty(const uint16_t* text) noexcept
{
    return text == nullptr || text[0] == 0;
}

void cutTrailingBlanks(uint16_t* text) noexcept
{
    size_t n = strLenOrZeroW(text);
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t' || text[n - 1] == '\r' || text[n - 1] == '\n'))
        text[--n] = 0;
}

constexpr HiveTypeRow kFixedRows[kHiveFixedTypeRows] = {
    {u"double", MSG_TYPE_LOCAL_DOUBLE, SQL_DOUBLE, 53, nullptr, nullptr, 0, 1, SQL_SEARCHABLE, 0, 0, 0},
    {u"tinyint", MSG_TYPE_LOCAL_TINYINT, SQL_TINYINT, 3, nullptr, u"Y", 0, 1, SQL_SEARCHABLE, 0, 0, 0},
    {u"smallint", MSG_TYPE_LOCAL_SMALLINT, SQL_SMALLINT, 5, nullptr, u"S", 0, 1, SQL_SEARCHABLE, 0, 0, 0},
    {u"int", MSG_TYPE_LOCAL_INT, SQL_INTEGER, 10, nullptr, nullptr, 0, 1, SQL_SEARCHABLE, 0, 0, 0},
    {u"bigint", MSG_TYPE_LOCAL_BIGINT, SQL_BIGINT, 19, nullptr, u"L", 0, 1, SQL_SEARCHABLE, 0, 0, 0},
    {u"boolean", MSG_TYPE_LOCAL_BOOLEAN, SQL_BIT, 1, nullptr, nullptr, 0, 1, SQL_ALL_EXCEPT_LIKE, 0, 0, 0},
    {u"float", MSG_TYPE_LOCAL_FLOAT, SQL_REAL, 24, nullptr, nullptr, 0, 1, SQL_SEARCHABLE, 0, 0, 0},
    {u"string", MSG_TYPE_LOCAL_STRING, SQL_LONGVARCHAR, INT32_MAX, u"'", u"'", 0, 1, SQL_SEARCHABLE,
     kHiveTypeCaseSensitive, 0, 0},
    {u"string", MSG_TYPE_LOCAL_STRING, SQL_CHAR, INT32_MAX, u"'", u"'", 0, 1, SQL_SEARCHABLE, kHiveTypeCaseSensitive, 0,
     0},
    {u"string", MSG_TYPE_LOCAL_STRING, SQL_WLONGVARCHAR, INT32_MAX, u"'", u"'", 0, 1, SQL_SEARCHABLE,
     kHiveTypeCaseSensitive, 0, 0},
    {u"timestamp", MSG_TYPE_LOCAL_TIMESTAMP, SQL_TYPE_TIMESTAMP, 29, u"{ts '", u"'}", 0, 1, SQL_SEARCHABLE, 0, 0, 9},
};
constexpr size_t kTimestampRow = 10;
// Column size of the server's varchar rows, as the server reports it.
constexpr int32_t kHiveVarcharColumnSize = 65355;

// --- The connect dialog ------------------------------------------------------
// The dialog back end gets five fields of this size, NUL-terminated UTF-8:
// host, database, user, password and port, in that order.
constexpr size_t kHiveDialogFieldSize = 128;
enum : size_t { kDialogHost, kDialogDatabase, kDialogUser, kDialogPassword, kDialogPort, kDialogFieldCount };
const char* const kDialogFieldNames[kDialogFieldCount] = {"host name", "database", "user id", "password",
                                                          "port number"};

// One field as handed to the dialog, with a copy of what it showed: a value
// too long for the field shows its beginning, and a field the user left as
// it was keeps the whole value.
struct HiveDialogField {
    char text[kHiveDialogFieldSize];
    char shown[kHiveDialogFieldSize];
    bool cut;
};

// The fields hold credentials: wiped whatever becomes of the dialog.
struct HiveDialogFields {
    HiveDialogField fields[kDialogFieldCount] = {};
    HiveDialogFields() noexcept = default;
    HiveDialogFields(const HiveDialogFields&) = delete;
    HiveDialogFields& operator=(const HiveDialogFields&) = delete;
    ~HiveDialogFields() { fastMemzero(fields, sizeof fields); }
};

// The UTF-16 value as the field's text, cut at a character boundary when it
// does not fit. 0, or 1 after the diagnostic.
[[nodiscard]] int fillDialogField(HiveDialogField& field, const char* name, const uint16_t* value,
                                  size_t units) noexcept
{
    if (value == nullptr || units == 0)
        return 0;
    const size_t size = units * 3 + 1;
    // The field may hold a password: wiped when it goes.
    const RamWipedPtr<char> owned(static_cast<char*>(ramAlloc(size)), size);
    char* utf8 = owned.get();
    if (utf8 == nullptr)
        return 1;
    size_t length = 0;
    int rc = 0;
    if (utf16ToUtf8(utf8, size, value, int64_t(units), &length, 0) != kConvDone) {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_CONNECT_DIALOG_BAD_FIELD)->addParamText(name);
        rc = 1;
    } else {
        if (length >= kHiveDialogFieldSize) {
            length = kHiveDialogFieldSize - 1;
            // Back to the lead byte of the character that does not fit.
            while (length > 0 && (static_cast<uint8_t>(utf8[length]) & 0xC0) == 0x80)
                --length;
            field.cut = true;
        }
        std::memcpy(field.text, utf8, length);
        std::memcpy(field.shown, field.text, sizeof field.shown);
    }
    return rc;
}

// What the dialog left in the field, as UTF-16 in out (terminated): *keep
// when the field was cut and left untouched, so that the current value
// stands. 0, or 1 after the diagnostic.
[[nodiscard]] int takeDialogField(HiveDialogField& field, const char* name, uint16_t* out, size_t capacity,
                                  size_t* units, bool* keep) noexcept
{
    // A back end that wrote to the last byte still leaves a terminated text.
    field.text[kHiveDialogFieldSize - 1] = 0;
    *units = 0;
    *keep = field.cut && std::memcmp(field.text, field.shown, sizeof field.text) == 0;
    if (*keep)
        return 0;
    if (utf8ToUtf16(out, capacity, field.text, kSourceTerminated, units, 0) != kConvDone) {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_CONNECT_DIALOG_BAD_FIELD)->addParamText(name);
        return 1;
    }
    return 0;
}

// Replaces a connection text with the dialog's value.
[[nodiscard]] int replaceText(uint16_t** field, const uint16_t* value, size_t units) noexcept
{
    uint16_t* copy = strDupNW(value, units);
    if (copy == nullptr)
        return 1;
    ramFree(*field);
    *field = copy;
    return 0;
}

// Shows the connect dialog with the connection's current values and takes
// back what the user confirmed: host, port and database, and the
// credentials, stored encrypted again. 0, or 1 after the diagnostic.
[[nodiscard]] int runHiveConnectDialog(HiveConnection& conn, void* window) noexcept
{
    HiveDialogFields dialog;
    HiveDialogField* f = dialog.fields;
    int rc = 1;
    {
        KaMemoryBuffer user;
        KaMemoryBuffer secret;
        if (conn.getUserId(user) != 0 || conn.getPassword(secret) != 0)
            return 1;
        const uint16_t* texts[kDialogFieldCount] = {conn.hostName, conn.databaseName, user.data, secret.data,
                                                    conn.portNumber};
        const size_t lengths[kDialogFieldCount] = {strLenOrZeroW(conn.hostName), strLenOrZeroW(conn.databaseName),
                                                   size_t(user.length), size_t(secret.length),
                                                   strLenOrZeroW(conn.portNumber)};
        for (size_t i = 0; i < kDialogFieldCount; ++i)
            if (fillDialogField(f[i], kDialogFieldNames[i], texts[i], lengths[i]) != 0)
                return 1;
    }
    if (runConnectDialog(window, &conn, f[kDialogHost].text, f[kDialogDatabase].text, f[kDialogUser].text,
                         f[kDialogPassword].text, f[kDialogPort].text) != 0) {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_CONNECT_DIALOG_REFUSED);
        return 1;
    }
    // Twice the field: room for any text the field can hold.
    uint16_t wide[2 * kHiveDialogFieldSize];
    size_t units[kDialogFieldCount] = {};
    bool keep[kDialogFieldCount] = {};
    uint16_t* values[kDialogFieldCount] = {};
    size_t i = 0;
    for (; i < kDialogFieldCount; ++i) {
        if (takeDialogField(f[i], kDialogFieldNames[i], wide, sizeof wide / sizeof wide[0], &units[i], &keep[i]) != 0)
            break;
        if (!keep[i]) {
            values[i] = strDupNW(wide, units[i]);
            if (values[i] == nullptr)
                break;
        }
    }
    if (i == kDialogFieldCount) {
        rc = 0;
        if (!keep[kDialogHost] && replaceText(&conn.hostName, values[kDialogHost], units[kDialogHost]) != 0)
            rc = 1;
        if (rc == 0 && !keep[kDialogPort] &&
            replaceText(&conn.portNumber, values[kDialogPort], units[kDialogPort]) != 0)
            rc = 1;
        if (rc == 0 && !keep[kDialogDatabase] &&
            (replaceText(&conn.databaseName, values[kDialogDatabase], units[kDialogDatabase]) != 0 ||
             replaceText(&conn.catalogDatabase, values[kDialogDatabase], units[kDialogDatabase]) != 0))
            rc = 1;
        if (rc == 0 && !keep[kDialogUser] && conn.setUserId(values[kDialogUser], int64_t(units[kDialogUser])) != 0)
            rc = 1;
        if (rc == 0 && !keep[kDialogPassword] &&
            conn.setPassword(values[kDialogPassword], int64_t(units[kDialogPassword])) != 0)
            rc = 1;
    }
    fastMemzero(wide, sizeof wide);
    for (size_t k = 0; k < kDialogFieldCount; ++k) {
        if (values[k] != nullptr)
            fastMemzero(values[k], units[k] * sizeof(uint16_t));
        ramFree(values[k]);
    }
    return rc;
}

}  // namespace

void hiveFormatDbmsVersion(char* text, size_t size, uint32_t* major, uint32_t* minor, uint32_t* patch) noexcept
{
    uint32_t numbers[3] = {0, 0, 0};
    size_t n = strnlen(text, size > 0 ? size - 1 : 0);
    size_t start = 0;
    int which = 0;
    // A separator is anything but a digit; the last character ends the
    // current number too and belongs to it.
    for (size_t i = 0; i < n && which < 3; ++i) {
        bool digit = text[i] >= '0' && text[i] <= '9';
        bool last = i + 1 == n;
        if (digit && !last)
            continue;
        size_t end = digit ? i + 1 : i;
        uint64_t v = 0;
        bool ok = end > start;
        for (size_t k = start; ok && k < end; ++k) {
            if (text[k] < '0' || text[k] > '9')
                ok = false;
            else if ((v = v * 10 + uint64_t(text[k] - '0')) > UINT32_MAX)
                ok = false;
        }
        numbers[which++] = ok ? uint32_t(v) : 0;
        start = i + 1;
    }
    *major = numbers[0];
    *minor = numbers[1];
    *patch = numbers[2];
    if (size < 11)
        return;
    char two[3];
    auto pair = [&](uint32_t v) noexcept {
        if (v >= 100)
            std::memcpy(two, "**", 3);
        else
            std::snprintf(two, sizeof two, "%02u", unsigned(v));
        return two;
    };
    char out[11];
    std::memcpy(out, pair(numbers[0]), 2);
    out[2] = '.';
    std::memcpy(out + 3, pair(numbers[1]), 2);
    out[5] = '.';
    if (numbers[2] >= 10000)
        std::memcpy(out + 6, "****", 4);
    else {
        char four[5];
        std::snprintf(four, sizeof four, "%04u", unsigned(numbers[2]));
        std::memcpy(out + 6, four, 4);
    }
    std::memcpy(text, out, 10);
    text[10] = 0;
}

int16_t HiveConnection::connectWithAttrs(void* window, uint16_t completion, KaValueParserW* parser) noexcept
{
    // What is missing, in the order the message names it.
    uint16_t absent[4];
    size_t absentCount = 0;
    if (unitsEmpty(hostName))
        absent[absentCount++] = MSG_MISSING_HOST_NAME;
    if (unitsEmpty(portNumber))
        absent[absentCount++] = MSG_MISSING_PORT_NUMBER;
    const bool serverKnown = absentCount == 0;
    if (serverKnown && authenticationMethod == HIVE_AUTH_USER_PASSWORD && parser != nullptr) {
        if (userId.length == 0 && !parser->hasKey(strUnits(u"UID")) && !parser->hasKey(strUnits(u"LogonID")))
            absent[absentCount++] = MSG_MISSING_USER_ID;
        if (password.length == 0 && !parser->hasKey(strUnits(u"PWD")) && !parser->hasKey(strUnits(u"PASSWORD")))
            absent[absentCount++] = MSG_MISSING_PASSWORD;
    }
    const bool missing = absentCount != 0;
    // The dialog is shown when the application asks for it, or asks for
    // what is missing to be completed; without a dialog library every mode
    // works as no-prompt.
    bool prompt = completion == SQL_DRIVER_PROMPT ||
                  (missing && (completion == SQL_DRIVER_COMPLETE || completion == SQL_DRIVER_COMPLETE_REQUIRED));
    if (prompt && connectDialogAvailable()) {
        if (runHiveConnectDialog(*this, window) != 0)
            return 1;
    } else if (missing) {
        // A data source that no odbc.ini defines explains a missing server.
        KaStringW* dsn = serverKnown || parser == nullptr || parser->hasKey(strUnits(u"DRIVER"))
                             ? nullptr
                             : parser->getValueCStr(strUnits(u"DSN"));
        KaStringW dsnName;
        if (dsn != nullptr && dsn->data != nullptr && dsnName.assign(dsn->data, dsn->len) == 0 &&
            basePostDataSourceMissing(dsnName.data))
            return 1;
        // No server is an unreachable server (08001); a server without the
        // login is a refused authorization (28000).
        char list[4 * KA_MESSAGE_TEXT_SIZE] = {0};
        size_t used = 0;
        for (size_t i = 0; i < absentCount; ++i) {
            char item[KA_MESSAGE_TEXT_SIZE];
            errLoadMessage(item, sizeof item, absent[i]);
            int n = std::snprintf(list + used, sizeof list - used, "%s%s", i == 0 ? "" : ", ", item);
            if (n > 0 && used + static_cast<size_t>(n) < sizeof list)
                used += static_cast<size_t>(n);
        }
        basePostErrorMsg(serverKnown ? MSG_SQLSTATE_INVALID_AUTHORIZATION : kBaseIdxUnableToConnect,
                         MSG_CONNECT_INFORMATION_MISSING)
            ->addParamText(list);
        return 1;
    }
    int16_t rc = completeConnect();
    // The completed connection string carries the server the connect used.
    if (parser != nullptr) {
        if (databaseName != nullptr)
            cutTrailingBlanks(databaseName);
        const uint16_t* empty = strUnits(u"");
        if (parser->setValueCStr(strUnits(u"HOST"), hostName != nullptr ? hostName : empty, strUnits(u"HostName")) !=
                0 ||
            parser->setValueCStr(strUnits(u"PORT"), portNumber != nullptr ? portNumber : empty,
                                 strUnits(u"PortNumber")) != 0 ||
            parser->setValueCStr(strUnits(u"DB"), databaseName != nullptr ? databaseName : empty,
                                 strUnits(u"Database")) != 0)
            rc = 1;
    }
    return rc;
}

void HiveConnection::freeTlsTexts() noexcept
{
    for (uint16_t*& text : tlsTexts) {
        if (text != nullptr)
            fastMemzero(text, strLenOrZeroW(text) * sizeof(uint16_t));
        ramFree(text);
        text = nullptr;
    }
    tlsSettings = BaseSocketTlsSettings{};
}

int HiveConnection::prepareTlsSettings() noexcept
{
    freeTlsTexts();
    const char* sources[kHiveTlsTextCount] = {trustStore,       trustStorePassword, keyStore,
                                              keyStorePassword, keyPassword,        hostNameInCertificate,
                                              sslLibName,       cryptoLibName,      allowedOpenSSLVersions,
                                              cipherList,       prngSeedFile};
    for (size_t i = 0; i < kHiveTlsTextCount; ++i) {
        if (sources[i] == nullptr)
            continue;
        size_t n = std::strlen(sources[i]);
        tlsTexts[i] = static_cast<uint16_t*>(ramAlloc((n + 1) * sizeof(uint16_t)));
        size_t length = 0;
        if (tlsTexts[i] == nullptr) {
            ramOutOfMemory();
            return 1;
        }
        if (utf8ToUtf16(tlsTexts[i], n + 1, sources[i], int64_t(n), &length, 0) != kConvDone) {
            basePostErrorMsg(kBaseIdxUnableToConnect, MSG_HIVE_TLS_OPTION_TEXT);
            return 1;
        }
        tlsTexts[i][length < n ? length : n] = 0;
    }
    BaseSocketTlsSettings& t = tlsSettings;
    t.trustStore = tlsTexts[0];
    t.trustStorePassword = tlsTexts[1];
    t.keyStore = tlsTexts[2];
    t.keyStorePassword = tlsTexts[3];
    t.keyPassword = tlsTexts[4];
    t.hostNameInCertificate = tlsTexts[5];
    t.validateServerCertificate = validateServerCertificate;
    t.sslLibName = tlsTexts[6];
    t.cryptoLibName = tlsTexts[7];
    t.allowedOpenSSLVersions = tlsTexts[8];
    t.openSSLOptions = tlsProtocols;
    t.openSSLMode = tlsFlags;
    t.cipherList = tlsTexts[9];
    t.prngSeedFile = tlsTexts[10];
    t.prngMaxBytes = prngMaxBytes;
    static const char16_t* const kSeedSources[] = {u"0", u"1", u"2"};
    t.prngSeedSource = strUnits(kSeedSources[prngSeedSource < 3 ? prngSeedSource : 0]);
    return 0;
}

int HiveConnection::prepareSocketSettings() noexcept
{
    BaseSocketSettings& s = socketSettings;
    s = BaseSocketSettings{};
    if (prepareTlsSettings() != 0)
        return 1;
    s.tls = &tlsSettings;
    s.encryptionMethod = int32_t(encryptionMethod);
    s.tlsTunnel = tlsTunnel;
    s.sendBufferSize = sendBufferSize;
    s.receiveBufferSize = receiveBufferSize;
    s.defaultSendBufferSize = defaultSendBufferSize();
    s.defaultReceiveBufferSize = defaultReceiveBufferSize();
    s.maxReadSize = maxReadSize;
    s.keepAlive = keepAlive;
    s.blockingConnect = useBlockingConnect;
    s.connectionTimeout = connectionTimeout;
    s.loginTimeout = loginTimeout;
    s.loginTimeoutOff = loginTimeoutLocked;
    s.loginTimeoutOffered = (connectionFlags & kBaseConnLoginTimeoutSettable) != 0 ? 1 : 0;
    s.queryTimeoutOff = queryTimeoutIgnored;
    s.queryTimeoutOffered = queryTimeoutSupported;
    s.packetLoggingOptions = packetLoggingOptions;
    if (packetLogging == 0)
        return 0;
    if (packetLog == nullptr) {
        KaPacketLogSettings log = {packetLoggingMode,        packetLoggingMemBuffSize, packetLoggingMaxFileSize,
                                   packetLoggingMaxNumFiles, packetLoggingFlush,       packetLoggingFilePrefix};
        int connectFails = 0;
        const KaDiagMark before;
        packetLog = kaCreatePacketTracing(log, &connectFails);
        if (packetLog == nullptr) {
            if (connectFails) {
                basePostErrorMsg(kBaseIdxUnableToConnect, MSG_HIVE_PACKET_LOG_FAILED);
                return 1;
            }
            // The writer could not be configured (its file cannot be opened,
            // say): the connection goes on without a log, and the
            // application learns why from a warning.
            warnFrom(before.start(), " Packet logging is off for this connection.");
            return 0;
        }
        packetLogSink = new HivePacketLogSink(packetLog);
        if (packetLogSink == nullptr) {
            delete packetLog;
            packetLog = nullptr;
            return 1;
        }
    }
    s.packetLogging = packetLogging;
    s.packetLog = packetLogSink;
    return 0;
}

void HiveConnection::dropSocket() noexcept
{
    if (socket == nullptr)
        return;
    if (socket->transport != nullptr)
        socket->transport->close();
    delete socket;
    socket = nullptr;
    readBuffer.socket = nullptr;
    writeBuffer.socket = nullptr;
    readBuffer.resetFrame();
    sessionOpen = 0;
    wireOwner = nullptr;
    // The session's end closed them with it.
    closeQueue.count = 0;
}

int HiveConnection::loginWithStoredCredentials() noexcept
{
    if (authenticationMethod == HIVE_AUTH_NONE)
        return saslPlainLogin(HIVE_AUTH_NONE, nullptr, 0, nullptr, 0, nullptr);
    if (authenticationMethod != HIVE_AUTH_USER_PASSWORD)
        return saslPlainLogin(authenticationMethod, nullptr, 0, nullptr, 0, nullptr);
    // UTF-8 takes at most three bytes per UTF-16 unit.
    KaMemoryBuffer user;
    KaMemoryBuffer secret;
    if (getUserId(user) != 0 || getPassword(secret) != 0) {
        basePostErrorMsg(kBaseIdxUnableToConnect, MSG_SASL_LOGIN_FAILED);
        return 1;
    }
    size_t userSize = size_t(user.length) * 3 + 1;
    size_t secretSize = size_t(secret.length) * 3 + 1;
    // Both hold credentials: wiped when they go.
    const RamWipedPtr<char> userText(static_cast<char*>(ramAlloc(userSize)), userSize);
    const RamWipedPtr<char> secretText(static_cast<char*>(ramAlloc(secretSize)), secretSize);
    int rc = 1;
    size_t userLength = 0;
    size_t secretLength = 0;
    if (!userText || !secretText) {
        ramOutOfMemory();
    } else if (credentialUtf8(user, userText.get(), userSize, &userLength) != 0 ||
               credentialUtf8(secret, secretText.get(), secretSize, &secretLength) != 0) {
        basePostErrorMsg(kBaseIdxUnableToConnect, MSG_SASL_LOGIN_FAILED);
    } else {
        const char* sent = secretLength != 0 ? secretText.get() : kHiveNoPasswordPlaceholder;
        size_t sentLength = secretLength != 0 ? secretLength : sizeof kHiveNoPasswordPlaceholder - 1;
        char login[kHiveLoginNameSize] = {};
        const char* loginName = nullptr;
        if (enableUserImpersonation) {
            if (bosGetUserName(login, sizeof login) != 0 || login[0] == 0) {
                basePostErrorMsg(kBaseIdxUnableToConnect, MSG_HIVE_PROXY_USER_UNKNOWN);
                loginName = nullptr;
                sent = nullptr;
            } else {
                loginName = login;
            }
        }
        if (sent != nullptr)
            rc = saslPlainLogin(HIVE_AUTH_USER_PASSWORD, userText.get(), userLength, sent, sentLength, loginName);
    }
    return rc;
}

int HiveConnection::openSession() noexcept
{
    if (sessionOpen)
        return 0;
    int32_t serverProtocol = 0;
    size_t proxyLength = hiveProxyUser != nullptr ? std::strlen(hiveProxyUser) : 0;
    if (writeOpenSession(effectiveProtocol, hiveProxyUser, proxyLength) != 0)
        return 1;
    int rc = readOpenSessionReply(&serverProtocol);
    if (rc == 0)
        sessionOpen = 1;
    return rc;
}

int HiveConnection::closeSession() noexcept
{
    if (!sessionOpen)
        return 0;
    int rc = writeCloseSession() != 0 || readCloseSessionReply() != 0 ? 1 : 0;
    // A session the server cannot be told about any more is gone for us.
    sessionOpen = 0;
    return rc;
}

int HiveConnection::useDatabase(const uint16_t* name) noexcept
{
    HiveCommunicatorHS2 comm(nullptr, this);
    KaStringW text;
    size_t n = strLenOrZeroW(name);
    int rc = text.append(strUnits(u"use "), 4) != 0 || appendDatabaseName(text, name, n) != 0 ? 1 : 0;
    int32_t status = 0;
    int32_t hasResultSet = 0;
    double modified = 0;
    if (rc == 0)
        rc = comm.executeStatement(text.data, text.len, 0) ||
             comm.readExecuteStatementReply(&status, &hasResultSet, &modified);
    for (int poll = 0; rc == 0 && poll < kHiveUsePolls; ++poll) {
        HiveOperationStatus op;
        rc = comm.getOperationStatus(&op);
        if (rc != 0 || op.state == HIVE_OP_FINISHED)
            break;
        if (!op.running()) {
            rc = 1;
            break;
        }
        bosSleep(operationStatusDelay);
    }
    if (comm.hasOperation() && comm.closeOperation() != 0)
        rc = 1;
    if (rc != 0)
        basePostErrorMsg(kBaseIdxUnableToConnect, MSG_USE_DATABASE_FAILED)->addParamW(name);
    return rc;
}

int HiveConnection::openSessionAndUseDb() noexcept
{
    if (readBuffer.negotiated)
        readBuffer.framed = 1;
    return openSession() != 0 || useDatabase(databaseName) != 0 ? 1 : 0;
}

int16_t HiveConnection::resetConnection() noexcept
{
    if (BaseConnection::resetConnection() != 0)
        return 1;
    return openSessionAndUseDb() != 0 ? 1 : 0;
}

int HiveConnection::getDbmsVersion(char* text, size_t size, uint32_t* major, uint32_t* minor, uint32_t* patch) noexcept
{
    HiveCommunicatorHS2 comm(nullptr, this);
    uint8_t kind = 0;
    size_t length = 0;
    if (comm.getInfo(kHiveInfoDbmsVersion, text, size, &kind, &length) != 0 || kind != HIVE_T_STRING)
        return 1;
    hiveFormatDbmsVersion(text, size, major, minor, patch);
    return 0;
}

int HiveConnection::getDbmsName(char* text, size_t size) noexcept
{
    HiveCommunicatorHS2 comm(nullptr, this);
    uint8_t kind = 0;
    size_t length = 0;
    return comm.getInfo(kHiveInfoDbmsName, text, size, &kind, &length) != 0 || kind != HIVE_T_STRING ? 1 : 0;
}

int HiveConnection::buildTypeInfoTable() noexcept
{
    typeTableCapacity = uint16_t(kHiveTypeRowCapacity);
    for (size_t i = 0; i < kHiveFixedTypeRows; ++i)
        typeRows[i] = kFixedRows[i];
    if (!timestampIsSearchable)
        typeRows[kTimestampRow].searchable = SQL_PRED_NONE;
    typeRowCount = kHiveFixedTypeRows;
    return 0;
}

void HiveConnection::appendServerTypeRows() noexcept
{
    auto add = [&](const HiveTypeRow& row) noexcept {
        if (typeRowCount < kHiveTypeRowCapacity)
            typeRows[typeRowCount++] = row;
    };
    int16_t decimalSearch = decimalIsSearchable ? SQL_SEARCHABLE : SQL_PRED_NONE;
    if (decimalKind == HIVE_DECIMAL_PLAIN)
        add({u"decimal", MSG_TYPE_LOCAL_DECIMAL, SQL_DECIMAL, 38, nullptr, nullptr, 0, 1, decimalSearch, 0, 38, 38});
    else if (decimalKind == HIVE_DECIMAL_PRECISION_SCALE)
        add({u"decimal", MSG_TYPE_LOCAL_DECIMAL, SQL_DECIMAL, 38, nullptr, nullptr, MSG_TYPE_PARAMS_PRECISION_SCALE, 1,
             decimalSearch, 0, 0, 38});
    add({u"string", MSG_TYPE_LOCAL_STRING, SQL_VARCHAR, maxStringSize, u"'", u"'", 0, 1, SQL_SEARCHABLE,
         kHiveTypeCaseSensitive, 0, 0});
    add({u"string", MSG_TYPE_LOCAL_STRING, SQL_WVARCHAR, maxStringSize, u"'", u"'", 0, 1, SQL_SEARCHABLE,
         kHiveTypeCaseSensitive, 0, 0});
    if (serverHasVarchar) {
        add({u"varchar", MSG_TYPE_LOCAL_VARCHAR, SQL_VARCHAR, kHiveVarcharColumnSize, u"'", u"'",
             MSG_TYPE_PARAMS_MAX_LENGTH, 1, SQL_SEARCHABLE, kHiveTypeCaseSensitive, 0, 0});
        add({u"varchar", MSG_TYPE_LOCAL_VARCHAR, SQL_WVARCHAR, kHiveVarcharColumnSize, u"'", u"'",
             MSG_TYPE_PARAMS_MAX_LENGTH, 1, SQL_SEARCHABLE, kHiveTypeCaseSensitive, 0, 0});
    }
    if (serverHasDate) {
        add({u"date", MSG_TYPE_LOCAL_DATE, SQL_TYPE_DATE, 10, u"{d'", u"'}", 0, 1, SQL_SEARCHABLE, 0, 0, 6});
        add({u"string", MSG_TYPE_LOCAL_STRING, SQL_TYPE_DATE, 10, u"{d'", u"'}", 0, 1, SQL_SEARCHABLE, 0, 0, 6});
    }
    for (size_t i = 0; i < typeRowCount; ++i) {
        const HiveTypeRow& from = typeRows[i];
        BaseTypeRow& to = baseTypeRows[i];
        to.name = strUnits(from.typeName);
        to.localNameMessage = int16_t(from.localTypeName);
        to.sqlType = from.sqlType;
        to.columnSize = uint32_t(from.columnSize);
        to.literalPrefix = from.literalPrefix != nullptr ? strUnits(from.literalPrefix) : nullptr;
        to.literalSuffix = from.literalSuffix != nullptr ? strUnits(from.literalSuffix) : nullptr;
        to.createParamsMessage = int16_t(from.createParams);
        to.nullable = from.nullable;
        to.searchable = from.searchable;
        to.attributes = (from.flags & kHiveTypeCaseSensitive) != 0 ? kBaseTypeCaseSensitive : 0;
        to.minimumScale = from.minimumScale;
        to.maximumScale = from.maximumScale;
        to.intervalPrecision = 0;
    }
    typeTable = baseTypeRows;
    typeTableCount = typeRowCount;
}

int16_t HiveConnection::openPhysical() noexcept
{
    dbmsVersion[0] = 0;
    const KaDiagMark before;
    if (databaseName != nullptr)
        cutTrailingBlanks(databaseName);
    if (unitsEmpty(databaseName)) {
        basePostErrorMsg(kBaseIdxGeneralError, MSG_DATABASE_NAME_EMPTY);
        return 1;
    }
    // A data source that names no server (SQLConnect to an unknown one)
    // says so instead of trying an empty host or port 0.
    uint16_t port = 0;
    if (unitsEmpty(hostName) || unitsEmpty(portNumber) || textWToU16(portNumber, &port) != 0 || port == 0) {
        if (!unitsEmpty(portNumber) && port == 0)
            discardFrom(before.start());
        KaStringW host;
        const char* hostText = host.assign(hostName != nullptr ? hostName : strUnits(u""), strLenOrZeroW(hostName)) == 0
                                   ? host.toNarrow(KA_TEXT_UTF8)
                                   : nullptr;
        basePostErrorMsg(kBaseIdxUnableToConnect, MSG_SOCKET_NO_HOST_OR_PORT)
            ->addParamText(hostText != nullptr ? hostText : "")
            ->addParamSigned(port);
        return 1;
    }
    if (prepareSocketSettings() != 0)
        return 1;
    // SeedBeforeConnect: the TLS libraries are loaded (and seeded) before
    // anything goes on the wire.
    if (seedBeforeConnect != 0 && encryptionMethod != 0 && baseSocketPreloadSSL(this, &socketSettings) != 0)
        return 1;
    uint64_t capacity = readBufferSize;
    if (capacity < kHiveMinReadBufferSize)
        capacity = kHiveMinReadBufferSize;
    if (capacity > kHiveMaxReadBufferSize)
        capacity = kHiveMaxReadBufferSize;
    uint64_t chunk = socketReadSize == 0 || socketReadSize > capacity ? capacity : socketReadSize;

    // The whole open, the second attempt included, runs on one login
    // time-out: a server that answers each call just in time cannot stretch
    // it.
    int64_t deadline = 0;
    if (socketSettings.loginTimeoutOffered && !socketSettings.loginTimeoutOff && socketSettings.loginTimeout > 0)
        deadline = baseSocketNowMs() + socketSettings.loginTimeout * 1000;
    bool probe = true;
    int rc = 1;
    uint16_t timeoutMessage = MSG_HIVE_LOGIN_TIMED_OUT;
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Every open starts its probe session with the oldest protocol.
        effectiveProtocol = 0;
        sessionOpen = 0;
        rc = 1;
        bool http = transportMode == HIVE_TRANSPORT_HTTP;
        HiveHTTPSocket* httpSocket = nullptr;
        if (http) {
            socket = httpSocket = new HiveHTTPSocket(hostName, portNumber, httpPath, this);
            if (httpSocket == nullptr || httpSocket->createTransport() != 0)
                break;
        } else {
            socket = new BaseSocket(this, &socketSettings);
            if (socket == nullptr || socket->createTransport() != 0)
                break;
        }
        // On HTTP the POST carries the length that frames carry otherwise.
        readBuffer.httpTransport = writeBuffer.httpTransport = http ? 1 : 0;
        if (readBuffer.setCapacity(uint32_t(capacity)) != 0)
            break;
        socket->setLoginDeadline(deadline);
        readBuffer.chunkSize = uint32_t(chunk);
        if (writeBuffer.attach(this, socket) != 0 || readBuffer.attach(this, socket) != 0)
            break;
        // The connect, the login and the sessions run under the login
        // time-out, so that a server that stalls anywhere in them ends the
        // open in bounded time.
        if (http) {
            socket->useLoginTimeout();
            if (httpSocket->setupRequest() != 0)
                break;
        } else if (socket->connectToHost(hostName != nullptr ? hostName : strUnits(u""),
                                         portNumber != nullptr ? portNumber : strUnits(u""), nullptr,
                                         0) != KA_SOCK_OK) {
            break;
        }
        socket->useLoginTimeout();
        // A binary server that never answers the login most likely speaks
        // another protocol than the one configured.
        if (!http)
            timeoutMessage = MSG_SASL_LOGIN_TIMED_OUT;
        readBuffer.negotiated = 0;
        writeBuffer.framing = 0;
        // On HTTP the requests themselves carry the credentials (basic, or a
        // Kerberos token made here for the first one).
        if (http ? authenticationMethod == HIVE_AUTH_KERBEROS && kerberosLogin() != 0
                 : loginWithStoredCredentials() != 0)
            break;
        timeoutMessage = MSG_HIVE_LOGIN_TIMED_OUT;
        readBuffer.negotiated = 1;
        writeBuffer.framing = 1;
        readBuffer.resultStyle =
            effectiveProtocol > kHiveProtocolRowWiseLast ? HIVE_RESULT_COLUMN_WISE : HIVE_RESULT_ROW_WISE;
        if (openSessionAndUseDb() != 0)
            break;
        if (typeRowCount == 0 && buildTypeInfoTable() != 0)
            break;
        typeRowCount = kHiveFixedTypeRows;
        uint32_t major = 0;
        uint32_t minor = 0;
        uint32_t patch = 0;
        if (probe) {
            const KaDiagMark probeBefore;
            if (getDbmsVersion(dbmsVersion, sizeof dbmsVersion, &major, &minor, &patch) != 0) {
                // A server that cannot say its version is connected again
                // without asking.
                discardFrom(probeBefore.start());
                dropSocket();
                probe = false;
                continue;
            }
            if (getDbmsName(dbmsNameText, sizeof dbmsNameText) != 0)
                break;
            spark21 = std::strstr(dbmsNameText, "Spark") != nullptr && std::memcmp(dbmsVersion, "02.01", 5) >= 0;
        } else {
            std::snprintf(dbmsVersion, sizeof dbmsVersion, "%s", "00.00.0000");
            std::snprintf(dbmsNameText, sizeof dbmsNameText, "%s", "Hive");
        }
        fastMemzero(catalogFlags, sizeof catalogFlags);
        // HiveServer2 servers take several rows in one INSERT ... VALUES.
        nativeArrayInsert = 1;
        serverHasDate = 0;
        serverHasVarchar = 0;
        decimalKind = HIVE_DECIMAL_NONE;
        if (clientProtocol != kHiveProtocolUnset && clientProtocol <= kHiveProtocolRowWiseLast) {
            serverHasDate = major == 1 && minor < 2 ? 0 : 1;
        } else if (major >= 2 || minor >= 5) {
            // The timestamp row keeps 29 and 9: these servers send the
            // nanoseconds too, and the readers deliver them.
            decimalKind = HIVE_DECIMAL_PRECISION_SCALE;
            serverHasVarchar = serverHasDate = 1;
        } else if (minor == 3 || minor == 4) {
            decimalKind = HIVE_DECIMAL_PRECISION_SCALE;
            serverHasVarchar = serverHasDate = 1;
        } else if (minor == 2) {
            decimalKind = HIVE_DECIMAL_PLAIN;
            serverHasVarchar = serverHasDate = 1;
            // A 1.2 server answers SQLColumns in one GetColumns call.
            catalogFlags[HIVE_CATALOG_USE_GET_COLUMNS] = 1;
        }
        appendServerTypeRows();
        effectiveProtocol = clientProtocol == kHiveProtocolUnset ? kHiveProtocolDefault
                            : clientProtocol < 0                 ? 0
                                                                 : clientProtocol;
        resultStyle = effectiveProtocol > kHiveProtocolRowWiseLast ? HIVE_RESULT_COLUMN_WISE : HIVE_RESULT_ROW_WISE;
        readBuffer.resultStyle = resultStyle;
        // The working session is the one opened with the protocol chosen.
        const KaDiagMark closeBefore;
        if (closeSession() != 0)
            discardFrom(closeBefore.start());
        readBuffer.framed = readBuffer.negotiated;
        const KaDiagMark sessionBefore;
        if (openSession() != 0) {
            // A server older than the protocol configured refuses it: the
            // session is opened with the default protocol, which every
            // server of this driver speaks, and a warning says so.
            if (effectiveProtocol <= kHiveProtocolDefault || !refusedOnly(sessionBefore.start()))
                break;
            int32_t refused = effectiveProtocol;
            discardFrom(sessionBefore.start());
            effectiveProtocol = kHiveProtocolDefault;
            if (openSession() != 0)
                break;
            basePostWarningMsg(kBaseIdxGeneralWarning, MSG_HIVE_PROTOCOL_FELL_BACK)
                ->addParamSigned(refused)
                ->addParamSigned(effectiveProtocol);
        }
        if (useDatabase(databaseName) != 0)
            break;
        rc = 0;
        break;
    }
    if (rc != 0) {
        reportAsConnectFailure(before.start(), socketSettings.loginTimeout, timeoutMessage);
        dropSocket();
        return 1;
    }
    // Between calls the socket waits under the connection time-out.
    socket->setLoginDeadline(0);
    socket->useConnectionTimeout();
    settleFailoverMode();
    return 0;
}

int16_t HiveConnection::closePhysical() noexcept
{
    if (socket != nullptr) {
        const KaDiagMark before;
        // A server that no longer answers cannot hold the disconnect longer
        // than a login could take; disconnect succeeds whatever the server
        // says to the close.
        socket->useLoginTimeout();
        if (closeSession() != 0)
            discardFrom(before.start());
        dropSocket();
    }
    freeOptionTexts();
    freeTlsTexts();
    typeRowCount = 0;
    typeTable = nullptr;
    typeTableCount = 0;
    authenticationMethod = 0;
    delete packetLogSink;
    packetLogSink = nullptr;
    if (packetLog != nullptr) {
        (void)packetLog->flush();
        packetLog->close();
        delete packetLog;
        packetLog = nullptr;
    }
    return 0;
}
