// The column description of an XML record set, shared by the value
// formatter, the record-set writer and the result-set persistence.
#pragma once
#include <cstdint>

struct XPstColumn {
    const uint16_t* name;  // NUL-terminated; the caller keeps it alive until close or abort
    int32_t sqlType;
    uint32_t size;  // characters or bytes; 0 for NUMERIC and DECIMAL
    int32_t precision;
    int32_t scale;
    int32_t nullable;  // 0: no NULL; anything else: NULL allowed
    int32_t isUnsigned;
};
