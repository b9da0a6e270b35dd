// SQLConnect, SQLDriverConnect, SQLBrowseConnect and SQLDisconnect on the
// physical connection: the options are read, the servers tried, and every
// failure closes what the attempt opened.
#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "foundation/codepage.h"
#include "foundation/fast.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "foundation/kastr.h"
#include "foundation/kastringw.h"
#include "kamessages.h"
#include "odbc/baseattrtable.h"
#include "odbc/baseconn.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"
#include "odbc/kavalueparser.h"
#include "platform/kaini.h"

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

// Keywords compared as the parser compares them: without regard to case.
bool sameKeyword(const uint16_t* key, size_t n, const char16_t* name) noexcept
{
    return name != nullptr && name[0] != 0 && strEqualNoCaseNW(key, n, strUnits(name)) != 0;
}

bool hasShort(const BaseDriverAttr& row) noexcept
{
    return row.shortKeyword != nullptr && row.shortKeyword[0] != 0;
}

bool isShort(const BaseDriverAttr& row, const char16_t* name) noexcept
{
    return hasShort(row) && sameKeyword(strUnits(row.shortKeyword), unitsOf(strUnits(row.shortKeyword), SQL_NTS), name);
}

bool holdsRow(const KaValueParserW* parser, const BaseDriverAttr& row) noexcept
{
    return parser->hasKey(strUnits(row.longKeyword)) || (hasShort(row) && parser->hasKey(strUnits(row.shortKeyword)));
}

// The key a browse keeps a row's value under: its short keyword, else its
// long one.
const uint16_t* keptKey(const BaseDriverAttr& row) noexcept
{
    return strUnits(hasShort(row) ? row.shortKeyword : row.longKeyword);
}

// A list row answered with one of its choices written "<value> - <what it
// means>" (as the reply offers them) keeps the value alone, the form the
// driver reads: *n is its length, 0 when the answer is no such choice.
size_t choiceValueLength(const BaseDriverAttr& row, const KaStringW* answer) noexcept
{
    if (row.kind != kBaseAttrKindList || row.choices == nullptr || answer == nullptr || answer->len == 0)
        return 0;
    const uint16_t* choices = strUnits(row.choices);
    size_t start = 0;
    for (size_t i = 0;; ++i) {
        if (choices[i] != ',' && choices[i] != 0)
            continue;
        const size_t n = i - start;
        if (n == answer->len && strEqualNoCaseNNW(choices + start, n, answer->data, n) != 0) {
            for (size_t k = 0; k + 2 < n; ++k)
                if (answer->data[k] == ' ' && answer->data[k + 1] == '-' && answer->data[k + 2] == ' ')
                    return k;
            return 0;
        }
        if (choices[i] == 0)
            return 0;
        start = i + 1;
    }
}

// Copies the value of fromKey (plain or encrypted) into to under toKey,
// replacing a value under toKey or altKey. 0, or 1.
[[nodiscard]] int copyAttribute(KaValueParserW* from, const uint16_t* fromKey, KaValueParserW* to,
                                const uint16_t* toKey, const uint16_t* altKey) noexcept
{
    KaStringW* value = from->getValueCStr(fromKey);
    if (value != nullptr)
        return to->setValueCStr(toKey, value->data != nullptr ? value->data : strUnits(u""), altKey);
    int found = 0;
    KaMemoryBuffer secret;
    if (from->getSecret(fromKey, &found, secret) != 0)
        return 1;
    return found == 0 ? 0 : to->setSecret(toKey, secret, altKey);
}

// The text of a value, plain or decrypted under key, into a wiping holder.
[[nodiscard]] int plainValue(KaValueParserW* parser, const uint16_t* name, const uint8_t* key,
                             KaMemoryBuffer& plain) noexcept
{
    KaStringW* value = parser->getValueCStr(name);
    if (value != nullptr) {
        if (plain.allocPlain(value->len) != 0)
            return 1;
        if (value->len != 0)
            std::memcpy(plain.data, value->data, value->len * 2);
        plain.length = value->len;
        return 0;
    }
    int found = 0;
    KaMemoryBuffer secret;
    if (parser->getSecret(name, &found, secret) != 0)
        return 1;
    if (found == 0)
        return 0;
    return plain.decryptFrom(secret, key);
}

