// The connection options: the lookup of one option through the connection
// string, a profile, odbc.ini, odbcinst.ini, the driver's hook and the
// default; the reading of the framework's whole set at each connect; stored
// (enciphered) values, credentials, the data-source check and the completed
// connection string.
#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "convert/textcvt.h"
#include "foundation/fast.h"
#include "foundation/kaencode.h"
#include "foundation/kaerror.h"
#include "foundation/numtext.h"
#include "foundation/ram.h"
#include "foundation/kastr.h"
#include "foundation/kastringw.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/baseoptreader.h"
#include "odbc/basepool.h"
#include "odbc/baseresulthash.h"
#include "odbc/basestmterr.h"
#include "odbc/kavalueparser.h"
#include "platform/bosenv.h"
#include "platform/bosfile.h"
#include "platform/boslib.h"
#include "platform/kaini.h"
#include "platform/kainiimage.h"
#include "security/bufxform.h"

namespace {

// AutoTune's one rule: under this host program the long-data descriptor
// limit is -32000 unless LongDataDescriptorLimit says otherwise. The program
// is known by the first letters of its file name, in any case.
constexpr char kAutoTuneHost[] = "tabprotosrv";
constexpr size_t kAutoTuneHostLength = sizeof kAutoTuneHost - 1;
constexpr int64_t kAutoTuneLongDataLimit = -32000;
constexpr size_t kProcessNameSize = 1024;

// Whether this process runs the program AutoTune knows. A name that cannot
// be read counts as another program, and its diagnostic is dropped.
bool runsAutoTuneHost() noexcept
{
    char name[kProcessNameSize];
    KaErrorList* list = KaErrorCurrentList();
    const size_t before = list != nullptr ? list->recordCount() : 0;
    if (bosGetProcessName(name, sizeof name) != 0) {
        while (list != nullptr && list->recordCount() > before)
            list->discardLast();
        return false;
    }
    const char* slash = std::strrchr(name, '/');
    const char* file = slash != nullptr ? slash + 1 : name;
    // A shorter name cannot match, whatever suffix it is given.
    return std::strlen(file) >= kAutoTuneHostLength &&
           strEqualNoCaseN(file, kAutoTuneHostLength, kAutoTuneHost, kAutoTuneHostLength) != 0;
}

// Frees a value that may have held a secret.
void wipeFree(uint16_t* text) noexcept
{
    if (text != nullptr) {
        fastMemzero(text, strLenOrZeroW(text) * 2);
        ramFree(text);
    }
}

uint16_t upperUnit(uint16_t u) noexcept
{
    return u >= 'a' && u <= 'z' ? static_cast<uint16_t>(u - 32) : u;
}

bool sameNoCase(const uint16_t* a, const uint16_t* b) noexcept
{
    size_t i = 0;
    for (; a[i] != 0 && b[i] != 0; ++i)
        if (upperUnit(a[i]) != upperUnit(b[i]))
            return false;
    return a[i] == b[i];
}

const uint16_t kStoredPrefix[] = {'@', '0', '1', '#', '$'};
constexpr size_t kStoredPrefixUnits = 5;
constexpr uint16_t kStoredMark = 0xFF;

bool isStored(const uint16_t* text, size_t n) noexcept
{
    return (n >= 1 && text[0] == kStoredMark) ||
           (n >= kStoredPrefixUnits && std::memcmp(text, kStoredPrefix, sizeof kStoredPrefix) == 0);
}

// One value of an ini section (default ""): a new copy, or null when the
// value is empty or memory ran out (*failed). A value that fills the first
// buffer is read again into the large one and then taken as it stands.
uint16_t* readIniValue(const uint16_t* section, const uint16_t* key, const uint16_t* file, bool* taken,
                       bool* failed) noexcept
{
    *taken = false;
    auto* buffer = static_cast<uint16_t*>(ramAlloc(kBaseOptionUnits * 2));
    if (buffer == nullptr) {
        *failed = true;
        return nullptr;
    }
    int32_t n = KaGetPrivateProfileStringW(section, key, strUnits(u""), buffer, kBaseOptionUnits, file);
    if (n >= kBaseOptionUnits - 1) {
        ramFree(buffer);
        buffer = static_cast<uint16_t*>(ramAlloc(kBaseOptionLongUnits * 2));
        if (buffer == nullptr) {
            *failed = true;
            return nullptr;
        }
        n = KaGetPrivateProfileStringW(section, key, strUnits(u""), buffer, kBaseOptionLongUnits, file);
        *taken = true;
    }
    uint16_t* copy = n > 0 ? strDupNW(buffer, static_cast<size_t>(n)) : nullptr;
    if (n > 0 && copy == nullptr)
        *failed = true;
    fastMemzero(buffer, static_cast<size_t>(n > 0 ? n : 0) * 2);
    ramFree(buffer);
    return copy;
}

// "a" + quote-unwrapped value: a value that begins and ends with the same
// quote loses them, and inside a quote escapes the next character.
uint16_t* unwrapQuoted(const uint16_t* text, size_t n) noexcept
{
    if (n >= 2 && (text[0] == '\'' || text[0] == '"') && text[n - 1] == text[0]) {
        uint16_t quote = text[0];
        auto* out = static_cast<uint16_t*>(ramAlloc(n * 2));
        if (out == nullptr)
            return nullptr;
        size_t w = 0;
        for (size_t r = 1; r + 1 < n; ++r) {
            if (text[r] == quote && r + 2 < n)
                ++r;
            out[w++] = text[r];
        }
        out[w] = 0;
        return out;
    }
    return strDupNW(text, n);
}

// Decodes a found value when asked and it is stored; 1 on failure.
int16_t decodeIfAsked(uint16_t* value, int32_t decode) noexcept
{
    if (decode == 0 || value == nullptr)
        return 0;
    return decodeStoredOptionValue(value, nullptr);
}

KaError* postOptionError(uint16_t msg) noexcept
{
    return basePostErrorMsg(kBaseIdxGeneralError, msg);
}

using OptionReader = BaseOptionReader;

// A value as owned 8-bit (UTF-8) text in *target, the previous one freed;
// absent (or empty when nonEmpty) leaves *target null. False when memory
// ran out.
[[nodiscard]] bool takeNarrow(OptionReader& r, char** target, bool nonEmpty) noexcept
{
    ramFree(*target);
    *target = nullptr;
    if (!r.present() || (nonEmpty && r.empty()))
        return true;
    *target = strDupUtf8W(r.value);
    return *target != nullptr;
}

// Options of the packet logging found in section "ODBC" of odbc.ini when
// neither the string nor the files of the connection gave them.
[[nodiscard]] bool odbcSection(OptionReader& r, const char16_t* key) noexcept
{
    if (r.source != kBaseOptFromDefault && r.source != kBaseOptNotFound)
        return true;
    constexpr int32_t kUnits = 1025;
    uint16_t value[kUnits];
    int32_t n = KaGetPrivateProfileStringW(strUnits(u"ODBC"), strUnits(key), strUnits(u""), value, kUnits,
                                           strUnits(u".odbc.ini"));
    if (n <= 0)
        return true;
    uint16_t* copy = strDupNW(value, static_cast<size_t>(n));
    if (copy == nullptr)
        return false;
    ramFree(r.value);
    r.value = copy;
    return true;
}

// A password kept as 8-bit text: one leading blank is skipped, an empty
// rest sets nothing; the previous value is wiped.
[[nodiscard]] bool takeSecretNarrow(OptionReader& r, char** target) noexcept
{
    if (*target != nullptr)
        fastMemzero(*target, std::strlen(*target));
    ramFree(*target);
    *target = nullptr;
    if (!r.present())
        return true;
    const uint16_t* rest = r.value[0] == ' ' ? r.value + 1 : r.value;
    if (rest[0] == 0)
        return true;
    *target = strDupUtf8W(rest);
    return *target != nullptr;
}

const char* const kProtocolNames[] = {"SSLV2", "SSLV3", "TLSV1", "TLSV1.1", "TLSV1.2"};
constexpr size_t kProtocolCount = 5;
const uint8_t kProtocolDefaults[kProtocolCount] = {0, 0, 1, 1, 1};
const uint32_t kProtocolBits[kProtocolCount] = {kBaseTlsNoSslV2, kBaseTlsNoSslV3, kBaseTlsNoTlsV1, kBaseTlsNoTlsV11,
                                                kBaseTlsNoTlsV12};
// The exclusions that leave only the highest chosen protocol, from TLSV1.2 down.
const uint32_t kPrimaryMasks[kProtocolCount] = {0x3E000000, 0x3D000000, 0x3B000000, 0x2F000000, 0x37000000};

// Whether a comma list of versions names "1.1.1".
bool listsVersion111(const char* list) noexcept
{
    if (list == nullptr)
        return false;
    const char* p = list;
    while (*p != 0) {
        p = skipBlanks(p);
        const char* end = p;
        while (*end != 0 && *end != ',')
            ++end;
        const char* last = end;
        while (last > p && (last[-1] == ' ' || last[-1] == '\t'))
            --last;
        if (last - p == 5 && std::memcmp(p, "1.1.1", 5) == 0)
            return true;
        p = *end == ',' ? end + 1 : end;
    }
    return false;
}

// CryptoProtocolVersion into the primary and fallback TLS option words.
[[nodiscard]] bool readCryptoProtocols(BaseConnection* conn, OptionReader& r) noexcept
{
    char defaults[64];
    joinSelectedNames(defaults, sizeof defaults, kProtocolDefaults, kProtocolNames, kProtocolCount);
    uint8_t flags[kProtocolCount] = {};
    conn->cryptoProtocolExplicit = r.present() ? 1 : 0;
    if (r.present()) {
        char* text = r.empty() ? nullptr : strDupUtf8W(r.value);
        if (text == nullptr) {
            postOptionError(MSG_CRYPTO_PROTOCOL_INVALID)->addParamW(r.value)->addParamText(defaults);
            return false;
        }
        for (char* c = text; *c != 0; ++c)
            if (*c >= 'a' && *c <= 'z')
                *c = static_cast<char>(*c - 32);
        const char* unknownStart = nullptr;
        const char* unknownEnd = nullptr;
        parseKeywordList(flags, text, kProtocolNames, kProtocolCount, kProtocolDefaults, &unknownStart, &unknownEnd);
        if (unknownStart != nullptr) {
            KaSubString item(unknownStart, static_cast<size_t>(unknownEnd - unknownStart));
            postOptionError(MSG_CRYPTO_PROTOCOL_INVALID)->addParamSubString(item)->addParamText(defaults);
            ramFree(text);
            return false;
        }
        ramFree(text);
    } else {
        std::memcpy(flags, kProtocolDefaults, sizeof flags);
    }
    if (listsVersion111(conn->allowedOpenSSLVersions) && !flagsContiguous(flags, kProtocolCount)) {
        postOptionError(MSG_CRYPTO_PROTOCOLS_NOT_CONTIGUOUS);
        return false;
    }
    uint32_t primaryMask = kBaseTlsProtocolMask;
    // The mask's one bit that names no protocol of the list counts as
    // unchosen, so that a single chosen protocol leaves nothing to fall
    // back to.
    uint32_t unchosen = kBaseTlsProtocolMask &
                        ~(kBaseTlsNoSslV2 | kBaseTlsNoSslV3 | kBaseTlsNoTlsV1 | kBaseTlsNoTlsV11 | kBaseTlsNoTlsV12);
    for (size_t i = 0; i < kProtocolCount; ++i) {
        if (flags[i] != 0)
            primaryMask = kPrimaryMasks[i];
        else
            unchosen |= kProtocolBits[i];
    }
    conn->tlsProtocols |= primaryMask;
    if (unchosen == primaryMask)
        conn->tlsFallbackProtocols = conn->tlsProtocols;
    else
        conn->tlsFallbackProtocols =
            (conn->tlsProtocols & ~kBaseTlsProtocolMask) | ((~primaryMask ^ unchosen) & kBaseTlsProtocolMask);
    return true;
}

}  // namespace

