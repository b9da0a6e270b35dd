// SQLGetInfo's information tables: the framework's base table, the layout a
// driver gives its own table in, the searches over them, and the answer
// before a physical connection exists. BaseConnection's resolver and
// SQLGetInfoW (baseinfo.cpp) and the driver's table (hive/hiveinfo.cpp) use
// them.
#pragma once
#include <cstddef>
#include <cstdint>

class BaseStubConnection;

// How an entry's value is given and written.
constexpr int32_t kBaseInfoShort = 0;     // a 16-bit number
constexpr int32_t kBaseInfoInt = 1;       // a 32-bit number
constexpr int32_t kBaseInfoLimit = 2;     // a 32-bit number that is a limit
constexpr int32_t kBaseInfoText = 3;      // a UTF-16 text
constexpr int32_t kBaseInfoResource = 4;  // a driver resource text by number
constexpr int32_t kBaseInfoDriver = 5;    // asked of the driver's connection
constexpr int32_t kBaseInfoNotFound = 6;  // in no table

// Flags of a connection's answers (BaseConnection::infoFlags): private
// texts in the application code page, lock-based scroll concurrency, every
// info type answered by the driver, static cursors offered.
constexpr uint32_t kBaseInfoPrivateTextsNarrow = 0x1;
constexpr uint32_t kBaseInfoLockConcurrency = 0x2;
constexpr uint32_t kBaseInfoAllByDriver = 0x4;
constexpr uint32_t kBaseInfoStaticCursors = 0x8;

// The driver's own info types (not ODBC ones): the thread model, a private
// feature mask and its switch, and the two old numbers answered as ODBC
// info types.
constexpr uint16_t kBaseInfoThreadModel = 1028;
constexpr uint16_t kBaseInfoPrivateFeature = 1029;
constexpr uint16_t kBaseInfoPrivateSwitch = 1024;
constexpr uint16_t kBaseInfoLongQualifierLength = 1018;
constexpr uint16_t kBaseInfoKeywordsOld = 1011;
constexpr uint16_t kBaseInfoFileUsageOld = 65002;
// Info types above this one are the driver's private ones, whose texts may
// be reported in the application's code page.
constexpr uint16_t kBaseInfoPrivateTextsAbove = 1010;

// One answer. A text entry points at its NUL-terminated UTF-16 text; every
// other kind holds its number (a resource number for kind 4).
struct BaseInfoEntry {
    uint16_t infoType;
    uint64_t value;
    const char16_t* text;
    int32_t kind;
};

// Entries sorted by info type, without duplicates; next is searched when
// this table has no entry.
struct BaseInfoTable {
    int16_t count;
    const BaseInfoTable* next;
    const BaseInfoEntry* entries;
};

// The framework's answers, searched after the driver's table.
extern const BaseInfoTable kBaseInfoTable;

// Binary search in the table, then in its next table; *value holds the
// number or the text pointer. True when found.
bool findInfo(const BaseInfoTable* table, uint16_t infoType, uint64_t* value, int32_t* kind) noexcept;
// findInfo, then the base table when the table is another one; *kind is
// kBaseInfoNotFound when neither has the type.
void lookupInfo(const BaseInfoTable* table, uint16_t infoType, uint64_t* value, int32_t* kind) noexcept;
// The kind an info type is answered as, also for those the resolver answers
// itself; kBaseInfoNotFound for unknown ones.
int32_t infoKindOf(uint16_t infoType) noexcept;
// True for the kinds written as numbers.
constexpr bool baseInfoIsNumber(int32_t kind)
{
    return kind == kBaseInfoShort || kind == kBaseInfoInt || kind == kBaseInfoLimit;
}

// SQLGetInfoW on a handle that has no physical connection yet: the base
// table alone, numbers as numbers, texts as UTF-16 with a terminator.
[[nodiscard]] int16_t baseGetInfoW(BaseStubConnection* handle, uint16_t infoType, void* value, int16_t bufferLength,
                                   int16_t* stringLength) noexcept;
