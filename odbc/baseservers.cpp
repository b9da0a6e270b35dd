// The server passes of a connect: the primary server and the alternates of
// ALTERNATESERVERS tried in turn, the retry passes with their delay, load
// balancing, and what a later reconnect needs from the attempt that worked.
#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <iterator>
#include <cstring>

#include "foundation/errpost.h"
#include "foundation/fast.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/karandom.h"
#include "foundation/numtext.h"
#include "foundation/ram.h"
#include "foundation/kastr.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/kavalueparser.h"
#include "platform/bosenv.h"

namespace {

// The text standing for "ALTERNATESERVERS not given".
const char16_t kNoServers[] = u"abcdefghijklmnopqrstuvwxyz";

// The load-balancing seed: one value for the process, so that successive
// connects start at different servers. Threads update it by compare and
// swap, so that no update is lost and none reads a torn value.
std::atomic<int64_t> gBalanceSeed{-1};

int64_t advanceSeed(int64_t seed) noexcept
{
    if (seed < 0) {
        uint32_t drawn = 0;
        if (KaRandomBytes(&drawn, sizeof drawn) != 0)
            drawn = 0;
        return static_cast<int64_t>(drawn & 0x7FFFFFFF);
    }
    return seed <= 1000000000 ? seed + 9901 : seed % 9973;
}

int64_t nextBalanceSeed() noexcept
{
    int64_t seen = gBalanceSeed.load();
    int64_t next = advanceSeed(seen);
    while (!gBalanceSeed.compare_exchange_weak(seen, next))
        next = advanceSeed(seen);
    return next;
}

}  // namespace

void baseSetBalanceSeed(int64_t seed) noexcept
{
    gBalanceSeed.store(seed);
}