// ---- The option reader ------------------------------------------------------

void baseDiscardLastDiagnostic() noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list != nullptr)
        list->discardLast();
}

void baseWarnOptionLimited(const char16_t* longKey, const uint16_t* given, int64_t lowest, int64_t highest,
                           int64_t used) noexcept
{
    KaError* record = basePostWarningMsg(kBaseIdxOptionChanged, MSG_OPTION_VALUE_LIMITED);
    if (record == nullptr)
        return;
    record->addParamW(strUnits(longKey))
        ->addParamW(given != nullptr ? given : strUnits(u""))
        ->addParamSigned(lowest)
        ->addParamSigned(highest)
        ->addParamSigned(used);
}

BaseOptionReader::~BaseOptionReader()
{
    wipeFree(value);
}

bool BaseOptionReader::get(const char16_t* longKey, const char16_t* shortKey, const char16_t* def,
                           int32_t decode) noexcept
{
    wipeFree(value);
    value = nullptr;
    source = kBaseOptNotFound;
    return conn_->getOptionValue(parser_, shortKey != nullptr ? strUnits(shortKey) : nullptr, strUnits(longKey),
                                 def != nullptr ? strUnits(def) : nullptr, &value, &source, decode) == 0;
}

bool BaseOptionReader::is(const char* text) const noexcept
{
    if (value == nullptr)
        return false;
    size_t i = 0;
    for (; value[i] != 0 && text[i] != 0; ++i)
        if (value[i] != static_cast<uint16_t>(static_cast<uint8_t>(text[i])))
            return false;
    return value[i] == 0 && text[i] == 0;
}

uint16_t* BaseOptionReader::take(bool trim) noexcept
{
    uint16_t* out = value;
    value = nullptr;
    if (out != nullptr && trim) {
        size_t n = strLenOrZeroW(out);
        while (n > 0 && (out[n - 1] == ' ' || out[n - 1] == '\t' || out[n - 1] == '\r' || out[n - 1] == '\n'))
            out[--n] = 0;
    }
    return out;
}


// ---- Helpers ----------------------------------------------------------------

int16_t decodeStoredOptionValue(uint16_t* text, int64_t* length) noexcept
{
    size_t n = strLenOrZeroW(text);
    if (length != nullptr)
        *length = static_cast<int64_t>(n);
    if (!isStored(text, n))
        return 0;
    size_t skip = text[0] == kStoredMark ? 1 : kStoredPrefixUnits;
    size_t digits = n - skip;
    // Two hexadecimal digits a byte, two bytes a UTF-16 unit.
    if (digits % 4 != 0)
        return 1;
    auto* hex = static_cast<char*>(ramAlloc(digits + 1));
    if (hex == nullptr)
        return 1;
    for (size_t i = 0; i < digits; ++i) {
        uint16_t u = text[skip + i];
        hex[i] = u < 128 ? static_cast<char>(u) : '?';
    }
    hex[digits] = 0;
    size_t bytes = digits / 2;
    auto* raw = reinterpret_cast<uint8_t*>(text);
    int bad = unhexify(raw, hex, digits);
    fastMemzero(hex, digits);
    ramFree(hex);
    if (bad != 0)
        return 1;
    size_t units = bytes / 2;
    text[units] = 0;
    cryptDecodeW(reinterpret_cast<char16_t*>(text), units, KA_XFORM_TEA_MIX, nullptr);
    // The plain text ends at its first zero unit, if it holds one.
    size_t plain = strLenOrZeroW(text);
    fastMemzero(text + plain, (n - plain) * 2);
    if (length != nullptr)
        *length = static_cast<int64_t>(plain);
    return 0;
}

