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
// of C type ctx.cType into dstKind for the SQL type the context describes
// (text in the description's code page). produced may be null: a text target
// then gets a terminator. A SQL_C_NUMERIC value takes the scale of the
// context's application record when it has one. 0 success, 1 failure
// (posted).
[[nodiscard]] int16_t baseConvertCToSql(const BaseConvertContext& ctx, const void* src, int64_t srcLength,
                                        int32_t dstKind, void* dst, int64_t* produced, int64_t dstSize) noexcept;
// The same for a parameter: the context describes it by its IPD record and
// the APD record it reads.
[[nodiscard]] int16_t baseConvertParamValue(const BaseConvertContext& ctx, const void* src, int64_t srcLength,
                                            int32_t dstKind, void* dst, int64_t dstSize, int64_t* produced) noexcept;
// The same into the SQL type of a result column described by the context; the
// target kind is chosen from it and reported through chosenKind (may be null).
[[nodiscard]] int16_t baseConvertToColumnType(const BaseConvertContext& ctx, const void* src, int64_t srcLength,
                                              void* dst, int32_t* chosenKind, int64_t* produced,
                                              int64_t dstSize) noexcept;
// 0 when the pair is allowed; otherwise posts 07006 (MSG_C_TO_SQL_REFUSED), returns 1.
[[nodiscard]] int16_t baseCheckCToSql(uint16_t param, int16_t cType, int16_t sqlType) noexcept;
// The value kind a value of sqlType is sent as.
int32_t baseColumnKindOfSqlType(int16_t sqlType, bool unsignedFlag) noexcept;
