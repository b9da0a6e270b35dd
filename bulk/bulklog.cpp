// The line formats of the bulk log and the writers that append them.
#include "bulk/bulklog.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "convert/datetime.h"
#include "foundation/kaerror.h"
#include "platform/bosfile.h"

namespace {

// Room for a totals line: its words, two tabs, a 64-bit number and the line
// ends.
constexpr size_t kTotalsLineSize = 64;

int writeText(int32_t handle, const char* text, size_t length) noexcept
{
    return bosfwrite(handle, -1, text, length);
}

int writeText(int32_t handle, const char* text) noexcept
{
    return writeText(handle, text, strlen(text));
}

}  // namespace

void bulkFormatDateStamp(const BosLocalTime& t, char out[KA_BULK_DATE_STAMP_LEN + 1]) noexcept
{
    baseFormat4Digits(out, t.year);
    out[4] = '-';
    baseFormat2Digits(out + 5, t.month);
    out[7] = '-';
    baseFormat2Digits(out + 8, t.day);
    out[10] = ' ';
    baseFormat2Digits(out + 11, t.hour);
    out[13] = ':';
    baseFormat2Digits(out + 14, t.minute);
    out[16] = ':';
    baseFormat2Digits(out + 17, t.second);
    out[KA_BULK_DATE_STAMP_LEN] = '\0';
}

int bulkLogStartBanner(int32_t handle, char* buffer, size_t size, uint64_t* length, int load) noexcept
{
    BosLocalTime now{};
    bosGetLocalTime(&now);
    char stamp[KA_BULK_DATE_STAMP_LEN + 1];
    bulkFormatDateStamp(now, stamp);
    int n = snprintf(buffer, size, "/*-----%s Started: %s------------------------------*/\n", load ? "Load" : "Export",
                     stamp);
    if (n < 0 || size_t(n) >= size)
        return 1;
    *length = uint64_t(n);
    if (handle == KA_BULK_NO_LOG)
        return 0;
    return writeText(handle, buffer, size_t(n));
}

int bulkLogExportStart(int32_t handle) noexcept
{
    if (handle == KA_BULK_NO_LOG)
        return 0;
    BosLocalTime now{};
    bosGetLocalTime(&now);
    char line[KA_BULK_DATE_STAMP_LEN + 6];
    char stamp[KA_BULK_DATE_STAMP_LEN + 1];
    bulkFormatDateStamp(now, stamp);
    int n = snprintf(line, sizeof line, "\n// %s\n", stamp);
    return writeText(handle, line, size_t(n));
}

void bulkLogRowErrors(int32_t handle, size_t first, KaErrorList& errors) noexcept
{
    if (handle == KA_BULK_NO_LOG)
        return;
    if (errors.outOfMemoryMark) {
        KaError* oom = errors.outOfMemoryRecord();
        const char* text = oom != nullptr ? oom->messageA() : nullptr;
        (void)writeText(handle, "*!*!*");
        (void)writeText(handle, text != nullptr ? text : "Out Of Memory");
        (void)writeText(handle, "\n");
    }
    size_t count = errors.recordCount();
    for (size_t i = first; i < count; ++i) {
        KaError* record = errors.at(i);
        if (record == nullptr)
            continue;
        char head[kTotalsLineSize];
        int n = snprintf(head, sizeof head, "Row: %" PRId64 "; column: %" PRId64 "; %s: ", record->row, record->column,
                         record->isWarning() ? "warning" : "error");
        (void)writeText(handle, head, size_t(n));
        const char* text = record->messageA();
        if (text != nullptr)
            (void)writeText(handle, text);
        (void)writeText(handle, "\n");
    }
}

int bulkLogTotals(int32_t handle, int64_t rowsRead, int64_t rowsDone, int load) noexcept
{
    if (handle == KA_BULK_NO_LOG)
        return 0;
    const char* extraTab = load ? "" : "\t";
    char line[kTotalsLineSize];
    int n = snprintf(line, sizeof line, "\nNumber of rows read:\t%s%" PRId64 "\n", extraTab, rowsRead);
    if (writeText(handle, line, size_t(n)) != 0)
        return 1;
    n = snprintf(line, sizeof line, "\nNumber of rows %sed:\t%" PRId64 "\n", load ? "load" : "export", rowsDone);
    if (writeText(handle, line, size_t(n)) != 0)
        return 1;
    // Wraps rather than overflows on counts no load reaches.
    auto failed = int64_t(uint64_t(rowsRead) - uint64_t(rowsDone));
    n = snprintf(line, sizeof line, "\nNumber of failed rows:\t%s%" PRId64 "\n", extraTab, failed);
    if (writeText(handle, line, size_t(n)) != 0)
        return 1;
    return 0;
}
