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
#include "foundation/kaowner.h"
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
    KaDiagMark mark;
    if (bosGetProcessName(name, sizeof name) != 0) {
        for (size_t n = mark.posted(); n > 0; --n)
            mark.list()->discardLast();
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
    RamPtr<uint16_t> buffer = ramMake<uint16_t>(kBaseOptionUnits);
    if (buffer == nullptr) {
        *failed = true;
        return nullptr;
    }
    int32_t n = KaGetPrivateProfileStringW(section, key, strUnits(u""), buffer.get(), kBaseOptionUnits, file);
    if (n >= kBaseOptionUnits - 1) {
        buffer = ramMake<uint16_t>(kBaseOptionLongUnits);
        if (buffer == nullptr) {
            *failed = true;
            return nullptr;
        }
        n = KaGetPrivateProfileStringW(section, key, strUnits(u""), buffer.get(), kBaseOptionLongUnits, file);
        *taken = true;
    }
    uint16_t* copy = n > 0 ? strDupNW(buffer.get(), static_cast<size_t>(n)) : nullptr;
    if (n > 0 && copy == nullptr)
        *failed = true;
    fastMemzero(buffer.get(), static_cast<size_t>(n > 0 ? n : 0) * 2);
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
        RamPtr<char> text(r.empty() ? nullptr : strDupUtf8W(r.value));
        if (text == nullptr) {
            postOptionError(MSG_CRYPTO_PROTOCOL_INVALID)->addParamW(r.value)->addParamText(defaults);
            return false;
        }
        for (char* c = text.get(); *c != 0; ++c)
            if (*c >= 'a' && *c <= 'z')
                *c = static_cast<char>(*c - 32);
        const char* unknownStart = nullptr;
        const char* unknownEnd = nullptr;
        parseKeywordList(flags, text.get(), kProtocolNames, kProtocolCount, kProtocolDefaults, &unknownStart,
                         &unknownEnd);
        if (unknownStart != nullptr) {
            KaSubString item(unknownStart, static_cast<size_t>(unknownEnd - unknownStart));
            postOptionError(MSG_CRYPTO_PROTOCOL_INVALID)->addParamSubString(item)->addParamText(defaults);
            return false;
        }
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
    RamWipedPtr<char> hex(static_cast<char*>(ramAlloc(digits + 1)), digits);
    if (!hex)
        return 1;
    for (size_t i = 0; i < digits; ++i) {
        uint16_t u = text[skip + i];
        hex.get()[i] = u < 128 ? static_cast<char>(u) : '?';
    }
    hex.get()[digits] = 0;
    size_t bytes = digits / 2;
    auto* raw = reinterpret_cast<uint8_t*>(text);
    int bad = unhexify(raw, hex.get(), digits);
    hex.reset();
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

namespace {

using Conn = BaseConnection;
using Kw = BaseKeyword<Conn>;
using K = BaseKwKind;

bool failWith(uint16_t msg) noexcept
{
    postOptionError(msg);
    return false;
}

// ProfileName, and ProfileDirectory (the next row) when a profile is named.
bool readProfile(Conn& c, OptionReader& r, const Kw* row) noexcept
{
    ramFree(c.profilePathW);
    c.profilePathW = nullptr;
    if (!row->get(r))
        return false;
    if (r.empty() || sameNoCase(r.value, strUnits(u"_NOT_USED")))
        return true;
    RamPtr<uint16_t> name(r.take(false));
    KaStringW path;
    bool pathFailed = false;
    if (!row[1].get(r))
        return false;
    if (!r.empty()) {
        pathFailed = path.append(r.value, strLenOrZeroW(r.value)) != 0 ||
                     (r.value[strLenOrZeroW(r.value) - 1] != '/' && path.appendChar('/') != 0);
    } else {
        char dir[BOS_PATH_SIZE];
        dir[0] = 0;
        bosGetInstallDir(dir, sizeof dir);
        if (dir[0] == 0) {
            basePostError(kBaseIdxGeneralError)->appendText(" Unable to get install directory");
            return false;
        }
        pathFailed = path.appendNarrow(dir, std::strlen(dir)) != 0 || path.append(strUnits(u"/profiles/"), 10) != 0;
    }
    pathFailed = pathFailed || path.append(name.get(), strLenOrZeroW(name.get())) != 0;
    if (pathFailed)
        return false;
    if (bosexistW(path.data) == 0) {
        postOptionError(MSG_PROFILE_NOT_FOUND)->addParamW(path.data);
        return false;
    }
    c.profilePathW = strDupNW(path.data, path.len);
    return c.profilePathW != nullptr;
}

// The user and the password, kept enciphered, when the connect reads them.
bool readCredential(Conn& c, OptionReader& r, const Kw* row, KaMemoryBuffer& holder, int32_t& fromFile) noexcept
{
    if (!r.credentials)
        return true;
    int32_t source = kBaseOptNotFound;
    const uint16_t* shortKey = strUnits(row->shortKey);
    if (c.readCredentialOption(r.parser(), shortKey, strUnits(row->longKey), nullptr, holder, &source) != 0)
        return false;
    fromFile = source >= kBaseOptFromProfile && source <= kBaseOptFromDriver ? 1 : 0;
    return true;
}

// TRANSLATIONSHAREDLIBRARY, and TRANSLATIONOPTION (the next row) with it.
bool readTranslator(Conn& c, OptionReader& r, const Kw* row) noexcept
{
    if (r.empty())
        return true;
    RamPtr<uint16_t> library(r.take(false));
    return row[1].get(r) && r.number(&c.translationOption) && c.loadTranslator(library.get()) == 0;
}

// The identifier case options are read twice: the second reading of
// IdentifierNameCaseSensitive defaults to what the first one gave.
bool readIdentifierCase(Conn& c, OptionReader& r, const Kw* row) noexcept
{
    for (int pass = 0; pass < 2; ++pass) {
        if (!r.get(row->longKey, row->shortKey, c.identifierCaseSensitive != 0 ? u"1" : u"0"))
            return false;
        c.identifierCaseSensitive = r.exact1() ? 1 : 0;
        if (!row[1].get(r))
            return false;
        c.metadataIdOffCaseInsensitive = r.exact1() ? 1 : 0;
    }
    return true;
}

bool readThreadModel(Conn& c, OptionReader& r, const Kw*) noexcept
{
    if (r.present()) {
        if (sameNoCase(r.value, strUnits(u"THREADSAFE")))
            c.threadModel = kBaseThreadSafe;
        else if (sameNoCase(r.value, strUnits(u"THREADPERDRIVER")))
            c.threadModel = kBaseThreadPerDriver;
        else if (sameNoCase(r.value, strUnits(u"THREADPERCONNECTION")))
            c.threadModel = kBaseThreadPerConnection;
    }
    // An application without threads wants no locking. The locks stay
    // alive: the running call and any waiting thread release what they
    // took (a destroyed mutex here would be unlocked by this call's exit).
    if (c.applicationUsingThreads == 0 && c.threadModel != kBaseThreadSafe && c.handle != nullptr)
        c.handle->switchLockingOff();
    return true;
}

bool checkEncryptionMethod(Conn& c, OptionReader&, const Kw*) noexcept
{
    if (c.encryptionMethod != 0 &&
        (c.encryptionMethod > 31 || (c.allowedEncryptionMethods & (1u << c.encryptionMethod)) == 0)) {
        char list[32];
        encryptionMethodList(list, sizeof list, c.allowedEncryptionMethods);
        postOptionError(MSG_ENCRYPTION_METHOD_INVALID)->addParamText(list);
        return false;
    }
    return true;
}

bool readAllowedVersions(Conn& c, OptionReader& r, const Kw*) noexcept
{
    char* versions = strDupUtf8W(r.value);
    if (versions == nullptr)
        return false;
    ramFree(c.allowedOpenSSLVersions);
    c.allowedOpenSSLVersions = versions;
    c.cryptoProtocolExplicit = 0;
    return true;
}

// The application code page comes from the string (or its data source).
bool readAppCodePage(Conn& c, OptionReader& r, const Kw* row) noexcept
{
    uint16_t* dsnOut = nullptr;
    c.appCodePage = getAppCodePageW(r.connectText, r.connectLength == SQL_NTS ? -3 : r.connectLength, &dsnOut);
    ramFree(dsnOut);
    return row->get(r);
}

bool readFieldDelimiter(Conn& c, OptionReader& r, const Kw*) noexcept
{
    c.bulkFieldDelimiter = r.empty() ? ',' : delimiterFromOption(r.value);
    if (c.bulkFieldDelimiter == 0) {
        postOptionError(MSG_BULK_FIELD_DELIMITER_INVALID)->addParamW(r.value);
        return false;
    }
    return true;
}

bool readRecordDelimiter(Conn& c, OptionReader& r, const Kw*) noexcept
{
    c.bulkRecordDelimiter = r.present() ? delimiterFromOption(r.value) : 0;
    if (r.present() && c.bulkRecordDelimiter == 0) {
        postOptionError(MSG_BULK_RECORD_DELIMITER_INVALID)->addParamW(r.value);
        return false;
    }
    return true;
}

constexpr int64_t kSocketBufferLimit = 0x800000;
// A socket read asks for at least this much, unless it is left unbounded (0).
constexpr int64_t kSocketMinReadSize = 8192;
// MAXROWSETSIZE 0 stands for this many rows.
constexpr uint64_t kDefaultMaxRowsetSize = 10000;
// A static cursor keeps at least this much of a long column.
constexpr uint64_t kStaticCursorLongColMin = 1000;
// ProxyMode: no proxy, or an HTTP proxy.
constexpr uint32_t kProxyModeHttp = 1;

// Kilobytes; what would not fit once multiplied means no limit.
int64_t kilobytes(int64_t v) noexcept
{
    return v > 0 && v < (int64_t{1} << 53) ? v * 1024 : v > 0 ? -1 : v;
}

bool readLoginTimeout(Conn& c, OptionReader& r, const Kw*) noexcept
{
    int64_t timeout = c.loginTimeout;
    if (r.present())
        r.lenient(&timeout, c.loginTimeout);
    c.loginTimeoutLocked = timeout == -1 ? 1 : 0;
    c.loginTimeout = timeout == -1 ? 0 : timeout;
    return true;
}

bool loginTimeoutSettable(const Conn& c) noexcept
{
    return (c.connectionFlags & kBaseConnLoginTimeoutSettable) != 0;
}
bool queryTimeoutRead(const Conn& c) noexcept
{
    return c.queryTimeoutSupported != 0;
}
bool failoverRead(const Conn& c) noexcept
{
    return c.failoverSupported != 0;
}
bool packetLoggingOn(const Conn& c) noexcept
{
    return c.packetLogging != 0;
}

// Each slot of a pool is memory, and each one of the minimum an open
// connection: both are held to what a process can sensibly keep. Reads
// MaxPoolSize and MinPoolSize (the next row).
bool readPoolSizes(Conn& c, OptionReader& r, const Kw* row) noexcept
{
    if (!row->get(r) || !r.number(&c.maxPoolSize))
        return false;
    const int64_t maxGiven = c.maxPoolSize;
    r.limit(&c.maxPoolSize, int64_t{1}, kBasePoolSizeLimit, row->longKey);
    if (!row[1].get(r) || !r.number(&c.minPoolSize))
        return false;
    if (maxGiven < c.minPoolSize)
        return failWith(MSG_POOL_SIZE_INVALID);
    r.limit(&c.minPoolSize, int64_t{0}, c.maxPoolSize, row[1].longKey);
    return true;
}

// A column size given as text: absent or out of range is -1.
int64_t longSize(int64_t v) noexcept
{
    return v >= 1 && v <= INT32_MAX ? v : -1;
}

bool readLongDataLimit(Conn& c, OptionReader& r, const Kw* row) noexcept
{
    c.longDataDescriptorLimit = 0;
    if (!row->get(r))
        return false;
    if (!r.empty() && !r.number(&c.longDataDescriptorLimit))
        return false;
    if (!r.present() && c.autoTune != 0 && runsAutoTuneHost())
        c.longDataDescriptorLimit = kAutoTuneLongDataLimit;
    return true;
}

// The framework's keywords, in the order they are read.
const Kw kBaseKeywords[] = {
    // General options.
    {u"AutoTune", u"AT", nullptr, K::Exact1, &Conn::autoTune},
    {u"ProfileName", u"PN", u"_NOT_USED", K::Own, {}, readProfile},
    {u"ProfileDirectory", u"PD", nullptr, K::Listed},
    {u"ExtendedOptions", u"XO", nullptr, K::Custom, {},
     [](Conn&, OptionReader& r, const Kw*) noexcept {
         if (r.present() && r.source == kBaseOptFromString) {
             postOptionError(MSG_UNUSED_CONNECTION_ATTRIBUTE)->addParamText("XO");
             return false;
         }
         return true;
     }},
    {u"DESCRIPTION", u"DESC", nullptr, K::Ignored},
    {u"FILEDSN", nullptr, nullptr, K::Ignored},
    {u"LOGONID", u"UID", nullptr, K::Own, {},
     [](Conn& c, OptionReader& r, const Kw* row) noexcept {
         return readCredential(c, r, row, c.userId, c.userIdFromFile);
     }},
    {u"PASSWORD", u"PWD", nullptr, K::Own, {},
     [](Conn& c, OptionReader& r, const Kw* row) noexcept {
         return readCredential(c, r, row, c.password, c.passwordFromFile);
     }},
    {u"MODIFYSQL", u"MS", u"1", K::Not0, &Conn::modifySql},
    {u"WORKAROUNDS", u"WA", u"0", K::Number, &Conn::workarounds,
     [](Conn& c, OptionReader&, const Kw*) noexcept {
         if ((c.workarounds & kBaseWaAnsiApp) != 0)
             c.connectionFlags |= kBaseConnAnsiApp;
         return true;
     }},
    {u"WORKAROUNDS2", u"WA2", u"0", K::Number, &Conn::workarounds2},
    {u"WORKAROUNDS3", u"WA3", u"0", K::Number, &Conn::workarounds3},
    {u"USEVENDORSQLSTATES", u"UVSS", u"0", K::Custom, {},
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         if (!r.empty())
             c.vendorSqlStates = r.first1() ? 1 : 0;
         return true;
     }},
    {u"DEFAULTLONGDATABUFFLEN", u"DLDBL", u"1024", K::Number, &Conn::defaultLongDataBuffLen,
     [](Conn& c, OptionReader&, const Kw*) noexcept {
         c.defaultLongDataBuffLen *= 1024;
         return true;
     }},
    {u"CATALOGOPTIONS", u"CO", u"0", K::Number, &Conn::catalogOptions},
    {u"MAXROWSETSIZE", u"MRS", u"0", K::Number, &Conn::maxRowsetSize,
     [](Conn& c, OptionReader&, const Kw*) noexcept {
         if (c.maxRowsetSize == 0)
             c.maxRowsetSize = kDefaultMaxRowsetSize;
         return true;
     }},
    {u"FILEHANDLES", u"FH", u"0", K::U16Flag},
    {u"TRANSLATIONSHAREDLIBRARY", nullptr, nullptr, K::Custom, {}, readTranslator},
    {u"TRANSLATIONOPTION", nullptr, u"0", K::Listed},
    {u"STATICTOKEYSET", u"STK", u"0", K::U16Flag, &Conn::staticToKeyset},
    {u"DRIVERCOMPATIBILITY", u"DCOMP", u"0", K::Number, &Conn::driverCompatibility},
    {u"USELONGQUALIFIERS", u"ULQ", u"0", K::U16Flag, &Conn::useLongQualifiers},
    {u"USEPOSITIVESCALE", u"UPS", u"1", K::U16Flag, &Conn::usePositiveScale},
    {u"APPLICATIONUSINGTHREADS", u"AUT", u"1", K::U16Flag, &Conn::applicationUsingThreads},
    // On by default where the driver lets character attributes be set.
    {u"SETUNICODEWORKAROUNDS", u"SUW", kBaseKwComputed, K::Own, {},
     [](Conn& c, OptionReader& r, const Kw* row) noexcept {
         bool charAttrs = (c.connectionFlags & kBaseConnCharAttrsSettable) != 0;
         if (!r.get(row->longKey, row->shortKey, charAttrs ? u"1" : u"0"))
             return false;
         c.unicodeWorkarounds = r.exact1() ? 1 : 0;
         return true;
     }},
    {u"IdentifierNameCaseSensitive", u"INCS", kBaseKwComputed, K::Own, {}, readIdentifierCase},
    {u"MetadataIdOffCaseInsensitive", u"MIOCI", u"0", K::Listed},
    {u"THREADCAPABILITY", u"TCA", nullptr, K::Custom, {}, readThreadModel},
    {u"STATICCURSORLONGCOLBUFFLEN", u"SCLCBL", u"4096", K::Number, &Conn::staticCursorLongColBuffLen,
     [](Conn& c, OptionReader&, const Kw*) noexcept {
         if (c.staticCursorLongColBuffLen < kStaticCursorLongColMin)
             c.staticCursorLongColBuffLen = kStaticCursorLongColMin;
         return true;
     }},
    {u"REPORTCODEPAGECONVERSIONERRORS", u"RCCE", u"0", K::Number, &Conn::reportCodepageConversionErrors,
     [](Conn& c, OptionReader&, const Kw*) noexcept {
         if (c.reportCodepageConversionErrors != 0)
             c.icuCache.setMode(static_cast<int32_t>(c.reportCodepageConversionErrors));
         return true;
     }},

    // Proxy.
    {u"ProxyMode", u"PXM", u"0", K::Number, &Conn::proxyMode,
     [](Conn& c, OptionReader&, const Kw*) noexcept {
         if (c.proxyMode > kProxyModeHttp) {
             postOptionError(MSG_PROXY_MODE_INVALID)->addParamText("0,1");
             return false;
         }
         return true;
     }},
    {u"ProxyHost", u"PXHN", nullptr, K::Narrow, &Conn::proxyHost,
     [](Conn& c, OptionReader&, const Kw*) noexcept {
         return c.proxyMode != kProxyModeHttp || (c.proxyHost != nullptr && c.proxyHost[0] != 0) ||
                failWith(MSG_PROXY_HOST_MISSING);
     }},
    {u"ProxyPort", u"PXPT", nullptr, K::Number, &Conn::proxyPort,
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         return c.proxyMode != kProxyModeHttp || !r.empty() || failWith(MSG_PROXY_PORT_MISSING);
     }},
    {u"ProxyUser", u"PXU", nullptr, K::Narrow, &Conn::proxyUser},
    {u"ProxyPassword", u"PXPW", nullptr, K::Narrow, &Conn::proxyPassword, nullptr, nullptr, 0, kBaseKwDecode},

    // Encryption.
    {u"EncryptionMethod", u"EM", u"0", K::Number, &Conn::encryptionMethod, checkEncryptionMethod},
    {u"OpenSSLOptions", u"OSO", u"0", K::Number, &Conn::tlsProtocols,
     [](Conn& c, OptionReader&, const Kw*) noexcept {
         c.tlsFallbackProtocols = c.tlsProtocols;
         return true;
     }},
    {u"OpenSSLMode", u"OSM", u"0", K::Custom, {},
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         uint32_t mode = 0;
         if (!r.number(&mode))
             return false;
         if (mode != 0)
             c.tlsFlags = mode;
         return true;
     }},
    {u"DisableStaticCursorEmulation", u"DSCE", u"0", K::First1, &Conn::disableStaticCursorEmulation},
    {u"AllowedOpenSSLVersions", u"AOV", u"1.1.1,1.0.2", K::Custom, {}, readAllowedVersions},
    // Read only for the methods that use TLS protocols.
    {u"CryptoProtocolVersion", u"CPV", nullptr, K::Custom, {},
     [](Conn& c, OptionReader& r, const Kw*) noexcept { return readCryptoProtocols(&c, r); },
     [](const Conn& c) noexcept {
         return c.encryptionMethod == 1 || c.encryptionMethod == 6 || c.encryptionMethod == 7;
     }},
    {u"CipherList", u"CL", nullptr, K::Custom, {},
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         return r.empty() || takeNarrow(r, &c.cipherList, false) || failWith(MSG_CIPHER_LIST_INVALID);
     }},
    {u"TLSTunnel", u"TT", u"0", K::Custom, {},
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         if (!r.empty())
             c.tlsTunnel = r.first1() ? 1 : 0;
         return true;
     }},
    {u"PRNGSeedFile", u"PSF", nullptr, K::Narrow, &Conn::prngSeedFile, nullptr, nullptr, 0, kBaseKwNonEmpty},
    {u"PRNGMaxBytes", u"PMB", nullptr, K::Number, &Conn::prngMaxBytes},
    {u"PRNGSeedSource", u"PSS", u"0", K::Custom, {},
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         c.prngSeedSource = r.value[0] < '0' ? 0 : r.value[0] > '2' ? 2 : static_cast<uint16_t>(r.value[0] - '0');
         return true;
     }},
    {u"APPCODEPAGE", u"ACP", nullptr, K::Own, {}, readAppCodePage},
    {u"IANAAPPCODEPAGE", u"IACP", nullptr, K::Ignored},
    {u"TrustStore", u"TS", nullptr, K::Narrow, &Conn::trustStore},
    {u"TrustStorePassword", u"TSP", nullptr, K::Secret, &Conn::trustStorePassword, nullptr, nullptr, 0, kBaseKwDecode},
    {u"KeyStore", u"KS", nullptr, K::Narrow, &Conn::keyStore},
    {u"KeyStorePassword", u"KSP", nullptr, K::Secret, &Conn::keyStorePassword, nullptr, nullptr, 0, kBaseKwDecode},
    {u"KeyPassword", u"KP", nullptr, K::Secret, &Conn::keyPassword, nullptr, nullptr, 0, kBaseKwDecode},
    {u"HostNameInCertificate", u"HNIC", nullptr, K::Narrow, &Conn::hostNameInCertificate, nullptr, nullptr, 0,
     kBaseKwNonEmpty},
    {u"ValidateServerCertificate", u"VSC", u"1", K::Number, &Conn::validateServerCertificate},
    {u"SSLLibName", u"SLN", nullptr, K::Narrow, &Conn::sslLibName, nullptr, nullptr, 0, kBaseKwNonEmpty},
    {u"SeedBeforeConnect", u"SBC", u"0", K::Number, &Conn::seedBeforeConnect},
    {u"CryptoLibName", u"CLN", nullptr, K::Narrow, &Conn::cryptoLibName, nullptr, nullptr, 0, kBaseKwNonEmpty},

    // Bulk, packet logging, sockets and catalog results.
    {u"BulkLoadFieldDelimiter", u"BLFD", u",", K::Custom, {}, readFieldDelimiter},
    {u"BulkLoadRecordDelimiter", u"BLRD", nullptr, K::Custom, {}, readRecordDelimiter},
    {u"COLUMNSIZEASCHARACTER", u"CSAC", u"0", K::Not0, &Conn::columnSizeAsCharacter},
    {u"ENABLEPACKETLOGGING", u"EPL", u"0", K::Number, &Conn::packetLogging, nullptr, nullptr, 0, kBaseKwOdbcSection},
    // The driver's packet-log writer is made from these when the connection
    // opens its socket.
    {u"PacketLoggingOptions", u"PLO", u"0", K::Number, &Conn::packetLoggingOptions, nullptr, packetLoggingOn, 0,
     kBaseKwOdbcSection},
    {u"PacketLoggingMode", u"PLM", u"0", K::Number, &Conn::packetLoggingMode, nullptr, packetLoggingOn, 0,
     kBaseKwOdbcSection},
    {u"PacketLoggingMemBuffSize", u"PLMBS", u"1024", K::Number, &Conn::packetLoggingMemBuffSize, nullptr,
     packetLoggingOn, 0, kBaseKwOdbcSection},
    {u"PacketLoggingMaxFileSize", u"PLMFS", u"102400", K::Number, &Conn::packetLoggingMaxFileSize, nullptr,
     packetLoggingOn, 0, kBaseKwOdbcSection},
    {u"PacketLoggingMaxNumFiles", u"PLMNF", u"10", K::Number, &Conn::packetLoggingMaxNumFiles, nullptr,
     packetLoggingOn, 0, kBaseKwOdbcSection},
    {u"PacketLoggingFlush", u"PLF", u"0", K::Number, &Conn::packetLoggingFlush, nullptr, packetLoggingOn, 0,
     kBaseKwOdbcSection},
    {u"PacketLoggingFilePrefix", u"PLFP", u"pkt", K::Narrow, &Conn::packetLoggingFilePrefix, nullptr, packetLoggingOn,
     0, kBaseKwOdbcSection | kBaseKwNonEmpty},
    {u"REPORTBINARYPRECISION", u"RBP", u"1", K::First1, &Conn::reportBinaryPrecision},
    {u"SocketSendBufferSize", u"SSBS", u"0", K::Lenient, &Conn::sendBufferSize,
     [](Conn& c, OptionReader&, const Kw*) noexcept {
         if (c.sendBufferSize > kSocketBufferLimit)
             c.sendBufferSize = kSocketBufferLimit;
         return true;
     }},
    {u"SocketReceiveBufferSize", u"SRBS", u"0", K::Lenient, &Conn::receiveBufferSize,
     [](Conn& c, OptionReader&, const Kw*) noexcept {
         if (c.receiveBufferSize > kSocketBufferLimit)
             c.receiveBufferSize = kSocketBufferLimit;
         return true;
     }},
    {u"SocketMaxReadSize", u"SMRS", u"0", K::Lenient, &Conn::maxReadSize,
     [](Conn& c, OptionReader&, const Kw*) noexcept {
         if (c.maxReadSize >= 1 && c.maxReadSize < kSocketMinReadSize)
             c.maxReadSize = kSocketMinReadSize;
         return true;
     }},
    {u"BulkLoadBatchSize", u"BLBS", u"1024", K::Lenient, &Conn::bulkLoadBatchSize, nullptr, nullptr, 1024},
    {u"CatalogRemarksDataType", u"CRDT", u"0", K::Lenient, &Conn::catalogRemarksDataType},
    {u"CatalogRemarksColumnSize", u"CRCS", u"0", K::Lenient, &Conn::catalogRemarksColumnSize},
    {u"EnableBulkLoad", u"EBL", u"0", K::Lenient, &Conn::enableBulkLoad},
    // Bad text keeps the value the connection has.
    {u"BulkLoadThreshold", u"BLTH", nullptr, K::Custom, {},
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         if (r.present())
             r.lenient(&c.bulkLoadThreshold, c.bulkLoadThreshold);
         return true;
     }},
    {u"BulkLoadReadBufferSize", u"BLRBS", u"2048", K::Lenient, &Conn::bulkLoadReadBufferSize, nullptr, nullptr, 2048},
    {u"BulkLoadWriteBufferSize", u"BLWBS", u"256", K::Lenient, &Conn::bulkLoadWriteBufferSize, nullptr, nullptr, 256},
    {u"BulkLoadProtocol", u"BLP", u"0", K::Lenient, &Conn::bulkLoadProtocol},
    {u"BulkBinaryThreshold", u"BBT", u"32", K::Lenient, &Conn::bulkBinaryThreshold,
     [](Conn& c, OptionReader&, const Kw*) noexcept {
         c.bulkBinaryThreshold = kilobytes(c.bulkBinaryThreshold);
         return true;
     },
     nullptr, 32},
    {u"BulkCharacterThreshold", u"BCT", u"-1", K::Lenient, &Conn::bulkCharacterThreshold,
     [](Conn& c, OptionReader&, const Kw*) noexcept {
         c.bulkCharacterThreshold = kilobytes(c.bulkCharacterThreshold);
         return true;
     },
     nullptr, -1},
    {u"BulkLoadErrorTolerance", u"BLET", u"0", K::Lenient, &Conn::bulkLoadErrorTolerance},
    {u"BulkLoadWarningTolerance", u"BLWT", u"-1", K::Lenient, &Conn::bulkLoadWarningTolerance, nullptr, nullptr, -1},
    {u"GETDATALENGTH", u"GDL", u"0", K::Custom, {},
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         uint64_t dataLength = 0;
         r.lenient(&dataLength, uint64_t{0});
         c.getDataLength = dataLength == 1 || dataLength == 2 ? static_cast<uint16_t>(dataLength) : 0;
         return true;
     }},
    {u"EnableFallbackMapping", u"EFM", u"0", K::Not0, &Conn::enableFallbackMapping},
    {u"ReauthenticationEnabled", u"RAE", u"0", K::Not0, &Conn::reauthenticationEnabled},

    // Time-outs, failover, pooling and the rest.
    {u"LoginTimeout", u"LT", nullptr, K::Custom, {}, readLoginTimeout, loginTimeoutSettable},
    {u"UseBlockingConnect", u"UBC", u"1", K::Custom, {},
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         c.useBlockingConnect = r.value[0] == '0' && r.value[1] == 0 ? 0 : 1;
         return true;
     },
     loginTimeoutSettable},
    {u"QueryTimeout", u"QT", u"0", K::Lenient, &Conn::queryTimeout,
     [](Conn& c, OptionReader&, const Kw*) noexcept {
         c.queryTimeoutIgnored = c.queryTimeout == -1 ? 1 : 0;
         if (c.queryTimeout == -1)
             c.queryTimeout = 0;
         return true;
     },
     queryTimeoutRead},
    // Bad text takes the query time-out.
    {u"InterruptTimeout", u"IT", u"0", K::Custom, {},
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         r.lenient(&c.interruptTimeout, c.queryTimeout);
         return true;
     },
     queryTimeoutRead},
    {u"FailoverPreconnect", u"FP", u"0", K::Not0, &Conn::failoverPreconnect, nullptr, failoverRead},
    {u"FailoverMode", u"FM", u"0", K::Custom, {},
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         c.failoverMode = r.value[0] == '2' ? kBaseFailoverModeQueries
                          : r.value[0] == '1' ? kBaseFailoverModeConnect
                                              : 0;
         c.configuredFailoverMode = c.failoverMode;
         return true;
     },
     failoverRead},
    {u"FailoverGranularity", u"FG", u"0", K::Custom, {},
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         c.failoverGranularity =
             r.value[0] >= '1' && r.value[0] <= '3' ? static_cast<uint16_t>(r.value[0] - '0') : 0;
         return true;
     },
     failoverRead},
    {u"FailoverCacheSize", u"FCS", u"100", K::Lenient, &Conn::failoverCacheSize,
     [](Conn& c, OptionReader& r, const Kw* row) noexcept {
         r.limit(&c.failoverCacheSize, uint64_t{0}, kBaseFailoverCacheLimit, row->longKey);
         return true;
     },
     failoverRead, 100},
    {u"Pooling", u"POOL", u"0", K::First1, &Conn::pooling},
    {u"MaxPoolSize", u"MXPS", u"100", K::Own, {}, readPoolSizes},
    {u"MinPoolSize", u"MNPS", u"0", K::Listed},
    {u"LoadBalanceTimeout", u"LBT", u"0", K::Number, &Conn::loadBalanceTimeout},
    {u"ConnectionReset", u"CR", u"0", K::First1, &Conn::connectionReset},
    {u"KeepAlive", u"KA", u"0", K::First1, &Conn::keepAlive},
    // Read unsigned: a negative time-out is bad text, taken as none.
    {u"ConnectionTimeout", u"CT", u"0", K::Custom, {},
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         uint64_t timeout = 0;
         r.lenient(&timeout, uint64_t{0});
         c.connectionTimeout = static_cast<int64_t>(timeout);
         return true;
     }},
    {u"OctetSizeCalculation", u"OSC", u"0", K::Lenient, &Conn::octetSizeCalculation},
    {u"TimestampTruncationBehavior", u"TTB", u"0", K::Exact1, &Conn::timestampTruncationBehavior},
    {u"AllowDiskCaching", u"ADC", u"1", K::First1, &Conn::allowDiskCaching},
    {u"DRIVER", u"DRVR", nullptr, K::Ignored},
    {u"InitializationString", u"IS", nullptr, K::Wide, &Conn::initializationString},
    {u"EnableAsyncSupport", u"EAS", u"1", K::Exact1, &Conn::enableAsyncSupport},
    {u"DoubleToStringPrecision", u"DTSP", u"0", K::Custom, {},
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         uint16_t digits = 0;
         if (!r.number(&digits))
             return false;
         c.doubleToStringPrecision = static_cast<uint16_t>(digits & 0xFF);
         return true;
     }},
    {u"RoundingMode", u"RM", u"0", K::Custom, {},
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         uint16_t mode = 0;
         if (!r.number(&mode))
             return false;
         c.roundingMode = mode == 1 ? 1 : 0;
         return true;
     }},
    {u"ServerNameBehavior", u"SNB", u"0", K::Exact1, &Conn::serverNameBehavior},
    {u"AllowHH24", u"HH24", u"0", K::Exact1, &Conn::allowHH24},
    // Absent: no threshold, and the wide one follows the narrow one.
    {u"VarcharThreshold", u"VT", nullptr, K::Number, &Conn::varcharThreshold,
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         if (!r.present())
             c.varcharThreshold = UINT32_MAX;
         return true;
     }},
    {u"WVarcharThreshold", u"WVT", nullptr, K::Number, &Conn::wvarcharThreshold,
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         if (!r.present())
             c.wvarcharThreshold = c.varcharThreshold;
         return true;
     }},
    {u"MinLongVarcharSize", u"MINLVS", nullptr, K::Number, &Conn::minLongVarcharSize,
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         c.minLongVarcharSize = r.present() ? longSize(c.minLongVarcharSize) : -1;
         return true;
     }},
    {u"MinWLongVarcharSize", u"MINWLVS", nullptr, K::Number, &Conn::minWLongVarcharSize,
     [](Conn& c, OptionReader& r, const Kw*) noexcept {
         c.minWLongVarcharSize = r.present() ? longSize(c.minWLongVarcharSize) : c.minLongVarcharSize;
         return true;
     }},
    {u"LongDataDescriptorLimit", u"LDDL", nullptr, K::Own, {}, readLongDataLimit},
    {u"DLOpenMode", nullptr, nullptr, K::Ignored},

    // Read when the connection opens (the list of servers to try).
    {u"ALTERNATESERVERS", u"ASRV", kBaseKwComputed, K::Listed},
    {u"CONNECTIONRETRYCOUNT", u"CRC", u"0", K::Listed},
    {u"CONNECTIONRETRYDELAY", u"CRD", u"3", K::Listed},
    {u"LOADBALANCING", u"LB", u"0", K::Listed},
};

