#include "sql/sqlpost.h"

#include <atomic>

#include "foundation/kaerror.h"
#include "foundation/kathread.h"

namespace {

std::atomic<SqlErrorPoster> installed{nullptr};

KaError* postPlain(uint16_t index, uint16_t msg) noexcept
{
    KaError* record = errPost(msg);
    if (record != nullptr && index == kSqlSyntaxErrorIndex)
        record->setSqlstate("42000");
    return record;
}

}  // namespace

void sqlSetErrorPoster(SqlErrorPoster poster) noexcept
{
    installed.store(poster, std::memory_order_release);
}

KaError* sqlPostError(uint16_t index, uint16_t msg) noexcept
{
    SqlErrorPoster poster = installed.load(std::memory_order_acquire);
    return poster != nullptr ? poster(index, msg) : postPlain(index, msg);
}

KaError* sqlPostSyntaxError(uint16_t msg) noexcept
{
    return sqlPostError(kSqlSyntaxErrorIndex, msg);
}
