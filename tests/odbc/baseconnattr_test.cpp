// SQLSetConnectAttrW and SQLGetConnectAttrW on a connected fake through the
// exports: every attribute with its limits, the values the driver changes
// (01S02), the attributes refused in a state, read-only or unknown, the
// pool statistics bounded by the length the application states, and
// statement attributes set on the connection.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <string>

#include "foundation/codepage.h"
#include "kamessages.h"
#include "odbc/baseinfo.h"
#include "support/exportfixture.h"
#include "support/guarded.h"
#include "support/testconnection.h"

using katest::diagOf;
using katest::Guarded;

namespace {

katest::TestConnectionControl gControl;

BaseEnv* makeTestEnv() noexcept
{
    return new katest::TestEnv(&gControl);
}

// Attribute numbers of the driver's own.
constexpr SQLINTEGER kModifySql = 1043;
constexpr SQLINTEGER kWideCharMode = 1061;
constexpr SQLINTEGER kDriverTextMode = 1062;
constexpr SQLINTEGER kPoolStatistics = 1070;
constexpr SQLINTEGER kPrivateInfo = 1139;

// A fake whose server commits.
class CommitConnection : public katest::TestConnection {
public:
    using TestConnection::TestConnection;
    int16_t autocommitChange(int16_t completionType) noexcept override
    {
        ++commits;
        return completionType == SQL_COMMIT ? 0 : 1;
    }
    // A transaction manager that enlists, and refuses once when asked.
    int16_t xaEnlist(void* transaction) noexcept override
    {
        if (refuseEnlist) {
            basePostError(kBaseIdxGeneralError);
            return 1;
        }
        ++enlists;
        return 0;
    }
    int16_t xaDelist(void* transaction) noexcept override
    {
        ++delists;
        return 0;
    }
    int commits = 0;
    int enlists = 0;
    int delists = 0;
    bool refuseEnlist = false;
};

class AttrTest : public katest::ExportHandles {
protected:
    void TearDown() override
    {
        gControl.numberInfo.erase(SQL_TXN_CAPABLE);
        gControl.numberInfo.erase(SQL_SCROLL_OPTIONS);
        gControl.numberInfo.erase(SQL_SCROLL_CONCURRENCY);
        if (conn_ != nullptr)
            conn_->connectionFlags &= ~kBaseConnTransactionActive;
        ExportHandles::TearDown();
    }

    void connect()
    {
        std::u16string in = u"DSN=test;UID=u;PWD=p";
        SQLSMALLINT outLength = 0;
        ASSERT_TRUE(SQL_SUCCEEDED(
            SQLDriverConnectW(dbc, nullptr, katest::W(in), SQL_NTS, nullptr, 0, &outLength, SQL_DRIVER_NOPROMPT)));
        conn_ = handleObject()->current;
    }

    // A committing fake, attached open.
    CommitConnection* attachCommitting()
    {
        auto* conn = new CommitConnection(static_cast<BaseEnv*>(env), &gControl);
        handleObject()->setCurrentConnection(conn);
        conn->connectionFlags |= kBaseConnConnected;
        conn_ = conn;
        return conn;
    }

    SQLRETURN set(SQLINTEGER attribute, intptr_t value)
    {
        return SQLSetConnectAttrW(dbc, attribute, reinterpret_cast<SQLPOINTER>(value), 0);
    }

    // The 32-bit answer into a buffer of exactly four bytes.
    SQLRETURN get(SQLINTEGER attribute, uint32_t* out)
    {
        Guarded<uint8_t> buffer(4);
        SQLINTEGER length = -1;
        SQLRETURN rc = SQLGetConnectAttrW(dbc, attribute, buffer.data(), 4, &length);
        EXPECT_TRUE(buffer.guardsIntact()) << attribute;
        if (SQL_SUCCEEDED(rc)) {
            EXPECT_EQ(length, 4) << attribute;
            std::memcpy(out, buffer.data(), 4);
        }
        return rc;
    }

