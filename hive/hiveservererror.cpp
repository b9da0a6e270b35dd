// Server errors: TStatus records and EXCEPTION replies read off the wire and
// posted with the SQLSTATE their code or text suggests.
#include "hive/hiveservererror.h"

#include <cstring>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/kaowner.h"
#include "foundation/kastr.h"
#include "foundation/ram.h"
#include "hive/hiveconnection.h"
#include "hive/hivethrift.h"
#include "kamessages.h"
#include "odbc/baseerr.h"

namespace {

// Longest EXCEPTION message kept.
constexpr size_t kHiveExceptionMessageSize = 512;

struct Keyword {
    const char* text;
    uint16_t index;
};

constexpr const char* kColumnCountMismatch =
    "CANNOT INSERT INTO TARGET TABLE BECAUSE COLUMN NUMBER/TYPES ARE DIFFERENT";

constexpr Keyword kKeywords[] = {
    {"PARSEEXCEPTION", MSG_SQLSTATE_SYNTAX_ERROR},
    {"PARSE ERROR", MSG_SQLSTATE_SYNTAX_ERROR},
    {"NOSUCHTABLEEXCEPTION", MSG_SQLSTATE_TABLE_NOT_FOUND},
    {"TABLE NOT FOUND", MSG_SQLSTATE_TABLE_NOT_FOUND},
    {"NO SUCH TABLE", MSG_SQLSTATE_TABLE_NOT_FOUND},
    {"INVALIDTABLEEXCEPTION", MSG_SQLSTATE_TABLE_NOT_FOUND},
    {"ALREADY EXISTS", MSG_SQLSTATE_TABLE_EXISTS},
    {"IN INSERT CLAUSE", MSG_SQLSTATE_INSERT_VALUE_LIST_MISMATCH},
    {kColumnCountMismatch, 0},
    {"NUMBER OF COLUMNS PRODUCED BY THE SELECT CLAUSE DOES NOT MATCH", MSG_SQLSTATE_DEGREE_MISMATCH},
    {"CANNOT RESOLVE", MSG_SQLSTATE_COLUMN_NOT_FOUND},
    {"INVALID TABLE ALIAS OR COLUMN REFERENCE", MSG_SQLSTATE_COLUMN_NOT_FOUND},
    {"INVALID INDEX", MSG_SQLSTATE_INDEX_NOT_FOUND},
    {"CANNOT RECOGNIZE INPUT", MSG_SQLSTATE_SYNTAX_ERROR},
    {"CATALYST.EXPRESSIONS", MSG_SQLSTATE_SERVER_ANALYSIS_ERROR},
    {"ANALYSISEXCEPTION", MSG_SQLSTATE_SYNTAX_ERROR},
};

char upper(char c) noexcept
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

// Position of the upper-case keyword in text from start, or length.
size_t findNoCase(const char* text, size_t length, size_t start, const char* keyword) noexcept
{
    size_t k = strlen(keyword);
    for (size_t i = start; i + k <= length; ++i) {
        size_t j = 0;
        while (j < k && upper(text[i + j]) == keyword[j])
            ++j;
        if (j == k)
            return i;
    }
    return length;
}

bool endsValue(char c) noexcept
{
    return c == 0 || c == ',' || c == ')' || c == '}' || c == ';' || c == '&' || c == ' ' || c == '\t' || c == '\r' ||
           c == '\n';
}

bool isNameChar(char c) noexcept
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Where a credential's value ends. "name=value" (connection-string style)
// ends at a separator or blank. "name:value" is how a request's printed
// form shows its fields: the value may hold anything, so it runs to the
// next ", field:" or to the struct's last ")".
size_t valueEnd(const char* text, size_t length, size_t start, bool printedField) noexcept
{
    if (!printedField) {
        size_t end = start;
        while (end < length && !endsValue(text[end]))
            ++end;
        return end;
    }
    for (size_t i = start; i + 2 < length; ++i) {
        if (text[i] != ',' || text[i + 1] != ' ')
            continue;
        size_t j = i + 2;
        while (j < length && isNameChar(text[j]))
            ++j;
        if (j > i + 2 && j < length && text[j] == ':')
            return i;
    }
    for (size_t i = length; i > start; --i)
        if (text[i - 1] == ')')
            return i - 1;
    return length;
}

int protocolError() noexcept
{
    basePostErrorMsg(MSG_SQLSTATE_GENERAL_ERROR, MSG_THRIFT_STATUS_PROTOCOL_ERROR);
    return 1;
}

}  // namespace

