// The query time-out of the Hive statement (SQL_ATTR_QUERY_TIMEOUT): the
// execute's clock, and the end of an operation that runs past it, cancelled
// at the server so that it does not go on working for nobody.
#include <time.h>

#include "foundation/kaerror.h"
#include "hive/hiveconnection.h"
#include "hive/hivestatement.h"
#include "kamessages.h"
#include "odbc/baseerr.h"
#include "transport/basehttpsocket.h"

namespace {

// The wall clock may be set back while a query runs; the monotonic one is
// not. The transport measures its connect budget the same way.
int64_t monotonicMs() noexcept
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

void HiveStatement::startQueryClock() noexcept
{
    queryDeadlineMs = 0;
    queryTimeoutSeconds = attributeValues[kBaseAttrQueryTimeout];
    const BaseConnection* conn = connection;
    if (queryTimeoutSeconds <= 0 || (conn != nullptr && conn->queryTimeoutIgnored != 0)) {
        queryTimeoutSeconds = 0;
        return;
    }
    // A deadline of 0 means none, so the clock never yields it.
    queryDeadlineMs = monotonicMs() + queryTimeoutSeconds * 1000;
    if (queryDeadlineMs == 0)
        queryDeadlineMs = 1;
}

int16_t HiveStatement::queryTimeExpired() noexcept
{
    if (queryDeadlineMs == 0 || monotonicMs() < queryDeadlineMs)
        return 0;
    return endTimedOutQuery();
}

void HiveStatement::boundTransfersByQueryClock(int64_t deadlineMs) noexcept
{
    const HiveConnection* conn = hiveConnection();
    if (auto* http = dynamic_cast<BaseHTTPSocket*>(conn != nullptr ? conn->writeBuffer.socket : nullptr))
        http->setQueryDeadline(deadlineMs);
}

int16_t HiveStatement::transferOutlivedQueryClock() noexcept
{
    const HiveConnection* conn = hiveConnection();
    auto* http = dynamic_cast<BaseHTTPSocket*>(conn != nullptr ? conn->writeBuffer.socket : nullptr);
    if (queryDeadlineMs == 0 || http == nullptr || !http->queryDeadlineReached())
        return 0;
    // The socket's "timed out" gives way to the query's own record, which
    // says which limit ran out and what became of the operation.
    if (KaErrorList* list = KaErrorCurrentList(); list != nullptr && list->recordCount() > 0) {
        const KaError* last = list->recordAt(list->recordCount() - 1);
        if (last != nullptr && last->nativeCode == MSG_SOCKET_TIMED_OUT)
            KaErrorDiscardLast();
    }
    return endTimedOutQuery();
}

int16_t HiveStatement::endTimedOutQuery() noexcept
{
    queryDeadlineMs = 0;
    // The cancel is a request of its own, which the spent deadline must
    // not cut short.
    boundTransfersByQueryClock(0);
    // The server is told even when it may have finished meanwhile: a
    // cancel of a finished operation is harmless, a query left running is
    // not. A reply cut short before it named the operation leaves nothing
    // to cancel, which the message says.
    const bool sent = communicator->hasOperation() && communicator->cancelOperation() == 0;
    KaError* record =
        basePostErrorMsg(kBaseIdxTimeout, sent ? MSG_HIVE_QUERY_TIMED_OUT : MSG_HIVE_QUERY_TIMED_OUT_UNCONFIRMED);
    if (record != nullptr)
        record->addParamSigned(queryTimeoutSeconds);
    return 1;
}
