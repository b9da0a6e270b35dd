// The HiveServer2 physical connection: construction, its statements, its
// library name and its resource texts.
#include "hive/hiveconnection.h"

#include <cstring>
#include <memory>

#include "foundation/errpost.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "hive/hivestatement.h"
#include "kamessages.h"
#include "odbc/baseenv.h"
#include "platform/bos.h"
#include "platform/bosname.h"
#include "platform/katracing.h"

HiveConnection::HiveConnection(BaseEnv* env) noexcept : BaseConnection(env)
{
    threadModel = kBaseThreadPerConnection;
    connectionFlags |= kBaseConnUnicodeDriver | kBaseConnLoginTimeoutSettable | kBaseConnCharAttrsSettable;
    loginTimeout = kHiveDefaultLoginTimeout;
    // Statements end a query that outlives SQL_ATTR_QUERY_TIMEOUT by
    // cancelling its operation (hive/hivetimeout.cpp).
    queryTimeoutSupported = 1;
    // A lost session is replaced by a new one when FailoverMode asks for it;
    // its statements move over (odbc/basefailover.cpp, hive/hivefailover.cpp).
    failoverSupported = 1;
    // Plain and SSL: the server speaks no other encryption.
    allowedEncryptionMethods = 1u << 1;
    driverInfoTable = &kHiveInfoTable;
    // Every parameter is a literal in the text: nothing comes back, and
    // long values are taken whole.
    outputParamsSupported = false;
    returnValueSupported = false;
    streamsLongData = false;
    truncationIsError = true;
    // Strings and binaries reach SQLGetData through the readers' converters,
    // piece after piece; a value whose converted length is unknown is
    // converted once ahead so that every piece reports what is left.
    streamCharColumns = true;
    streamLongColumns = true;
    longDataMode = 2;
    setDriverAttrTable();
}

HiveConnection::~HiveConnection()
{
    dropSocket();
    ramFree(closeQueue.entries);
    freeOptionTexts();
    freeTlsTexts();
    delete packetLogSink;
    if (packetLog != nullptr) {
        packetLog->close();
        delete packetLog;
    }
}

namespace {

constexpr char16_t kHostKeywords[] = u"HostName\0PortNumber\0*Database\0";
constexpr char16_t kHostKeywordsShort[] = u"Host\0Port\0DB\0";
constexpr char16_t kHostKeywordDefaults[] = u"\0\0\0";

}  // namespace

const uint16_t* HiveConnection::hostKeyword() noexcept
{
    return reinterpret_cast<const uint16_t*>(kHostKeywords);
}

const uint16_t* HiveConnection::hostKeywordShort() noexcept
{
    return reinterpret_cast<const uint16_t*>(kHostKeywordsShort);
}

const uint16_t* HiveConnection::hostKeywordAlt() noexcept
{
    return reinterpret_cast<const uint16_t*>(kHostKeywordDefaults);
}

int16_t HiveConnection::createStatement(BaseStatement** out) noexcept
{
    if (out == nullptr)
        return 1;
    *out = nullptr;
    std::unique_ptr<HiveStatement> stmt(new HiveStatement(this));
    if (stmt == nullptr || stmt->initStatement() != 0)
        return 1;
    *out = stmt.release();
    return 0;
}

int16_t HiveConnection::driverLibraryName(uint16_t* out, int32_t capacity) noexcept
{
    if (out == nullptr || capacity <= 0)
        return 1;
    out[0] = 0;
    char name[BOS_PATH_SIZE];
    if (!baseDriverBaseName(name, sizeof name))
        return 0;
    size_t n = std::strlen(name);
    if (n + 3 < sizeof name)
        std::memcpy(name + n, ".so", 4);
    return KaLocalToUtf16(out, static_cast<size_t>(capacity), name) < 0 ? 1 : 0;
}

int32_t HiveConnection::driverResourceStr(uint32_t id, uint16_t* out, int32_t capacity) noexcept
{
    if (out == nullptr || capacity <= 0)
        return 0;
    out[0] = 0;
    if (id > UINT16_MAX)
        return 0;
    size_t units = static_cast<size_t>(capacity < kHiveResourceTextUnits ? capacity : kHiveResourceTextUnits);
    return static_cast<int32_t>(errLoadMessageW(out, units, static_cast<uint16_t>(id)));
}

int HiveConnection::refuseIfUnusable() noexcept
{
    if (readBuffer.failed != 0)
        return readBuffer.refuseAfterFailure();
    if (writeBuffer.writeFailed == 0)
        return 0;
    errPost(MSG_HIVE_UNUSABLE_AFTER_WRITE)->setSqlstateMsg(MSG_SQLSTATE_LINK_FAILURE);
    return 1;
}
