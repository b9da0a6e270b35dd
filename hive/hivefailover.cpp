// The Hive statement's side of a failover: when the handle replaces a lost
// connection, the statement's calls and readers move to the new one.
#include "hive/hiveconnection.h"
#include "hive/hivestatement.h"

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
