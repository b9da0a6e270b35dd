// What the export and the validation share inside one connection call: the
// text arguments in UTF-16, file names in UTF-8, an internal statement of
// the connection, and the move of its diagnostics to the call's list.
#pragma once
#include <cstddef>
#include <cstdint>

#include "bulk/bulkfiles.h"
#include "foundation/kastringw.h"

class BaseConnection;
class BaseStubConnection;
class BaseStatement;
class KaErrorList;

// A UTF-16 argument: the wide one (in the connection's wide encoding) or the
// narrow one (in its application code page), as a terminated copy.
struct BulkText {
    uint16_t* text = nullptr;
    size_t length = 0;

    BulkText() noexcept = default;
    BulkText(const BulkText&) = delete;
    BulkText& operator=(const BulkText&) = delete;
    ~BulkText();
    // 0 (also when both are null: text stays null), or 1 after the
    // conversion's diagnostic.
    [[nodiscard]] int take(BaseConnection* conn, const char* narrow, const uint16_t* wide) noexcept;
    // A terminated copy of UTF-16 text already in the driver's form (null
    // leaves text null); 1 without memory.
    [[nodiscard]] int copy(const uint16_t* wide) noexcept;
};

// UTF-16 file name to UTF-8; 1 after the name diagnostic.
[[nodiscard]] int bulkPathOf(const uint16_t* name, char out[KA_BULK_PATH_SIZE]) noexcept;

// Marks the calling thread as the owner of the connection handle for the
// scope, so that the internal statement's calls inside this connection call
// do not wait for the lock the call already holds.
class BulkOwnerScope {
public:
    explicit BulkOwnerScope(BaseConnection* conn) noexcept;
    ~BulkOwnerScope();
    BulkOwnerScope(const BulkOwnerScope&) = delete;
    BulkOwnerScope& operator=(const BulkOwnerScope&) = delete;

private:
    BaseStubConnection* handle_ = nullptr;
};

// An internal statement of the connection, dropped with the object, or an
// application's statement borrowed for one call (adopt), left as it is.
struct BulkStatement {
    BaseStatement* stmt = nullptr;

    BulkStatement() noexcept = default;
    BulkStatement(const BulkStatement&) = delete;
    BulkStatement& operator=(const BulkStatement&) = delete;
    ~BulkStatement();
    [[nodiscard]] int create(BaseConnection* conn) noexcept;
    void adopt(BaseStatement* given) noexcept;
    // The diagnostics posted since the last call of this (on the
    // statement's list, or on the current list that the statement's calls
    // post to inside the connection call) end on the current list, each
    // stamped with row and column (-1: not set); truncation warnings of
    // pieces are dropped when dropTruncation is set. True when a truncation
    // warning was among them (the statement's own return code does not
    // show it while the calls post to the connection call's list).
    bool moveDiagnostics(int64_t row, int64_t column, bool dropTruncation) noexcept;

private:
    size_t mark_ = 0;
    bool borrowed_ = false;
};

// "SELECT * FROM " with the table quoted part by part, and tail.
[[nodiscard]] int bulkTableQuery(const BulkText& table, const char16_t* tail, KaStringW& out) noexcept;

// The error and warning tolerances of a bulk operation as limits on the
// current list's counts from the moment they are taken: bit 63 of a
// tolerance does not count, so -1 is no limit.
struct BulkTolerances {
    uint64_t errorLimit = 0;
    uint64_t warningLimit = 0;

    void take(const KaErrorList* list, int64_t errorTolerance, int64_t warningTolerance) noexcept;
    // True after posting the tolerance error (errors first) when the list
    // holds more errors or warnings than the limits allow.
    [[nodiscard]] bool exceeded(const KaErrorList* list) const noexcept;
};
