// The statement object: the members the conversion engine reads, its
// descriptors, its long-data state for the column value being read, and its
// wrappers of the text conversions.
#pragma once
#include <cstddef>
#include <cstdint>

#include "convert/basecvt.h"
#include "convert/icucache.h"
#include "foundation/kaobject.h"

class BaseAXD;
class BaseConnection;
class BaseDescriptor;
class BaseIPD;
class BaseIPDRecord;
class BaseIRD;
class KaErrorList;

class BaseStatement : public KaObject {
public:
    explicit BaseStatement(BaseConnection* connection) noexcept;
    ~BaseStatement() override;

    // Makes the implicit APD and ARD, the IPD and the IRD; 0, or 1 when
    // memory ran out.
    int16_t createDescriptors() noexcept;

    // The converter cache of the statement's character conversions: the
    // connection's when it shares one with its statements, else its own.
    KaIcuCache* charConversionContext() noexcept;
    int32_t convertText(int64_t srcCp, const void* src, int64_t srcLen, int64_t dstCp, void* dst,
                        int64_t dstSize, int64_t* produced, int32_t* truncated,
                        int32_t blankTail) noexcept;
    int32_t convertTextToBuffer(int64_t srcCp, const void* src, int64_t srcLen, int64_t dstCp,
                                void* dst, int64_t dstSize, int32_t fullLength, int64_t* produced,
                                int32_t* truncated) noexcept;

    // Long-data state. resetLongData starts a new column value.
    void resetLongData() noexcept;
    // The conversion buffer with room for at least `size` bytes (its
    // contents are not kept); null after the out-of-memory diagnostic.
    uint8_t* growConvertBuffer(int64_t size) noexcept;
    // After a piece of a value was delivered: when the piece ended with the
    // truncation warning the offset moves on (by the piece length the
    // conversion recorded, else by `available`) and 1 is returned; else the
    // value is finished and 0 is returned.
    int32_t advanceLongData(int64_t available) noexcept;

    // The IPD record of parameter marker `param` (1-based).
    BaseIPDRecord* getParamIPDRecord(uint16_t param) noexcept;
    // Appends message 6073 with `number` to every diagnostic of `list` from
    // index `first` on that does not carry it yet.
    void annotateParamRowErrors(size_t first, KaErrorList* list, uint64_t number) noexcept;
    // The ARD record of column `column`, or null beyond the ARD's records.
    BaseAXDRecord* ardRecord(uint16_t column) const noexcept;

    KaIcuCache icuCache;
    BaseConnection* connection;
    int64_t charCodePage;  // code page of SQL_C_CHAR data (statement attribute 1064)

    // Conversion work buffer: a value converted whole for delivery in pieces.
    uint8_t* convertBuffer;
    int64_t convertBufferSize;
    int64_t convertedLength;  // -1: no converted copy of the current value

    // GetData state: the offset up to which the current value was delivered,
    // and the length the last piece moved it by when that is not the
    // available length of the buffer (0 unused).
    int64_t getDataReturned;
    int64_t pieceLengthOverride;

    int64_t currentParamRow;
    uint16_t markerCount;
    bool returnValueParam;

    BaseAXD* currentApd;
    BaseAXD* currentArd;
    BaseIPD* ipd;
    BaseIRD* ird;
    BaseAXD* implicitApd;
    BaseAXD* implicitArd;
    BaseDescriptor* keyDescriptor;

    // Connection settings of the conversions that the physical connection
    // does not carry; baseConvertSettingsOf overlays the ones it does.
    BaseConvertSettings conversionSettings;
};