namespace {

bool isBlank(uint16_t u) noexcept
{
    return u == ' ' || u == '\t' || u == '\r' || u == '\n' || u == 0x0B || u == 0x0C || u == 0x85 || u == 0xA0 ||
           u == 0x2028 || u == 0x2029 || u == 0x3000 || (u >= 0x2000 && u <= 0x200A);
}

bool sameNoCase(const uint16_t* a, size_t an, const uint16_t* b, size_t bn) noexcept
{
    if (an != bn)
        return false;
    for (size_t i = 0; i < an; ++i) {
        uint16_t x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<uint16_t>(a[i] - 32) : a[i];
        uint16_t y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<uint16_t>(b[i] - 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

// The driver's server keywords, walked in parallel.
struct ServerKeyword {
    const uint16_t* longKey;
    size_t longLength;
    const uint16_t* shortKey;
    size_t shortLength;
    const uint16_t* defaultValue;
    size_t defaultLength;
    bool optional;
};

size_t collectKeywords(const uint16_t* longs, const uint16_t* shorts, const uint16_t* defaults,
                       ServerKeyword* out) noexcept
{
    size_t count = 0;
    while (longs != nullptr && longs[0] != 0 && count < kBaseServerMaxAttrs) {
        ServerKeyword& k = out[count++];
        size_t ln = strLenOrZeroW(longs);
        k.optional = longs[0] == '*';
        k.longKey = k.optional ? longs + 1 : longs;
        k.longLength = k.optional ? ln - 1 : ln;
        k.shortKey = shorts;
        k.shortLength = shorts != nullptr ? strLenOrZeroW(shorts) : 0;
        if (k.shortLength != 0 && shorts[0] == '*') {
            ++k.shortKey;
            --k.shortLength;
        }
        k.defaultValue = defaults;
        k.defaultLength = defaults != nullptr ? strLenOrZeroW(defaults) : 0;
        longs += ln + 1;
        if (shorts != nullptr)
            shorts += strLenOrZeroW(shorts) + 1;
        if (defaults != nullptr)
            defaults += strLenOrZeroW(defaults) + 1;
    }
    return count;
}

[[nodiscard]] bool addAttr(ServerEntry& entry, const ServerKeyword& k, const uint16_t* value,
                           size_t valueLength) noexcept
{
    if (entry.count >= kBaseServerMaxAttrs)
        return false;
    entry.attrs[entry.count++] = {k.longKey, k.longLength, value, valueLength, k.shortKey, k.shortLength};
    return true;
}

KaError* postSyntax(const uint16_t* at) noexcept
{
    return errPost(MSG_ALTERNATE_SERVERS_SYNTAX)->addParamW(at);
}

KaError* postKeyword(uint16_t msg, const uint16_t* key, size_t n) noexcept
{
    KaSubStringW text(key, n);
    return errPost(msg)->addParamSubStringW(text);
}

// Parses "(k=v:k=v, k=v)" into entries[first...]; *count gets the total.
[[nodiscard]] bool parseServers(const uint16_t* text, const ServerKeyword* keys, size_t keyCount, ServerEntry* entries,
                                size_t capacity, size_t* count) noexcept
{
    const uint16_t* p = text;
    if (*p != '(') {
        postSyntax(p);
        return false;
    }
    ++p;
    while (true) {
        if (*count >= capacity) {
            postSyntax(p);
            return false;
        }
        ServerEntry& entry = entries[(*count)++];
        entry = ServerEntry{};
        bool given[kBaseServerMaxAttrs] = {};
        while (true) {
            while (isBlank(*p))
                ++p;
            const uint16_t* key = p;
            while (*p != 0 && *p != '=' && *p != ',' && *p != ')' && *p != ':' && !isBlank(*p))
                ++p;
            size_t keyLength = static_cast<size_t>(p - key);
            while (isBlank(*p))
                ++p;
            if (keyLength == 0 || *p != '=') {
                postSyntax(key);
                return false;
            }
            size_t k = 0;
            for (; k < keyCount; ++k)
                if (sameNoCase(key, keyLength, keys[k].longKey, keys[k].longLength) ||
                    (keys[k].shortLength != 0 && sameNoCase(key, keyLength, keys[k].shortKey, keys[k].shortLength)))
                    break;
            if (k == keyCount) {
                postKeyword(MSG_ALTERNATE_SERVERS_UNKNOWN_KEYWORD, key, keyLength);
                return false;
            }
            if (given[k]) {
                postKeyword(MSG_ALTERNATE_SERVERS_DUPLICATE_KEYWORD, keys[k].longKey, keys[k].longLength);
                return false;
            }
            given[k] = true;
            ++p;
            while (isBlank(*p))
                ++p;
            const uint16_t* value = p;
            size_t valueLength = 0;
            if (*p == '"') {
                ++p;
                while (isBlank(*p))
                    ++p;
                value = p;
                while (*p != 0 && *p != '"')
                    ++p;
                if (*p != '"') {
                    postSyntax(value);
                    return false;
                }
                const uint16_t* end = p;
                while (end > value && isBlank(end[-1]))
                    --end;
                valueLength = static_cast<size_t>(end - value);
                ++p;
            } else if (*p == '{') {
                // A braced value runs to its closing brace; "}}" is a brace.
                ++p;
                while (*p != 0 && !(*p == '}' && p[1] != '}'))
                    p += *p == '}' ? 2 : 1;
                if (*p != '}') {
                    postSyntax(value);
                    return false;
                }
                ++p;
                valueLength = static_cast<size_t>(p - value);
            } else {
                while (*p != 0 && *p != ':' && *p != ',' && *p != ')' && !isBlank(*p))
                    ++p;
                valueLength = static_cast<size_t>(p - value);
            }
            if (valueLength == 0) {
                postSyntax(value);
                return false;
            }
            if (!addAttr(entry, keys[k], value, valueLength)) {
                postSyntax(value);
                return false;
            }
            while (isBlank(*p))
                ++p;
            if (*p == ':') {
                ++p;
                continue;
            }
            break;
        }
        for (size_t k = 0; k < keyCount; ++k) {
            if (given[k])
                continue;
            if (!keys[k].optional) {
                postKeyword(MSG_ALTERNATE_SERVERS_MISSING_KEYWORD, keys[k].longKey, keys[k].longLength);
                return false;
            }
            if (keys[k].defaultLength != 0 && !addAttr(entry, keys[k], keys[k].defaultValue, keys[k].defaultLength))
                return false;
        }
        if (*p == ',') {
            ++p;
            continue;
        }
        if (*p == ')')
            return true;
        postSyntax(p);
        return false;
    }
}

// A value as the connection string wants it: braces around a braced
// value go, "}}" gives "}".
[[nodiscard]] int setServerAttr(KaValueParserW* parser, const BaseServerAttr& a) noexcept
{
    KaStringW key;
    KaStringW value;
    const uint16_t* v = a.value;
    size_t n = a.valueLength;
    int failed = 0;
    if (n >= 2 && v[0] == '{' && v[n - 1] == '}') {
        for (size_t i = 1; i + 1 < n && failed == 0; ++i) {
            if (v[i] == '}' && i + 2 < n)
                ++i;
            failed = value.appendChar(v[i]);
        }
    } else {
        failed = value.append(v, n);
    }
    if (failed != 0 || value.appendChar(0) != 0)
        return 1;
    --value.len;
    const uint16_t* k = a.shortLength != 0 ? a.shortKey : a.longKey;
    size_t kn = a.shortLength != 0 ? a.shortLength : a.longLength;
    if (key.append(k, kn) != 0 || key.appendChar(0) != 0)
        return 1;
    parser->removeKey(key.data);
    if (a.shortLength != 0) {
        KaStringW longKey;
        if (longKey.append(a.longKey, a.longLength) != 0 || longKey.appendChar(0) != 0)
            return 1;
        parser->removeKey(longKey.data);
    }
    return parser->setValueCStr(key.data, value.data, nullptr);
}

void removeServerKeys(KaValueParserW* parser, const ServerKeyword* keys, size_t count) noexcept
{
    for (size_t i = 0; i < count; ++i) {
        KaStringW key;
        if (key.append(keys[i].longKey, keys[i].longLength) == 0 && key.appendChar(0) == 0)
            parser->removeKey(key.data);
        KaStringW shortKey;
        if (keys[i].shortLength != 0 && shortKey.append(keys[i].shortKey, keys[i].shortLength) == 0 &&
            shortKey.appendChar(0) == 0)
            parser->removeKey(shortKey.data);
    }
}

// Only unable-to-connect, a lost link and a time-out let the next server
// or pass be tried.
bool failureIsRetryable() noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list == nullptr)
        return false;
    for (size_t i = 0; i < list->recordCount(); ++i) {
        KaError* record = list->recordAt(i);
        if (record != nullptr && (record->sqlstateMsg == kBaseIdxUnableToConnect ||
                                  record->sqlstateMsg == kBaseIdxLinkFailure || record->sqlstateMsg == kBaseIdxTimeout))
            return true;
    }
    return false;
}

void clearThreadDiagnostics() noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list != nullptr)
        list->clear();
}

