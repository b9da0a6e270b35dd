// Test helpers for the framework's diagnostics: a BaseErrorList made current
// on the calling thread for the scope's lifetime, with readers of its records.
#pragma once
#include <string>

#include "odbc/baseerr.h"
#include "support/errorscope.h"

namespace katest {

struct DiagScope {
    BaseErrorList list;

    explicit DiagScope(BaseConnection* owner = nullptr) : list(owner) { KaErrorPushList(&list); }
    ~DiagScope() { KaErrorPopList(); }
    DiagScope(const DiagScope&) = delete;
    DiagScope& operator=(const DiagScope&) = delete;

    size_t size() const { return list.recordCount(); }
    KaError* at(size_t i) { return list.getRecord(static_cast<int64_t>(i) + 1); }
    // The SQLSTATE index the record was posted with.
    uint16_t index(size_t i) { return at(i)->sqlstateMsg; }
    bool warning(size_t i) { return at(i)->isWarning(); }
    std::string text(size_t i) { return messageText(at(i)); }
};

}  // namespace katest
