// The Hive statement's side of a failover: when the handle replaces a lost
// connection, the statement's calls and readers move to the new one.
#include "hive/hiveconnection.h"
#include "hive/hivestatement.h"
#include "kamessages.h"
#include "odbc/baseerr.h"

int16_t HiveStatement::rebindConverterCache(BaseConnection* newConnection) noexcept
{
    auto* fresh = dynamic_cast<HiveConnection*>(newConnection);
    if (fresh == nullptr)
        return 1;
    auto* calls = new HiveCommunicatorHS2(this, fresh);
    if (calls == nullptr)
        return 1;
    // Nothing of this statement's is left to read on the old wire: it went
    // down with its connection, and its operation with its session.
    HiveConnection* old = hiveConnection();
    if (old != nullptr && old->wireOwner == this)
        old->wireOwner = nullptr;
    ownsWire = 0;
    resultAbandoned = 0;
    resultState = HIVE_RESULT_NONE;
    fetchState = HIVE_FETCH_NONE;
    rowsLeft = 0;
    moreRows = 0;
    columnPosition = 0;
    executedForDescribe = 0;
    delete communicator;
    communicator = calls;
    hiveStatementSettingsOf(fresh, &settings);
    readerState.readBuffer = &fresh->readBuffer;
    readerState.longDataCache = settings.longDataCache;
    communicator->fetchState = &readerState;
    return BaseStatement::rebindConverterCache(newConnection);
}

void HiveConnection::settleFailoverMode() noexcept
{
    // Select failover checksums every row as it is delivered by reading all
    // of its columns. Values read forward from a row-wise reply (no
    // long-data cache) would then be gone before the application asks for
    // them, so queries keep their results and failover stops at the
    // reconnect.
    if (failoverMode != kBaseFailoverModeQueries || longDataCache != 0 || resultStyle != HIVE_RESULT_ROW_WISE)
        return;
    failoverMode = kBaseFailoverModeConnect;
    configuredFailoverMode = kBaseFailoverModeConnect;
    // A reconnect opens with the options the application was told about.
    if (handle != nullptr && handle->reconnecting != 0)
        return;
    basePostWarningMsg(kBaseIdxGeneralWarning, MSG_HIVE_SELECT_FAILOVER_FORWARD_READ)
        ->addParamSigned(effectiveProtocol);
}