// One SQLBrowseConnect call on its connection: the level the browse is at,
// what the application gave, what the next level still needs.
class BrowseCall {
public:
    explicit BrowseCall(BaseConnection* connection) noexcept : conn(connection) {}
    ~BrowseCall()
    {
        delete given;
        delete snapshot;
    }
    BrowseCall(const BrowseCall&) = delete;
    BrowseCall& operator=(const BrowseCall&) = delete;

    // SQL_NEED_DATA with the reply, SQL_SUCCESS with the completed string,
    // or SQL_ERROR (the caller closes the connection).
    int16_t run(const uint16_t* in, size_t n) noexcept;

    KaStringW reply;
    KaStringWEx completed;

private:
    const BaseDriverAttr* rowOf(const KaSubStringW* key) const noexcept;
    [[nodiscard]] int begin(const uint16_t* in, size_t n) noexcept;
    [[nodiscard]] int consistent(bool* same) noexcept;
    [[nodiscard]] int levelComplete(bool* complete) noexcept;
    [[nodiscard]] int takeSnapshot() noexcept;
    [[nodiscard]] int accumulate() noexcept;
    [[nodiscard]] int open(bool* failed) noexcept;
    // takeGiven: values of the in-string may answer rows of the next level
    // (not after a changed value, when nothing of the call is taken).
    [[nodiscard]] int buildReply(bool takeGiven, bool* missing) noexcept;
    // The parser the options of a level are looked up with: the in-string's
    // when it names the driver (its section is found by it), else the
    // accumulated one, which keeps the driver an earlier call named.
    KaValueParserW* lookupParser() const noexcept
    {
        return given->hasKey(strUnits(u"DRIVER")) ? given : conn->browseParser;
    }
    bool passwordAtNextLevel() const noexcept
    {
        return conn->browsePasswordAsked != 0 && conn->browsePasswordLevel == conn->browseLevel + 1u;
    }

    BaseConnection* conn;
    KaValueParserW* given = nullptr;
    KaValueParserW* snapshot = nullptr;
};

const BaseDriverAttr* BrowseCall::rowOf(const KaSubStringW* key) const noexcept
{
    for (uint32_t r = 0; r < conn->driverAttrCount; ++r) {
        const BaseDriverAttr& row = conn->driverAttrs[r];
        if (sameKeyword(key->data, key->len, row.longKeyword) || sameKeyword(key->data, key->len, row.shortKeyword))
            return &row;
    }
    return nullptr;
}

int BrowseCall::begin(const uint16_t* in, size_t n) noexcept
{
    bool fresh = conn->browseFresh != 0 || conn->browseParser == nullptr;
    if (fresh) {
        delete conn->browseParser;
        conn->browseParser = nullptr;
        conn->browseLevel = 0;
        if (conn->drawConnectionKey() != 0)
            return 1;
        conn->browseParser = parseConnectString(conn, nullptr, 0);
        if (conn->browseParser == nullptr)
            return 1;
    }
    given = parseConnectString(conn, n != 0 ? in : nullptr, n);
    if (given == nullptr)
        return 1;
    if (given->hasKey(strUnits(u"DSN")) || fresh) {
        KaStringW name;
        KaStringW* dsn = given->getValueCStr(strUnits(u"DSN"));
        if (dsn != nullptr && name.assign(dsn->data != nullptr ? dsn->data : strUnits(u""), dsn->len) != 0)
            return 1;
        ramFree(conn->dsnNameW);
        conn->dsnNameW = nullptr;
        ramFree(conn->dsnNameA);
        conn->dsnNameA = nullptr;
        if (conn->checkDataSource(dsn != nullptr ? name.data : nullptr) != 0)
            return 1;
    }
    return 0;
}