void hiveMaskCredentials(char* text) noexcept
{
    static const char* const kNames[] = {"USERNAME", "USER", "PASSWORD", "PWD"};
    constexpr size_t kShown = 3;
    size_t length = strlen(text);
    for (size_t i = 0; i < length; ++i) {
        if (i > 0 && isNameChar(text[i - 1]))
            continue;
        for (const char* name : kNames) {
            size_t k = strlen(name);
            size_t j = 0;
            while (j < k && i + j < length && upper(text[i + j]) == name[j])
                ++j;
            if (j != k || i + k >= length || (text[i + k] != ':' && text[i + k] != '='))
                continue;
            size_t start = i + k + 1;
            size_t end = valueEnd(text, length, start, text[i + k] == ':');
            size_t n = end - start;
            size_t shown = n < kShown ? n : kShown;
            memset(text + start, '*', shown);
            memmove(text + start + shown, text + end, length - end + 1);
            length -= n - shown;
            i = start + shown - 1;
            break;
        }
    }
}

uint16_t mapHiveErrorCode(int32_t errorCode) noexcept
{
    switch (errorCode) {
    case 10001: return MSG_SQLSTATE_TABLE_NOT_FOUND;
    case 10002:
    case 10004: return MSG_SQLSTATE_COLUMN_NOT_FOUND;
    case 10089: return MSG_SQLSTATE_DEGREE_MISMATCH;
    default: return MSG_SQLSTATE_GENERAL_ERROR;
    }
}

uint16_t hiveServerTextIndex(const char* text, size_t length) noexcept
{
    for (const Keyword& k : kKeywords) {
        size_t at = findNoCase(text, length, 0, k.text);
        if (at == length)
            continue;
        if (k.index != 0)
            return k.index;
        size_t after = at + strlen(k.text);
        return findNoCase(text, length, after, "COLUMNS, BUT QUERY HAS") < length
                   ? MSG_SQLSTATE_INSERT_VALUE_LIST_MISMATCH
                   : MSG_SQLSTATE_GENERAL_ERROR;
    }
    return MSG_SQLSTATE_GENERAL_ERROR;
}

void mapServerErrorText(int32_t errorCode, const char* text, int32_t warning) noexcept
{
    uint16_t index = hiveServerTextIndex(text, strlen(text));
    uint32_t native = errorCode == 0 ? uint32_t(-1) : uint32_t(errorCode);
    if (warning)
        basePostWarningTextA(index, native, text, KA_TEXT_UTF8);
    else
        basePostErrorTextA(index, native, text, KA_TEXT_UTF8);
}

void HiveConnection::postServerError(int32_t errorCode, const char* /*sqlstate*/, const char* message,
                                     size_t /*length*/) noexcept
{
    if (message == nullptr) {
        if (postingWarning)
            basePostWarningMsg(MSG_SQLSTATE_GENERAL_WARNING, MSG_SERVER_ERROR_WITHOUT_MESSAGE);
        else
            basePostErrorMsg(MSG_SQLSTATE_GENERAL_ERROR, MSG_SERVER_ERROR_WITHOUT_MESSAGE);
        return;
    }
    uint16_t index = mapHiveErrorCode(errorCode);
    if (index == MSG_SQLSTATE_GENERAL_ERROR) {
        mapServerErrorText(errorCode, message, postingWarning);
        return;
    }
    if (postingWarning)
        basePostWarningTextA(index, uint32_t(errorCode), message, KA_TEXT_UTF8);
    else
        basePostErrorTextA(index, uint32_t(errorCode), message, KA_TEXT_UTF8);
}