uint16_t delimiterFromOption(const uint16_t* value) noexcept
{
    if (value == nullptr)
        return 0;
    size_t n = strLenOrZeroW(value);
    if (n == 1 && value[0] < 128)
        return value[0];
    if (n == 2 && value[0] == '\\') {
        switch (value[1]) {
        case 'f': return 12;
        case 'n': return 10;
        case 'r': return 13;
        case 't': return 9;
        case 'v': return 11;
        default: return 0;
        }
    }
    return 0;
}

const char* skipBlanks(const char* text) noexcept
{
    while (*text == ' ' || *text == '\t')
        ++text;
    return text;
}

int32_t parseKeywordList(uint8_t* flags, const char* text, const char* const* names, size_t count,
                         const uint8_t* defaults, const char** unknownStart, const char** unknownEnd) noexcept
{
    if (unknownStart != nullptr)
        *unknownStart = nullptr;
    if (unknownEnd != nullptr)
        *unknownEnd = nullptr;
    if (text == nullptr || *text == 0) {
        for (size_t i = 0; i < count; ++i)
            flags[i] = defaults != nullptr ? defaults[i] : 0;
        return 0;
    }
    for (size_t i = 0; i < count; ++i)
        flags[i] = 0;
    const char* p = skipBlanks(text);
    int32_t parenthesised = 0;
    if (*p == '(') {
        parenthesised = 1;
        ++p;
    }
    while (*p != 0 && *p != ')') {
        p = skipBlanks(p);
        const char* end = p;
        while (*end != 0 && *end != ',' && *end != ')')
            ++end;
        const char* last = end;
        while (last > p && (last[-1] == ' ' || last[-1] == '\t'))
            --last;
        if (last == p)
            break;
        size_t len = static_cast<size_t>(last - p);
        bool matched = false;
        for (size_t i = 0; i < count; ++i) {
            if (std::strlen(names[i]) == len && std::memcmp(names[i], p, len) == 0) {
                flags[i] = 1;
                matched = true;
            }
        }
        if (!matched) {
            if (unknownStart != nullptr)
                *unknownStart = p;
            if (unknownEnd != nullptr)
                *unknownEnd = last;
        }
        p = *end == ',' ? end + 1 : end;
    }
    return parenthesised;
}

size_t buildKeywordList(char* out, size_t size, const uint8_t* flags, const char* const* names, size_t count,
                        int32_t parenthesise) noexcept
{
    size_t w = 0;
    auto put = [&](const char* s) {
        size_t n = std::strlen(s);
        if (w + n + 1 > size)
            return false;
        std::memcpy(out + w, s, n);
        w += n;
        out[w] = 0;
        return true;
    };
    if (size == 0)
        return 0;
    out[0] = 0;
    if (parenthesise != 0 && !put("("))
        return 0;
    bool first = true;
    for (size_t i = 0; i < count; ++i) {
        if (flags[i] == 0)
            continue;
        if ((!first && !put(",")) || !put(names[i]))
            return 0;
        first = false;
    }
    if (parenthesise != 0 && !put(")"))
        return 0;
    return w;
}

size_t joinSelectedNames(char* out, size_t size, const uint8_t* flags, const char* const* names, size_t count) noexcept
{
    if (size == 0)
        return 0;
    size_t w = 0;
    out[0] = 0;
    for (size_t i = 0; i < count; ++i) {
        if (flags[i] == 0)
            continue;
        const char* parts[2] = {w != 0 ? ", " : "", names[i]};
        for (const char* s : parts)
            for (; *s != 0 && w + 1 < size; ++s)
                out[w++] = *s;
    }
    out[w] = 0;
    return w;
}

bool flagsContiguous(const uint8_t* flags, size_t count) noexcept
{
    size_t i = 0;
    while (i < count && flags[i] == 0)
        ++i;
    while (i < count && flags[i] != 0)
        ++i;
    while (i < count && flags[i] == 0)
        ++i;
    return i == count;
}

size_t encryptionMethodList(char* out, size_t size, uint32_t mask) noexcept
{
    if (size < 2)
        return 0;
    size_t w = 0;
    out[w++] = '0';
    for (uint32_t bit = 1; bit <= 7; ++bit) {
        if ((mask & (1u << bit)) == 0 || w + 4 > size)
            continue;
        out[w++] = ',';
        out[w++] = ' ';
        out[w++] = static_cast<char>('0' + bit);
    }
    out[w] = 0;
    return w;
}

// ---- The lookup -------------------------------------------------------------

int16_t BaseConnection::getOptionValue(KaValueParserW* parser, const uint16_t* shortKey, const uint16_t* longKey,
                                       const uint16_t* defaultValue, uint16_t** out, int32_t* source,
                                       int32_t decode) noexcept
{
    *out = nullptr;
    if (source != nullptr)
        *source = kBaseOptNotFound;
    uint16_t driverName[kBaseDriverNameUnits];
    driverName[0] = 0;
    bool stringDriver = false;
    uint16_t* found = nullptr;
    int32_t from = kBaseOptNotFound;
    if (parser != nullptr) {
        KaStringW* driver = parser->getValueCStr(strUnits(u"DRIVER"));
        if (driver != nullptr) {
            size_t n = driver->len < kBaseDriverNameUnits - 1 ? driver->len : kBaseDriverNameUnits - 1;
            if (n != 0)
                std::memcpy(driverName, driver->data, n * 2);
            driverName[n] = 0;
            // A braced name in the string names the section without braces.
            if (n >= 2 && driverName[0] == '{' && driverName[n - 1] == '}') {
                std::memmove(driverName, driverName + 1, (n - 2) * 2);
                driverName[n - 2] = 0;
            }
            stringDriver = true;
        }
        KaStringW* value = nullptr;
        if (parser->getValueByNames(shortKey != nullptr ? shortKey : longKey, shortKey != nullptr ? longKey : nullptr,
                                    &value) != 0)
            return 1;
        if (value != nullptr) {
            found = unwrapQuoted(value->data != nullptr ? value->data : strUnits(u""), value->len);
            if (found == nullptr)
                return 1;
            if (decodeIfAsked(found, decode) != 0) {
                wipeFree(found);
                return 1;
            }
            from = kBaseOptFromString;
        }
    }
    if (!stringDriver && driverNameW != nullptr) {
        size_t n = strLenOrZeroW(driverNameW);
        if (n > kBaseDriverNameUnits - 1)
            n = kBaseDriverNameUnits - 1;
        std::memcpy(driverName, driverNameW, n * 2);
        driverName[n] = 0;
    }
    if (!stringDriver && driverName[0] == 0 && dsnNameW != nullptr) {
        // The driver of the data source: its entry in the list of data
        // sources, else (as unixODBC writes odbc.ini) its own Driver key.
        int32_t n = KaGetPrivateProfileStringW(strUnits(u"ODBC Data Sources"), dsnNameW, strUnits(u""), driverName,
                                               kBaseDriverNameUnits, strUnits(u".odbc.ini"));
        if (n <= 0)
            n = KaGetPrivateProfileStringW(dsnNameW, strUnits(u"Driver"), strUnits(u""), driverName,
                                           kBaseDriverNameUnits, strUnits(u".odbc.ini"));
        if (n > 0 && driverNameW == nullptr)
            driverNameW = strDupNW(driverName, static_cast<size_t>(n));
    }
    bool failed = false;
    bool taken = false;
    struct Stage {
        bool run;
        const uint16_t* section;
        const uint16_t* file;
        int32_t source;
    };
    const Stage stages[] = {
        {profilePathW != nullptr && driverName[0] != 0, driverName, profilePathW, kBaseOptFromProfile},
        {!stringDriver, dsnNameW != nullptr ? dsnNameW : strUnits(u"Default"), strUnits(u".odbc.ini"),
         kBaseOptFromDataSource},
        {driverName[0] != 0, driverName, strUnits(u".odbcinst.ini"), kBaseOptFromDriver},
    };
    for (const Stage& stage : stages) {
        if (found != nullptr || !stage.run)
            continue;
        found = readIniValue(stage.section, longKey, stage.file, &taken, &failed);
        if (failed)
            return 1;
        if (found != nullptr) {
            from = stage.source;
            if (!taken && decodeIfAsked(found, decode) != 0) {
                wipeFree(found);
                return 1;
            }
        }
    }
    if (found == nullptr && narrowHooks()) {
        if (narrowHookValue(shortKey, longKey, &found) != 0)
            return 1;
        if (found != nullptr)
            from = kBaseOptFromHook;
    } else if (found == nullptr) {
        KaValueParserW* hook = optionSourceHook();
        if (hook != nullptr) {
            KaStringW* value = nullptr;
            if (hook->getValueByNames(shortKey != nullptr ? shortKey : longKey, shortKey != nullptr ? longKey : nullptr,
                                      &value) != 0)
                return 1;
            if (value != nullptr) {
                found = strDupNW(value->data != nullptr ? value->data : strUnits(u""), value->len);
                if (found == nullptr)
                    return 1;
                from = kBaseOptFromHook;
            }
        }
    }
    if (found == nullptr && defaultValue != nullptr) {
        found = strDupNW(defaultValue, strLenOrZeroW(defaultValue));
        if (found == nullptr)
            return 1;
        from = kBaseOptFromDefault;
    }
    *out = found;
    if (source != nullptr)
        *source = from;
    return 0;
}

