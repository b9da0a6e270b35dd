// The bridge to drivers whose hooks take 8-bit attribute parsers: the
// UTF-16 parser's attributes copied into an 8-bit one in the application
// code page and what the hook did carried back, and the default bodies of
// the 8-bit hooks and of the browse hooks.
#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "convert/textcvt.h"
#include "foundation/fast.h"
#include "foundation/kastr.h"
#include "foundation/katext.h"
#include "foundation/ram.h"
#include "odbc/baseattrtable.h"
#include "odbc/baseconn.h"
#include "odbc/kavalueparser.h"

namespace {

// A converted text that is wiped before its memory goes back: it may be a
// password.
struct WipedBytes {
    char* data = nullptr;
    int64_t length = 0;
    ~WipedBytes()
    {
        if (data != nullptr)
            fastMemzero(data, static_cast<size_t>(length));
        ramFree(data);
    }
};

struct WipedUnits {
    uint16_t* data = nullptr;
    int64_t length = 0;
    ~WipedUnits()
    {
        if (data != nullptr)
            fastMemzero(data, static_cast<size_t>(length) * 2);
        ramFree(data);
    }
};

}  // namespace

KaValueParser* BaseConnection::makeNarrowParser(KaValueParserW* parser) noexcept
{
    KaStringWEx text;
    if (parser != nullptr) {
        BaseScopedKey key(connectionKey);
        if (parser->buildDecrypted(text, key.get(), ';') != 0)
            return nullptr;
    }
    BaseTextContext context{&icuCache, 1, appCodePage, 4, 1};
    WipedBytes bytes;
    if (baseAllocFromWide(context, text.data != nullptr ? text.data : strUnits(u""), static_cast<int64_t>(text.len),
                          appCodePage, &bytes.data, &bytes.length, 4, 1) != 0)
        return nullptr;
    auto* narrow = new KaValueParser(bytes.data, static_cast<size_t>(bytes.length),
                                     appCodePage == kCodePageUtf8 ? KA_TEXT_UTF8 : KA_TEXT_LOCALE, ';', nullptr, 0);
    if (narrow == nullptr)
        return nullptr;
    narrow->setQuoteChars(0, 0, 0);
    if (narrow->addWordChars("_.()") != 0 || narrow->parse() != 0 || narrow->resetUsed() != 0) {
        delete narrow;
        return nullptr;
    }
    return narrow;
}

void BaseConnection::copyUsedMarks(const KaValueParser* narrow, KaValueParserW* parser) noexcept
{
    if (narrow == nullptr || parser == nullptr)
        return;
    BaseTextContext context{&icuCache, 1, appCodePage, 4, 1};
    for (size_t i = 0; i < narrow->attributes.count; ++i) {
        if (!narrow->used.test(i))
            continue;
        KaSubString* key = narrow->keyAt(i);
        WipedUnits wide;
        if (key == nullptr || baseAllocWideFromCp(context, appCodePage, key->data, static_cast<int64_t>(key->len),
                                                  &wide.data, &wide.length) != 0)
            continue;
        int64_t at = parser->indexOf(wide.data, static_cast<size_t>(wide.length));
        if (at >= 0)
            parser->used.set(static_cast<size_t>(at));
    }
}

int16_t BaseConnection::copyNarrowAttributes(KaValueParser* narrow, KaValueParserW* parser) noexcept
{
    if (narrow == nullptr || parser == nullptr)
        return 0;
    BaseTextContext context{&icuCache, 1, appCodePage, 4, 1};
    for (size_t i = 0; i < narrow->attributes.count; ++i) {
        KaSubString* key = narrow->keyAt(i);
        if (key == nullptr)
            continue;
        KaString keyText;
        if (keyText.assign(key->data, key->len, narrow->codePage) != 0)
            return 1;
        KaString* value = narrow->getValueCStr(keyText.data);
        WipedUnits wideKey;
        WipedUnits wideValue;
        if (baseAllocWideFromCp(context, appCodePage, key->data, static_cast<int64_t>(key->len), &wideKey.data,
                                &wideKey.length) != 0 ||
            baseAllocWideFromCp(context, appCodePage, value != nullptr && value->data != nullptr ? value->data : "",
                                value != nullptr ? static_cast<int64_t>(value->len) : 0, &wideValue.data,
                                &wideValue.length) != 0)
            return 1;
        if (kaIsCredentialKey(wideKey.data, static_cast<size_t>(wideKey.length))) {
            KaMemoryBuffer holder;
            BaseScopedKey secretKey(connectionKey);
            if (holder.setEncrypted(wideValue.data, wideValue.length, secretKey.get()) != 0 ||
                parser->setSecret(wideKey.data, holder, nullptr) != 0)
                return 1;
        } else if (parser->setValueCStr(wideKey.data, wideValue.data, nullptr) != 0) {
            return 1;
        }
    }
    return 0;
}

