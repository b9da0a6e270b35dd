// SQLSTATE indexes the statement framework posts while it prepares,
// executes, describes and fetches; the statement operations and the drivers'
// statement hooks use them.
#pragma once
#include <cstdint>

#include "kamessages.h"

constexpr uint16_t kBaseIdxErrorInRow = MSG_SQLSTATE_ERROR_IN_ROW;
constexpr uint16_t kBaseIdxOptionChanged = MSG_SQLSTATE_OPTION_CHANGED;
constexpr uint16_t kBaseIdxFetchBeforeFirst = MSG_SQLSTATE_FETCH_BEFORE_FIRST;
constexpr uint16_t kBaseIdxCountField = MSG_SQLSTATE_COUNT_FIELD_INCORRECT;
constexpr uint16_t kBaseIdxNoResultSet = MSG_SQLSTATE_NOT_CURSOR_SPECIFICATION;
constexpr uint16_t kBaseIdxBadDescIndex = MSG_SQLSTATE_INVALID_DESCRIPTOR_INDEX;
constexpr uint16_t kBaseIdxDefaultParam = MSG_SQLSTATE_INVALID_DEFAULT_PARAM;
constexpr uint16_t kBaseIdxCursorState = MSG_SQLSTATE_INVALID_CURSOR_STATE;
constexpr uint16_t kBaseIdxCursorName = MSG_SQLSTATE_INVALID_CURSOR_NAME;
constexpr uint16_t kBaseIdxDuplicateCursorName = MSG_SQLSTATE_DUPLICATE_CURSOR_NAME;
constexpr uint16_t kBaseIdxNoCursorName = MSG_SQLSTATE_NO_CURSOR_NAME;
constexpr uint16_t kBaseIdxBufferType = MSG_SQLSTATE_INVALID_BUFFER_TYPE;
constexpr uint16_t kBaseIdxNullPointer = MSG_SQLSTATE_INVALID_NULL_POINTER;
constexpr uint16_t kBaseIdxSequence = MSG_SQLSTATE_FUNCTION_SEQUENCE;
constexpr uint16_t kBaseIdxBadDescField = MSG_SQLSTATE_INVALID_FIELD_IDENTIFIER;
constexpr uint16_t kBaseIdxFetchType = MSG_SQLSTATE_FETCH_TYPE_OUT_OF_RANGE;
constexpr uint16_t kBaseIdxRowValue = MSG_SQLSTATE_ROW_VALUE_OUT_OF_RANGE;
constexpr uint16_t kBaseIdxCursorPosition = MSG_SQLSTATE_INVALID_CURSOR_POSITION;
constexpr uint16_t kBaseIdxBadBookmark = MSG_SQLSTATE_INVALID_BOOKMARK;
