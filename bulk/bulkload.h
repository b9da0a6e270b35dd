// The table load: the records of a bulk data file (read with its
// description through BulkLoadFile) inserted into a table through a
// prepared INSERT, in batches of records bound as parameter arrays where the
// statement gathers arrays into multi-row INSERTs, else one record per
// execution; rejected records copied to a discard file, and a report in the
// bulk log. The connection reaches the body
// through the bulk operations the driver library registers
// (BaseConnection::loadTableFromFileBody); the exported load entry points
// do not call it.
#pragma once
#include <cstdint>

class BaseConnection;

// The body with UTF-16 names (data and table required; a null description
// is derived from the data file name; null log and discard files are not
// written). firstRecord counts from 1; recordCount 0 loads nothing and a
// negative one loads to the end. Runs inside the caller's connection call
// and posts on its current list. 0 when at least one row was loaded (every
// diagnostic then a warning), else 1.
[[nodiscard]] int16_t bulkLoadTableBody(BaseConnection* conn, const uint16_t* table, const uint16_t* dataFile,
                                        int64_t errorTolerance, int64_t warningTolerance, const uint16_t* description,
                                        const uint16_t* log, const uint16_t* discard, int64_t firstRecord,
                                        int64_t recordCount, int64_t readBufferKb) noexcept;

// The same with names in the connection's application code page, handed to
// the connection's load body; a name that does not convert gives 1.
[[nodiscard]] int16_t bulkLoadTableFromFileNarrow(BaseConnection* conn, const char* table, const char* dataFile,
                                                  int64_t errorTolerance, int64_t warningTolerance,
                                                  const char* description, const char* log, const char* discard,
                                                  int64_t firstRecord, int64_t recordCount,
                                                  int64_t readBufferKb) noexcept;