int BrowseCall::consistent(bool* same) noexcept
{
    *same = true;
    BaseScopedKey key(conn->connectionKey);
    for (size_t i = 0; i < given->attributes.count && *same; ++i) {
        KaSubStringW* name = given->keyAt(i);
        const BaseDriverAttr* row = rowOf(name);
        if (row == nullptr || row->level > conn->browseLevel || !holdsRow(conn->browseParser, *row))
            continue;
        KaStringW keyText;
        if (keyText.assign(name->data, name->len) != 0)
            return 1;
        const uint16_t* heldKey =
            conn->browseParser->hasKey(strUnits(row->longKeyword)) ? strUnits(row->longKeyword) : keptKey(*row);
        KaMemoryBuffer now;
        KaMemoryBuffer before;
        if (plainValue(given, keyText.data, key.get(), now) != 0 ||
            plainValue(conn->browseParser, heldKey, key.get(), before) != 0)
            return 1;
        *same =
            now.length == before.length && (now.length == 0 || std::memcmp(now.data, before.data, now.length * 2) == 0);
    }
    return 0;
}

int BrowseCall::levelComplete(bool* complete) noexcept
{
    *complete = true;
    const uint32_t next = conn->browseLevel + 1u;
    KaValueParserW* lookup = lookupParser();
    for (uint32_t r = 0; r < conn->driverAttrCount && *complete; ++r) {
        const BaseDriverAttr& row = conn->driverAttrs[r];
        if (row.level != next || row.optional != 0 || holdsRow(given, row) || holdsRow(conn->browseParser, row))
            continue;
        const uint16_t* shortKey = hasShort(row) ? strUnits(row.shortKeyword) : nullptr;
        if (isShort(row, u"UID") || isShort(row, u"PWD")) {
            KaMemoryBuffer& holder = isShort(row, u"UID") ? conn->userId : conn->password;
            if (conn->readCredentialOption(lookup, shortKey, strUnits(row.longKeyword), nullptr, holder, nullptr) != 0)
                return 1;
            *complete = holder.length != 0;
            continue;
        }
        uint16_t* found = nullptr;
        if (conn->getOptionValue(lookup, shortKey, strUnits(row.longKeyword), nullptr, &found, nullptr, 0) != 0)
            return 1;
        RamWipedPtr<uint16_t> value(found, found != nullptr ? unitsOf(found, SQL_NTS) * 2 : 0);
        *complete = value.get() != nullptr;
        if (value && conn->browseParser->setValueCStr(keptKey(row), value.get(), nullptr) != 0)
            return 1;
    }
    // A password the driver requires at this level counts like a required
    // row: without it the open would only fail at the server.
    if (*complete && passwordAtNextLevel() && conn->browsePasswordRequired != 0 && !given->hasKey(strUnits(u"PWD")) &&
        !given->hasKey(strUnits(u"PASSWORD")) && !conn->browseParser->hasKey(strUnits(u"PWD")) &&
        !conn->browseParser->hasKey(strUnits(u"PASSWORD"))) {
        if (conn->readCredentialOption(lookup, strUnits(u"PWD"), strUnits(u"PASSWORD"), nullptr, conn->password,
                                       nullptr) != 0)
            return 1;
        *complete = conn->password.length != 0;
    }
    return 0;
}

int BrowseCall::takeSnapshot() noexcept
{
    KaValueParserW* from = conn->browseParser;
    if (from->resetUsed() != 0)
        return 1;
    snapshot = parseConnectString(conn, nullptr, 0);
    if (snapshot == nullptr)
        return 1;
    for (size_t i = 0; i < from->attributes.count; ++i) {
        KaSubStringW* name = from->keyAt(i);
        KaStringW keyText;
        if (keyText.assign(name->data, name->len) != 0 ||
            copyAttribute(from, keyText.data, snapshot, keyText.data, nullptr) != 0)
            return 1;
    }
    return from->resetUsed();
}

