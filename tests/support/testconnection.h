// The one fake physical connection of the framework tests: its connect step
// succeeds or fails on demand (no network), it can lose its link inside a
// call, and it can refuse one attribute; an environment makes it. Used by
// the connection and thread tests.
#pragma once
#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <string>

#include "odbc/baseconn.h"
#include "odbc/baseenv.h"
#include "support/errorscope.h"

namespace katest {

// What the tests decide and observe, shared by every connection an
// environment makes.
struct TestConnectionControl {
    std::atomic<int> connectFailures{0};  // so many connects fail from now on
    int made = 0;                         // connections made
    int32_t threadModel = kBaseThreadPerConnection;  // of the connections made
    int connects = 0;                     // successful connects
    std::u16string lastConnectString;
    // Touched only inside connection calls, so that a lock that fails to
    // serialise them shows as a data race.
    long sharedCounter = 0;
};

class TestConnection : public BaseConnection {
public:
    TestConnection(BaseEnv* env, TestConnectionControl* control) noexcept
        : BaseConnection(env), control_(control)
    {
    }

    // A connect: stores the string for reconnects, opens, applies what was
    // buffered and recorded, and marks the point a replay resumes from.
    int16_t driverConnect(void* window, const uint16_t* in, int16_t inLength, uint16_t* out,
                          int16_t outCapacity, int16_t* outLength,
                          uint16_t completion) noexcept override
    {
        if (outLength != nullptr)
            *outLength = 0;
        if (enterApi(SQL_API_SQLDRIVERCONNECT) != 0)
            return leaveApi(SQL_ERROR);
        std::u16string text(reinterpret_cast<const char16_t*>(in),
                            inLength == SQL_NTS ? std::char_traits<char16_t>::length(
                                                      reinterpret_cast<const char16_t*>(in))
                                                : static_cast<size_t>(inLength));
        // A driver manager test cannot reach the control: its connection
        // string asks for the failure.
        bool asked = text.find(u"FAIL=1") != std::u16string::npos;
        if (asked || control_->connectFailures.load() > 0) {
            if (!asked)
                --control_->connectFailures;
            basePostError(kBaseIdxUnableToConnect);
            return leaveApi(SQL_ERROR);
        }
        auto units = static_cast<int64_t>(text.size());
        control_->lastConnectString = text;
        if (handle != nullptr && handle->reconnecting == 0 &&
            handle->storeConnectString(in, units) != 0)
            return leaveApi(SQL_ERROR);
        connectionFlags |= kBaseConnConnected;
        ++control_->connects;
        applyBufferedEvents();
        if (failoverMode != 0)
            (void)addBufferedEvent(kBaseEventConnected, 0, 0, 0, 0, this);
        return leaveApi(SQL_SUCCESS);
    }

    // A call during which the link drops: the transport posts the link
    // failure under its own message number.
    int16_t callLosingLink() noexcept
    {
        if (enterApi(SQL_API_SQLNATIVESQL) != 0)
            return leaveApi(SQL_ERROR);
        basePostErrorMsg(kBaseIdxLinkFailure, MSG_CONNECTION_NOT_OPEN);
        connectionFlags &= ~kBaseConnConnected;
        return leaveApi(SQL_ERROR);
    }

    // A call that fails with a record whose native code is the link
    // failure's index but whose SQLSTATE is another.
    int16_t callFailingWithNative27() noexcept
    {
        if (enterApi(SQL_API_SQLNATIVESQL) != 0)
            return leaveApi(SQL_ERROR);
        basePostErrorTextW(kBaseIdxGeneralError, kBaseIdxLinkFailure,
                           reinterpret_cast<const uint16_t*>(u"server said 27"));
        return leaveApi(SQL_ERROR);
    }

    // A call that touches shared state while it runs.
    int16_t work() noexcept
    {
        if (enterApi(SQL_API_SQLGETINFO) != 0)
            return leaveApi(SQL_ERROR);
        long seen = control_->sharedCounter;
        control_->sharedCounter = seen + 1;
        return leaveApi(SQL_SUCCESS);
    }

private:
    TestConnectionControl* control_;
};

class TestEnv : public BaseEnv {
public:
    explicit TestEnv(TestConnectionControl* control, int32_t lockIndex = 15) noexcept
        : BaseEnv(lockIndex), control_(control)
    {
    }

    int16_t newConnection(int32_t skipAcceptCheck, BaseConnection** out) noexcept override
    {
        *out = nullptr;
        auto* conn = new TestConnection(this, control_);
        if (conn == nullptr)
            return -1;
        conn->threadModel = control_->threadModel;
        ++control_->made;
        *out = conn;
        return 0;
    }

private:
    TestConnectionControl* control_;
};

}  // namespace katest
