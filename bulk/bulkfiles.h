// The shared rules of the bulk file set: the names of the description and
// LOB files derived from a data file name, the datatype words of the
// description, the escaping of text put into it, and the quoting of a table
// name put into the export and validation queries. Used by the export, the
// validation and the bulk file reader, so writer and reader agree.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kastring.h"
#include "foundation/kastringw.h"

// Bytes of a file name the bulk files accept, terminator included.
constexpr size_t KA_BULK_PATH_SIZE = 4096;
// The most LOB files one export writes: their numbers take seven digits.
constexpr uint32_t KA_BULK_MAX_LOB_NUMBER = 9999999;
// Units of a LOB file name inside a data file reference.
constexpr size_t KA_BULK_MAX_LOB_NAME = 1024;

// Length of the base name: the name without the extension that starts at
// the last "." of its file part; a file part that only starts with a "."
// keeps its whole text.
size_t bulkBaseNameLength(const char* name, size_t length) noexcept;
// Offset of the file part: after the last "/" (or ":").
size_t bulkFilePartOffset(const char* name, size_t length) noexcept;

// The description file of a data file: the base name and ".xml". 0, or 1
// after MSG_BULK_FILE_NAME_TOO_LONG.
[[nodiscard]] int bulkDescriptionName(const char* dataName, char out[KA_BULK_PATH_SIZE]) noexcept;
// The name earlier readers looked for: the data file name without a final
// ".csv" (either case) and ".xml"; 0 or 1 as above.
[[nodiscard]] int bulkLegacyDescriptionName(const char* dataName, char out[KA_BULK_PATH_SIZE]) noexcept;
// The LOB file of a moved value: the base name, "_", the number in at least
// six digits and ".lob". 1 after MSG_BULK_LOB_COUNT_EXCEEDED for a number
// above KA_BULK_MAX_LOB_NUMBER, or after the name-length diagnostic.
[[nodiscard]] int bulkLobFileName(const char* dataName, uint32_t number, char out[KA_BULK_PATH_SIZE]) noexcept;

// The datatype word of a bulk type (SQL type, or the integer C types); with
// withSign the integer words say their signedness.
const char* bulkDataTypeName(int64_t code, int withSign) noexcept;
// The code of a datatype word of a description (case does not count);
// false when the word names no bulk datatype.
bool bulkDataTypeFromWord(const uint16_t* word, size_t length, int64_t* code) noexcept;
// Two codes with the same word without signedness.
bool bulkSameDataType(int64_t a, int64_t b) noexcept;
// The bulk type of a result column: its SQL type, with the four integer
// types replaced by the signed or unsigned C type.
int16_t bulkIntegerType(int16_t sqlType, bool isUnsigned) noexcept;

// Appends UTF-8 text with &, <, >, " and ' as character entities.
[[nodiscard]] int16_t bulkAppendXmlEscaped(KaString& out, const char* text, size_t length) noexcept;

// The table argument of an export or validation query: split at dots that
// stand outside quotes. A part in back-quotes that close at its end stays as
// it is, one in double quotes that close at its end becomes the same name in
// back-quotes, and any other part is enclosed whole in back-quotes (inner
// back-quotes doubled).
[[nodiscard]] int16_t bulkQuoteTableName(const uint16_t* table, size_t length, KaStringW& out) noexcept;