int BrowseCall::accumulate() noexcept
{
    KaValueParserW* to = conn->browseParser;
    for (size_t i = 0; i < given->attributes.count; ++i) {
        KaSubStringW* name = given->keyAt(i);
        KaStringW keyText;
        if (keyText.assign(name->data, name->len) != 0)
            return 1;
        const BaseDriverAttr* row = rowOf(name);
        int rc = 0;
        if (row != nullptr) {
            // A value of a level already passed stays as it was opened with.
            const uint16_t* altKey = hasShort(*row) ? strUnits(row->longKeyword) : nullptr;
            KaStringW* answer = given->getValueCStr(keyText.data);
            size_t choice = choiceValueLength(*row, answer);
            if (row->level <= conn->browseLevel)
                rc = 0;
            else if (choice != 0)
                rc = to->setValue(keptKey(*row), unitsOf(keptKey(*row), SQL_NTS), answer->data, choice, altKey,
                                  altKey != nullptr ? unitsOf(altKey, SQL_NTS) : 0);
            else
                rc = copyAttribute(given, keyText.data, to, keptKey(*row), altKey);
        } else if (sameKeyword(name->data, name->len, u"PWD") || sameKeyword(name->data, name->len, u"PASSWORD")) {
            if (passwordAtNextLevel())
                rc = copyAttribute(given, keyText.data, to, strUnits(u"PWD"), strUnits(u"PASSWORD"));
        } else if (!sameKeyword(name->data, name->len, u"DSN") && !sameKeyword(name->data, name->len, u"DRV")) {
            rc = copyAttribute(given, keyText.data, to, keyText.data, nullptr);
        }
        if (rc != 0)
            return 1;
    }
    return 0;
}

int BrowseCall::open(bool* failed) noexcept
{
    *failed = false;
    ++conn->browseLevel;
    int16_t rc;
    if (conn->narrowHooks()) {
        std::unique_ptr<KaValueParser> narrow(conn->makeNarrowParser(conn->browseParser));
        if (narrow == nullptr)
            return 1;
        rc = conn->openBrowsedA(narrow.get());
        conn->copyUsedMarks(narrow.get(), conn->browseParser);
    } else {
        rc = conn->openBrowsed(conn->browseParser);
    }
    if (rc != 0)
        return 1;
    KaErrorList* list = KaErrorCurrentList();
    if ((list != nullptr && list->hasErrors()) || !conn->isConnected()) {
        // The open's diagnostics are kept, as warnings, and the browse goes
        // back to what it held before this call.
        *failed = true;
        --conn->browseLevel;
        if (list != nullptr)
            list->demoteAll();
        delete conn->browseParser;
        conn->browseParser = snapshot;
        snapshot = nullptr;
    }
    return 0;
}