int16_t BaseConnection::narrowHookValue(const uint16_t* shortKey, const uint16_t* longKey, uint16_t** out) noexcept
{
    *out = nullptr;
    KaValueParser* hook = optionSourceHookA();
    if (hook == nullptr)
        return 0;
    // The 8-bit source is searched with the keywords in its code page; a
    // value found comes back as UTF-16 text.
    BaseTextContext context{&icuCache, 1, appCodePage, 4, 1};
    char* names[2] = {nullptr, nullptr};
    const uint16_t* keys[2] = {shortKey != nullptr ? shortKey : longKey, shortKey != nullptr ? longKey : nullptr};
    int16_t rc = 0;
    int64_t produced = 0;
    for (int k = 0; k < 2 && rc == 0; ++k)
        if (keys[k] != nullptr &&
            baseAllocFromWide(context, keys[k], SQL_NTS, appCodePage, &names[k], &produced, 4, 1) != 0)
            rc = 1;
    KaString* value = nullptr;
    if (rc == 0 && hook->getValueByNames(names[0], names[1], &value) != 0)
        rc = 1;
    if (rc == 0 && value != nullptr &&
        baseAllocWideFromCp(context, appCodePage, value->data != nullptr ? value->data : "",
                            static_cast<int64_t>(value->len), out, &produced) != 0)
        rc = 1;
    ramFree(names[0]);
    ramFree(names[1]);
    return rc;
}

int16_t BaseConnection::getOptionValueBest(KaValueParserW* parser, const uint16_t* shortKey, const uint16_t* longKey,
                                           const uint16_t* const* moreKeys, const uint16_t* defaultValue,
                                           uint16_t** out, int32_t* source, int32_t decode) noexcept
{
    int32_t best = kBaseOptNotFound;
    if (getOptionValue(parser, shortKey, longKey, defaultValue, out, &best, decode) != 0)
        return 1;
    // A default counts as the weakest answer, below every stage that found
    // the option.
    auto rank = [](int32_t s) noexcept { return s == kBaseOptFromDefault ? 7 : s; };
    for (size_t i = 0; moreKeys != nullptr && moreKeys[i] != nullptr && best != kBaseOptFromString; ++i) {
        uint16_t* value = nullptr;
        int32_t from = kBaseOptNotFound;
        if (getOptionValue(parser, nullptr, moreKeys[i], nullptr, &value, &from, decode) != 0) {
            wipeFree(*out);
            *out = nullptr;
            return 1;
        }
        if (value != nullptr && rank(from) < rank(best)) {
            wipeFree(*out);
            *out = value;
            best = from;
        } else {
            wipeFree(value);
        }
    }
    if (source != nullptr)
        *source = best;
    return 0;
}

void BaseConnection::setHostNameInCertificate(char* text) noexcept
{
    ramFree(hostNameInCertificate);
    hostNameInCertificate = text;
}

void BaseConnection::setTrustStore(char* text) noexcept
{
    ramFree(trustStore);
    trustStore = text;
}

void BaseConnection::setTrustStorePassword(char* text) noexcept
{
    if (trustStorePassword != nullptr)
        fastMemzero(trustStorePassword, std::strlen(trustStorePassword));
    ramFree(trustStorePassword);
    trustStorePassword = text;
}

int16_t BaseConnection::readCredentialOption(KaValueParserW* parser, const uint16_t* shortKey, const uint16_t* longKey,
                                             const uint16_t* defaultValue, KaMemoryBuffer& target,
                                             int32_t* source) noexcept
{
    if (source != nullptr)
        *source = kBaseOptNotFound;
    bool stringDriver = false;
    if (parser != nullptr) {
        stringDriver = parser->hasKey(strUnits(u"DRIVER"));
        int found = 0;
        if (parser->getSecretByNames(shortKey, longKey, &found, target) != 0)
            return 1;
        if (found != 0)
            return 0;
    }
    uint16_t* chosen = nullptr;
    int32_t from = kBaseOptNotFound;
    if (!stringDriver) {
        KaMemoryBuffer holder;
        if (holder.allocPlain(kIniValueBuffer) != 0)
            return 1;
        int32_t n = KaGetPrivateProfileStringW(dsnNameW != nullptr ? dsnNameW : strUnits(u"Default"), longKey,
                                               strUnits(u""), holder.data, kIniValueBuffer, strUnits(u".odbc.ini"));
        if (n > 0) {
            if (decodeStoredOptionValue(holder.data, nullptr) != 0)
                return 1;
            if (holder.data[0] != 0) {
                chosen = strDupNW(holder.data, strLenOrZeroW(holder.data));
                if (chosen == nullptr)
                    return 1;
                from = kBaseOptFromDataSource;
            }
        }
    }
    if (chosen == nullptr && defaultValue != nullptr) {
        chosen = strDupNW(defaultValue, strLenOrZeroW(defaultValue));
        if (chosen == nullptr)
            return 1;
        from = kBaseOptFromDefault;
    }
    if (chosen == nullptr) {
        target.clear();
        return 0;
    }
    BaseScopedKey key(connectionKey);
    int rc = target.setEncrypted(chosen, KA_MEMBUF_NTS, key.get());
    wipeFree(chosen);
    if (rc != 0)
        return 1;
    if (source != nullptr)
        *source = from;
    return 0;
}

int16_t BaseConnection::checkDataSource(const uint16_t* name) noexcept
{
    if (name != nullptr && name[0] != 0) {
        uint16_t driver[kBaseDriverNameUnits];
        int32_t n = KaGetPrivateProfileStringW(name, strUnits(u"Driver"), strUnits(u""), driver,
                                               kBaseDriverNameUnits - 1, strUnits(u".odbc.ini"));
        if (n > 0)
            return setDsnName(name) == 0 ? 0 : 1;
    }
    return setDsnName(strUnits(u"Default")) == 0 ? 0 : 1;
}

