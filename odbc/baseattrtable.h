// The driver's attribute table: the connection-string attributes a driver
// offers, each with the browse level that asks for it. The driver class
// sets it on its connection (BaseConnection::driverAttrs); SQLBrowseConnect
// walks it level by level.
#pragma once
#include <cstdint>

// Kinds of a row: how a setup dialog would show the attribute.
constexpr uint32_t kBaseAttrKindText = 0;
constexpr uint32_t kBaseAttrKindCheckBox = 2;
constexpr uint32_t kBaseAttrKindList = 4;
constexpr uint32_t kBaseAttrKindPassword = 6;

struct BaseDriverAttr {
    const char16_t* longKeyword;
    uint32_t attribute;
    uint32_t kind;
    const char16_t* choices;      // list rows: the choices, comma-separated; else null
    const char16_t* defaultText;  // null when none
    uint64_t maxLength;
    const char16_t* shortKeyword;  // u"" when the attribute has none
    uint32_t level;                // the browse level that asks for it; 0 never
    uint32_t optional;             // 1 optional, 0 required
};
