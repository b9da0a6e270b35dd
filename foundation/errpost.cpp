// Posting by message number into the calling thread's current error list,
// and catalogue texts through the installed message source.
#include "foundation/errpost.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "foundation/kaerror.h"

namespace {

int64_t decimalText(uint32_t number, char* buffer, size_t size) noexcept
{
    int n = snprintf(buffer, size, "%u", number);
    if (n < 0)
        return 0;
    return size_t(n) < size ? n : int64_t(size - 1);
}

int64_t decimalTextW(uint32_t number, uint16_t* buffer, size_t units) noexcept
{
    char text[16];
    int64_t n = decimalText(number, text, units < sizeof text ? units : sizeof text);
    for (int64_t i = 0; i <= n; ++i)
        buffer[i] = static_cast<unsigned char>(text[i]);
    return n;
}

constexpr KaMessageSource kDecimalSource = {decimalText, decimalTextW};
std::atomic<const KaMessageSource*> gMessageSource{&kDecimalSource};

KaError* postNumbered(uint16_t number, int warning) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list == nullptr)
        return KaErrorParamSink();
    uint16_t text[KA_MESSAGE_TEXT_SIZE];
    errLoadMessageW(text, KA_MESSAGE_TEXT_SIZE, number);
    return KaErrorPost(list->newRecordW(number, text, warning, 0, 0));
}

}  // namespace

KaError* errPost(uint16_t number) noexcept
{
    return postNumbered(number, 0);
}

KaError* errPostWarning(uint16_t number) noexcept
{
    return postNumbered(number, 1);
}

KaError* errPostText(uint16_t number, const uint16_t* text) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list == nullptr)
        return KaErrorParamSink();
    static const uint16_t empty[1] = {0};
    return KaErrorPost(list->newRecordW(number, text != nullptr ? text : empty, 0, 0, 0));
}

KaError* errPostTextA(uint16_t number, const char* text) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list == nullptr)
        return KaErrorParamSink();
    return KaErrorPost(list->newRecord(number, text != nullptr ? text : "", 1, 0, 0, 0));
}

KaError* errAppendMessage(uint16_t number) noexcept
{
    uint16_t text[KA_MESSAGE_TEXT_SIZE];
    errLoadMessageW(text, KA_MESSAGE_TEXT_SIZE, number);
    return KaErrorAppendTextW(text);
}

KaError* errAppendMessageAt(uint16_t number, size_t index) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    KaError* rec = list != nullptr ? list->recordAt(index) : nullptr;
    if (rec == nullptr)
        return KaErrorParamSink();
    uint16_t text[KA_MESSAGE_TEXT_SIZE];
    errLoadMessageW(text, KA_MESSAGE_TEXT_SIZE, number);
    return rec->appendTemplateW(text);
}

void errSetMessageSource(const KaMessageSource* source) noexcept
{
    gMessageSource.store(source != nullptr ? source : &kDecimalSource, std::memory_order_release);
}

size_t errLoadMessageW(uint16_t* buffer, size_t units, uint16_t number) noexcept
{
    if (buffer == nullptr || units == 0)
        return 0;
    buffer[0] = 0;
    int64_t n = gMessageSource.load(std::memory_order_acquire)->loadW(number, buffer, units);
    if (n <= 0) {
        buffer[0] = 0;
        return 0;
    }
    size_t len = size_t(n) < units ? size_t(n) : units - 1;
    buffer[len] = 0;
    return len;
}

size_t errLoadMessage(char* buffer, size_t size, uint16_t number) noexcept
{
    if (buffer == nullptr || size == 0)
        return 0;
    char text[KA_MESSAGE_TEXT_SIZE];
    int64_t n = gMessageSource.load(std::memory_order_acquire)->load(number, text, sizeof text);
    size_t len = n <= 0 ? 0 : size_t(n);
    if (len >= sizeof text)
        len = sizeof text - 1;
    if (len >= size)
        len = size - 1;
    memcpy(buffer, text, len);
    buffer[len] = '\0';
    return len;
}

int errShowMessage(const char* text, const char* caption, int flag) noexcept
{
    if (text == nullptr)
        text = "";
    if (caption != nullptr && flag != 0)
        printf("%s:\n%s\n", caption, text);
    else
        printf("\n%s\n", text);
    return 2;
}

int16_t errMessageBox(const char* text, const char* caption, int16_t flag) noexcept
{
    return int16_t(errShowMessage(text, caption, flag));
}