namespace {

// key=value; with the value in braces (and "}" doubled) when it holds a
// character that would end or open an attribute.
[[nodiscard]] int appendAttribute(KaStringW& out, const char16_t* key, const uint16_t* value, size_t n) noexcept
{
    bool brace = n != 0 && (value[0] == ' ' || value[n - 1] == ' ');
    for (size_t i = 0; i < n && !brace; ++i)
        brace = value[i] == ';' || value[i] == '{' || value[i] == '}' || value[i] == '=';
    if (out.append(strUnits(key), strLenOrZeroW(strUnits(key))) != 0 || out.appendChar('=') != 0)
        return 1;
    if (!brace)
        return out.append(value, n) != 0 || out.appendChar(';') != 0 ? 1 : 0;
    if (out.appendChar('{') != 0)
        return 1;
    for (size_t i = 0; i < n; ++i) {
        if (out.appendChar(value[i]) != 0)
            return 1;
        if (value[i] == '}' && out.appendChar('}') != 0)
            return 1;
    }
    return out.appendChar('}') != 0 || out.appendChar(';') != 0 ? 1 : 0;
}

}  // namespace

int16_t BaseConnection::buildOutConnectString(KaStringW& out, KaValueParserW* parser) noexcept
{
    BaseScopedKey key(connectionKey);
    if (out.reserve(kBaseOutStringUnits) != 0)
        return 1;
    if (parser->buildDecrypted(out, key.get(), ';') != 0)
        return 1;
    if (parser->resetUsed() != 0)
        return 1;
    if (out.len != 0 && out.data[out.len - 1] != ';' && out.appendChar(';') != 0)
        return 1;
    if (!parser->hasKey(strUnits(u"DRIVER")) && !parser->hasKey(strUnits(u"DSN")) && dsnNameW != nullptr &&
        appendAttribute(out, u"DSN", dsnNameW, strLenOrZeroW(dsnNameW)) != 0)
        return 1;
    struct Credential {
        KaMemoryBuffer* holder;
        const char16_t* key;
        const char16_t* longKey;
    };
    const Credential credentials[] = {{&userId, u"UID", u"LOGONID"}, {&password, u"PWD", u"PASSWORD"}};
    for (const Credential& c : credentials) {
        if (c.holder->length == 0 || parser->hasKey(strUnits(c.key)) || parser->hasKey(strUnits(c.longKey)))
            continue;
        KaMemoryBuffer plain;
        plain.state = KA_MEMBUF_PLAIN;
        if (plain.decryptFrom(*c.holder, key.get()) != 0 || appendAttribute(out, c.key, plain.data, plain.length) != 0)
            return 1;
    }
    return 0;
}

void BaseConnection::warnUnusedAttributes(KaValueParserW* parser) noexcept
{
    parser->unusedCursor = 0;
    for (KaSubStringW* key = parser->nextUnused(); key != nullptr; key = parser->nextUnused())
        basePostWarningMsg(kBaseIdxBadConnAttr, MSG_UNUSED_CONNECTION_ATTRIBUTE)->addParamSubStringW(*key);
}

// ---- Reading every option -------------------------------------------------------

