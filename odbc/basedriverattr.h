// The driver's own statement attributes (the last row, XML persistence,
// result-set export, the stored values and the stored timestamp) and the
// recording of statement settings for a replay after a reconnect. Used by
// SQLSetStmtAttr and SQLGetStmtAttr (odbc/basestmtattr.cpp).
#pragma once
#include <cstdint>

class BaseStatement;

// Attributes that first start the implicit transaction; no driver of this
// framework gives them a meaning beyond it, so they are then refused.
constexpr int32_t kBaseStmtAttrTransactional = 1041;
constexpr int32_t kBaseStmtAttrTransactionalToo = 1042;
// The number of the result's last row, written to a 64-bit word.
constexpr int32_t kBaseStmtAttrLastRow = 1047;
// Write the open result set as an XML file (the value is its UTF-16 name),
// and the persist mode of that file.
constexpr int32_t kBaseStmtAttrPersistXml = 1053;
constexpr int32_t kBaseStmtAttrPersistMode = 1054;
// Export the open result set to a data file, and the export description.
constexpr int32_t kBaseStmtAttrExport = 1055;
constexpr int32_t kBaseStmtAttrExportDescription = 1056;
// Values the statement keeps for its driver: a signed number (negative
// values kept as -1), a switch, a pointer-size value, and the code page of
// SQL_C_CHAR data.
constexpr int32_t kBaseStmtAttrSignedValue = 1061;
constexpr int32_t kBaseStmtAttrSwitch = 1062;
constexpr int32_t kBaseStmtAttrPointerValue = 1063;
constexpr int32_t kBaseStmtAttrNarrowCodePage = 1064;
// A timestamp text stored on the connection.
constexpr int32_t kBaseStmtAttrTimestamp = 1120;

// Slots of BaseStatement::furtherAttributeValues.
constexpr int kBaseFurtherSignedValue = 0;
constexpr int kBaseFurtherSwitch = 1;
constexpr int kBaseFurtherPointerValue = 2;

// The export description's string length: a binary value of 40 bytes.
constexpr int32_t kBaseExportDescriptionLength = -140;
constexpr int64_t kBaseExportDescriptionVersion = 1;

// The export description an application hands over with attribute 1056.
struct BaseExportDescription {
    int64_t version;  // kBaseExportDescriptionVersion
    int64_t codePage;
    int64_t errorTolerance;
    int64_t warningTolerance;
    int64_t writeLog;  // non-zero: a log file beside the data file
};
static_assert(sizeof(BaseExportDescription) == 40, "the description is a 40-byte binary value");

// SQLSetStmtAttr of the driver's own attributes: -1 when attribute is none
// of them, else 0 or 1 after posting. *record tells whether a successful
// set is a setting to replay after a reconnect (actions are not).
[[nodiscard]] int16_t baseSetDriverStmtAttr(BaseStatement* stmt, int32_t attribute, void* value, int32_t length,
                                            bool* record) noexcept;
// SQLGetStmtAttr of the stored driver values: -1 when attribute is none of
// them, else 0 (the value written when value is not null).
[[nodiscard]] int16_t baseGetDriverStmtAttr(BaseStatement* stmt, int32_t attribute, void* value,
                                            int32_t* stringLength) noexcept;
// The log file of an export to fileName (UTF-16, NUL-terminated): the name
// less a final ".csv" in any case (only when longer than those four
// characters), then ".log"; a new block (ramFree), null without memory.
uint16_t* baseExportLogName(const uint16_t* fileName) noexcept;

// Records a successful set of a statement setting on the connection's
// replay list when failover is on: one record per statement and attribute,
// the latest, removed with the statement.
void baseRecordStmtAttr(BaseStatement* stmt, int32_t attribute, void* value, int32_t length) noexcept;