int HiveConnection::readStatus(int32_t* statusCode) noexcept
{
    int32_t code = 0;
    int32_t errorCode = 0;
    char sqlstate[6] = "00000";
    RamPtr<char> message;
    size_t messageLength = 0;
    int rc = 0;
    int haveCode = 0;
    for (;;) {
        uint8_t type = 0;
        int16_t id = 0;
        if (readBuffer.readFieldBegin(&type, &id)) {
            rc = 1;
            break;
        }
        if (type == HIVE_T_STOP)
            break;
        if (id == kTStatusStatusCode && type == HIVE_T_I32) {
            rc = readBuffer.readI32(&code);
            haveCode = 1;
        } else if (id == kTStatusInfoMessages && type == HIVE_T_LIST) {
            rc = readBuffer.skip(type);
        } else if (id == kTStatusSqlState && type == HIVE_T_STRING) {
            int32_t n = 0;
            rc = readBuffer.readI32(&n);
            if (rc == 0 && n != 5)
                rc = protocolError();
            else if (rc == 0)
                rc = readBuffer.readBytes(sqlstate, 5);
        } else if (id == kTStatusErrorCode && type == HIVE_T_I32) {
            rc = readBuffer.readI32(&errorCode);
        } else if (id == kTStatusErrorMessage && type == HIVE_T_STRING) {
            int32_t n = 0;
            rc = readBuffer.readI32(&n);
            // -1 is the null text some servers send; any other negative
            // length, or one the frame cannot hold, is no text at all.
            if (rc == 0 && n < -1)
                rc = protocolError();
            else if (rc == 0) {
                size_t keep = n < 0 ? 0 : size_t(n);
                if (keep > kHiveMaxServerMessage)
                    keep = kHiveMaxServerMessage;
                message = ramMake<char>(keep + 1);
                if (!message) {
                    ramOutOfMemory();
                    rc = 1;
                } else if (readBuffer.readBytes(message.get(), keep) ||
                           readBuffer.skipBytes(uint64_t(n < 0 ? 0 : n) - keep)) {
                    rc = 1;
                } else {
                    message.get()[keep] = 0;
                    messageLength = keep;
                }
            }
        } else if (id >= kTStatusStatusCode && id <= kTStatusErrorMessage) {
            rc = protocolError();
        } else {
            // A newer server's extra field.
            rc = readBuffer.skip(type);
        }
        if (rc)
            break;
    }
    // Without its code a status says nothing: taking it for success would
    // pass a failed call.
    if (rc == 0 && haveCode == 0)
        rc = hiveReplyFault("TStatus.statusCode missing");
    if (rc == 0 && (code == HIVE_STATUS_SUCCESS_WITH_INFO || code == HIVE_STATUS_ERROR)) {
        if (message) {
            hiveMaskCredentials(message.get());
            messageLength = strlen(message.get());
        }
        postingWarning = code == HIVE_STATUS_SUCCESS_WITH_INFO;
        postServerError(errorCode, sqlstate, message.get(), messageLength);
        postingWarning = 0;
    }
    if (statusCode != nullptr)
        *statusCode = code;
    return rc;
}

int HiveConnection::readServerException(HiveNetReadBuffer* buffer) noexcept
{
    char message[kHiveExceptionMessageSize];
    char second[kHiveExceptionMessageSize];
    size_t messageLength = 0;
    size_t secondLength = 0;
    int32_t type = 0;
    int rc = buffer->readExceptionFields(message, sizeof message, &messageLength, second, sizeof second, &secondLength,
                                         &type);
    if (rc) {
        errPost(MSG_THRIFT_PROTOCOL_ERROR)
            ->setSqlstateMsg(MSG_SQLSTATE_GENERAL_ERROR)
            ->addParamText("Problem parsing error from server");
    }
    if (messageLength > 0)
        hiveMaskCredentials(message);
    mapServerErrorText(type, messageLength > 0 ? message : "Unknown Exception");
    return rc;
}