int16_t BaseConnection::readDriverOptionsAny(KaValueParserW* parser, void* window) noexcept
{
    if (!narrowHooks())
        return readDriverOptions(parser, window);
    KaValueParser* narrow = nullptr;
    if (parser != nullptr && (narrow = makeNarrowParser(parser)) == nullptr)
        return 1;
    int16_t rc = readDriverOptionsA(narrow, window);
    copyUsedMarks(narrow, parser);
    delete narrow;
    return rc;
}

int16_t BaseConnection::promptHookAny(void* window, uint16_t completion, int32_t* cancelled,
                                      KaValueParserW* parser) noexcept
{
    if (!narrowHooks())
        return promptHook(window, completion, cancelled, parser);
    KaValueParser* narrow = nullptr;
    if (parser != nullptr && (narrow = makeNarrowParser(parser)) == nullptr)
        return 1;
    // What a dialog filled in goes on in the UTF-16 parser.
    int16_t rc = promptHookA(window, completion, cancelled, narrow);
    if (rc == 0 && copyNarrowAttributes(narrow, parser) != 0)
        rc = 1;
    delete narrow;
    return rc;
}

int16_t BaseConnection::connectWithAttrsAny(void* window, uint16_t completion, KaValueParserW* parser) noexcept
{
    if (!narrowHooks())
        return connectWithAttrs(window, completion, parser);
    KaValueParser* narrow = makeNarrowParser(parser);
    if (narrow == nullptr)
        return 1;
    int16_t rc = connectWithAttrsA(window, completion, narrow);
    copyUsedMarks(narrow, parser);
    if (copyNarrowAttributes(narrow, parser) != 0)
        rc = 1;
    delete narrow;
    return rc;
}

int16_t BaseConnection::readDriverOptionsA(KaValueParser*, void*) noexcept
{
    basePostError(kBaseIdxGeneralError);
    return 1;
}

int16_t BaseConnection::promptHookA(void* window, uint16_t completion, int32_t* cancelled,
                                    KaValueParser* parser) noexcept
{
    if (cancelled != nullptr)
        *cancelled = 0;
    return 0;
}

KaValueParser* BaseConnection::optionSourceHookA() noexcept
{
    return nullptr;
}

int16_t BaseConnection::connectWithAttrsA(void*, uint16_t, KaValueParser*) noexcept
{
    basePostError(kBaseIdxGeneralError);
    return 1;
}

int16_t BaseConnection::browseAttrHook(const uint16_t* shortKey, KaStringW& text, const BaseDriverAttr* table,
                                       uint32_t count) noexcept
{
    return 0;
}

int16_t BaseConnection::openBrowsed(KaValueParserW* parser) noexcept
{
    if (readDriverOptions(parser, nullptr) != 0)
        return 1;
    return openBrowsedServers(parser);
}

int16_t BaseConnection::openBrowsedA(KaValueParser* parser) noexcept
{
    if (readDriverOptionsA(parser, nullptr) != 0)
        return 1;
    return openBrowsedServers(browseParser);
}

int16_t BaseConnection::openBrowsedServers(KaValueParserW* parser) noexcept
{
    // The browse's attributes may name alternate servers: they are tried as
    // a driver connect would, each attempt checking its attributes first.
    uint16_t* servers = nullptr;
    uint64_t retryCount = 0;
    uint64_t retryDelay = 0;
    int32_t loadBalance = 0;
    if (getAlternateServers(&servers, &retryCount, &retryDelay, &loadBalance, parser) != 0)
        return 1;
    KaStringWEx text;
    int16_t rc = 0;
    {
        BaseScopedKey key(connectionKey);
        if (parser != nullptr && parser->buildDecrypted(text, key.get(), ';') != 0)
            rc = 1;
    }
    // A failed open is told by its errors, not by this result.
    if (rc == 0)
        (void)connectToServers(servers, retryCount, retryDelay, loadBalance,
                               text.data != nullptr ? text.data : strUnits(u""), static_cast<int64_t>(text.len),
                               nullptr, SQL_DRIVER_NOPROMPT, parser);
    ramFree(servers);
    return rc;
}