int BrowseCall::buildReply(bool takeGiven, bool* missing) noexcept
{
    *missing = false;
    const uint32_t next = conn->browseLevel + 1u;
    KaValueParserW* to = conn->browseParser;
    for (uint32_t r = 0; r < conn->driverAttrCount; ++r) {
        const BaseDriverAttr& row = conn->driverAttrs[r];
        if (row.level != next || holdsRow(to, row) || isShort(row, u"XO"))
            continue;
        const uint16_t* shortKey = hasShort(row) ? strUnits(row.shortKeyword) : nullptr;
        if (isShort(row, u"UID") || isShort(row, u"PWD")) {
            if ((isShort(row, u"UID") ? conn->userId : conn->password).length != 0)
                continue;
        } else if (takeGiven) {
            uint16_t* found = nullptr;
            if (conn->getOptionValue(given, shortKey, strUnits(row.longKeyword), nullptr, &found, nullptr, 0) != 0)
                return 1;
            RamPtr<uint16_t> value(found);
            if (value != nullptr && to->setValueCStr(keptKey(row), value.get(), nullptr) != 0)
                return 1;
            if (value != nullptr)
                continue;
        }
        if (row.optional != 0) {
            if (reply.appendChar('*') != 0)
                return 1;
        } else {
            *missing = true;
        }
        if (shortKey != nullptr &&
            (reply.append(shortKey, unitsOf(shortKey, SQL_NTS)) != 0 || reply.appendChar(':') != 0))
            return 1;
        if (reply.append(strUnits(row.longKeyword), unitsOf(strUnits(row.longKeyword), SQL_NTS)) != 0 ||
            reply.appendChar('=') != 0)
            return 1;
        KaStringW hookText;
        int16_t hooked = conn->browseAttrHook(shortKey != nullptr ? shortKey : strUnits(u""), hookText,
                                              conn->driverAttrs, conn->driverAttrCount);
        if (hooked < 0)
            return 1;
        int rc;
        if (hooked > 0)
            rc = reply.append(hookText.data != nullptr ? hookText.data : strUnits(u""), hookText.len);
        else if (row.kind == kBaseAttrKindList && row.choices != nullptr)
            rc = reply.appendChar('{') != 0 ||
                 reply.append(strUnits(row.choices), unitsOf(strUnits(row.choices), SQL_NTS)) != 0 ||
                 reply.appendChar('}') != 0;
        else
            rc = reply.appendChar('?');
        if (rc != 0 || reply.appendChar(';') != 0)
            return 1;
    }
    if (passwordAtNextLevel() && !to->hasKey(strUnits(u"PWD")) && !to->hasKey(strUnits(u"PASSWORD")) &&
        conn->password.length == 0) {
        if (conn->browsePasswordRequired != 0)
            *missing = true;
        else if (reply.appendChar('*') != 0)
            return 1;
        if (reply.append(strUnits(u"PWD:Password=?;"), 15) != 0)
            return 1;
    }
    return 0;
}

int16_t BrowseCall::run(const uint16_t* in, size_t n) noexcept
{
    if (begin(in, n) != 0)
        return SQL_ERROR;
    bool same = true;
    if (consistent(&same) != 0)
        return SQL_ERROR;
    bool openFailed = false;
    if (!same) {
        // A value the browse already went on with changed: nothing of this
        // call is taken, and the same question is asked again.
        basePostWarning(kBaseIdxBadConnAttr);
    } else {
        bool complete = false;
        if (levelComplete(&complete) != 0 || takeSnapshot() != 0 || accumulate() != 0)
            return SQL_ERROR;
        // The framework's options come from everything the browse holds, so
        // that a setting given in an earlier call is not lost at the open;
        // the credentials come back from there or from the data source.
        KaStringWEx all;
        conn->password.clear();
        conn->userId.clear();
        {
            BaseScopedKey key(conn->connectionKey);
            if (conn->browseParser->resetUsed() != 0 || conn->browseParser->buildDecrypted(all, key.get(), ';') != 0)
                return SQL_ERROR;
        }
        if (conn->readConnectOptions(all.data, static_cast<int64_t>(all.len), conn->browseParser, 1) != 0)
            return SQL_ERROR;
        bool onlyDriver = conn->browseFresh != 0;
        for (size_t i = 0; i < given->attributes.count && onlyDriver; ++i) {
            KaSubStringW* name = given->keyAt(i);
            onlyDriver = sameKeyword(name->data, name->len, u"DRV");
        }
        if (complete && !onlyDriver && open(&openFailed) != 0)
            return SQL_ERROR;
    }
    bool missing = false;
    if (buildReply(same, &missing) != 0)
        return SQL_ERROR;
    if (openFailed)
        return SQL_ERROR;
    conn->browseFresh = 0;
    // Until a level has been opened there is no connection to report, even
    // when the driver asks for nothing more.
    if (missing || conn->browseLevel == 0 || !conn->isConnected())
        return SQL_NEED_DATA;
    if (conn->buildOutConnectString(completed, conn->browseParser) != 0)
        return SQL_ERROR;
    if (conn->failoverMode != 0 && conn->handle != nullptr && conn->handle->reconnecting == 0 &&
        conn->handle->storeConnectString(completed.data, static_cast<int64_t>(completed.len)) != 0)
        return SQL_ERROR;
    delete conn->browseParser;
    conn->browseParser = nullptr;
    conn->browseFresh = 1;
    return SQL_SUCCESS;
}