    std::string state() { return diagOf(SQL_HANDLE_DBC, dbc).state; }

    katest::EnvFactoryScope factory{makeTestEnv};
    BaseConnection* conn_ = nullptr;
};

}  // namespace

TEST_F(AttrTest, EveryIntegerAttributeReadsBackWhatWasSetWithinItsLimits)
{
    connect();
    struct Case {
        SQLINTEGER attribute;
        intptr_t set;
        SQLRETURN setRc;
        const char* setState;
        uint32_t read;  // what is read back after the set
    };
    const Case cases[] = {
        {SQL_ATTR_ACCESS_MODE, SQL_MODE_READ_ONLY, SQL_SUCCESS, "", SQL_MODE_READ_ONLY},
        {SQL_ATTR_ACCESS_MODE, 7, SQL_ERROR, "HY024", SQL_MODE_READ_ONLY},
        {SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF, SQL_SUCCESS, "", SQL_AUTOCOMMIT_OFF},
        {SQL_ATTR_AUTOCOMMIT, 2, SQL_ERROR, "HY024", SQL_AUTOCOMMIT_OFF},
        {SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_ON, SQL_SUCCESS, "", SQL_AUTOCOMMIT_ON},
        {SQL_ATTR_TXN_ISOLATION, SQL_TXN_SERIALIZABLE, SQL_SUCCESS, "", SQL_TXN_SERIALIZABLE},
        // A mix of levels names no level.
        {SQL_ATTR_TXN_ISOLATION, SQL_TXN_READ_COMMITTED | SQL_TXN_SERIALIZABLE, SQL_ERROR, "HYC00",
         SQL_TXN_SERIALIZABLE},
        {SQL_ATTR_TRANSLATE_OPTION, 42, SQL_SUCCESS, "", 42},
        {kModifySql, 5, SQL_SUCCESS, "", 1},
        {kModifySql, 0, SQL_SUCCESS, "", 0},
        {kDriverTextMode, 3, SQL_SUCCESS, "", 3},
        {kDriverTextMode, 9, SQL_SUCCESS, "", 1},
        {kPrivateInfo, 0, SQL_SUCCESS, "", 0},
        {kPrivateInfo, 7, SQL_SUCCESS, "", 1},
        {kWideCharMode, 2, SQL_SUCCESS, "", 2},
        {kWideCharMode, 1, SQL_SUCCESS, "", 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(set(c.attribute, c.set), c.setRc) << c.attribute << " " << c.set;
        if (c.setRc != SQL_SUCCESS) {
            EXPECT_EQ(state(), c.setState) << c.attribute << " " << c.set;
        }
        uint32_t value = 0xdead;
        EXPECT_EQ(get(c.attribute, &value), SQL_SUCCESS) << c.attribute;
        EXPECT_EQ(value, c.read) << c.attribute << " " << c.set;
    }
}

TEST_F(AttrTest, AConnectionTimeOutReadsBackWholeWhereTheDriverTakesOne)
{
    connect();
    conn_->connectionFlags |= kBaseConnConnectionTimeoutSettable;
    // The attribute is 32 bits wide: no value of it may come back cut.
    for (uint32_t seconds : {0u, 30u, 65535u, 65536u, 70000u, 4000000000u}) {
        EXPECT_EQ(set(SQL_ATTR_CONNECTION_TIMEOUT, static_cast<intptr_t>(seconds)), SQL_SUCCESS) << seconds;
        uint32_t value = 0xdead;
        EXPECT_EQ(get(SQL_ATTR_CONNECTION_TIMEOUT, &value), SQL_SUCCESS);
        EXPECT_EQ(value, seconds);
    }
}

TEST_F(AttrTest, WideCharacterModesChooseHowWideDataTravels)
{
    connect();
    ASSERT_EQ(set(kWideCharMode, 2), SQL_SUCCESS);
    EXPECT_EQ(conn_->wideCharCodePage, kCodePageUtf8);
    ASSERT_EQ(set(kWideCharMode, 1), SQL_SUCCESS);
    EXPECT_EQ(conn_->wideCharCodePage, kCodePageUtf16LE);
    ASSERT_EQ(set(kWideCharMode, 0), SQL_SUCCESS);
    EXPECT_EQ(conn_->wideCharCodePage, conn_->appCodePage);
    uint32_t value = 9;
    EXPECT_EQ(get(kWideCharMode, &value), SQL_SUCCESS);
    EXPECT_EQ(value, 0u);
}

TEST_F(AttrTest, AttributesRefusedInThisStateOrEverSayWhy)
{
    connect();
    struct Case {
        SQLINTEGER attribute;
        const char* setState;  // null: the set succeeds
        const char* getState;  // null: the read succeeds
    };
    const Case cases[] = {
        // Only before the open.
        {SQL_ATTR_LOGIN_TIMEOUT, "HY011", nullptr},
        {SQL_ATTR_PACKET_SIZE, "HY011", nullptr},
        // Read-only.
        {kPoolStatistics, "HY011", nullptr},
        {SQL_ATTR_CONNECTION_DEAD, "HYC00", nullptr},
        // Statement attributes that have no meaning on a connection.
        {SQL_BIND_TYPE, "HY092", "HYC00"},
        {SQL_ATTR_ROW_ARRAY_SIZE, "HY092", "HYC00"},
        {SQL_ATTR_APP_ROW_DESC, "HY092", "HYC00"},
        {SQL_ATTR_PARAM_BIND_OFFSET_PTR, "HY092", "HYC00"},
        // Statement attributes the connection does not keep for its
        // statements.
        {SQL_ATTR_ENABLE_AUTO_IPD, "HYC00", "HYC00"},
        {SQL_ATTR_ROW_NUMBER, "HYC00", "HYC00"},
        // Not offered by this connection.
        {SQL_ATTR_CONNECTION_TIMEOUT, "HYC00", "HYC00"},
        {SQL_ATTR_CURRENT_CATALOG, "HYC00", "HYC00"},
        {SQL_ATTR_ENLIST_IN_DTC, "HYC00", "HYC00"},
        {SQL_ATTR_ENLIST_IN_XA, "HYC00", "HYC00"},
        {SQL_ATTR_ANSI_APP, "HYC00", "HYC00"},
        {SQL_QUERY_TIMEOUT, "HYC00", "HYC00"},
        {4242, "HYC00", "HYC00"},
    };
    for (const Case& c : cases) {
        std::u16string text = u"x";
        bool isText = c.attribute == SQL_ATTR_CURRENT_CATALOG;
        SQLRETURN rc = isText ? SQLSetConnectAttrW(dbc, c.attribute, katest::W(text), SQL_NTS) : set(c.attribute, 1);
        EXPECT_EQ(rc, c.setState == nullptr ? SQL_SUCCESS : SQL_ERROR) << c.attribute;
        if (c.setState != nullptr) {
            EXPECT_EQ(state(), c.setState) << c.attribute;
        }
        SQLWCHAR buffer[64] = {};
        SQLINTEGER length = 0;
        rc = SQLGetConnectAttrW(dbc, c.attribute, buffer, sizeof buffer, &length);
        EXPECT_EQ(rc, c.getState == nullptr ? SQL_SUCCESS : SQL_ERROR) << c.attribute;
        if (c.getState != nullptr) {
            EXPECT_EQ(state(), c.getState) << c.attribute;
        }
    }
    // The ANSI flag is recorded although the call fails.
    EXPECT_EQ(handleObject()->ansiApp, 1u);
}

TEST_F(AttrTest, PoolStatisticsNeverWritePastTheStatedLength)
{
    connect();
    // Outside a pool: a version, then five zeros.
    for (SQLINTEGER stated : {SQLINTEGER{SQL_LEN_BINARY_ATTR(48)}, SQLINTEGER{48}, SQLINTEGER{0}}) {
        Guarded<int64_t> buffer(6, int64_t{-1});
        SQLINTEGER length = 0;
        EXPECT_EQ(SQLGetConnectAttrW(dbc, kPoolStatistics, buffer.data(), stated, &length), SQL_SUCCESS) << stated;
        EXPECT_EQ(length, 48);
        EXPECT_EQ(buffer.data()[0], 1);
        for (int i = 1; i < 6; ++i)
            EXPECT_EQ(buffer.data()[i], 0) << i;
        EXPECT_TRUE(buffer.guardsIntact());
    }
    for (SQLINTEGER stated :
         {SQLINTEGER{47}, SQLINTEGER{8}, SQLINTEGER{SQL_LEN_BINARY_ATTR(40)}, SQLINTEGER{SQL_NTS}}) {
        Guarded<uint8_t> small(8, 0xAB);
        EXPECT_EQ(SQLGetConnectAttrW(dbc, kPoolStatistics, small.data(), stated, nullptr), SQL_ERROR) << stated;
        EXPECT_EQ(state(), "HY090") << stated;
        EXPECT_TRUE(small.guardsIntact());
        EXPECT_EQ(small.data()[0], 0xAB);
    }
}

TEST_F(AttrTest, ANullValuePointerOnlyMeasures)
{
    connect();
    // Whatever small length comes with it, the widest answers have room.
    SQLINTEGER length = 0;
    EXPECT_EQ(SQLGetConnectAttrW(dbc, SQL_ATTR_QUIET_MODE, nullptr, 1, &length), SQL_SUCCESS);
    EXPECT_EQ(length, 8);
    EXPECT_EQ(SQLGetConnectAttrW(dbc, kPoolStatistics, nullptr, 2, &length), SQL_SUCCESS);
    EXPECT_EQ(length, 48);
    EXPECT_EQ(SQLGetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT, nullptr, 0, &length), SQL_SUCCESS);
    EXPECT_EQ(length, 4);
}

