// Table export and validation: the bodies of the connection's bulk
// operations, which the driver library registers with the exported entry
// points (odbc/bulkapi.h). The export writes a table into a data file with
// its XML description and LOB side files; the validation compares a table
// with a description.
#pragma once
#include <cstdint>

class BaseConnection;

// The export after the connection's entry step; makes the exit step and
// returns the ODBC return code.
[[nodiscard]] int16_t bulkExportTable(BaseConnection* conn, const char* table, const uint16_t* tableW, const char* file,
                                      const uint16_t* fileW, int64_t codePage, int64_t errorTolerance,
                                      int64_t warningTolerance, const char* log, const uint16_t* logW) noexcept;
// The validation with its own entry and exit steps; the ODBC return code.
[[nodiscard]] int16_t bulkValidateTable(BaseConnection* conn, const char* table, const uint16_t* tableW,
                                        const char* description, const uint16_t* descriptionW, char* messages,
                                        uint16_t* messagesW, int32_t bufferLength, int32_t* messageCount) noexcept;
// Registers both with the exported entry points.
void bulkRegisterOperations() noexcept;
