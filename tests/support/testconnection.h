// The one fake physical connection of the framework tests: its open step
// records what it was asked and succeeds, fails with a chosen diagnostic or
// waits, as a test scripts it (no network); it can lose its link inside a
// call. An environment makes it, and makeStatement the statements of a
// test's own connection class. Used by the connection, thread and driver
// manager tests.
#pragma once
#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "odbc/baseattrtable.h"
#include "odbc/baseconn.h"
#include "odbc/baseenv.h"
#include "odbc/kavalueparser.h"
#include "foundation/errpost.h"
#include "foundation/kaowner.h"
#include "foundation/ram.h"
#include "support/errorscope.h"

namespace katest {

// One scripted outcome of the open step.
struct TestOpenOutcome {
    uint16_t failIndex = 0;          // SQLSTATE index of the failure; 0 succeeds
    uint16_t failMessage = 0;        // its message number (0: the index's own text)
    const char* failText = nullptr;  // posted as the text instead, when set
    int waitMs = 0;                  // how long the open takes first
};

// What one open was asked: the server options in force, the credentials.
struct TestOpenRecord {
    std::u16string host;  // HostName, as the options gave it
    std::u16string port;
    std::u16string user;
    std::u16string password;
    uint32_t tlsProtocols = 0;
    uint64_t workarounds = 0;
};

// What the tests decide and observe, shared by every connection an
// environment makes.
struct TestConnectionControl {
    std::atomic<int> connectFailures{0};             // so many connects fail from now on
    int made = 0;                                    // connections made
    int32_t threadModel = kBaseThreadPerConnection;  // of the connections made
    int connects = 0;                                // successful connects
    std::u16string lastConnectString;                // the string the open step ran under
    // Scripted opens, taken in order; once used up, opens succeed.
    std::vector<TestOpenOutcome> script;
    size_t scriptNext = 0;
    std::vector<TestOpenRecord> opens;  // every open, in order
    int32_t serverKeywords = 1;         // the connections name HostName/PortNumber
    int32_t failoverSupported = 0;
    // SQLGetInfo answers the completion asks, by info type.
    std::map<uint16_t, std::u16string> textInfo;
    // The driver's own answers of the fake: no default isolation level, and
    // every level offered, so that any level an application sets is kept.
    std::map<uint16_t, uint32_t> numberInfo{
        {SQL_DEFAULT_TXN_ISOLATION, 0},
        {SQL_TXN_ISOLATION_OPTION,
         SQL_TXN_READ_UNCOMMITTED | SQL_TXN_READ_COMMITTED | SQL_TXN_REPEATABLE_READ | SQL_TXN_SERIALIZABLE}};
    // Touched only inside connection calls, so that a lock that fails to
    // serialise them shows as a data race.
    long sharedCounter = 0;
    // SQLNativeSql: so many coming calls lose their link, before their
    // request left (the write failed) or after it; every call is counted.
    int nativeSqlLosses = 0;
    bool lossBeforeSending = false;
    int nativeSqlCalls = 0;
};

// What a browse connect asks of the test connection: its server, the
// port with it, and a database it may name.
inline constexpr BaseDriverAttr kTestDriverAttrs[] = {
    {u"HostName", 1, kBaseAttrKindText, nullptr, nullptr, 0, u"HOST", 1, 0},
    {u"PortNumber", 2, kBaseAttrKindText, nullptr, nullptr, 0, u"PORT", 1, 0},
    {u"Database", 3, kBaseAttrKindText, nullptr, nullptr, 0, u"DB", 1, 1},
};

class TestConnection : public BaseConnection {
public:
    TestConnection(BaseEnv* env, TestConnectionControl* control) noexcept : BaseConnection(env), control_(control)
    {
        failoverSupported = control->failoverSupported;
        // Like the driver's connection, it gives its texts in UTF-16 and lets
        // the login time-out and the text modes be set.
        connectionFlags |= kBaseConnUnicodeDriver | kBaseConnLoginTimeoutSettable | kBaseConnCharAttrsSettable;
        driverAttrs = kTestDriverAttrs;
        driverAttrCount = sizeof kTestDriverAttrs / sizeof kTestDriverAttrs[0];
    }

