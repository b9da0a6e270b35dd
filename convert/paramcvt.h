// C-to-SQL parameter conversion: a value the application supplies in an ODBC
// C type into the representation of an SQL type that the driver sends
// (parameter values, data for positioned updates, rows of the scroll cache).
// The counterpart of the SQL-to-C conversion; used by the statement framework.
#pragma once
#include <cstdint>

#include "convert/basecvt.h"

// Flags word of a parameter conversion (9 for ODBC 2, 10 for ODBC 3).
uint32_t baseParamFlags(const BaseConvertSettings& settings) noexcept;

// Converts the C value (length already resolved from SQL_NTS and indicators)
// into dstKind (in dstCodePage for text) for the SQL type. produced may be
// null: a text target then gets a terminator. param is the parameter number,
// 0 when the value is not a parameter. 0 success, 1 failure (posted).
int16_t baseConvertCToSql(BaseStatement* stmt, int16_t cType, int64_t size, int16_t scale,
                          bool unsignedFlag, const void* src, int64_t srcLength, int16_t sqlType,
                          int32_t dstKind, int64_t dstCodePage, void* dst, int64_t* produced,
                          int64_t dstSize, uint16_t param) noexcept;
// The same with the description and C type of parameter `param` taken from
// its IPD record and the APD record it describes.
int16_t baseConvertParamValue(BaseStatement* stmt, uint16_t param, const void* src,
                              int64_t srcLength, int32_t dstKind, void* dst, int64_t dstSize,
                              int64_t* produced) noexcept;
// The same into the SQL type of result column `column`; the target kind is
// chosen from it and reported through chosenKind (may be null).
int16_t baseConvertToColumnType(BaseStatement* stmt, uint16_t column, int16_t cType,
                                const void* src, int64_t srcLength, void* dst,
                                int32_t* chosenKind, int64_t* produced, int64_t dstSize) noexcept;
// 0 when the pair is allowed; otherwise posts 07006 (message 6011), returns 1.
int16_t baseCheckCToSql(uint16_t param, int16_t cType, int16_t sqlType) noexcept;
// The value kind a value of sqlType is sent as.
int32_t baseColumnKindOfSqlType(int16_t sqlType, bool unsignedFlag) noexcept;
