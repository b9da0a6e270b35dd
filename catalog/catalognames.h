// Names and patterns of the catalog functions: LIKE matching of UTF-16 names,
// the SQLTables table-type list and filter, and the quoting of identifiers and
// string literals for the metadata statements a driver sends. Used by the
// drivers' catalog listings (hive/hivecatalog*).
#pragma once

#include <cstdint>

// Bits of the SQLTables type set, one per table type ODBC names.
inline constexpr uint32_t kCatalogTypeTable = 1u << 0;
inline constexpr uint32_t kCatalogTypeView = 1u << 1;
inline constexpr uint32_t kCatalogTypeSystemTable = 1u << 2;
inline constexpr uint32_t kCatalogTypeAlias = 1u << 3;
inline constexpr uint32_t kCatalogTypeSynonym = 1u << 4;
// Set when no filter applies (internal listings).
inline constexpr uint32_t kCatalogTypeAll = 1u << 5;
inline constexpr uint32_t kCatalogTypeGlobalTemporary = 1u << 7;
inline constexpr uint32_t kCatalogTypeLocalTemporary = 1u << 8;
inline constexpr uint32_t kCatalogTypeKnown = kCatalogTypeTable | kCatalogTypeView | kCatalogTypeSystemTable |
                                              kCatalogTypeAlias | kCatalogTypeSynonym | kCatalogTypeGlobalTemporary |
                                              kCatalogTypeLocalTemporary;

// The type set of an SQLTables TableType argument (length -3 = SQL_NTS):
// comma-separated items, each optionally in single quotes, compared exactly
// with the ODBC type names; unknown items are ignored. No list, or an empty
// one, gives every known type.
[[nodiscard]] uint32_t catalogTableTypeSet(const uint16_t* list, int32_t length) noexcept;

// The type bit of a TABLE_TYPE value, 0 for a type ODBC does not name. The
// listing's own "TEMPORARY TABLE" counts as a local temporary table.
[[nodiscard]] uint32_t catalogTableTypeBit(const uint16_t* type) noexcept;

// Whether a row of TABLE_TYPE `type` passes the type set: a set without
// kCatalogTypeAll lets through only the types it names.
[[nodiscard]] bool catalogTypePasses(const uint16_t* type, uint32_t typeSet) noexcept;

// SQL LIKE match of a whole NUL-terminated UTF-16 name against a pattern:
// "%" any run, "_" one code point, `escape` (0 = none) takes the next
// character literally. Case-blind (full code points, surrogates decoded)
// unless `caseSensitive`. A null pattern matches everything; a null name
// matches only a null pattern.
[[nodiscard]] bool catalogMatchName(const uint16_t* name, const uint16_t* pattern, uint16_t escape,
                                    bool caseSensitive) noexcept;

// Writes `name` (length units, -3 = SQL_NTS) enclosed in backquotes with
// every backquote inside doubled, NUL-terminated, into `out` of `room` units.
// Returns the units needed without the NUL; nothing is written past `room`.
[[nodiscard]] int32_t catalogQuoteIdentifier(const uint16_t* name, int32_t length, uint16_t* out,
                                             int32_t room) noexcept;

// The same for a string literal: single quotes, with "'" and "\" escaped by a
// backslash, as the server's SQL dialect reads them.
[[nodiscard]] int32_t catalogQuoteLiteral(const uint16_t* text, int32_t length, uint16_t* out, int32_t room) noexcept;

// The two forms of a pattern argument, written NUL-terminated into `out` of
// `room` units; each returns the units needed without the NUL and writes
// nothing past `room`. The plain name drops every escape and keeps the
// character after it ("my\_tab" names my_tab). The pattern doubles an escape
// that stands before anything but "%", "_" or another escape, so that a lone
// escape in the application's pattern matches itself.
[[nodiscard]] int32_t catalogPlainName(const uint16_t* pattern, int32_t length, uint16_t escape, uint16_t* out,
                                       int32_t room) noexcept;
[[nodiscard]] int32_t catalogMatchPattern(const uint16_t* pattern, int32_t length, uint16_t escape, uint16_t* out,
                                          int32_t room) noexcept;