int16_t BaseConnection::readConnectOptions(const uint16_t* text, int64_t length, KaValueParserW* parser,
                                           int32_t credentials) noexcept
{
    OptionReader r(this, parser);
    ramFree(driverNameW);
    driverNameW = nullptr;

    // General options.
    if (!r.get(u"AutoTune", u"AT", nullptr))
        return 1;
    autoTune = r.exact1() ? 1 : 0;
    ramFree(profilePathW);
    profilePathW = nullptr;
    if (!r.get(u"ProfileName", u"PN", u"_NOT_USED"))
        return 1;
    if (!r.empty() && !sameNoCase(r.value, strUnits(u"_NOT_USED"))) {
        uint16_t* name = r.value;
        r.value = nullptr;
        KaStringW path;
        bool pathFailed = false;
        if (!r.get(u"ProfileDirectory", u"PD", nullptr)) {
            ramFree(name);
            return 1;
        }
        if (!r.empty()) {
            pathFailed = path.append(r.value, strLenOrZeroW(r.value)) != 0 ||
                         (r.value[strLenOrZeroW(r.value) - 1] != '/' && path.appendChar('/') != 0);
        } else {
            char dir[BOS_PATH_SIZE];
            dir[0] = 0;
            bosGetInstallDir(dir, sizeof dir);
            if (dir[0] == 0) {
                ramFree(name);
                basePostError(kBaseIdxGeneralError)->appendText(" Unable to get install directory");
                return 1;
            }
            pathFailed = path.appendNarrow(dir, std::strlen(dir)) != 0 || path.append(strUnits(u"/profiles/"), 10) != 0;
        }
        pathFailed = pathFailed || path.append(name, strLenOrZeroW(name)) != 0;
        ramFree(name);
        if (pathFailed)
            return 1;
        if (bosexistW(path.data) == 0) {
            postOptionError(MSG_PROFILE_NOT_FOUND)->addParamW(path.data);
            return 1;
        }
        profilePathW = strDupNW(path.data, path.len);
        if (profilePathW == nullptr)
            return 1;
    }
    if (!r.get(u"ExtendedOptions", u"XO", nullptr))
        return 1;
    if (r.present() && r.source == kBaseOptFromString) {
        postOptionError(MSG_UNUSED_CONNECTION_ATTRIBUTE)->addParamText("XO");
        return 1;
    }
    if (!r.get(u"DESCRIPTION", u"DESC", nullptr) || !r.get(u"FILEDSN", nullptr, nullptr))
        return 1;
    if (credentials != 0) {
        int32_t source = kBaseOptNotFound;
        if (readCredentialOption(parser, strUnits(u"UID"), strUnits(u"LOGONID"), nullptr, userId, &source) != 0)
            return 1;
        userIdFromFile = source >= kBaseOptFromProfile && source <= kBaseOptFromDriver ? 1 : 0;
        if (readCredentialOption(parser, strUnits(u"PWD"), strUnits(u"PASSWORD"), nullptr, password, &source) != 0)
            return 1;
        passwordFromFile = source >= kBaseOptFromProfile && source <= kBaseOptFromDriver ? 1 : 0;
    }
    if (!r.get(u"MODIFYSQL", u"MS", u"1"))
        return 1;
    modifySql = r.not0() ? 1 : 0;
    if (!r.get(u"WORKAROUNDS", u"WA", u"0") || !r.number(&workarounds))
        return 1;
    if ((workarounds & kBaseWaAnsiApp) != 0)
        connectionFlags |= kBaseConnAnsiApp;
    if (!r.get(u"WORKAROUNDS2", u"WA2", u"0") || !r.number(&workarounds2) || !r.get(u"WORKAROUNDS3", u"WA3", u"0") ||
        !r.number(&workarounds3))
        return 1;
    if (!r.get(u"USEVENDORSQLSTATES", u"UVSS", u"0"))
        return 1;
    if (!r.empty())
        vendorSqlStates = r.first1() ? 1 : 0;
    if (!r.get(u"DEFAULTLONGDATABUFFLEN", u"DLDBL", u"1024") || !r.number(&defaultLongDataBuffLen))
        return 1;
    defaultLongDataBuffLen *= 1024;
    if (!r.get(u"CATALOGOPTIONS", u"CO", u"0") || !r.number(&catalogOptions) ||
        !r.get(u"MAXROWSETSIZE", u"MRS", u"0") || !r.number(&maxRowsetSize))
        return 1;
    if (maxRowsetSize == 0)
        maxRowsetSize = 10000;
    uint16_t u16 = 0;
    if (!r.get(u"FILEHANDLES", u"FH", u"0") || !r.number(&u16))
        return 1;
    if (!r.get(u"TRANSLATIONSHAREDLIBRARY", nullptr, nullptr))
        return 1;
    if (!r.empty()) {
        uint16_t* library = r.value;
        r.value = nullptr;
        bool ok =
            r.get(u"TRANSLATIONOPTION", nullptr, u"0") && r.number(&translationOption) && loadTranslator(library) == 0;
        ramFree(library);
        if (!ok)
            return 1;
    }
    if (!r.get(u"STATICTOKEYSET", u"STK", u"0") || !r.number(&u16))
        return 1;
    staticToKeyset = u16 != 0 ? 1 : 0;
    if (!r.get(u"DRIVERCOMPATIBILITY", u"DCOMP", u"0") || !r.number(&driverCompatibility))
        return 1;
    if (!r.get(u"USELONGQUALIFIERS", u"ULQ", u"0") || !r.number(&u16))
        return 1;
    useLongQualifiers = u16 != 0 ? 1 : 0;
    if (!r.get(u"USEPOSITIVESCALE", u"UPS", u"1") || !r.number(&u16))
        return 1;
    usePositiveScale = u16 != 0 ? 1 : 0;
    if (!r.get(u"APPLICATIONUSINGTHREADS", u"AUT", u"1") || !r.number(&u16))
        return 1;
    applicationUsingThreads = u16 != 0 ? 1 : 0;
    bool charAttrs = (connectionFlags & kBaseConnCharAttrsSettable) != 0;
    if (!r.get(u"SETUNICODEWORKAROUNDS", u"SUW", charAttrs ? u"1" : u"0"))
        return 1;
    unicodeWorkarounds = r.exact1() ? 1 : 0;
    for (int pass = 0; pass < 2; ++pass) {
        if (!r.get(u"IdentifierNameCaseSensitive", u"INCS", identifierCaseSensitive != 0 ? u"1" : u"0"))
            return 1;
        identifierCaseSensitive = r.exact1() ? 1 : 0;
        if (!r.get(u"MetadataIdOffCaseInsensitive", u"MIOCI", u"0"))
            return 1;
        metadataIdOffCaseInsensitive = r.exact1() ? 1 : 0;
    }
    if (!r.get(u"THREADCAPABILITY", u"TCA", nullptr))
        return 1;
    if (r.present()) {
        if (sameNoCase(r.value, strUnits(u"THREADSAFE")))
            threadModel = kBaseThreadSafe;
        else if (sameNoCase(r.value, strUnits(u"THREADPERDRIVER")))
            threadModel = kBaseThreadPerDriver;
        else if (sameNoCase(r.value, strUnits(u"THREADPERCONNECTION")))
            threadModel = kBaseThreadPerConnection;
    }
    // An application without threads wants no locking. The locks stay
    // alive: the running call and any waiting thread release what they
    // took (a destroyed mutex here would be unlocked by this call's exit).
    if (applicationUsingThreads == 0 && threadModel != kBaseThreadSafe && handle != nullptr)
        handle->switchLockingOff();
    if (!r.get(u"STATICCURSORLONGCOLBUFFLEN", u"SCLCBL", u"4096") || !r.number(&staticCursorLongColBuffLen))
        return 1;
    if (staticCursorLongColBuffLen < 1000)
        staticCursorLongColBuffLen = 1000;
    if (!r.get(u"REPORTCODEPAGECONVERSIONERRORS", u"RCCE", u"0") || !r.number(&reportCodepageConversionErrors))
        return 1;
    if (reportCodepageConversionErrors != 0)
        icuCache.setMode(static_cast<int32_t>(reportCodepageConversionErrors));

    // Proxy.
    if (!r.get(u"ProxyMode", u"PXM", u"0") || !r.number(&proxyMode))
        return 1;
    if (proxyMode > 1) {
        postOptionError(MSG_PROXY_MODE_INVALID)->addParamText("0,1");
        return 1;
    }
    if (!r.get(u"ProxyHost", u"PXHN", nullptr) || !takeNarrow(r, &proxyHost, false))
        return 1;
    if (proxyMode == 1 && (proxyHost == nullptr || proxyHost[0] == 0)) {
        postOptionError(MSG_PROXY_HOST_MISSING);
        return 1;
    }
    if (!r.get(u"ProxyPort", u"PXPT", nullptr) || !r.number(&proxyPort))
        return 1;
    if (proxyMode == 1 && r.empty()) {
        postOptionError(MSG_PROXY_PORT_MISSING);
        return 1;
    }
    if (!r.get(u"ProxyUser", u"PXU", nullptr) || !takeNarrow(r, &proxyUser, false) ||
        !r.get(u"ProxyPassword", u"PXPW", nullptr, 1) || !takeNarrow(r, &proxyPassword, false))
        return 1;

    // Encryption.
    if (!r.get(u"EncryptionMethod", u"EM", u"0") || !r.number(&encryptionMethod))
        return 1;
    if (encryptionMethod != 0 &&
        (encryptionMethod > 31 || (allowedEncryptionMethods & (1u << encryptionMethod)) == 0)) {
        char list[32];
        encryptionMethodList(list, sizeof list, allowedEncryptionMethods);
        postOptionError(MSG_ENCRYPTION_METHOD_INVALID)->addParamText(list);
        return 1;
    }
    if (!r.get(u"OpenSSLOptions", u"OSO", u"0") || !r.number(&tlsProtocols))
        return 1;
    tlsFallbackProtocols = tlsProtocols;
    uint32_t mode = 0;
    if (!r.get(u"OpenSSLMode", u"OSM", u"0") || !r.number(&mode))
        return 1;
    if (mode != 0)
        tlsFlags = mode;
    if (!r.get(u"DisableStaticCursorEmulation", u"DSCE", u"0"))
        return 1;
    disableStaticCursorEmulation = r.first1() ? 1 : 0;
    if (!r.get(u"AllowedOpenSSLVersions", u"AOV", u"1.1.1,1.0.2"))
        return 1;
    char* versions = strDupUtf8W(r.value);
    if (versions == nullptr)
        return 1;
    ramFree(allowedOpenSSLVersions);
    allowedOpenSSLVersions = versions;
    cryptoProtocolExplicit = 0;
    if (encryptionMethod == 1 || encryptionMethod == 6 || encryptionMethod == 7) {
        if (!r.get(u"CryptoProtocolVersion", u"CPV", nullptr) || !readCryptoProtocols(this, r))
            return 1;
    }
    if (!r.get(u"CipherList", u"CL", nullptr))
        return 1;
    if (!r.empty() && !takeNarrow(r, &cipherList, false)) {
        postOptionError(MSG_CIPHER_LIST_INVALID);
        return 1;
    }
    if (!r.get(u"TLSTunnel", u"TT", u"0"))
        return 1;
    if (!r.empty())
        tlsTunnel = r.first1() ? 1 : 0;
    if (!r.get(u"PRNGSeedFile", u"PSF", nullptr) || !takeNarrow(r, &prngSeedFile, true) ||
        !r.get(u"PRNGMaxBytes", u"PMB", nullptr) || !r.number(&prngMaxBytes) || !r.get(u"PRNGSeedSource", u"PSS", u"0"))
        return 1;
    prngSeedSource = r.value[0] < '0' ? 0 : r.value[0] > '2' ? 2 : static_cast<uint16_t>(r.value[0] - '0');
    // The application code page comes from the string (or its data source).
    uint16_t* dsnOut = nullptr;
    appCodePage = getAppCodePageW(text, length == SQL_NTS ? -3 : length, &dsnOut);
    ramFree(dsnOut);
    if (!r.get(u"APPCODEPAGE", u"ACP", nullptr) || !r.get(u"IANAAPPCODEPAGE", u"IACP", nullptr))
        return 1;
    if (!r.get(u"TrustStore", u"TS", nullptr) || !takeNarrow(r, &trustStore, false) ||
        !r.get(u"TrustStorePassword", u"TSP", nullptr, 1) || !takeSecretNarrow(r, &trustStorePassword) ||
        !r.get(u"KeyStore", u"KS", nullptr) || !takeNarrow(r, &keyStore, false) ||
        !r.get(u"KeyStorePassword", u"KSP", nullptr, 1) || !takeSecretNarrow(r, &keyStorePassword) ||
        !r.get(u"KeyPassword", u"KP", nullptr, 1) || !takeSecretNarrow(r, &keyPassword) ||
        !r.get(u"HostNameInCertificate", u"HNIC", nullptr) || !takeNarrow(r, &hostNameInCertificate, true) ||
        !r.get(u"ValidateServerCertificate", u"VSC", u"1") || !r.number(&validateServerCertificate) ||
        !r.get(u"SSLLibName", u"SLN", nullptr) || !takeNarrow(r, &sslLibName, true) ||
        !r.get(u"SeedBeforeConnect", u"SBC", u"0") || !r.number(&seedBeforeConnect) ||
        !r.get(u"CryptoLibName", u"CLN", nullptr) || !takeNarrow(r, &cryptoLibName, true))
        return 1;

    // Bulk, packet logging, sockets and catalog results.
    if (!r.get(u"BulkLoadFieldDelimiter", u"BLFD", u","))
        return 1;
    bulkFieldDelimiter = r.empty() ? ',' : delimiterFromOption(r.value);
    if (bulkFieldDelimiter == 0) {
        postOptionError(MSG_BULK_FIELD_DELIMITER_INVALID)->addParamW(r.value);
        return 1;
    }
    if (!r.get(u"BulkLoadRecordDelimiter", u"BLRD", nullptr))
        return 1;
    bulkRecordDelimiter = r.present() ? delimiterFromOption(r.value) : 0;
    if (r.present() && bulkRecordDelimiter == 0) {
        postOptionError(MSG_BULK_RECORD_DELIMITER_INVALID)->addParamW(r.value);
        return 1;
    }
    if (!r.get(u"COLUMNSIZEASCHARACTER", u"CSAC", u"0"))
        return 1;
    columnSizeAsCharacter = r.not0() ? 1 : 0;
    if (!r.get(u"ENABLEPACKETLOGGING", u"EPL", u"0") || !odbcSection(r, u"ENABLEPACKETLOGGING") ||
        !r.number(&packetLogging))
        return 1;
    if (packetLogging != 0) {
        // The driver's packet-log writer is made from these when the
        // connection opens its socket.
        struct Size {
            const char16_t* longKey;
            const char16_t* shortKey;
            const char16_t* def;
            uint64_t* field;
        };
        const Size sizes[] = {{u"PacketLoggingMemBuffSize", u"PLMBS", u"1024", &packetLoggingMemBuffSize},
                              {u"PacketLoggingMaxFileSize", u"PLMFS", u"102400", &packetLoggingMaxFileSize},
                              {u"PacketLoggingMaxNumFiles", u"PLMNF", u"10", &packetLoggingMaxNumFiles},
                              {u"PacketLoggingFlush", u"PLF", u"0", &packetLoggingFlush}};
        if (!r.get(u"PacketLoggingOptions", u"PLO", u"0") || !odbcSection(r, u"PacketLoggingOptions") ||
            !r.number(&packetLoggingOptions) || !r.get(u"PacketLoggingMode", u"PLM", u"0") ||
            !odbcSection(r, u"PacketLoggingMode") || !r.number(&packetLoggingMode))
            return 1;
        for (const Size& size : sizes)
            if (!r.get(size.longKey, size.shortKey, size.def) || !odbcSection(r, size.longKey) || !r.number(size.field))
                return 1;
        if (!r.get(u"PacketLoggingFilePrefix", u"PLFP", u"pkt") || !odbcSection(r, u"PacketLoggingFilePrefix") ||
            !takeNarrow(r, &packetLoggingFilePrefix, true))
            return 1;
    }
    if (!r.get(u"REPORTBINARYPRECISION", u"RBP", u"1"))
        return 1;
    reportBinaryPrecision = r.first1() ? 1 : 0;
    constexpr int64_t kSocketBufferLimit = 0x800000;
    if (!r.get(u"SocketSendBufferSize", u"SSBS", u"0"))
        return 1;
    r.lenient(&sendBufferSize, int64_t{0});
    if (sendBufferSize > kSocketBufferLimit)
        sendBufferSize = kSocketBufferLimit;
    if (!r.get(u"SocketReceiveBufferSize", u"SRBS", u"0"))
        return 1;
    r.lenient(&receiveBufferSize, int64_t{0});
    if (receiveBufferSize > kSocketBufferLimit)
        receiveBufferSize = kSocketBufferLimit;
    if (!r.get(u"SocketMaxReadSize", u"SMRS", u"0"))
        return 1;
    r.lenient(&maxReadSize, int64_t{0});
    if (maxReadSize >= 1 && maxReadSize < 8192)
        maxReadSize = 8192;
    if (!r.get(u"BulkLoadBatchSize", u"BLBS", u"1024"))
        return 1;
    r.lenient(&bulkLoadBatchSize, uint64_t{1024});
    if (!r.get(u"CatalogRemarksDataType", u"CRDT", u"0"))
        return 1;
    r.lenient(&catalogRemarksDataType, int64_t{0});
    if (!r.get(u"CatalogRemarksColumnSize", u"CRCS", u"0"))
        return 1;
    r.lenient(&catalogRemarksColumnSize, int64_t{0});
    if (!r.get(u"EnableBulkLoad", u"EBL", u"0"))
        return 1;
    r.lenient(&enableBulkLoad, uint32_t{0});
    if (!r.get(u"BulkLoadThreshold", u"BLTH", nullptr))
        return 1;
    if (r.present())
        r.lenient(&bulkLoadThreshold, bulkLoadThreshold);
    if (!r.get(u"BulkLoadReadBufferSize", u"BLRBS", u"2048"))
        return 1;
    r.lenient(&bulkLoadReadBufferSize, uint64_t{2048});
    if (!r.get(u"BulkLoadWriteBufferSize", u"BLWBS", u"256"))
        return 1;
    r.lenient(&bulkLoadWriteBufferSize, uint64_t{256});
    if (!r.get(u"BulkLoadProtocol", u"BLP", u"0"))
        return 1;
    r.lenient(&bulkLoadProtocol, uint32_t{0});
    // Kilobytes; what would not fit once multiplied means no limit.
    auto kilobytes = [](int64_t v) noexcept { return v > 0 && v < (int64_t{1} << 53) ? v * 1024 : v > 0 ? -1 : v; };
    if (!r.get(u"BulkBinaryThreshold", u"BBT", u"32"))
        return 1;
    r.lenient(&bulkBinaryThreshold, int64_t{32});
    bulkBinaryThreshold = kilobytes(bulkBinaryThreshold);
    if (!r.get(u"BulkCharacterThreshold", u"BCT", u"-1"))
        return 1;
    r.lenient(&bulkCharacterThreshold, int64_t{-1});
    bulkCharacterThreshold = kilobytes(bulkCharacterThreshold);
    if (!r.get(u"BulkLoadErrorTolerance", u"BLET", u"0"))
        return 1;
    r.lenient(&bulkLoadErrorTolerance, int64_t{0});
    if (!r.get(u"BulkLoadWarningTolerance", u"BLWT", u"-1"))
        return 1;
    r.lenient(&bulkLoadWarningTolerance, int64_t{-1});
    if (!r.get(u"GETDATALENGTH", u"GDL", u"0"))
        return 1;
    uint64_t dataLength = 0;
    r.lenient(&dataLength, uint64_t{0});
    getDataLength = dataLength == 1 || dataLength == 2 ? static_cast<uint16_t>(dataLength) : 0;
    if (!r.get(u"EnableFallbackMapping", u"EFM", u"0"))
        return 1;
    enableFallbackMapping = r.not0() ? 1 : 0;
    if (!r.get(u"ReauthenticationEnabled", u"RAE", u"0"))
        return 1;
    reauthenticationEnabled = r.not0() ? 1 : 0;

    // Time-outs, failover, pooling and the rest.
    if ((connectionFlags & kBaseConnLoginTimeoutSettable) != 0) {
        if (!r.get(u"LoginTimeout", u"LT", nullptr))
            return 1;
        int64_t timeout = loginTimeout;
        if (r.present())
            r.lenient(&timeout, loginTimeout);
        loginTimeoutLocked = timeout == -1 ? 1 : 0;
        loginTimeout = timeout == -1 ? 0 : timeout;
        if (!r.get(u"UseBlockingConnect", u"UBC", u"1"))
            return 1;
        useBlockingConnect = r.value[0] == '0' && r.value[1] == 0 ? 0 : 1;
    }
    if (queryTimeoutSupported != 0) {
        if (!r.get(u"QueryTimeout", u"QT", u"0"))
            return 1;
        r.lenient(&queryTimeout, int64_t{0});
        queryTimeoutIgnored = queryTimeout == -1 ? 1 : 0;
        if (queryTimeout == -1)
            queryTimeout = 0;
        if (!r.get(u"InterruptTimeout", u"IT", u"0"))
            return 1;
        r.lenient(&interruptTimeout, queryTimeout);
    }
    if (failoverSupported != 0) {
        if (!r.get(u"FailoverPreconnect", u"FP", u"0"))
            return 1;
        failoverPreconnect = r.not0() ? 1 : 0;
        if (!r.get(u"FailoverMode", u"FM", u"0"))
            return 1;
        failoverMode = r.value[0] == '2' ? 2 : r.value[0] == '1' ? 1 : 0;
        configuredFailoverMode = failoverMode;
        if (!r.get(u"FailoverGranularity", u"FG", u"0"))
            return 1;
        failoverGranularity = r.value[0] >= '1' && r.value[0] <= '3' ? static_cast<uint16_t>(r.value[0] - '0') : 0;
        if (!r.get(u"FailoverCacheSize", u"FCS", u"100"))
            return 1;
        r.lenient(&failoverCacheSize, uint64_t{100});
        r.limit(&failoverCacheSize, uint64_t{0}, kBaseFailoverCacheLimit, u"FailoverCacheSize");
    }
    if (!r.get(u"Pooling", u"POOL", u"0"))
        return 1;
    pooling = r.first1() ? 1 : 0;
    // Each slot of a pool is memory, and each one of the minimum an open
    // connection: both are held to what a process can sensibly keep.
    if (!r.get(u"MaxPoolSize", u"MXPS", u"100") || !r.number(&maxPoolSize))
        return 1;
    const int64_t maxGiven = maxPoolSize;
    r.limit(&maxPoolSize, int64_t{1}, kBasePoolSizeLimit, u"MaxPoolSize");
    if (!r.get(u"MinPoolSize", u"MNPS", u"0") || !r.number(&minPoolSize))
        return 1;
    if (maxGiven < minPoolSize) {
        postOptionError(MSG_POOL_SIZE_INVALID);
        return 1;
    }
    r.limit(&minPoolSize, int64_t{0}, maxPoolSize, u"MinPoolSize");
    if (!r.get(u"LoadBalanceTimeout", u"LBT", u"0") || !r.number(&loadBalanceTimeout))
        return 1;
    if (!r.get(u"ConnectionReset", u"CR", u"0"))
        return 1;
    connectionReset = r.first1() ? 1 : 0;
    if (!r.get(u"KeepAlive", u"KA", u"0"))
        return 1;
    keepAlive = r.first1() ? 1 : 0;
    if (!r.get(u"ConnectionTimeout", u"CT", u"0"))
        return 1;
    uint64_t connTimeout = 0;
    r.lenient(&connTimeout, uint64_t{0});
    connectionTimeout = static_cast<int64_t>(connTimeout);
    if (!r.get(u"OctetSizeCalculation", u"OSC", u"0"))
        return 1;
    r.lenient(&octetSizeCalculation, uint16_t{0});
    if (!r.get(u"TimestampTruncationBehavior", u"TTB", u"0"))
        return 1;
    timestampTruncationBehavior = r.exact1() ? 1 : 0;
    if (!r.get(u"AllowDiskCaching", u"ADC", u"1"))
        return 1;
    allowDiskCaching = r.first1() ? 1 : 0;
    if (!r.get(u"DRIVER", u"DRVR", nullptr))
        return 1;
    if (!r.get(u"InitializationString", u"IS", nullptr))
        return 1;
    ramFree(initializationString);
    initializationString = nullptr;
    if (r.present()) {
        initializationString = r.value;
        r.value = nullptr;
    }
    if (!r.get(u"EnableAsyncSupport", u"EAS", u"1"))
        return 1;
    enableAsyncSupport = r.exact1() ? 1 : 0;
    if (!r.get(u"DoubleToStringPrecision", u"DTSP", u"0") || !r.number(&u16))
        return 1;
    doubleToStringPrecision = static_cast<uint16_t>(u16 & 0xFF);
    if (!r.get(u"RoundingMode", u"RM", u"0") || !r.number(&u16))
        return 1;
    roundingMode = u16 == 1 ? 1 : 0;
    if (!r.get(u"ServerNameBehavior", u"SNB", u"0"))
        return 1;
    serverNameBehavior = r.exact1() ? 1 : 0;
    if (!r.get(u"AllowHH24", u"HH24", u"0"))
        return 1;
    allowHH24 = r.exact1() ? 1 : 0;
    if (!r.get(u"VarcharThreshold", u"VT", nullptr) || !r.number(&varcharThreshold))
        return 1;
    if (!r.present())
        varcharThreshold = UINT32_MAX;
    if (!r.get(u"WVarcharThreshold", u"WVT", nullptr) || !r.number(&wvarcharThreshold))
        return 1;
    if (!r.present())
        wvarcharThreshold = varcharThreshold;
    auto longSize = [](int64_t v) noexcept { return v >= 1 && v <= INT32_MAX ? v : -1; };
    if (!r.get(u"MinLongVarcharSize", u"MINLVS", nullptr) || !r.number(&minLongVarcharSize))
        return 1;
    minLongVarcharSize = r.present() ? longSize(minLongVarcharSize) : -1;
    if (!r.get(u"MinWLongVarcharSize", u"MINWLVS", nullptr) || !r.number(&minWLongVarcharSize))
        return 1;
    minWLongVarcharSize = r.present() ? longSize(minWLongVarcharSize) : minLongVarcharSize;
    longDataDescriptorLimit = 0;
    if (!r.get(u"LongDataDescriptorLimit", u"LDDL", nullptr))
        return 1;
    if (!r.empty() && !r.number(&longDataDescriptorLimit))
        return 1;
    if (!r.present() && autoTune != 0 && runsAutoTuneHost())
        longDataDescriptorLimit = kAutoTuneLongDataLimit;
    if (!r.get(u"DLOpenMode", nullptr, nullptr))
        return 1;
    // Static cursors are emulated only where caching on disk is allowed.
    if (allowDiskCaching == 0)
        staticCursorEmulation = 0;
    return 0;
}
