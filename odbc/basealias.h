// Numeric-literal aliasing of select lists, which SQLPrepare and
// SQLExecDirect apply when the driver's connection sets
// BaseConnection::numericLiteralAliasing.
#pragma once
#include <cstdint>

class KaStringW;

// For a SELECT whose select list holds a plain decimal literal of more than
// 19 characters: *out is the text with each such literal written as an exact
// decimal literal (suffix "BD") named "TWCORE_NUMERIC_ALIAS" and its 0-based
// position unless the application named it, and *unchanged false. Any other
// text leaves *unchanged true and *out unspecified. 0, or 1 when memory ran
// out.
[[nodiscard]] int16_t baseAliasNumericLiterals(const uint16_t* text, int64_t length, KaStringW* out,
                                               bool* unchanged) noexcept;
