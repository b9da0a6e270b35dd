// The bulk log: the plain 8-bit text file a table export or a table load
// appends to (a start banner, the diagnostics posted for rows, and the
// totals). Used by the export, the load and the bulk file reader, which
// also opens a load's discard file with the start banner.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/bosenv.h"

class KaErrorList;

// The handle of a log that is not open; any other value is a descriptor the
// writers append to.
constexpr int32_t KA_BULK_NO_LOG = -1;
// "YYYY-MM-DD hh:mm:ss" without its terminator.
constexpr size_t KA_BULK_DATE_STAMP_LEN = 19;
// Bytes a start banner takes, its terminator included.
constexpr size_t KA_BULK_BANNER_SIZE = 80;

// Writes the date stamp of t and a terminator into out.
void bulkFormatDateStamp(const BosLocalTime& t, char out[KA_BULK_DATE_STAMP_LEN + 1]) noexcept;
// Formats the banner of the local time into buffer (size bytes, at least
// KA_BULK_BANNER_SIZE), stores its length and writes it to the handle unless
// that is KA_BULK_NO_LOG. 0, or the failed write's status; 1 when the buffer
// is too small (nothing is written then).
[[nodiscard]] int bulkLogStartBanner(int32_t handle, char* buffer, size_t size, uint64_t* length, int load) noexcept;
// The export start entry: a line end, then "// " with the date stamp.
[[nodiscard]] int bulkLogExportStart(int32_t handle) noexcept;
// The list's out-of-memory mark and its diagnostics from first on; write
// failures are not reported.
void bulkLogRowErrors(int32_t handle, size_t first, KaErrorList& errors) noexcept;
// The rows-read, rows-done and failed-rows lines; 1 when a write failed (the
// lines after it are not written).
[[nodiscard]] int bulkLogTotals(int32_t handle, int64_t rowsRead, int64_t rowsDone, int load) noexcept;
