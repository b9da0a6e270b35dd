// The bits of the WORKAROUNDS and WORKAROUNDS2 connection options, in one
// place: each changes one behaviour for applications that rely on it. The
// conversions are the lowest layer that reads them; the handles, the catalog
// functions and the Hive layer read them through this header.
#pragma once
#include <cstdint>

// WORKAROUNDS
// Prepared statements survive commit and rollback.
constexpr uint64_t kBaseWaKeepPrepared = 0x1;
// No catalogs: SQL_CATALOG_NAME answers "N" and the catalog column of every
// catalog result but the type information and the special columns (and the
// second one of the foreign keys and statistics) reads as NULL.
constexpr uint64_t kBaseWaNoCatalogs = 0x2;
// SQL_MAX_DRIVER_CONNECTIONS is answered as no limit.
constexpr uint64_t kBaseWaNoConnectionLimit = 0x4;
// A row count the server does not know is reported as 1.
constexpr uint64_t kBaseWaUnknownRowCountIsOne = 0x8;
// The schema column of the statistics result reads as NULL.
constexpr uint64_t kBaseWaStatisticsSchemaNull = 0x10;
// A column without a name is described by its number.
constexpr uint64_t kBaseWaNameUnnamedColumns = 0x40;
// One connection inside is reported for SQL_ACTIVE_CONNECTIONS.
constexpr uint64_t kBaseWaSingleConnection = 0x100;
// The best row identifier is derived from the indexes without asking the driver.
constexpr uint64_t kBaseWaSpecialFromIndexes = 0x200;
// SQLExtendedFetch is reported as unsupported.
constexpr uint64_t kBaseWaHideExtendedFetch = 0x400;
// The connection's database is spelt out in SQL_DATABASE_NAME.
constexpr uint64_t kBaseWaSpellOutDatabase = 0x800;
// Connect, driver connect and disconnect succeed at once.
constexpr uint64_t kBaseWaConnectNoOp = 0xF000;
// Trailing zeros of a fraction are trimmed in number text.
constexpr uint64_t kBaseWaTrimTrailingZeros = 0x10000;
// DECIMAL parameters are described as wide text.
constexpr uint64_t kBaseWaDecimalAsWide = 0x80000;
// A parameter bound without a size takes size 0 ...
constexpr uint64_t kBaseWaZeroSizeDefaults = 0x100000;
// ... or the all-ones size.
constexpr uint64_t kBaseWaAllOnesSizeDefault = 0x200000;
// Unquoted name arguments of the catalog functions are upper-cased.
constexpr uint64_t kBaseWaFoldUnquotedCatalogArgs = 0x400000;
// An empty database name is not answered when there are no catalogs.
constexpr uint64_t kBaseWaNoDatabaseWithoutCatalogs = 0x800000;
// The application is an ANSI one: wide SQL types are described as narrow.
constexpr uint64_t kBaseWaAnsiApp = 0x1000000;
constexpr uint64_t kBaseWaDescribeWideAsNarrow = kBaseWaAnsiApp;
// A cut diagnostic message is not reported as cut.
constexpr uint64_t kBaseWaNoMessageTruncation = 0x2000000;
// SQLSetDescField is reported as unsupported.
constexpr uint64_t kBaseWaHideSetDescField = 0x4000000;
// Rebinding a parameter resets the statement's parameters.
constexpr uint64_t kBaseWaResetParamsOnRebind = 0x20000000;

// WORKAROUNDS2
// Identifiers are quoted with a back quote.
constexpr uint64_t kBaseWa2BackQuote = 0x1;
// A timestamp parameter's size and digits come from the type table.
constexpr uint64_t kBaseWa2TimestampFromTypeTable = 0x2;
// SQLGetTypeInfo lists its rows in reverse order ...
constexpr uint64_t kBaseWa2TypeInfoReverseOrder = 0x4;
// A completed connection string without a data source names DSN=DEFAULT
// when it carries a password.
constexpr uint64_t kBaseWa2DefaultDsnInOutString = 0x20;
// No concurrent-activity limit is reported.
constexpr uint64_t kBaseWa2NoActivityLimit = 0x80;
// ... and writes date and time literal prefixes in braces.
constexpr uint64_t kBaseWa2TypeInfoBraceLiterals = 0x200;
// No multiple result sets are reported.
constexpr uint64_t kBaseWa2NoMultipleResults = 0x400;
// The ODBC 2 date and time C types are taken as the ODBC 3 ones.
constexpr uint64_t kBaseWa2MapOdbc2DateTypes = 0x800;
// A one-character ASC_OR_DESC fits a 2-byte UTF-16 buffer.
constexpr uint64_t kBaseWa2NarrowAscDesc = 0x2000;
// SQLPrepare never takes the same-text shortcut.
constexpr uint64_t kBaseWa2AlwaysPrepare = 0x4000;
// SQLPrepare and the catalog functions close a cursor left open.
constexpr uint64_t kBaseWa2CloseOpenCursor = 0x10000;
// Bindings past the result's columns are ignored.
constexpr uint64_t kBaseWa2IgnoreExtraBindings = 0x80000;
