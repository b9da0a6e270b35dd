// SQLNativeSqlW's answer: the application's text as the driver would send it
// (trimmed, rewritten into HiveQL forms, ODBC escapes translated, doubled
// apostrophes in literals escaped). odbc/odbcapi.cpp forwards the export here.
#pragma once
#include <cstdint>

class BaseConnection;

// outCapacity and *outLength count UTF-16 units; a cut answer gives
// SQL_SUCCESS_WITH_INFO with 01004.
[[nodiscard]] int16_t baseNativeSqlW(BaseConnection& connection, const uint16_t* in, int32_t inLength, uint16_t* out,
                                     int32_t outCapacity, int32_t* outLength) noexcept;