// "key=value" pairs of one server joined by sep (long keywords when asked).
[[nodiscard]] int serverText(KaStringW& out, const ServerEntry& entry, uint16_t sep, bool longKeys) noexcept
{
    for (size_t i = 0; i < entry.count; ++i) {
        const BaseServerAttr& a = entry.attrs[i];
        bool useShort = !longKeys && a.shortLength != 0;
        if ((i != 0 && out.appendChar(sep) != 0) ||
            out.append(useShort ? a.shortKey : a.longKey, useShort ? a.shortLength : a.longLength) != 0 ||
            out.appendChar('=') != 0 || out.append(a.value, a.valueLength) != 0)
            return 1;
    }
    return 0;
}

// The primary server's entry: each server keyword as the options give it
// (its default when it has one); keywords without a value are left out.
// 0, or 1 (primary.owned, when set, is the caller's to free).
[[nodiscard]] int16_t lookUpPrimary(BaseConnection* conn, KaValueParserW* parser, const ServerKeyword* keys,
                                    size_t keyCount, ServerEntry& primary) noexcept
{
    KaStringW values;
    size_t offsets[kBaseServerMaxAttrs] = {};
    size_t lengths[kBaseServerMaxAttrs] = {};
    const ServerKeyword* kept[kBaseServerMaxAttrs] = {};
    size_t keptCount = 0;
    for (size_t i = 0; i < keyCount; ++i) {
        KaStringW longKey;
        KaStringW shortKey;
        uint16_t* found = nullptr;
        KaStringW def;
        if (longKey.append(keys[i].longKey, keys[i].longLength) != 0 || longKey.appendChar(0) != 0 ||
            shortKey.append(keys[i].shortKey != nullptr ? keys[i].shortKey : strUnits(u""), keys[i].shortLength) != 0 ||
            shortKey.appendChar(0) != 0 ||
            def.append(keys[i].defaultValue != nullptr ? keys[i].defaultValue : strUnits(u""), keys[i].defaultLength) !=
                0 ||
            def.appendChar(0) != 0 ||
            conn->getOptionValue(parser, keys[i].shortLength != 0 ? shortKey.data : nullptr, longKey.data,
                                 keys[i].defaultLength != 0 ? def.data : nullptr, &found, nullptr, 0) != 0) {
            return 1;
        }
        RamPtr<uint16_t> value(found);
        if (value != nullptr && value.get()[0] != 0) {
            offsets[keptCount] = values.len;
            lengths[keptCount] = strLenOrZeroW(value.get());
            kept[keptCount++] = &keys[i];
            if (values.append(value.get(), strLenOrZeroW(value.get())) != 0)
                return 1;
        }
    }
    primary.owned = strDupNW(values.data != nullptr ? values.data : strUnits(u""), values.len);
    if (primary.owned == nullptr) {
        return 1;
    }
    for (size_t i = 0; i < keptCount; ++i)
        (void)addAttr(primary, *kept[i], primary.owned + offsets[i], lengths[i]);
    return 0;
}

}  // namespace