    // The physical open: records what it was asked and answers as
    // scripted.
    int16_t openPhysical() noexcept override
    {
        TestOpenRecord record;
        record.host = host_;
        record.port = port_;
        record.user = secret(userId);
        record.password = secret(password);
        record.tlsProtocols = tlsProtocols;
        record.workarounds = workarounds;
        control_->opens.push_back(record);
        TestOpenOutcome outcome;
        // A driver manager test cannot reach the control: the option FAIL=1
        // asks for the failure.
        if (control_->scriptNext < control_->script.size())
            outcome = control_->script[control_->scriptNext++];
        if (outcome.waitMs != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(outcome.waitMs));
        bool asked = fail_ == u"1";
        if (asked || control_->connectFailures.load() > 0) {
            if (!asked)
                --control_->connectFailures;
            basePostError(kBaseIdxUnableToConnect);
            return 1;
        }
        if (outcome.failIndex != 0) {
            if (outcome.failText != nullptr)
                basePostErrorTextA(outcome.failIndex, 0, outcome.failText, 3);
            else if (outcome.failMessage != 0)
                basePostErrorMsg(outcome.failIndex, outcome.failMessage);
            else
                basePostError(outcome.failIndex);
            return 1;
        }
        control_->lastConnectString = currentString_;
        ++control_->connects;
        return 0;
    }

    int16_t getInfoValue(uint16_t infoType, void* value, int16_t bufferLength, int16_t* stringLength) noexcept override
    {
        auto text = control_->textInfo.find(infoType);
        if (text != control_->textInfo.end()) {
            size_t n = text->second.size();
            if (value != nullptr && static_cast<size_t>(bufferLength) >= (n + 1) * 2) {
                std::memcpy(value, text->second.data(), n * 2);
                static_cast<uint16_t*>(value)[n] = 0;
            }
            if (stringLength != nullptr)
                *stringLength = static_cast<int16_t>(n * 2);
            return SQL_SUCCESS;
        }
        if (infoType == SQL_DBMS_NAME && !control_->opens.empty()) {
            // Through a driver manager the test reads what the open was
            // asked from the DBMS name.
            const TestOpenRecord& open = control_->opens.back();
            std::u16string name = u"host=" + open.host + u";port=" + open.port + u";user=" + open.user;
            size_t n = name.size();
            size_t room = bufferLength > 0 ? static_cast<size_t>(bufferLength) / 2 : 0;
            if (value != nullptr && room > n) {
                std::memcpy(value, name.data(), n * 2);
                static_cast<uint16_t*>(value)[n] = 0;
            }
            if (stringLength != nullptr)
                *stringLength = static_cast<int16_t>(n * 2);
            return SQL_SUCCESS;
        }
        auto number = control_->numberInfo.find(infoType);
        if (number != control_->numberInfo.end()) {
            std::memcpy(value, &number->second, sizeof number->second);
            return SQL_SUCCESS;
        }
        return BaseConnection::getInfoValue(infoType, value, bufferLength, stringLength);
    }

    // The catalogue's texts, as the driver gives them, so that messages
    // carry the driver's name.
    int32_t driverResourceStr(uint32_t id, uint16_t* out, int32_t capacity) noexcept override
    {
        if (out == nullptr || capacity <= 0)
            return 0;
        out[0] = 0;
        if (id > UINT16_MAX)
            return 0;
        return static_cast<int32_t>(errLoadMessageW(out, static_cast<size_t>(capacity), static_cast<uint16_t>(id)));
    }

    const uint16_t* hostKeyword() noexcept override
    {
        return control_->serverKeywords != 0 ? W(u"HostName\0PortNumber\0*Database\0") : nullptr;
    }
    const uint16_t* hostKeywordShort() noexcept override
    {
        return control_->serverKeywords != 0 ? W(u"HOST\0PORT\0DB\0") : nullptr;
    }
    const uint16_t* hostKeywordAlt() noexcept override
    {
        return control_->serverKeywords != 0 ? W(u"\0\0\0") : nullptr;
    }

    // The string of the connect under way, for the record.
    int16_t driverConnect(void* window, const uint16_t* in, int16_t inLength, uint16_t* out, int16_t outCapacity,
                          int16_t* outLength, uint16_t completion) noexcept override
    {
        const auto* text = reinterpret_cast<const char16_t*>(in);
        currentString_.assign(text != nullptr ? text : u"", text == nullptr ? 0
                                                            : inLength == SQL_NTS
                                                                ? std::char_traits<char16_t>::length(text)
                                                                : static_cast<size_t>(inLength));
        return BaseConnection::driverConnect(window, in, inLength, out, outCapacity, outLength, completion);
    }