// Stores a whole number in an integer field of any width.
void storeWhole(BaseKwTarget target, int64_t v) noexcept
{
    switch (target.type) {
    case BaseKwType::I32: *static_cast<int32_t*>(target.field) = static_cast<int32_t>(v); break;
    case BaseKwType::U16: *static_cast<uint16_t*>(target.field) = static_cast<uint16_t>(v); break;
    case BaseKwType::U32: *static_cast<uint32_t*>(target.field) = static_cast<uint32_t>(v); break;
    case BaseKwType::I64: *static_cast<int64_t*>(target.field) = v; break;
    case BaseKwType::U64: *static_cast<uint64_t*>(target.field) = static_cast<uint64_t>(v); break;
    default: break;
    }
}

template <typename T>
bool readNumber(OptionReader& r, BaseKwKind kind, void* field, int64_t fallback) noexcept
{
    auto* out = static_cast<T*>(field);
    if (kind == BaseKwKind::Number)
        return r.number(out);
    if (r.present())
        r.lenient(out, static_cast<T>(fallback));
    return true;
}

}  // namespace

bool baseStoreKeyword(OptionReader& r, BaseKwKind kind, uint8_t flags, BaseKwTarget target, int64_t fallback,
                      const char16_t* longKey) noexcept
{
    if ((flags & kBaseKwOdbcSection) != 0 && !odbcSection(r, longKey))
        return false;
    switch (kind) {
    case BaseKwKind::Exact1: storeWhole(target, r.exact1() ? 1 : 0); return true;
    case BaseKwKind::First1: storeWhole(target, r.first1() ? 1 : 0); return true;
    case BaseKwKind::Not0: storeWhole(target, r.not0() ? 1 : 0); return true;
    case BaseKwKind::U16Flag: {
        uint16_t n = 0;
        if (!r.number(&n))
            return false;
        storeWhole(target, n != 0 ? 1 : 0);
        return true;
    }
    case BaseKwKind::Number:
    case BaseKwKind::Lenient:
        switch (target.type) {
        case BaseKwType::I32: return readNumber<int32_t>(r, kind, target.field, fallback);
        case BaseKwType::U16: return readNumber<uint16_t>(r, kind, target.field, fallback);
        case BaseKwType::U32: return readNumber<uint32_t>(r, kind, target.field, fallback);
        case BaseKwType::I64: return readNumber<int64_t>(r, kind, target.field, fallback);
        case BaseKwType::U64: return readNumber<uint64_t>(r, kind, target.field, fallback);
        default: return true;
        }
    case BaseKwKind::Wide:
        if (target.type == BaseKwType::Wide) {
            auto* field = static_cast<uint16_t**>(target.field);
            ramFree(*field);
            *field = r.take((flags & kBaseKwTrim) != 0);
        }
        return true;
    case BaseKwKind::Narrow:
        return target.type != BaseKwType::Narrow ||
               takeNarrow(r, static_cast<char**>(target.field), (flags & kBaseKwNonEmpty) != 0);
    case BaseKwKind::Secret:
        return target.type != BaseKwType::Narrow || takeSecretNarrow(r, static_cast<char**>(target.field));
    case BaseKwKind::Ignored:
    case BaseKwKind::Custom:
    case BaseKwKind::Own:
    case BaseKwKind::Listed: return true;
    }
    return true;
}

int16_t BaseConnection::readConnectOptions(const uint16_t* text, int64_t length, KaValueParserW* parser,
                                           int32_t credentials) noexcept
{
    OptionReader r(this, parser);
    r.connectText = text;
    r.connectLength = length;
    r.credentials = credentials != 0;
    ramFree(driverNameW);
    driverNameW = nullptr;
    if (!baseReadKeywords(*this, r, kBaseKeywords))
        return 1;
    // Static cursors are emulated only where caching on disk is allowed.
    if (allowDiskCaching == 0)
        staticCursorEmulation = 0;
    return 0;
}