// One SQLDriverConnect after its entry step: SQL_SUCCESS (the completed
// string copied out), SQL_NO_DATA when the prompt was cancelled or nothing
// connected, SQL_ERROR with the diagnostics posted.
[[nodiscard]] int16_t driverConnectOnce(BaseConnection* conn, void* window, const uint16_t* in, size_t n, uint16_t* out,
                                        int16_t outCapacity, int16_t* outLength, uint16_t completion) noexcept
{
    if (conn->drawConnectionKey() != 0)
        return SQL_ERROR;
    std::unique_ptr<KaValueParserW> parser(parseConnectString(conn, in, n));
    if (parser == nullptr)
        return SQL_ERROR;
    if (parser->hasKey(strUnits(u"DSN"))) {
        KaStringW* dsn = parser->getValueCStr(strUnits(u"DSN"));
        KaStringW name;
        if (name.assign(dsn != nullptr && dsn->data != nullptr ? dsn->data : strUnits(u""),
                        dsn != nullptr ? dsn->len : 0) != 0 ||
            conn->checkDataSource(name.data) != 0)
            return SQL_ERROR;
    } else if (!parser->hasKey(strUnits(u"DRIVER"))) {
        if (conn->checkDataSource(nullptr) != 0)
            return SQL_ERROR;
    }
    int32_t cancelled = 0;
    uint16_t asked = conn->driverCompatibility == 1 ? SQL_DRIVER_NOPROMPT : completion;
    if (conn->promptHookAny(window, asked, &cancelled, parser.get()) != 0)
        return SQL_ERROR;
    if (cancelled != 0)
        return SQL_NO_DATA;
    uint16_t* serverList = nullptr;
    uint64_t retryCount = 0;
    uint64_t retryDelay = 0;
    int32_t loadBalance = 0;
    bool read = conn->readConnectOptions(in, static_cast<int64_t>(n), parser.get(), 1) == 0 &&
                conn->readDriverOptionsAny(parser.get(), window) == 0 &&
                conn->getAlternateServers(&serverList, &retryCount, &retryDelay, &loadBalance, parser.get()) == 0;
    RamPtr<uint16_t> servers(serverList);
    if (!read)
        return SQL_ERROR;
    conn->warnUnusedAttributes(parser.get());
    asked = conn->driverCompatibility == 1 ? SQL_DRIVER_NOPROMPT : completion;
    if (conn->connectToServers(servers.get(), retryCount, retryDelay, loadBalance, in, static_cast<int64_t>(n), window,
                               asked, parser.get()) != 0)
        return SQL_ERROR;
    if (!conn->isConnected())
        return SQL_NO_DATA;
    // The completed string: what the application gave, with the data
    // source and the credentials the connect used.
    if ((conn->dsnNameW != nullptr && parser->setValueCStr(strUnits(u"DSN"), conn->dsnNameW, nullptr) != 0) ||
        putCredential(parser.get(), conn->userId, u"UID", u"LOGONID") != 0 ||
        putCredential(parser.get(), conn->password, u"PWD", u"PASSWORD") != 0)
        return SQL_ERROR;
    if ((conn->workarounds2 & kBaseWa2DefaultDsnInOutString) != 0 && !parser->hasKey(strUnits(u"DSN")) &&
        conn->password.length != 0 && parser->setValueCStr(strUnits(u"DSN"), strUnits(u"DEFAULT"), nullptr) != 0)
        return SQL_ERROR;
    KaStringWEx scratch;
    if (conn->buildOutConnectString(scratch, parser.get()) != 0)
        return SQL_ERROR;
    KaStringWEx completed;
    {
        BaseScopedKey key(conn->connectionKey);
        if (parser->buildDecrypted(completed, key.get(), ';') != 0)
            return SQL_ERROR;
    }
    if ((conn->workarounds & kBaseWaSpellOutDatabase) != 0 && spellOutDatabaseKeyword(completed) != 0)
        return SQL_ERROR;
    BaseStubConnection* handle = conn->handle;
    if (conn->failoverMode != 0 && handle != nullptr && handle->reconnecting == 0 &&
        handle->storeConnectString(completed.data, static_cast<int64_t>(completed.len)) != 0)
        return SQL_ERROR;
    return copyOut(completed.data != nullptr ? completed.data : strUnits(u""), completed.len, out, outCapacity,
                   outLength);
}

}  // namespace