TEST_F(AttrTest, TheTranslationLibraryReadsEmptyWithoutATranslator)
{
    connect();
    SQLWCHAR name[8] = {1, 1};
    SQLINTEGER length = -1;
    EXPECT_EQ(SQLGetConnectAttrW(dbc, SQL_ATTR_TRANSLATE_LIB, name, sizeof name, &length), SQL_SUCCESS);
    EXPECT_EQ(name[0], 0);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(SQLGetConnectAttrW(dbc, SQL_ATTR_TRANSLATE_LIB, name, 0, &length), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(state(), "01004");
    // A length that is no byte count of a text is refused.
    std::u16string lib = u"libx.so";
    EXPECT_EQ(SQLSetConnectAttrW(dbc, SQL_ATTR_TRANSLATE_LIB, katest::W(lib), -20), SQL_ERROR);
    EXPECT_EQ(state(), "HY090");
}

TEST_F(AttrTest, BeforeTheOpenAttributesWaitAndNothingIsRead)
{
    uint32_t value = 0;
    EXPECT_EQ(SQLGetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT, &value, 4, nullptr), SQL_NO_DATA);
    EXPECT_EQ(set(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
    EXPECT_EQ(set(SQL_ATTR_LOGIN_TIMEOUT, 21), SQL_SUCCESS);
    connect();
    EXPECT_EQ(get(SQL_ATTR_AUTOCOMMIT, &value), SQL_SUCCESS);
    EXPECT_EQ(value, uint32_t{SQL_AUTOCOMMIT_OFF});
    EXPECT_EQ(get(SQL_ATTR_LOGIN_TIMEOUT, &value), SQL_SUCCESS);
    EXPECT_EQ(value, 21u);
}

TEST_F(AttrTest, AutocommitNeedsTransactionsAndCommitsAnOpenOne)
{
    CommitConnection* conn = attachCommitting();
    // Back on with nothing changed: nothing is asked.
    EXPECT_EQ(set(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), SQL_SUCCESS);
    ASSERT_EQ(set(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
    conn->connectionFlags |= kBaseConnTransactionActive;
    // No other level while the transaction runs.
    EXPECT_EQ(set(SQL_ATTR_TXN_ISOLATION, SQL_TXN_READ_COMMITTED), SQL_ERROR);
    EXPECT_EQ(state(), "HY011");
    // Switching autocommit on commits the transaction first and says so.
    EXPECT_EQ(set(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), SQL_SUCCESS_WITH_INFO);
    katest::Diag d = diagOf(SQL_HANDLE_DBC, dbc);
    EXPECT_EQ(d.state, "01000");
    EXPECT_NE(d.text.find("committed the open transaction"), std::string::npos) << d.text;
    EXPECT_EQ(conn->commits, 1);
    EXPECT_EQ(conn->connectionFlags & kBaseConnTransactionActive, 0u);
    EXPECT_EQ(conn->autocommit, SQL_AUTOCOMMIT_ON);

    // A driver without transactions keeps autocommit on.
    gControl.numberInfo[SQL_TXN_CAPABLE] = SQL_TC_NONE;
    EXPECT_EQ(set(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_ERROR);
    EXPECT_EQ(state(), "HYC00");
    EXPECT_EQ(conn->autocommit, SQL_AUTOCOMMIT_ON);
}

TEST_F(AttrTest, StatementAttributesOnTheConnectionAreChangedToWhatTheDriverOffers)
{
    connect();
    int64_t kept = 0;
    // Above the limit: the limit, with 01S02.
    conn_->maxRowsLimit = 100;
    EXPECT_EQ(set(SQL_MAX_ROWS, 500), SQL_SUCCESS_WITH_INFO);
    katest::Diag d = diagOf(SQL_HANDLE_DBC, dbc);
    EXPECT_EQ(d.state, "01S02");
    EXPECT_NE(d.text.find("changed to 100"), std::string::npos) << d.text;
    ASSERT_TRUE(conn_->defaultStmtAttr(SQL_MAX_ROWS, &kept));
    EXPECT_EQ(kept, 100);
    EXPECT_EQ(set(SQL_MAX_ROWS, 50), SQL_SUCCESS);
    ASSERT_TRUE(conn_->defaultStmtAttr(SQL_MAX_ROWS, &kept));
    EXPECT_EQ(kept, 50);

    struct Case {
        SQLINTEGER attribute;
        intptr_t asked;
        uint32_t offered;  // SQLGetInfo's answer for the attribute's capability
        SQLUSMALLINT offer;
        int64_t kept;
    };
    const Case cases[] = {
        // Read-only and values offered: a lock becomes values.
        {SQL_CONCURRENCY, SQL_CONCUR_LOCK, SQL_SCCO_READ_ONLY | SQL_SCCO_OPT_VALUES, SQL_SCROLL_CONCURRENCY,
         SQL_CONCUR_VALUES},
        {SQL_CONCURRENCY, SQL_CONCUR_ROWVER, SQL_SCCO_READ_ONLY, SQL_SCROLL_CONCURRENCY, SQL_CONCUR_READ_ONLY},
        {SQL_CONCURRENCY, SQL_CONCUR_VALUES, SQL_SCCO_READ_ONLY | SQL_SCCO_OPT_ROWVER, SQL_SCROLL_CONCURRENCY,
         SQL_CONCUR_ROWVER},
        // Forward-only and keyset cursors: a dynamic one becomes keyset,
        // a static one forward-only (STATICTOKEYSET is off).
        {SQL_CURSOR_TYPE, SQL_CURSOR_DYNAMIC, SQL_SO_FORWARD_ONLY | SQL_SO_KEYSET_DRIVEN, SQL_SCROLL_OPTIONS,
         SQL_CURSOR_KEYSET_DRIVEN},
        {SQL_CURSOR_TYPE, SQL_CURSOR_STATIC, SQL_SO_FORWARD_ONLY | SQL_SO_KEYSET_DRIVEN, SQL_SCROLL_OPTIONS,
         SQL_CURSOR_FORWARD_ONLY},
        {SQL_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN, SQL_SO_FORWARD_ONLY | SQL_SO_STATIC, SQL_SCROLL_OPTIONS,
         SQL_CURSOR_STATIC},
        // Bookmarks without a cursor that keeps them are off.
        {SQL_USE_BOOKMARKS, SQL_UB_VARIABLE, 0, 0, SQL_UB_OFF},
    };
    // The static cursor the cases leave chosen keeps no bookmarks here.
    conn_->staticCursorOps &= ~static_cast<uint64_t>(0x400040);
    for (const Case& c : cases) {
        if (c.offer != 0)
            gControl.numberInfo[c.offer] = c.offered;
        EXPECT_EQ(set(c.attribute, c.asked), SQL_SUCCESS_WITH_INFO) << c.attribute << " " << c.asked;
        EXPECT_EQ(state(), "01S02");
        ASSERT_TRUE(conn_->defaultStmtAttr(c.attribute, &kept));
        EXPECT_EQ(kept, c.kept) << c.attribute << " " << c.asked;
    }
    // STATICTOKEYSET turns a static cursor into a keyset one where offered.
    conn_->staticToKeyset = 1;
    gControl.numberInfo[SQL_SCROLL_OPTIONS] = SQL_SO_FORWARD_ONLY | SQL_SO_KEYSET_DRIVEN;
    EXPECT_EQ(set(SQL_CURSOR_TYPE, SQL_CURSOR_STATIC), SQL_SUCCESS_WITH_INFO);
    ASSERT_TRUE(conn_->defaultStmtAttr(SQL_CURSOR_TYPE, &kept));
    EXPECT_EQ(kept, SQL_CURSOR_KEYSET_DRIVEN);
    // An offered value is kept as it is.
    EXPECT_EQ(set(SQL_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY), SQL_SUCCESS);
}

TEST_F(AttrTest, ASettingIsRecordedOnceForTheNextConnection)
{
    connect();
    for (intptr_t v : {SQL_AUTOCOMMIT_OFF, SQL_AUTOCOMMIT_ON, SQL_AUTOCOMMIT_OFF})
        ASSERT_EQ(set(SQL_ATTR_AUTOCOMMIT, v), SQL_SUCCESS);
    size_t events = 0;
    KaDNode* node = conn_->events.first();
    for (size_t i = 0; i < conn_->events.count; ++i, node = node->next) {
        auto* e = static_cast<BaseBufferedEvent*>(node);
        if (e->kind == kBaseEventConnectAttr && e->code == SQL_ATTR_AUTOCOMMIT) {
            ++events;
            EXPECT_EQ(e->value, SQL_AUTOCOMMIT_OFF);
        }
    }
    EXPECT_EQ(events, 1u);
    // A refused value is not recorded.
    EXPECT_EQ(set(SQL_ATTR_ACCESS_MODE, 9), SQL_ERROR);
    node = conn_->events.first();
    for (size_t i = 0; i < conn_->events.count; ++i, node = node->next)
        EXPECT_NE(static_cast<BaseBufferedEvent*>(node)->code, SQL_ATTR_ACCESS_MODE);
}

TEST_F(AttrTest, TranslationSettingsWaitForAnOpenConnection)
{
    // A connect that failed leaves a connection that is not open.
    gControl.connectFailures = 1;
    std::u16string in = u"DSN=test;UID=u;PWD=p";
    SQLSMALLINT outLength = 0;
    ASSERT_EQ(SQLDriverConnectW(dbc, nullptr, katest::W(in), SQL_NTS, nullptr, 0, &outLength, SQL_DRIVER_NOPROMPT),
              SQL_ERROR);
    ASSERT_NE(handleObject()->current, nullptr);
    EXPECT_EQ(set(SQL_ATTR_TRANSLATE_OPTION, 3), SQL_ERROR);
    EXPECT_EQ(state(), "HY011");
    std::u16string lib = u"libx.so";
    EXPECT_EQ(SQLSetConnectAttrW(dbc, SQL_ATTR_TRANSLATE_LIB, katest::W(lib), SQL_NTS), SQL_ERROR);
    EXPECT_EQ(state(), "HY011");
    // What may wait is kept for the next connect.
    EXPECT_EQ(set(SQL_ATTR_ACCESS_MODE, SQL_MODE_READ_ONLY), SQL_SUCCESS);
    connect();
    uint32_t value = 0;
    EXPECT_EQ(get(SQL_ATTR_ACCESS_MODE, &value), SQL_SUCCESS);
    EXPECT_EQ(value, uint32_t{SQL_MODE_READ_ONLY});
}

TEST_F(AttrTest, WithoutCatalogsTheCurrentCatalogReadsEmpty)
{
    connect();
    SQLWCHAR name[16] = {1, 1};
    SQLINTEGER length = -1;
    EXPECT_EQ(SQLGetConnectAttrW(dbc, SQL_ATTR_CURRENT_CATALOG, name, sizeof name, &length), SQL_ERROR);
    EXPECT_EQ(state(), "HYC00");
    // WORKAROUNDS bit 23, and a driver without catalogs.
    conn_->workarounds |= 0x800000;
    EXPECT_EQ(SQLGetConnectAttrW(dbc, SQL_ATTR_CURRENT_CATALOG, name, sizeof name, &length), SQL_SUCCESS);
    EXPECT_EQ(name[0], 0);
    EXPECT_EQ(length, 0);
}

TEST_F(AttrTest, EnlistingFollowsTheDriversTransactionManager)
{
    CommitConnection* conn = attachCommitting();
    uint32_t value = 9;
    // Without XA the attribute is not offered.
    EXPECT_EQ(set(SQL_ATTR_ENLIST_IN_XA, 1), SQL_ERROR);
    EXPECT_EQ(state(), "HYC00");
    conn->xaSupported = 1;
    EXPECT_EQ(set(SQL_ATTR_ENLIST_IN_XA, 1), SQL_SUCCESS);
    EXPECT_EQ(get(SQL_ATTR_ENLIST_IN_XA, &value), SQL_SUCCESS);
    EXPECT_EQ(value, 1u);
    // Enlisting again leaves the old enlistment first.
    EXPECT_EQ(set(SQL_ATTR_ENLIST_IN_XA, 1), SQL_SUCCESS);
    EXPECT_EQ(conn->enlists, 2);
    EXPECT_EQ(conn->delists, 1);
    EXPECT_EQ(set(SQL_ATTR_ENLIST_IN_XA, 0), SQL_SUCCESS);
    EXPECT_EQ(get(SQL_ATTR_ENLIST_IN_XA, &value), SQL_SUCCESS);
    EXPECT_EQ(value, 0u);
    conn->refuseEnlist = true;
    EXPECT_EQ(set(SQL_ATTR_ENLIST_IN_XA, 1), SQL_ERROR);
    EXPECT_EQ(state(), "HY000");
    EXPECT_EQ(conn->xaState, 0u);
}

TEST_F(AttrTest, PoolControlWithoutPoolsDoesNothing)
{
    connect();
    for (intptr_t v : {0, 1, 7600, 5})
        EXPECT_EQ(set(kBaseAttrPoolControl, v), SQL_SUCCESS) << v;
}
