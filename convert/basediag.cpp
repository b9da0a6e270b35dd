// Posting by SQLSTATE and the parameter-row marks.
#include "convert/basediag.h"

#include "foundation/kathread.h"
#include "foundation/numtext.h"
#include "kamessages.h"

namespace {

// The catalogue keeps an SQLSTATE's default text this far above the SQLSTATE.
constexpr uint16_t kDefaultTextOffset = MSG_SQLSTATE_GENERAL_ERROR_TEXT - MSG_SQLSTATE_GENERAL_ERROR;
static_assert(MSG_SQLSTATE_STRING_RIGHT_TRUNCATED + kDefaultTextOffset == MSG_SQLSTATE_STRING_RIGHT_TRUNCATED_TEXT,
              "one offset for every SQLSTATE text");

KaError* post(uint16_t sqlstate, uint16_t msg, int warning) noexcept
{
    KaErrorList* list = KaErrorCurrentList();
    if (list == nullptr)
        return KaErrorParamSink();
    uint16_t text[KA_MESSAGE_TEXT_SIZE];
    errLoadMessageW(text, KA_MESSAGE_TEXT_SIZE, static_cast<uint16_t>(msg == 0 ? sqlstate + kDefaultTextOffset : msg));
    return KaErrorPost(list->newRecordW(msg, text, warning, sqlstate, 0));
}

bool containsUnits(const uint16_t* text, const uint16_t* part, size_t n) noexcept
{
    if (text == nullptr || n == 0)
        return false;
    for (; *text != 0; ++text) {
        size_t k = 0;
        while (k < n && text[k] == part[k])
            ++k;
        if (k == n)
            return true;
    }
    return false;
}

}  // namespace

KaError* baseCvtPostError(uint16_t sqlstate) noexcept
{
    return post(sqlstate, 0, 0);
}

KaError* baseCvtPostErrorMsg(uint16_t sqlstate, uint16_t msg) noexcept
{
    return post(sqlstate, msg, 0);
}

KaError* baseCvtPostWarning(uint16_t sqlstate) noexcept
{
    return post(sqlstate, 0, 1);
}

void baseAnnotateParamRow(size_t first, KaErrorList* list, uint64_t row) noexcept
{
    if (list == nullptr || first >= list->recordCount())
        return;
    uint16_t text[KA_MESSAGE_TEXT_SIZE];
    size_t len = errLoadMessageW(text, KA_MESSAGE_TEXT_SIZE, MSG_PARAMETER_ROW);
    // The appended text as it reads once filled in, to tell marked records.
    uint16_t filled[KA_MESSAGE_TEXT_SIZE + 24];
    size_t n = 0;
    for (size_t i = 0; i < len && n + 22 < sizeof filled / sizeof filled[0]; ++i) {
        if (text[i] == '%' && i + 2 < len && text[i + 1] == 'd' && text[i + 2] == '1') {
            char digits[24];
            size_t d = u64ToText(digits, row);
            for (size_t k = 0; k < d; ++k)
                filled[n++] = static_cast<uint8_t>(digits[k]);
            i += 2;
        } else {
            filled[n++] = text[i];
        }
    }
    filled[n] = 0;
    for (size_t i = first; i < list->recordCount(); ++i) {
        KaError* rec = list->recordAt(i);
        if (rec == nullptr || rec->isStatic() || containsUnits(rec->messageW(), filled, n))
            continue;
        rec->appendTemplateW(text)->addParamUnsigned(row);
    }
}
