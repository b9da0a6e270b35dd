// SQL-to-C conversion into character buffers: any server value written as
// text in the application's code page (SQL_C_CHAR, SQL_C_WCHAR and their
// unterminated forms), character data converted between code pages, and long
// values delivered to SQLGetData in pieces. Used by the SQL-to-C dispatch.
#pragma once
#include <cstdint>

#include "convert/basecvt.h"

// Terminator bytes of the text target of cType (0 for the unterminated forms).
int32_t baseTextTargetTermWidth(int16_t cType, const BaseConvertSettings& settings) noexcept;
// Code page of the text target of cType.
int64_t baseTextTargetCodePage(const BaseConvertContext& ctx, int16_t cType) noexcept;

// The character branch of the SQL-to-C conversion: ctx.cType is SQL_C_CHAR,
// SQL_C_WCHAR or one of their unterminated forms. 0 success, 1 failure
// (posted).
[[nodiscard]] int16_t baseConvertToCharacter(BaseConvertContext& ctx, const void* src, int64_t srcLength,
                                             int32_t srcKind) noexcept;

// Text of code page ctx.codePage into the target text of ctx.cType from the
// long-data offset on, converted once into the conversion buffer when the
// code pages differ and served from there.
[[nodiscard]] int16_t baseCopyCharacterData(BaseConvertContext& ctx, const void* src, int64_t srcLength) noexcept;

// The bytes from the long-data offset on as upper-case hexadecimal text.
[[nodiscard]] int16_t baseWriteHexText(BaseConvertContext& ctx, const void* src, int64_t srcLength) noexcept;

// Removes trailing fraction zeros (and a bare decimal point) from number text
// of `length` bytes in codePage; returns the new length.
int64_t baseRemoveTrailingZeros(const void* text, int64_t length, int64_t codePage) noexcept;