bool basePostDataSourceMissing(const uint16_t* name) noexcept
{
    char userFile[BOS_PATH_SIZE];
    char systemFile[BOS_PATH_SIZE];
    if (KaDataSourceMissing(name, userFile, systemFile, sizeof userFile) == 0)
        return false;
    KaStringW text;
    const char* shown = text.assign(name, strLenOrZeroW(name)) == 0 ? text.toNarrow(KA_TEXT_UTF8) : nullptr;
    basePostErrorMsg(kBaseIdxUnableToConnect, MSG_DATA_SOURCE_NOT_FOUND)
        ->addParamText(shown != nullptr ? shown : "")
        ->addParamText(userFile)
        ->addParamText(systemFile);
    return true;
}

int16_t BaseConnection::connect(const uint16_t* dsn, int16_t dsnLength, const uint16_t* user, int16_t userLength,
                                const uint16_t* authentication, int16_t authenticationLength) noexcept
{
    return runApi(SQL_API_SQLCONNECT, [&]() noexcept -> int16_t {
        if ((workarounds & kBaseWaConnectNoOp) != 0)
            return SQL_SUCCESS;
        KaStringW name;
        KaStringW text;
        size_t n = unitsOf(dsn, dsnLength);
        // A data source in neither odbc.ini leaves SQLConnect nothing to
        // connect with: it ends here, naming the files searched.
        bool ok =
            name.assign(dsn != nullptr ? dsn : strUnits(u""), n) == 0 && checkDataSource(name.data) == 0 &&
            !basePostDataSourceMissing(name.data) && drawConnectionKey() == 0 &&
            setUserId(user != nullptr ? user : strUnits(u""), static_cast<int64_t>(unitsOf(user, userLength))) == 0 &&
            setPassword(authentication != nullptr ? authentication : strUnits(u""),
                        static_cast<int64_t>(unitsOf(authentication, authenticationLength))) == 0 &&
            promptHookAny(nullptr, 0, nullptr, nullptr) == 0 && text.append(strUnits(u"DSN="), 4) == 0 &&
            text.append(name.data, name.len) == 0;
        uint16_t* servers = nullptr;
        uint64_t retryCount = 0;
        uint64_t retryDelay = 0;
        int32_t loadBalance = 0;
        ok = ok && readConnectOptions(text.data, static_cast<int64_t>(text.len), nullptr, 0) == 0 &&
             readDriverOptionsAny(nullptr, nullptr) == 0 &&
             getAlternateServers(&servers, &retryCount, &retryDelay, &loadBalance, nullptr) == 0 &&
             connectToServers(servers, retryCount, retryDelay, loadBalance, text.data, static_cast<int64_t>(text.len),
                              nullptr, SQL_DRIVER_NOPROMPT, nullptr) == 0;
        ramFree(servers);
        if (ok && failoverMode != 0 && handle != nullptr && handle->reconnecting == 0) {
            // The reconnect string carries the credentials: they stay
            // encrypted until the wiping string is built, which goes
            // encrypted to the handle.
            KaStringWEx reconnect;
            std::unique_ptr<KaValueParserW> parser(new KaValueParserW(strUnits(u""), 0, ';', nullptr, 0));
            BaseScopedKey key(connectionKey);
            ok = parser != nullptr && parser->setValueCStr(strUnits(u"DSN"), name.data, nullptr) == 0 &&
                 parser->setSecret(strUnits(u"UID"), userId, nullptr) == 0 &&
                 parser->setSecret(strUnits(u"PWD"), password, nullptr) == 0 &&
                 parser->buildDecrypted(reconnect, key.get(), ';') == 0 &&
                 handle->storeConnectString(reconnect.data, static_cast<int64_t>(reconnect.len)) == 0;
        }
        if (!ok) {
            (void)closeConnection();
            return SQL_ERROR;
        }
        return SQL_SUCCESS;
    });
}

