// The field ids of the TCLIService structs the driver writes and reads,
// named after the struct and field of the service's Thrift definition and
// grouped by struct. Only the fields the driver touches are here.
#pragma once
#include <cstdint>

// The argument struct of every call holds its request in field 1; the
// result struct of every reply holds its response in field 0.
constexpr int16_t kTCallArgsReq = 1;
constexpr int16_t kTCallResultSuccess = 0;

// Every response (T...Resp) carries its TStatus in field 1.
constexpr int16_t kTRespStatus = 1;

// TStatus
constexpr int16_t kTStatusStatusCode = 1;
constexpr int16_t kTStatusInfoMessages = 2;
constexpr int16_t kTStatusSqlState = 3;
constexpr int16_t kTStatusErrorCode = 4;
constexpr int16_t kTStatusErrorMessage = 5;

// THandleIdentifier
constexpr int16_t kTHandleIdentifierGuid = 1;
constexpr int16_t kTHandleIdentifierSecret = 2;

// TSessionHandle
constexpr int16_t kTSessionHandleSessionId = 1;

// TOperationHandle
constexpr int16_t kTOperationHandleOperationId = 1;
constexpr int16_t kTOperationHandleOperationType = 2;
constexpr int16_t kTOperationHandleHasResultSet = 3;
constexpr int16_t kTOperationHandleModifiedRowCount = 4;

// TOpenSessionReq, TOpenSessionResp
constexpr int16_t kTOpenSessionReqClientProtocol = 1;
constexpr int16_t kTOpenSessionReqConfiguration = 4;
constexpr int16_t kTOpenSessionRespServerProtocolVersion = 2;
constexpr int16_t kTOpenSessionRespSessionHandle = 3;
constexpr int16_t kTOpenSessionRespConfiguration = 4;

// TCloseSessionReq
constexpr int16_t kTCloseSessionReqSessionHandle = 1;

// TExecuteStatementReq, TExecuteStatementResp
constexpr int16_t kTExecuteStatementReqSessionHandle = 1;
constexpr int16_t kTExecuteStatementReqStatement = 2;
constexpr int16_t kTExecuteStatementReqConfOverlay = 3;
constexpr int16_t kTExecuteStatementReqRunAsync = 4;
constexpr int16_t kTExecuteStatementRespOperationHandle = 2;

// The requests whose one argument is the operation handle:
// TGetOperationStatusReq, TCancelOperationReq, TCloseOperationReq,
// TGetResultSetMetadataReq (and TFetchResultsReq's first field).
constexpr int16_t kTOperationReqOperationHandle = 1;

// TGetOperationStatusResp
constexpr int16_t kTGetOperationStatusRespOperationState = 2;
constexpr int16_t kTGetOperationStatusRespSqlState = 3;
constexpr int16_t kTGetOperationStatusRespErrorCode = 4;
constexpr int16_t kTGetOperationStatusRespErrorMessage = 5;

// TGetResultSetMetadataResp
constexpr int16_t kTGetResultSetMetadataRespSchema = 2;

// TTableSchema, TColumnDesc, TTypeDesc, TTypeEntry, TPrimitiveTypeEntry,
// TTypeQualifiers, TTypeQualifierValue
constexpr int16_t kTTableSchemaColumns = 1;
constexpr int16_t kTColumnDescColumnName = 1;
constexpr int16_t kTColumnDescTypeDesc = 2;
constexpr int16_t kTColumnDescPosition = 3;
constexpr int16_t kTTypeDescTypes = 1;
constexpr int16_t kTTypeEntryPrimitiveEntry = 1;
constexpr int16_t kTPrimitiveTypeEntryType = 1;
constexpr int16_t kTPrimitiveTypeEntryTypeQualifiers = 2;
constexpr int16_t kTTypeQualifiersQualifiers = 1;
constexpr int16_t kTTypeQualifierValueI32Value = 1;

// TFetchResultsReq, TFetchResultsResp
constexpr int16_t kTFetchResultsReqOperationHandle = 1;
constexpr int16_t kTFetchResultsReqOrientation = 2;
constexpr int16_t kTFetchResultsReqMaxRows = 3;
constexpr int16_t kTFetchResultsRespResults = 3;

// TRowSet, TRow
constexpr int16_t kTRowSetStartRowOffset = 1;
constexpr int16_t kTRowSetRows = 2;
constexpr int16_t kTRowSetColumns = 3;
constexpr int16_t kTRowColVals = 1;

// The column structs of TColumn (TBoolColumn ... TBinaryColumn) and the
// value structs of TColumnValue (TBoolValue ... TStringValue)
constexpr int16_t kTColumnValues = 1;
constexpr int16_t kTColumnNulls = 2;
constexpr int16_t kTValueValue = 1;

// TColumnValue's members (a row-wise cell); TColumn's members are numbered
// the same up to stringVal, and binaryVal follows.
constexpr int16_t kTColumnValueBoolVal = 1;
constexpr int16_t kTColumnValueByteVal = 2;
constexpr int16_t kTColumnValueI16Val = 3;
constexpr int16_t kTColumnValueI32Val = 4;
constexpr int16_t kTColumnValueI64Val = 5;
constexpr int16_t kTColumnValueDoubleVal = 6;
constexpr int16_t kTColumnValueStringVal = 7;
constexpr int16_t kTColumnBinaryVal = 8;

// TGetInfoReq, TGetInfoResp
constexpr int16_t kTGetInfoReqSessionHandle = 1;
constexpr int16_t kTGetInfoReqInfoType = 2;
constexpr int16_t kTGetInfoRespInfoValue = 2;

// The catalog requests: TGetTablesReq, TGetColumnsReq, TGetSchemasReq,
// TGetTypeInfoReq
constexpr int16_t kTCatalogReqSessionHandle = 1;
constexpr int16_t kTCatalogReqCatalogName = 2;
constexpr int16_t kTCatalogReqSchemaName = 3;
constexpr int16_t kTGetTablesReqTableName = 4;
constexpr int16_t kTGetTablesReqTableTypes = 5;
constexpr int16_t kTGetColumnsReqTableName = 4;
constexpr int16_t kTGetColumnsReqColumnName = 5;

// TApplicationException (the body of an EXCEPTION reply)
constexpr int16_t kTApplicationExceptionMessage = 1;
constexpr int16_t kTApplicationExceptionType = 2;
// A second text some servers add to the exception.
constexpr int16_t kTApplicationExceptionDetail = 3;
