// Table export and validation: the bodies of the connection's bulk
// operations, which the driver library registers with the exported entry
// points (odbc/bulkapi.h). The export writes a table into a data file with
// its XML description and LOB side files; the validation compares a table
// with a description.
#pragma once
#include <cstdint>

class BaseConnection;
class BaseStatement;

// The export inside the connection's frame of the call; the ODBC return
// code.
[[nodiscard]] int16_t bulkExportTable(BaseConnection* conn, const char* table, const uint16_t* tableW, const char* file,
                                      const uint16_t* fileW, int64_t codePage, int64_t errorTolerance,
                                      int64_t warningTolerance, const char* log, const uint16_t* logW) noexcept;
// The statement's export: its open result set, from the current row on,
// into fileName (UTF-16) in codePage, with an optional log; the same files
// and tolerances as the table export. 0, or 1 after posting on the
// statement's list.
[[nodiscard]] int16_t bulkExportResultSet(BaseStatement* stmt, const uint16_t* fileName, int64_t codePage,
                                          int64_t errorTolerance, int64_t warningTolerance,
                                          const uint16_t* logName) noexcept;
// The validation inside the connection's frame of the call; the ODBC return
// code.
[[nodiscard]] int16_t bulkValidateTable(BaseConnection* conn, const char* table, const uint16_t* tableW,
                                        const char* description, const uint16_t* descriptionW, char* messages,
                                        uint16_t* messagesW, int32_t bufferLength, int32_t* messageCount) noexcept;
// Registers them with the exported entry points and the statement.
void bulkRegisterOperations() noexcept;