int16_t BaseConnection::driverConnect(void* window, const uint16_t* in, int16_t inLength, uint16_t* out,
                                      int16_t outCapacity, int16_t* outLength, uint16_t completion) noexcept
{
    if (outLength != nullptr)
        *outLength = 0;
    if (out != nullptr && outCapacity > 0)
        out[0] = 0;
    return runApi(SQL_API_SQLDRIVERCONNECT, [&]() noexcept -> int16_t {
        size_t n = unitsOf(in, inLength);
        if ((workarounds & kBaseWaConnectNoOp) != 0)
            return copyOut(in != nullptr ? in : strUnits(u""), n, out, outCapacity, outLength);
        int16_t rc = driverConnectOnce(this, window, in, n, out, outCapacity, outLength, completion);
        if (rc == SQL_ERROR || rc == SQL_NO_DATA)
            (void)closeConnection();
        return rc;
    });
}

int16_t BaseConnection::browseConnect(const uint16_t* in, int16_t inLength, uint16_t* out, int16_t outCapacity,
                                      int16_t* outLength) noexcept
{
    if (outLength != nullptr)
        *outLength = 0;
    if (out != nullptr && outCapacity > 0)
        out[0] = 0;
    return runApi(SQL_API_SQLBROWSECONNECT, [&]() noexcept {
        size_t n = unitsOf(in, inLength);
        BrowseCall call{this};
        int16_t rc = call.run(in, n);
        if (rc == SQL_NEED_DATA) {
            // A cut reply still asks for more: the application must not take
            // it for a connection.
            (void)copyOut(call.reply.data != nullptr ? call.reply.data : strUnits(u""), call.reply.len, out,
                          outCapacity, outLength);
        } else if (rc != SQL_ERROR) {
            rc = copyOut(call.completed.data != nullptr ? call.completed.data : strUnits(u""), call.completed.len, out,
                         outCapacity, outLength);
        }
        if (rc == SQL_ERROR)
            (void)closeConnection();
        return rc;
    });
}

int16_t BaseConnection::disconnect() noexcept
{
    if ((workarounds & kBaseWaConnectNoOp) != 0)
        return SQL_SUCCESS;
    return runApi(SQL_API_SQLDISCONNECT, [&]() noexcept -> int16_t {
        if ((connectionFlags & kBaseConnTransactionActive) != 0 || xaState == 2) {
            uint32_t dead = SQL_CD_FALSE;
            if (getConnectAttrDefault(SQL_ATTR_CONNECTION_DEAD, &dead) != 0)
                return SQL_ERROR;
            if (dead != SQL_CD_TRUE) {
                basePostError(kBaseIdxInvalidTransactionState);
                return SQL_ERROR;
            }
        }
        // What the application set on this connection carries over to the
        // handle's next connect; the recorded settings end with the link.
        int16_t rc = SQL_SUCCESS;
        if (isConnected() && handle != nullptr && saveBufferedAttrs() != 0)
            rc = SQL_ERROR;
        if (closeConnection() != 0)
            rc = SQL_ERROR;
        return rc;
    });
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
    const KaDiagMark mark;
    KaNode* node = statements.first();
    for (size_t i = 0; i < statements.count && node != nullptr; ++i, node = node->next)
        if (static_cast<BaseStatement*>(node)->resetStatement() != 0)
            resetFailed = true;
    if (resetFailed) {
        uint32_t dead = SQL_CD_FALSE;
        if (getConnectAttrDefault(SQL_ATTR_CONNECTION_DEAD, &dead) != 0 || dead != SQL_CD_TRUE)
            return 1;
        mark.demote();
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
