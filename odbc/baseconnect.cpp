// SQLConnect, SQLDriverConnect, SQLBrowseConnect and SQLDisconnect on the
// physical connection: the options are read, the servers tried, and every
// failure closes what the attempt opened.
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
#include "odbc/basestmt.h"
#include "odbc/kavalueparser.h"

namespace {

size_t unitsOf(const uint16_t* text, int64_t length) noexcept
{
    if (text == nullptr)
        return 0;
    if (length != SQL_NTS)
        return length > 0 ? static_cast<size_t>(length) : 0;
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

// The application's out buffer (capacity in characters, terminator
// included): a cut text gives 01004.
int16_t copyOut(const uint16_t* text, size_t n, uint16_t* out, int16_t capacity, int16_t* outLength) noexcept
{
    if (outLength != nullptr)
        *outLength = static_cast<int16_t>(n > INT16_MAX ? INT16_MAX : n);
    if (out == nullptr || capacity <= 0)
        return n == 0 || out == nullptr ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO;
    size_t room = static_cast<size_t>(capacity) - 1;
    size_t copied = n < room ? n : room;
    if (copied != 0)
        std::memcpy(out, text, copied * 2);
    out[copied] = 0;
    if (copied < n) {
        basePostWarning(kBaseIdxTruncated);
        return SQL_SUCCESS_WITH_INFO;
    }
    return SQL_SUCCESS;
}

// A parser of a connection string with its sensitive values encrypted under
// the connection key; null after the diagnostic.
KaValueParserW* parseConnectString(BaseConnection* conn, const uint16_t* text, size_t n) noexcept
{
    auto* parser = new KaValueParserW(text != nullptr ? text : strUnits(u""), n, ';', nullptr, 0);
    if (parser == nullptr)
        return nullptr;
    parser->setQuoteChars(0, 0, 0);
    BaseScopedKey key(conn->connectionKey);
    if (parser->addWordChars(strUnits(u"_.()")) != 0 || parser->parse(key.get(), nullptr) != 0) {
        delete parser;
        return nullptr;
    }
    return parser;
}

// Sets a credential holder's value (still encrypted) in the parser under
// the short key, or under the long one when only that is present.
[[nodiscard]] int putCredential(KaValueParserW* parser, KaMemoryBuffer& holder, const char16_t* shortKey,
                                const char16_t* longKey) noexcept
{
    if (holder.length == 0)
        return 0;
    const uint16_t* key = !parser->hasKey(strUnits(shortKey)) && parser->hasKey(strUnits(longKey)) ? strUnits(longKey)
                                                                                                   : strUnits(shortKey);
    return parser->setSecret(key, holder, nullptr);
}

// Workaround bit: the completed connection string spells the database
// keyword out (DATABASE for DB), for applications that look for that name.
constexpr uint64_t kBaseWaSpellOutDatabase = 0x800;

bool isBlank(uint16_t unit) noexcept
{
    return unit == ' ' || unit == '\t';
}

// Writes each DB keyword of a completed connection string as DATABASE. The
// string is the parser's: attributes separated by ";", and a value that
// holds ";" or braces is braced (a "}" in it doubled), so only braced values
// need passing over. 0, or 1 when memory runs out.
[[nodiscard]] int spellOutDatabaseKeyword(KaStringW& text) noexcept
{
    static const uint16_t* const kFull = strUnits(u"DATABASE");
    size_t i = 0;
    while (i < text.len) {
        size_t keyStart = i;
        while (i < text.len && text.data[i] != '=' && text.data[i] != ';')
            ++i;
        if (i < text.len && text.data[i] == '=') {
            size_t b = keyStart;
            size_t e = i;
            while (b < e && isBlank(text.data[b]))
                ++b;
            while (e > b && isBlank(text.data[e - 1]))
                --e;
            if (e - b == 2 && (text.data[b] | 0x20) == 'd' && (text.data[b + 1] | 0x20) == 'b') {
                if (text.replace(b, 2, kFull, 8) != 0)
                    return 1;
                i += 6;
            }
            ++i;
            if (i < text.len && text.data[i] == '{') {
                for (++i; i < text.len; ++i) {
                    if (text.data[i] != '}')
                        continue;
                    if (i + 1 < text.len && text.data[i + 1] == '}') {
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
            }
            while (i < text.len && text.data[i] != ';')
                ++i;
        }
        ++i;
    }
    return 0;
}

}  // namespace

int16_t BaseConnection::connect(const uint16_t* dsn, int16_t dsnLength, const uint16_t* user, int16_t userLength,
                                const uint16_t* authentication, int16_t authenticationLength) noexcept
{
    if (enterApi(SQL_API_SQLCONNECT) != 0)
        return leaveApi(SQL_ERROR);
    if ((workarounds & kBaseWaConnectNoOp) != 0)
        return leaveApi(SQL_SUCCESS);
    KaStringW name;
    KaStringW text;
    size_t n = unitsOf(dsn, dsnLength);
    bool ok = name.assign(dsn != nullptr ? dsn : strUnits(u""), n) == 0 && checkDataSource(name.data) == 0 &&
              drawConnectionKey() == 0 &&
              setUserId(user != nullptr ? user : strUnits(u""), static_cast<int64_t>(unitsOf(user, userLength))) == 0 &&
              setPassword(authentication != nullptr ? authentication : strUnits(u""),
                          static_cast<int64_t>(unitsOf(authentication, authenticationLength))) == 0 &&
              promptHook(nullptr, 0, nullptr, nullptr) == 0 && text.append(strUnits(u"DSN="), 4) == 0 &&
              text.append(name.data, name.len) == 0;
    uint16_t* servers = nullptr;
    uint64_t retryCount = 0;
    uint64_t retryDelay = 0;
    int32_t loadBalance = 0;
    ok = ok && readConnectOptions(text.data, static_cast<int64_t>(text.len), nullptr, 0) == 0 &&
         readDriverOptions(nullptr, nullptr) == 0 &&
         getAlternateServers(&servers, &retryCount, &retryDelay, &loadBalance, nullptr) == 0 &&
         connectToServers(servers, retryCount, retryDelay, loadBalance, text.data, static_cast<int64_t>(text.len),
                          nullptr, SQL_DRIVER_NOPROMPT, nullptr) == 0;
    ramFree(servers);
    if (ok && failoverMode != 0 && handle != nullptr && handle->reconnecting == 0) {
        // The reconnect string carries the credentials: they stay encrypted
        // until the wiping string is built, which goes encrypted to the
        // handle.
        KaStringWEx reconnect;
        auto* parser = new KaValueParserW(strUnits(u""), 0, ';', nullptr, 0);
        BaseScopedKey key(connectionKey);
        ok = parser != nullptr && parser->setValueCStr(strUnits(u"DSN"), name.data, nullptr) == 0 &&
             parser->setSecret(strUnits(u"UID"), userId, nullptr) == 0 &&
             parser->setSecret(strUnits(u"PWD"), password, nullptr) == 0 &&
             parser->buildDecrypted(reconnect, key.get(), ';') == 0 &&
             handle->storeConnectString(reconnect.data, static_cast<int64_t>(reconnect.len)) == 0;
        delete parser;
    }
    if (!ok) {
        (void)closeConnection();
        return leaveApi(SQL_ERROR);
    }
    return leaveApi(SQL_SUCCESS);
}

int16_t BaseConnection::driverConnect(void* window, const uint16_t* in, int16_t inLength, uint16_t* out,
                                      int16_t outCapacity, int16_t* outLength, uint16_t completion) noexcept
{
    if (outLength != nullptr)
        *outLength = 0;
    if (out != nullptr && outCapacity > 0)
        out[0] = 0;
    if (enterApi(SQL_API_SQLDRIVERCONNECT) != 0)
        return leaveApi(SQL_ERROR);
    size_t n = unitsOf(in, inLength);
    if ((workarounds & kBaseWaConnectNoOp) != 0)
        return leaveApi(copyOut(in != nullptr ? in : strUnits(u""), n, out, outCapacity, outLength));
    KaValueParserW* parser = nullptr;
    uint16_t* servers = nullptr;
    int16_t rc = SQL_ERROR;
    int32_t cancelled = 0;
    do {
        if (drawConnectionKey() != 0)
            break;
        parser = parseConnectString(this, in, n);
        if (parser == nullptr)
            break;
        if (parser->hasKey(strUnits(u"DSN"))) {
            KaStringW* dsn = parser->getValueCStr(strUnits(u"DSN"));
            KaStringW name;
            if (name.assign(dsn != nullptr && dsn->data != nullptr ? dsn->data : strUnits(u""),
                            dsn != nullptr ? dsn->len : 0) != 0 ||
                checkDataSource(name.data) != 0)
                break;
        } else if (!parser->hasKey(strUnits(u"DRIVER"))) {
            if (checkDataSource(nullptr) != 0)
                break;
        }
        uint16_t asked = driverCompatibility == 1 ? SQL_DRIVER_NOPROMPT : completion;
        if (promptHook(window, asked, &cancelled, parser) != 0)
            break;
        if (cancelled != 0) {
            rc = SQL_NO_DATA;
            break;
        }
        uint64_t retryCount = 0;
        uint64_t retryDelay = 0;
        int32_t loadBalance = 0;
        if (readConnectOptions(in, static_cast<int64_t>(n), parser, 1) != 0 || readDriverOptions(parser, window) != 0 ||
            getAlternateServers(&servers, &retryCount, &retryDelay, &loadBalance, parser) != 0)
            break;
        warnUnusedAttributes(parser);
        asked = driverCompatibility == 1 ? SQL_DRIVER_NOPROMPT : completion;
        if (connectToServers(servers, retryCount, retryDelay, loadBalance, in, static_cast<int64_t>(n), window, asked,
                             parser) != 0)
            break;
        if (!isConnected()) {
            rc = SQL_NO_DATA;
            break;
        }
        // The completed string: what the application gave, with the data
        // source and the credentials the connect used.
        if ((dsnNameW != nullptr && parser->setValueCStr(strUnits(u"DSN"), dsnNameW, nullptr) != 0) ||
            putCredential(parser, userId, u"UID", u"LOGONID") != 0 ||
            putCredential(parser, password, u"PWD", u"PASSWORD") != 0)
            break;
        if ((workarounds2 & 0x20) != 0 && !parser->hasKey(strUnits(u"DSN")) && password.length != 0 &&
            parser->setValueCStr(strUnits(u"DSN"), strUnits(u"DEFAULT"), nullptr) != 0)
            break;
        KaStringWEx scratch;
        if (buildOutConnectString(scratch, parser) != 0)
            break;
        KaStringWEx completed;
        {
            BaseScopedKey key(connectionKey);
            if (parser->buildDecrypted(completed, key.get(), ';') != 0)
                break;
        }
        if ((workarounds & kBaseWaSpellOutDatabase) != 0 && spellOutDatabaseKeyword(completed) != 0)
            break;
        if (failoverMode != 0 && handle != nullptr && handle->reconnecting == 0 &&
            handle->storeConnectString(completed.data, static_cast<int64_t>(completed.len)) != 0)
            break;
        rc = copyOut(completed.data != nullptr ? completed.data : strUnits(u""), completed.len, out, outCapacity,
                     outLength);
    } while (false);
    ramFree(servers);
    delete parser;
    if (rc == SQL_ERROR || rc == SQL_NO_DATA)
        (void)closeConnection();
    return leaveApi(rc);
}

int16_t BaseConnection::browseConnect(const uint16_t* in, int16_t inLength, uint16_t* out, int16_t outCapacity,
                                      int16_t* outLength) noexcept
{
    if (outLength != nullptr)
        *outLength = 0;
    if (out != nullptr && outCapacity > 0)
        out[0] = 0;
    if (enterApi(SQL_API_SQLBROWSECONNECT) != 0)
        return leaveApi(SQL_ERROR);
    size_t n = unitsOf(in, inLength);
    KaValueParserW* given = nullptr;
    int16_t rc = SQL_ERROR;
    do {
        if (browseFresh != 0 || browseParser == nullptr) {
            delete browseParser;
            browseParser = nullptr;
            browseLevel = 0;
            if (drawConnectionKey() != 0)
                break;
            browseParser = parseConnectString(this, nullptr, 0);
            if (browseParser == nullptr)
                break;
        }
        bool fresh = browseFresh != 0;
        given = parseConnectString(this, in, n);
        if (given == nullptr)
            break;
        if (given->hasKey(strUnits(u"DSN")) || fresh) {
            KaStringW name;
            KaStringW* dsn = given->getValueCStr(strUnits(u"DSN"));
            if (dsn != nullptr && name.assign(dsn->data != nullptr ? dsn->data : strUnits(u""), dsn->len) != 0)
                break;
            if (checkDataSource(dsn != nullptr ? name.data : nullptr) != 0)
                break;
        }
        // Everything given accumulates; a later call only adds.
        bool copied = true;
        for (size_t i = 0; i < given->attributes.count && copied; ++i) {
            KaSubStringW* key = given->keyAt(i);
            KaStringW keyText;
            copied = keyText.assign(key->data, key->len) == 0;
            if (!copied)
                break;
            KaStringW* value = given->getValueCStr(keyText.data);
            if (value != nullptr) {
                copied = browseParser->setValueCStr(keyText.data, value->data != nullptr ? value->data : strUnits(u""),
                                                    nullptr) == 0;
                continue;
            }
            int found = 0;
            KaMemoryBuffer secret;
            copied = given->getSecret(keyText.data, &found, secret) == 0 &&
                     (found == 0 || browseParser->setSecret(keyText.data, secret, nullptr) == 0);
        }
        if (!copied || browseParser->resetUsed() != 0)
            break;
        KaStringWEx all;
        {
            BaseScopedKey key(connectionKey);
            if (browseParser->buildDecrypted(all, key.get(), ';') != 0)
                break;
        }
        if (readConnectOptions(all.data, static_cast<int64_t>(all.len), browseParser, 1) != 0)
            break;
        // The reply lists the required server keywords still missing.
        KaStringW reply;
        bool missing = false;
        const uint16_t* longKeys = hostKeyword();
        const uint16_t* shortKeys = hostKeywordShort();
        for (; longKeys != nullptr && longKeys[0] != 0;) {
            size_t ln = unitsOf(longKeys, SQL_NTS);
            size_t sn = shortKeys != nullptr ? unitsOf(shortKeys, SQL_NTS) : 0;
            bool optional = longKeys[0] == '*';
            const uint16_t* longKey = optional ? longKeys + 1 : longKeys;
            const uint16_t* shortKey = shortKeys != nullptr && sn != 0 ? shortKeys : nullptr;
            uint16_t* value = nullptr;
            if (getOptionValue(browseParser, shortKey, longKey, nullptr, &value, nullptr, 0) != 0)
                break;
            bool have = value != nullptr && value[0] != 0;
            ramFree(value);
            if (!have) {
                if (!optional)
                    missing = true;
                if ((optional && reply.appendChar('*') != 0) ||
                    (shortKey != nullptr && (reply.append(shortKey, sn) != 0 || reply.appendChar(':') != 0)) ||
                    reply.append(longKey, unitsOf(longKey, SQL_NTS)) != 0 || reply.append(strUnits(u"=?;"), 3) != 0)
                    break;
            }
            longKeys += ln + 1;
            if (shortKeys != nullptr)
                shortKeys += sn + 1;
        }
        browseFresh = 0;
        if (missing) {
            int16_t copiedRc =
                copyOut(reply.data != nullptr ? reply.data : strUnits(u""), reply.len, out, outCapacity, outLength);
            rc = copiedRc == SQL_SUCCESS ? static_cast<int16_t>(SQL_NEED_DATA) : copiedRc;
            break;
        }
        ++browseLevel;
        uint16_t* servers = nullptr;
        uint64_t retryCount = 0;
        uint64_t retryDelay = 0;
        int32_t loadBalance = 0;
        bool opened = readDriverOptions(browseParser, nullptr) == 0 &&
                      getAlternateServers(&servers, &retryCount, &retryDelay, &loadBalance, browseParser) == 0 &&
                      connectToServers(servers, retryCount, retryDelay, loadBalance, all.data,
                                       static_cast<int64_t>(all.len), nullptr, SQL_DRIVER_NOPROMPT, browseParser) == 0;
        ramFree(servers);
        if (!opened) {
            // The open's diagnostics stay as warnings; the call fails.
            KaErrorList* list = KaErrorCurrentList();
            if (list != nullptr)
                list->demoteAll();
            break;
        }
        KaStringWEx completed;
        if (buildOutConnectString(completed, browseParser) != 0)
            break;
        if (failoverMode != 0 && handle != nullptr && handle->reconnecting == 0 &&
            handle->storeConnectString(completed.data, static_cast<int64_t>(completed.len)) != 0)
            break;
        rc = copyOut(completed.data != nullptr ? completed.data : strUnits(u""), completed.len, out, outCapacity,
                     outLength);
        connectionFlags |= kBaseConnConnected;
        delete browseParser;
        browseParser = nullptr;
        browseFresh = 1;
    } while (false);
    delete given;
    if (rc == SQL_ERROR)
        (void)closeConnection();
    return leaveApi(rc);
}

int16_t BaseConnection::disconnect() noexcept
{
    if ((workarounds & kBaseWaConnectNoOp) != 0)
        return SQL_SUCCESS;
    if (enterApi(SQL_API_SQLDISCONNECT) != 0)
        return leaveApi(SQL_ERROR);
    if ((connectionFlags & kBaseConnTransactionActive) != 0 || xaState == 2) {
        uint32_t dead = SQL_CD_FALSE;
        if (getConnectAttrDefault(SQL_ATTR_CONNECTION_DEAD, &dead) != 0)
            return leaveApi(SQL_ERROR);
        if (dead != SQL_CD_TRUE) {
            basePostError(kBaseIdxInvalidTransactionState);
            return leaveApi(SQL_ERROR);
        }
    }
    // What the application set on this connection carries over to the
    // handle's next connect; the recorded settings end with the link.
    int16_t rc = SQL_SUCCESS;
    if (isConnected() && handle != nullptr && saveBufferedAttrs() != 0)
        rc = SQL_ERROR;
    if (closeConnection() != 0)
        rc = SQL_ERROR;
    return leaveApi(rc);
}

int16_t BaseConnection::closeConnection() noexcept
{
    // The statements give up their cursors and server operations while the
    // link is still there to close them on; one that cannot keeps the
    // connection open, and SQLDisconnect can be called again.
    // A link that is gone has nothing left to close on: its statements'
    // failures are warnings then, and the disconnect goes on, or the
    // application could never end the connection.
    bool resetFailed = false;
    KaErrorList* list = KaErrorCurrentList();
    const size_t firstDiag = list != nullptr ? list->recordCount() : 0;
    KaNode* node = statements.first();
    for (size_t i = 0; i < statements.count && node != nullptr; ++i, node = node->next)
        if (static_cast<BaseStatement*>(node)->resetStatement() != 0)
            resetFailed = true;
    if (resetFailed) {
        uint32_t dead = SQL_CD_FALSE;
        if (getConnectAttrDefault(SQL_ATTR_CONNECTION_DEAD, &dead) != 0 || dead != SQL_CD_TRUE)
            return 1;
        if (list != nullptr)
            list->demoteFrom(firstDiag);
    }
    if (xaState == 2 && xaDelist(nullptr) != 0)
        return 1;
    // A pooled connection keeps its link for the pool; only its session
    // state goes back to the defaults (the pool clears the mark before it
    // closes one for good).
    if (pooled != 0)
        return resetForReuse();
    (void)resetConnectState();
    int16_t rc = 0;
    if (isConnected() && closePhysical() != 0)
        rc = 1;
    connectionFlags &= ~(kBaseConnConnected | kBaseConnTransactionActive);
    ramFree(initializationString);
    initializationString = nullptr;
    while (statements.count != 0)
        delete statements.removeFirst();
    while (descriptors.count != 0)
        delete descriptors.removeFirst();
    // Credentials are wiped, not only released.
    userId.clear();
    password.clear();
    ramFree(dsnNameW);
    dsnNameW = nullptr;
    ramFree(dsnNameA);
    dsnNameA = nullptr;
    releaseOptionTexts();
    proxyPort = 0;
    proxyMode = 0;
    tlsTunnel = 0;
    ramFree(dbmsName);
    dbmsName = nullptr;
    ramFree(driverNameW);
    driverNameW = nullptr;
    ramFree(serverTextW);
    serverTextW = nullptr;
    restoreCatalogColumns();
    delete browseParser;
    browseParser = nullptr;
    browseFresh = 1;
    browseLevel = 0;
    wideCharCodePage = kCodePageUtf16LE;
    tlsProtocols = 0;
    tlsFallbackProtocols = 0;
    tlsFlags = 0;
    cryptoProtocolExplicit = 0;
    ramFree(profilePathW);
    profilePathW = nullptr;
    return rc;
}

void BaseConnection::releaseOptionTexts() noexcept
{
    char** texts[] = {&allowedOpenSSLVersions,
                      &proxyHost,
                      &proxyUser,
                      &proxyPassword,
                      &cipherList,
                      &prngSeedFile,
                      &trustStore,
                      &trustStorePassword,
                      &keyStore,
                      &keyStorePassword,
                      &keyPassword,
                      &hostNameInCertificate,
                      &sslLibName,
                      &cryptoLibName,
                      &packetLoggingFilePrefix};
    for (char** text : texts) {
        if (*text != nullptr)
            fastMemzero(*text, std::strlen(*text));
        ramFree(*text);
        *text = nullptr;
    }
}

int16_t BaseConnection::resetConnectState() noexcept
{
    unloadTranslator();
    failoverPreconnect = 0;
    failoverMode = 0;
    failoverGranularity = 0;
    events.deleteAll();
    accessMode = 0;
    autocommit = SQL_AUTOCOMMIT_ON;
    loginTimeout = SQL_LOGIN_TIMEOUT_DEFAULT;
    connectionTimeout = 0;
    quietMode = 0;
    workarounds = 0;
    defaultConcurrency = SQL_CONCUR_READ_ONLY;
    // What the application set on the handle stays in force for it.
    applyBufferedAttrs();
    return 0;
}