    // A call during which the link drops: the transport posts the link
    // failure under its own message number.
    int16_t callLosingLink() noexcept
    {
        return runApi(SQL_API_SQLNATIVESQL, [this]() noexcept {
            basePostErrorMsg(kBaseIdxLinkFailure, MSG_CONNECTION_NOT_OPEN);
            connectionFlags &= ~kBaseConnConnected;
            return SQL_ERROR;
        });
    }

    // Counted, and losing its link while the control asks it to.
    int16_t nativeSql(const uint16_t* in, int32_t inLength, uint16_t* out, int32_t outCapacity,
                      int32_t* outLength) noexcept override
    {
        ++control_->nativeSqlCalls;
        if (control_->nativeSqlLosses <= 0)
            return BaseConnection::nativeSql(in, inLength, out, outCapacity, outLength);
        --control_->nativeSqlLosses;
        return runApi(SQL_API_SQLNATIVESQL, [this]() noexcept {
            KaDiagMark mark;
            basePostErrorMsg(kBaseIdxLinkFailure, MSG_CONNECTION_NOT_OPEN);
            if (control_->lossBeforeSending)
                baseMarkRequestUnsent(mark.list(), mark.start(), kBaseIdxLinkFailure);
            connectionFlags &= ~kBaseConnConnected;
            return SQL_ERROR;
        });
    }

    // A call that fails with a record whose native code is the link
    // failure's index but whose SQLSTATE is another.
    int16_t callFailingWithNative27() noexcept
    {
        return runApi(SQL_API_SQLNATIVESQL, []() noexcept {
            basePostErrorTextW(kBaseIdxGeneralError, kBaseIdxLinkFailure,
                               reinterpret_cast<const uint16_t*>(u"server said 27"));
            return SQL_ERROR;
        });
    }

    // A call that touches shared state while it runs.
    int16_t work() noexcept
    {
        return runApi(SQL_API_SQLGETINFO, [this]() noexcept {
            long seen = control_->sharedCounter;
            control_->sharedCounter = seen + 1;
            return SQL_SUCCESS;
        });
    }

private:
    static const uint16_t* W(const char16_t* text) noexcept { return reinterpret_cast<const uint16_t*>(text); }
    // An option as the connection's lookup gives it (no connection string:
    // the open sees what the options read into the connection).
    std::u16string option(KaValueParserW* parser, const char16_t* shortKey, const char16_t* longKey) noexcept
    {
        uint16_t* value = nullptr;
        std::u16string result;
        if (getOptionValue(parser, W(shortKey), W(longKey), nullptr, &value, nullptr, 0) == 0 && value != nullptr)
            result = reinterpret_cast<const char16_t*>(value);
        ramFree(value);
        return result;
    }
    std::u16string secret(KaMemoryBuffer& holder) noexcept
    {
        if (holder.length == 0)
            return {};
        KaMemoryBuffer plain;
        plain.state = KA_MEMBUF_PLAIN;
        BaseScopedKey key(connectionKey);
        if (plain.decryptFrom(holder, key.get()) != 0)
            return u"<undecryptable>";
        return std::u16string(reinterpret_cast<const char16_t*>(plain.data), plain.length);
    }

public:
    // The server options of an attempt, as a driver reads its own.
    int16_t readDriverOptions(KaValueParserW* parser, void* window) noexcept override
    {
        host_ = option(parser, u"HOST", u"HostName");
        port_ = option(parser, u"PORT", u"PortNumber");
        fail_ = option(parser, nullptr, u"FAIL");
        return 0;
    }

private:
    TestConnectionControl* control_;
    std::u16string host_;
    std::u16string port_;
    std::u16string fail_;
    std::u16string currentString_;
};

// An environment whose connections are fake connections of class Conn,
// made under the test's control; TestEnv makes the plain TestConnection.
template <class Conn>
class TestEnvOf : public BaseEnv {
public:
    explicit TestEnvOf(TestConnectionControl* control, int32_t lockIndex = 15) noexcept
        : BaseEnv(lockIndex), control_(control)
    {}

    int16_t newConnection(int32_t skipAcceptCheck, BaseConnection** out) noexcept override
    {
        *out = nullptr;
        auto* conn = new Conn(this, control_);
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

using TestEnv = TestEnvOf<TestConnection>;

// A made statement of class S that its framework set-up accepted, in out;
// otherwise nothing and 1.
template <class S, class... Args>
int16_t makeStatement(BaseStatement** out, Args... args) noexcept
{
    *out = nullptr;
    auto* stmt = new S(args...);
    if (stmt == nullptr)
        return 1;
    if (stmt->initStatement() != 0) {
        delete stmt;
        return 1;
    }
    *out = stmt;
    return 0;
}

}  // namespace katest