int16_t BaseConnection::getAlternateServers(uint16_t** list, uint64_t* retryCount, uint64_t* retryDelay,
                                            int32_t* loadBalance, KaValueParserW* parser) noexcept
{
    *list = nullptr;
    *retryCount = 0;
    *retryDelay = 3;
    *loadBalance = 0;
    uint16_t* value = nullptr;
    if (driverServersFlag != 0) {
        if (driverServers(list) != 0)
            return 1;
    } else {
        if (getOptionValue(parser, strUnits(u"ASRV"), strUnits(u"ALTERNATESERVERS"), strUnits(kNoServers), &value,
                           nullptr, 0) != 0)
            return 1;
        bool notGiven = value != nullptr && strLenOrZeroW(value) == std::size(kNoServers) - 1 &&
                        std::memcmp(value, kNoServers, sizeof kNoServers - 2) == 0;
        if (value != nullptr && value[0] != 0 && !notGiven) {
            *list = value;
            value = nullptr;
        }
        ramFree(value);
        value = nullptr;
    }
    struct Number {
        const char16_t* shortKey;
        const char16_t* longKey;
        const char16_t* def;
        uint64_t* out;
        uint64_t fallback;
    };
    const Number numbers[] = {{u"CRC", u"CONNECTIONRETRYCOUNT", u"0", retryCount, 0},
                              {u"CRD", u"CONNECTIONRETRYDELAY", u"3", retryDelay, 3}};
    for (const Number& number : numbers) {
        if (getOptionValue(parser, strUnits(number.shortKey), strUnits(number.longKey), strUnits(number.def), &value,
                           nullptr, 0) != 0)
            return 1;
        if (textWToU64(value, number.out) != 0) {
            KaErrorList* errors = KaErrorCurrentList();
            if (errors != nullptr)
                errors->discardLast();
            *number.out = number.fallback;
        }
        ramFree(value);
        value = nullptr;
    }
    if (getOptionValue(parser, strUnits(u"LB"), strUnits(u"LOADBALANCING"), strUnits(u"0"), &value, nullptr, 0) != 0)
        return 1;
    *loadBalance = driverServersFlag != 0 || (value != nullptr && value[0] != '0') ? 1 : 0;
    ramFree(value);
    return 0;
}

