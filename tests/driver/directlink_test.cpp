// The driver library loaded straight by the application, with no driver
// manager in between to check handles: a handle freed twice and pointers
// that never were handles are refused as invalid handles, not followed.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/drivermanager.h"

namespace {

using AllocHandle = SQLRETURN (*)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*);
using FreeHandle = SQLRETURN (*)(SQLSMALLINT, SQLHANDLE);
using SetEnvAttr = SQLRETURN (*)(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER);
using GetDiagRecW = SQLRETURN (*)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLWCHAR*, SQLINTEGER*, SQLWCHAR*, SQLSMALLINT,
                                  SQLSMALLINT*);
using Disconnect = SQLRETURN (*)(SQLHDBC);

class DirectLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(katest::driverLibrary().empty()) << "KA_DRIVER_LIB names the driver library";
        lib = dlopen(katest::driverLibrary().c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib, nullptr) << dlerror();
        alloc = reinterpret_cast<AllocHandle>(dlsym(lib, "SQLAllocHandle"));
        release = reinterpret_cast<FreeHandle>(dlsym(lib, "SQLFreeHandle"));
        setEnvAttr = reinterpret_cast<SetEnvAttr>(dlsym(lib, "SQLSetEnvAttr"));
        diagRec = reinterpret_cast<GetDiagRecW>(dlsym(lib, "SQLGetDiagRecW"));
        disconnect = reinterpret_cast<Disconnect>(dlsym(lib, "SQLDisconnect"));
        ASSERT_TRUE(alloc != nullptr && release != nullptr && setEnvAttr != nullptr && diagRec != nullptr &&
                    disconnect != nullptr);
    }

    void TearDown() override
    {
        if (lib != nullptr)
            dlclose(lib);
    }

    SQLRETURN diagOf(SQLSMALLINT type, SQLHANDLE handle) const
    {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        return diagRec(type, handle, 1, state, &native, nullptr, 0, &length);
    }

    void* lib = nullptr;
    AllocHandle alloc = nullptr;
    FreeHandle release = nullptr;
    SetEnvAttr setEnvAttr = nullptr;
    GetDiagRecW diagRec = nullptr;
    Disconnect disconnect = nullptr;
};

}  // namespace

TEST_F(DirectLink, AHandleFreedTwiceIsAnInvalidHandle)
{
    SQLHANDLE env = nullptr;
    SQLHANDLE dbc = nullptr;
    SQLHANDLE other = nullptr;
    ASSERT_EQ(alloc(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
    ASSERT_EQ(setEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(intptr_t{SQL_OV_ODBC3}), 0),
              SQL_SUCCESS);
    ASSERT_EQ(alloc(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
    ASSERT_EQ(alloc(SQL_HANDLE_DBC, env, &other), SQL_SUCCESS);

    EXPECT_EQ(release(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
    EXPECT_EQ(release(SQL_HANDLE_DBC, dbc), SQL_INVALID_HANDLE);
    EXPECT_EQ(disconnect(dbc), SQL_INVALID_HANDLE);
    EXPECT_EQ(diagOf(SQL_HANDLE_DBC, dbc), SQL_INVALID_HANDLE);
    // The other connection handle of the environment still works.
    EXPECT_EQ(disconnect(other), SQL_SUCCESS);
    EXPECT_EQ(release(SQL_HANDLE_DBC, other), SQL_SUCCESS);

    EXPECT_EQ(release(SQL_HANDLE_ENV, env), SQL_SUCCESS);
    EXPECT_EQ(release(SQL_HANDLE_ENV, env), SQL_INVALID_HANDLE);
    EXPECT_EQ(setEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(intptr_t{SQL_OV_ODBC3}), 0),
              SQL_INVALID_HANDLE);
    // A connection handle asked for on the freed environment is not made.
    SQLHANDLE late = reinterpret_cast<SQLHANDLE>(uintptr_t{1});
    EXPECT_EQ(alloc(SQL_HANDLE_DBC, env, &late), SQL_INVALID_HANDLE);
    EXPECT_EQ(late, nullptr);
}

TEST_F(DirectLink, PointersThatNeverWereHandlesAreInvalidHandles)
{
    SQLHANDLE env = nullptr;
    ASSERT_EQ(alloc(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
    std::vector<unsigned char> noise(4096);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<unsigned char>(i * 197 + 5);
    uint64_t word = 0x1122334455667788ULL;
    const SQLHANDLE foreign[] = {noise.data(), noise.data() + 64, &word, static_cast<char*>(env) + 8,
                                 reinterpret_cast<SQLHANDLE>(uintptr_t{0x10})};
    for (SQLHANDLE p : foreign) {
        for (SQLSMALLINT type : {SQL_HANDLE_ENV, SQL_HANDLE_DBC, SQL_HANDLE_STMT, SQL_HANDLE_DESC}) {
            EXPECT_EQ(release(type, p), SQL_INVALID_HANDLE) << p << " type " << type;
            EXPECT_EQ(diagOf(type, p), SQL_INVALID_HANDLE) << p << " type " << type;
        }
        SQLHANDLE out = nullptr;
        EXPECT_EQ(alloc(SQL_HANDLE_DBC, p, &out), SQL_INVALID_HANDLE) << p;
        EXPECT_EQ(alloc(SQL_HANDLE_STMT, p, &out), SQL_INVALID_HANDLE) << p;
        EXPECT_EQ(disconnect(p), SQL_INVALID_HANDLE) << p;
    }
    EXPECT_EQ(release(SQL_HANDLE_ENV, env), SQL_SUCCESS);
}