int16_t BaseConnection::connectToServers(const uint16_t* servers, uint64_t retryCount, uint64_t retryDelay,
                                         int32_t loadBalance, const uint16_t* text, int64_t length, void* window,
                                         uint16_t completion, KaValueParserW* parser) noexcept
{
    ServerKeyword keys[kBaseServerMaxAttrs];
    size_t keyCount = collectKeywords(hostKeyword(), hostKeywordShort(), hostKeywordAlt(), keys);
    bool haveServers = servers != nullptr && servers[0] != 0;
    if (haveServers && keyCount == 0) {
        errPost(MSG_NO_SERVER_KEYWORDS);
        return 1;
    }
    if ((haveServers || retryCount != 0) && completion != SQL_DRIVER_NOPROMPT && driverServersFlag == 0) {
        errPost(MSG_ALTERNATE_SERVERS_NEED_NOPROMPT);
        return 1;
    }
    size_t n = length == SQL_NTS ? strLenOrZeroW(text) : static_cast<size_t>(length);
    ServerEntry* entries = nullptr;
    size_t serverCount = 0;
    auto release = [&]() noexcept {
        if (entries != nullptr) {
            for (size_t i = 0; i < serverCount; ++i)
                ramFree(entries[i].owned);
            ramFree(entries);
        }
    };
    if (haveServers) {
        size_t capacity = 2;
        for (const uint16_t* p = servers; *p != 0; ++p)
            capacity += *p == ',' ? 1 : 0;
        entries = static_cast<ServerEntry*>(ramAlloc(capacity * sizeof(ServerEntry)));
        if (entries == nullptr)
            return 1;
        std::memset(entries, 0, capacity * sizeof(ServerEntry));
        if (driverServersFlag == 0) {
            // The primary server: the server keywords as the options give them.
            ServerEntry& primary = entries[serverCount++];
            if (lookUpPrimary(this, parser, keys, keyCount, primary) != 0) {
                release();
                return 1;
            }
        }
        if (!parseServers(servers, keys, keyCount, entries, capacity, &serverCount)) {
            release();
            return 1;
        }
    }

    int64_t start = 0;
    bool reconnectingNow = handle != nullptr && handle->reconnecting != 0;
    bool connected = false;
    bool firstAttempt = true;
    size_t chosen = 0;
    for (uint64_t pass = 0; pass <= retryCount && !connected; ++pass) {
        size_t attempts = serverCount != 0 ? serverCount : 1;
        // A balanced pass starts at a server of chance and steps through
        // the list from there, so that it tries every server once.
        if (loadBalance != 0 && serverCount != 0)
            start = nextBalanceSeed() % static_cast<int64_t>(serverCount);
        for (size_t i = 0; i < attempts; ++i) {
            bool setUp = serverCount != 0 && !(pass == 0 && i == 0 && loadBalance == 0 && !reconnectingNow);
            firstAttempt = pass == 0 && i == 0;
            if (setUp) {
                size_t index = i;
                if (reconnectingNow) {
                    index = static_cast<size_t>(handle->nextServerIndex % serverCount);
                } else if (loadBalance != 0) {
                    index = (static_cast<size_t>(start) + i) % serverCount;
                }
                if (handle != nullptr)
                    handle->nextServerIndex = (index + 1) % serverCount;
                chosen = index;
                // The next server's options are read afresh; the
                // credentials and the data source stay.
                KaMemoryBuffer keptUser;
                KaMemoryBuffer keptPassword;
                bool ok = keptUser.copyFrom(userId) == 0 && keptPassword.copyFrom(password) == 0;
                uint16_t* keptDsn = dsnNameW;
                dsnNameW = nullptr;
                int32_t keptFailover = failoverMode;
                // A browse under way keeps its attributes: the caller's
                // parser may be the browse's own.
                KaValueParserW* keptBrowse = browseParser;
                uint16_t keptLevel = browseLevel;
                int32_t keptFresh = browseFresh;
                browseParser = nullptr;
                (void)closeConnection();
                ramFree(dsnNameW);
                dsnNameW = keptDsn;
                failoverMode = keptFailover;
                browseParser = keptBrowse;
                browseLevel = keptLevel;
                browseFresh = keptFresh;
                ok = ok && userId.copyFrom(keptUser) == 0 && password.copyFrom(keptPassword) == 0;
                KaValueParserW* fresh = nullptr;
                if (ok) {
                    fresh = new KaValueParserW(text != nullptr ? text : strUnits(u""), n, ';', nullptr, 0);
                    BaseScopedKey key(connectionKey);
                    ok = fresh != nullptr;
                    if (ok) {
                        fresh->setQuoteChars(0, 0, 0);
                        ok = fresh->addWordChars(strUnits(u"_.()")) == 0 && fresh->parse(key.get(), nullptr) == 0;
                    }
                }
                ok = ok && readConnectOptions(text, static_cast<int64_t>(n), fresh, 0) == 0;
                if (ok && parser != nullptr)
                    removeServerKeys(fresh, keys, keyCount);
                for (size_t a = 0; ok && a < entries[index].count; ++a)
                    ok = setServerAttr(fresh, entries[index].attrs[a]) == 0;
                ok = ok && fresh->resetUsed() == 0 && readDriverOptionsAny(fresh, window) == 0;
                delete fresh;
                if (!ok) {
                    release();
                    return 1;
                }
            }
            int16_t rc = parser != nullptr ? connectWithAttrsAny(window, completion, parser) : completeConnect();
            if (rc == 0) {
                connected = true;
                break;
            }
            if (!failureIsRetryable()) {
                release();
                return 1;
            }
            bool more = i + 1 < attempts || pass < retryCount;
            if (!more)
                break;
            if (i + 1 < attempts)
                clearThreadDiagnostics();
        }
        if (!connected && pass < retryCount) {
            if (retryDelay != 0)
                bosSleep(retryDelay > 65 ? 65535 : static_cast<uint16_t>(retryDelay * 1000));
            clearThreadDiagnostics();
        }
    }

    if (!connected) {
        if (reconnectingNow) {
            KaError* record = basePostErrorMsg(kBaseIdxLinkFailure,
                                               haveServers ? MSG_RECONNECT_FAILED_SERVERS : MSG_RECONNECT_FAILED);
            if (haveServers)
                record->addParamW(servers);
        } else if (haveServers) {
            basePostErrorMsg(kBaseIdxUnableToConnect, MSG_CONNECT_FAILED_SERVERS)->addParamW(servers);
        }
        release();
        return 1;
    }

    int16_t result = 0;
    if (failoverMode != 0) {
        if (addBufferedEvent(kBaseEventConnected, 0, 0, 0, 0, this) == nullptr)
            result = 1;
        if (handle != nullptr && serverCount != 0)
            handle->nextServerIndex = (handle->nextServerIndex + 1) % serverCount;
    }
    ramFree(serverNameW);
    serverNameW = nullptr;
    ramFree(serverNameA);
    serverNameA = nullptr;
    if (haveServers && serverCount != 0) {
        serverNameW = strDupNW(servers, strLenOrZeroW(servers));
        KaStringW pairs;
        const char* narrow = nullptr;
        if (serverNameW != nullptr && serverText(pairs, entries[chosen], ':', true) == 0 && pairs.appendChar(0) == 0)
            narrow = pairs.toNarrow(KA_TEXT_UTF8);
        if (narrow != nullptr) {
            size_t len = std::strlen(narrow);
            serverNameA = static_cast<char*>(ramAlloc(len + 1));
            if (serverNameA != nullptr)
                std::memcpy(serverNameA, narrow, len + 1);
        }
        if (serverNameW == nullptr || serverNameA == nullptr)
            result = 1;
        else if (!firstAttempt) {
            basePostWarningMsg(kBaseIdxGeneralWarning, MSG_CONNECTED_TO_ALTERNATE)->addParamText(serverNameA);
            KaErrorList* list = KaErrorCurrentList();
            if (list != nullptr)
                list->moveLastTo(0);
        }
    }
    ramFree(serverTextW);
    serverTextW = nullptr;
    if (serverNameBehavior == 1 && (serverCount != 0 || parser != nullptr)) {
        // Without a list the server is the one the options name, written
        // as a listed one is.
        ServerEntry named{};
        KaStringW pairs;
        const ServerEntry* reached = &named;
        if (serverCount != 0)
            reached = &entries[chosen];
        else if (lookUpPrimary(this, parser, keys, keyCount, named) != 0)
            reached = nullptr;
        if (reached != nullptr && serverText(pairs, *reached, ';', false) == 0)
            serverTextW = strDupNW(pairs.data != nullptr ? pairs.data : strUnits(u""), pairs.len);
        ramFree(named.owned);
    }
    if (parser != nullptr && haveServers && serverCount != 0 && driverServersFlag == 0) {
        // The completed string names the primary server.
        removeServerKeys(parser, keys, keyCount);
        for (size_t a = 0; a < entries[0].count; ++a)
            if (setServerAttr(parser, entries[0].attrs[a]) != 0) {
                KaError* last = KaErrorGetLast();
                if (last != nullptr)
                    last->setWarning();
            }
    }
    release();
    if (failoverMode > 0 && handle != nullptr) {
        handle->standbyReady = 0;
        if (failoverPreconnect == 1 && handle->connections.count == 1) {
            handle->reconnecting = 1;
            BaseConnection* standby = nullptr;
            if (handle->reconnectNew(&standby) == 0)
                handle->standbyReady = 1;
            handle->reconnecting = 0;
        }
    }
    return result;
}
