# The driver library as applications meet it: its exported names, and the
# unixODBC driver manager loading it from C++, from isql and from pyodbc.
# Only these tests link libodbc.
set(KA_DRIVER_TESTS ${CMAKE_CURRENT_LIST_DIR})
set(KA_DRIVER_SO ${CMAKE_BINARY_DIR}/lib/VYspark28.so)
# A test build of the driver library whose connections connect without a
# server (tests/support's fake), so that the driver manager reaches a
# connected state. It sits in a tree of its own under the driver's file
# name, beside a link to the build's catalogue.
set(KA_CONN_DRIVER_DIR ${CMAKE_BINARY_DIR}/tests/conndriver)
set(KA_CONN_DRIVER_SO ${KA_CONN_DRIVER_DIR}/lib/VYspark28.so)

find_library(KA_ODBC_LIBRARY odbc REQUIRED)

# ka_add_driver_gtest(<name> <timeout> [CONN_DRIVER] [NO_ODBC] [LIBS <libs...>]
#                     [ENV <VAR=value...>])
# A GoogleTest suite that reaches the driver through unixODBC: its own
# executable driver_<name> from tests/driver/<name>.cpp, linked with libodbc
# (not with NO_ODBC, for a suite that loads the driver itself), its tests
# discovered as driver.* with the driver's path and the trees in their
# environment. CONN_DRIVER points it at the test build that connects without
# a server. A timeout of 0 leaves ctest's own.
function(ka_add_driver_gtest name timeout)
  cmake_parse_arguments(PARSE_ARGV 2 arg "CONN_DRIVER;NO_ODBC" "" "LIBS;ENV")
  set(target driver_${name})
  add_executable(${target} ${KA_DRIVER_TESTS}/${name}.cpp)
  target_compile_options(${target} PRIVATE ${KA_WARNINGS})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR})
  if(NOT arg_NO_ODBC)
    target_link_libraries(${target} PRIVATE ${KA_ODBC_LIBRARY})
  endif()
  target_link_libraries(${target} PRIVATE GTest::gtest_main ${arg_LIBS})
  if(arg_CONN_DRIVER)
    set(lib ${KA_CONN_DRIVER_SO})
    add_dependencies(${target} ka_conn_driver)
  else()
    set(lib ${KA_DRIVER_SO})
    add_dependencies(${target} VYspark28)
  endif()
  # The environment goes in front of the command: gtest_discover_tests
  # splits an ENVIRONMENT list into separate properties and would keep only
  # its first variable, and the suites skip without the source tree.
  set(env "KA_DRIVER_LIB=${lib}" "KA_TEST_BUILD_DIR=${CMAKE_BINARY_DIR}"
    "KA_TEST_SOURCE_DIR=${CMAKE_SOURCE_DIR}" ${arg_ENV})
  set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR "env;${env}")
  set(props "")
  if(timeout GREATER 0)
    set(props PROPERTIES TIMEOUT ${timeout})
  endif()
  gtest_discover_tests(${target} TEST_PREFIX "driver." DISCOVERY_TIMEOUT 60 ${props})
endfunction()

# ka_add_driver_script(<name> <timeout> <command...>): the test driver.<name>,
# a script whose unsanitized process (python, the driver manager under sh)
# loads the driver. In a sanitized build the sanitizer's runtime is
# preloaded, and the process's own allocations are not the driver's to
# account for.
function(ka_add_driver_script name timeout)
  add_test(NAME driver.${name} COMMAND ${ARGN})
  set_tests_properties(driver.${name} PROPERTIES TIMEOUT ${timeout})
  if(KA_ASAN_RUNTIME)
    set_tests_properties(driver.${name} PROPERTIES
      ENVIRONMENT "LD_PRELOAD=${KA_ASAN_RUNTIME};ASAN_OPTIONS=detect_leaks=0")
  endif()
endfunction()

ka_add_driver_gtest(drivermanager_test 0 LIBS ${CMAKE_DL_LIBS})

add_test(NAME driver.exports
  COMMAND sh ${KA_DRIVER_TESTS}/exports_test.sh ${KA_DRIVER_SO} ${KA_DRIVER_TESTS}/exports.txt)

find_program(KA_ISQL isql REQUIRED)
add_test(NAME driver.isql
  COMMAND sh ${KA_DRIVER_TESTS}/isql_test.sh ${KA_DRIVER_SO} "${KA_ASAN_RUNTIME}")
set_tests_properties(driver.isql PROPERTIES TIMEOUT 120)

ka_add_driver_script(pyodbc 120
  /usr/bin/python3 ${KA_DRIVER_TESTS}/pyodbc_test.py ${KA_DRIVER_SO})

add_library(ka_conn_driver SHARED ${CMAKE_SOURCE_DIR}/driver/driverinfo.cpp
  ${KA_DRIVER_TESTS}/conndriverinit.cpp)
set_target_properties(ka_conn_driver PROPERTIES
  PREFIX "" OUTPUT_NAME VYspark28 SUFFIX ".so"
  LIBRARY_OUTPUT_DIRECTORY ${KA_CONN_DRIVER_DIR}/lib
  LINK_DEPENDS ${CMAKE_SOURCE_DIR}/driver/VYspark28.map)
target_compile_options(ka_conn_driver PRIVATE ${KA_WARNINGS})
target_include_directories(ka_conn_driver PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(ka_conn_driver PRIVATE ka_driver_libs)
target_link_options(ka_conn_driver PRIVATE
  LINKER:--whole-archive $<TARGET_FILE:odbc> LINKER:--no-whole-archive
  LINKER:--version-script=${CMAKE_SOURCE_DIR}/driver/VYspark28.map LINKER:--no-undefined)
add_dependencies(ka_conn_driver odbc ka_messages)
add_custom_command(TARGET ka_conn_driver POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E create_symlink ${CMAKE_BINARY_DIR}/locale ${KA_CONN_DRIVER_DIR}/locale)

ka_add_driver_gtest(drivermanager_conn_test 0 CONN_DRIVER)

# Statement and descriptor handles of the test build through the driver
# manager, from C++ and from pyodbc.
ka_add_driver_gtest(drivermanager_stmt_test 0 CONN_DRIVER)
ka_add_driver_script(pyodbc_statements 120
  /usr/bin/python3 ${KA_DRIVER_TESTS}/pyodbc_stmt_test.py ${KA_CONN_DRIVER_SO})

# isql, iusql and pyodbc connect to the test build by data source and by
# DRIVER= string.
add_test(NAME driver.isql_conn
  COMMAND sh ${KA_DRIVER_TESTS}/isql_conn_test.sh ${KA_CONN_DRIVER_SO} "${KA_ASAN_RUNTIME}")
set_tests_properties(driver.isql_conn PROPERTIES TIMEOUT 120)
ka_add_driver_script(pyodbc_conn 120
  /usr/bin/python3 ${KA_DRIVER_TESTS}/pyodbc_conn_test.py ${KA_CONN_DRIVER_SO})

# isql and iusql run statements on the test build.
add_test(NAME driver.isql_statements
  COMMAND sh ${KA_DRIVER_TESTS}/isql_stmt_test.sh ${KA_CONN_DRIVER_SO} "${KA_ASAN_RUNTIME}")
set_tests_properties(driver.isql_statements PROPERTIES TIMEOUT 120)
# The driver through unixODBC against the bundled HiveServer2 test server,
# which the tests start on free loopback ports. The suite finds the test
# server from its own source path and the TLS library beside the driver.
ka_add_driver_gtest(hs2_connect_test 120)
# Server passes through unixODBC over loopback listeners and the test
# server, and SQLBrowseConnect against the test server.
ka_add_driver_gtest(hs2_servers_test 120)
ka_add_driver_gtest(hs2_browse_test 120)
ka_add_driver_script(pyodbc_hs2 120
  /usr/bin/python3 ${KA_DRIVER_TESTS}/pyodbc_hs2_test.py ${KA_DRIVER_SO} ${CMAKE_SOURCE_DIR})
add_test(NAME driver.isql_hs2
  COMMAND sh ${KA_DRIVER_TESTS}/isql_hs2_test.sh ${KA_DRIVER_SO} ${CMAKE_SOURCE_DIR} "${KA_ASAN_RUNTIME}")
set_tests_properties(driver.isql_hs2 PROPERTIES TIMEOUT 120)

# pyodbc's getinfo and connection attributes against the test build.
ka_add_driver_script(pyodbc_info 120
  /usr/bin/python3 ${KA_DRIVER_TESTS}/pyodbc_info_test.py ${KA_CONN_DRIVER_SO})

# SQLGetInfo and connection attributes of the test build through the
# driver manager, ODBC 2 forms included.
ka_add_driver_gtest(drivermanager_info_test 0 CONN_DRIVER)

# pyodbc's getinfo against the test server: what the open learned.
ka_add_driver_script(pyodbc_hs2_info 120
  /usr/bin/python3 ${KA_DRIVER_TESTS}/pyodbc_hs2_info_test.py ${KA_DRIVER_SO} ${CMAKE_SOURCE_DIR})

# Queries against the bundled HiveServer2 test server through pyodbc, and
# the demonstration script run on the build's driver (its package step and
# its own build left out).
ka_add_driver_script(hs2_query 300
  /usr/bin/python3 ${KA_DRIVER_TESTS}/hs2_query_test.py ${KA_DRIVER_SO})
ka_add_driver_script(demo 300
  sh ${KA_DRIVER_TESTS}/hs2_demo_test.sh ${CMAKE_SOURCE_DIR} ${KA_DRIVER_SO})
# Prepared statements, bound row arrays, long values and row counts through
# unixODBC against the test server.
ka_add_driver_gtest(hs2_statement_test 120)

# Timestamps described and delivered alike under every server identity.
ka_add_driver_gtest(hs2_timestamp_test 120)

# Parameter arrays of an INSERT sent as multi-row batches: hostile values
# read back byte-equal, batches counted in the server's call log, a row that
# cannot be converted reported by its status.
ka_add_driver_gtest(hs2_arrayinsert_test 300)

# Text parameters around 64 KB and of a megabyte, narrow and wide, bound
# whole and sent in pieces, read back byte for byte.
ka_add_driver_gtest(hs2_longparam_test 300)

# The emulated static cursor scrolled over results beyond its page memory,
# row for row against a forward-only read.
ka_add_driver_gtest(hs2_static_test 300)

# Long values read with SQLGetData in small pieces, put together equal to
# the whole values, in both result layouts.
ka_add_driver_gtest(hs2_getdata_test 300)
ka_add_driver_script(pyodbc_hs2_static 300
  /usr/bin/python3 ${KA_DRIVER_TESTS}/pyodbc_hs2_static_test.py ${KA_DRIVER_SO} ${CMAKE_SOURCE_DIR})

# The catalog listing's readers over the SHOW TABLES and DESCRIBE results of
# every server identity, fetched through unixODBC.
ka_add_driver_gtest(hs2_catalogparse_test 180 LIBS hive)
# The install rules as a user meets them: installed into a temporary
# prefix, registered with odbcinst from the installed templates, and used
# by isql and pyodbc through the data source.
add_test(NAME driver.install
  COMMAND sh ${KA_DRIVER_TESTS}/install_test.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR} ${KA_DRIVER_VERSION_ODBC}
    "${KA_ASAN_RUNTIME}")
set_tests_properties(driver.install PROPERTIES TIMEOUT 180)

# docs/keywords.md against the option readers in odbc/ and hive/.
add_test(NAME driver.keywords
  COMMAND /usr/bin/python3 ${KA_DRIVER_TESTS}/keywords_test.py ${CMAKE_SOURCE_DIR})

# SQLCancel from a second thread while an asynchronous execute polls the
# test server: the server is sent CancelOperation and the execute ends HY008.
ka_add_driver_gtest(hs2_cancel_test 120)

# The driver's connection pool against the test server: an unpooled
# disconnect does not wait while the pool's maintenance pass closes an idle
# connection whose server stalls the end of its session.
ka_add_driver_gtest(hs2_pool_test 120)
# The query path against real peers: results compared value by value with
# the pinned Node client's, queries over TLS and without authentication,
# and the test server's faults on demand during a query.
find_program(KA_NODE node REQUIRED)
ka_add_driver_script(hs2_node_compare 300
  /usr/bin/python3 ${KA_DRIVER_TESTS}/hs2_node_compare_test.py ${KA_DRIVER_SO})
ka_add_driver_script(hs2_query_peers 300
  /usr/bin/python3 ${KA_DRIVER_TESTS}/hs2_query_peers_test.py ${KA_DRIVER_SO})

# An outer-join escape through unixODBC against the test server: the rows of
# a LEFT OUTER JOIN, NULLs where no partner row exists.
ka_add_driver_gtest(hs2_oj_test 120)
# The HTTP transport (plain and TLS) and Kerberos logins against a local
# MIT KDC, through pyodbc and isql.
ka_add_driver_script(pyodbc_http 180
  /usr/bin/python3 ${KA_DRIVER_TESTS}/pyodbc_http_test.py ${KA_DRIVER_SO} ${CMAKE_SOURCE_DIR})
ka_add_driver_script(pyodbc_kerberos 180
  /usr/bin/python3 ${KA_DRIVER_TESTS}/pyodbc_kerberos_test.py ${KA_DRIVER_SO} ${CMAKE_SOURCE_DIR})
# Load: threads on their own, pooled and shared connections, faults injected
# into sessions and a server restart, every result compared with a single
# thread's. KA_LOAD_THREADS and KA_LOAD_QUERIES raise the counts on demand.
ka_add_driver_gtest(hs2_load_test 300
  ENV LSAN_OPTIONS=suppressions=${KA_DRIVER_TESTS}/lsan-drivermanager.supp)
# Statement attributes that work at the server: the query time-out cancels
# the operation that outlives it; attribute 1053 writes the open result as
# an XML record set that Python's xml.etree reads back.
ka_add_driver_gtest(hs2_stmtattr_test 120)
# Attribute 1053 over every type of all_types and 100,000 synthetic rows, in
# both modes: the record sets checked with xmllint and read back by Python.
ka_add_driver_gtest(hs2_persist_test 300)
# Statement failover: the server drops the connection during an execute and
# the statements carry on in the session the driver opens in its place.
ka_add_driver_gtest(hs2_failover_test 120)
# A connection left unusable by a fault mid-reply: every later call says so
# with its own diagnostic, or reconnects when failover is on.
ka_add_driver_gtest(hs2_unusable_test 180)
# Select failover: a query whose link drops mid-result runs again, its rows
# already read checked by checksum; changed rows are reported; an INSERT is
# never sent twice.
ka_add_driver_gtest(hs2_selectfailover_test 300)
# The bulk exports against the test server through unixODBC: export of
# every type with LOB files, refusals that leave files alone, validation
# round trips and hostile descriptions; the files read back by Python.
ka_add_driver_gtest(hs2_bulk_test 180 LIBS ${CMAKE_DL_LIBS})

# The catalog functions against the test server under each identity:
# pyodbc's tables() and columns() compared with the server's fixture, and
# isql's help and help TABLE.
ka_add_driver_script(pyodbc_catalog 300
  /usr/bin/python3 ${KA_DRIVER_TESTS}/pyodbc_catalog_test.py ${KA_DRIVER_SO} ${CMAKE_SOURCE_DIR})
add_test(NAME driver.isql_catalog
  COMMAND sh ${KA_DRIVER_TESTS}/isql_catalog_test.sh ${KA_DRIVER_SO} ${CMAKE_SOURCE_DIR} "${KA_ASAN_RUNTIME}")
set_tests_properties(driver.isql_catalog PROPERTIES TIMEOUT 300)
# SQLTablesW and SQLColumnsW in this process through unixODBC against the test
# server: description, bound columns, SQL_ATTR_METADATA_ID, an open cursor.
ka_add_driver_gtest(hs2_catalog_test 180)

# The driver's own connection pooling through unixODBC and pyodbc against the
# test server: one session for several connects, idle ones closed by the
# maintenance thread.
ka_add_driver_script(pyodbc_pool 180
  /usr/bin/python3 ${KA_DRIVER_TESTS}/pyodbc_pool_test.py ${KA_DRIVER_SO} ${CMAKE_SOURCE_DIR})

# Parameters, data at execution, sharing the wire: pyodbc with every Python
# type and a table of hostile values against the test server.
ka_add_driver_script(pyodbc_hs2_params 600
  /usr/bin/python3 ${KA_DRIVER_TESTS}/pyodbc_hs2_params_test.py ${KA_DRIVER_SO})

# executemany with fast_executemany: ten thousand rows of several types in
# multi-row batches, and a row that cannot be converted.
ka_add_driver_script(pyodbc_hs2_arrayinsert 600
  /usr/bin/python3 ${KA_DRIVER_TESTS}/pyodbc_hs2_arrayinsert_test.py ${KA_DRIVER_SO})

# SQLGetTypeInfo, SQLStatistics, SQLSpecialColumns, the key, procedure and
# privilege functions through pyodbc and unixODBC against the test server
# under each server identity.
ka_add_driver_script(pyodbc_hs2_catalog2 300
  /usr/bin/python3 ${KA_DRIVER_TESTS}/pyodbc_hs2_catalog2_test.py ${KA_DRIVER_SO} ${CMAKE_SOURCE_DIR})
# SQLSpecialColumns, the privilege functions and SQLGetTypeInfo for an ODBC 2
# application through unixODBC against the test server.
ka_add_driver_gtest(hs2_catalog2_test 180)
# SQLDriverConnect's completion modes against the test server, without a
# connect dialog library and with the stand-in one of tests/setup.
ka_add_driver_gtest(hs2_dialog_test 120)

# Cursor names through unixODBC against the test server: set and read by the
# narrow and wide calls, generated for results, refused with ODBC's
# SQLSTATEs, looked up by a positioned statement; SQLGetFunctions' answers.
ka_add_driver_gtest(hs2_cursorname_test 120)

# Cancel from a second thread, the query time-out and statement attributes
# read back through pyodbc against the test server.
ka_add_driver_script(pyodbc_hs2_stmt 300
  /usr/bin/python3 ${KA_DRIVER_TESTS}/pyodbc_hs2_stmt_test.py ${KA_DRIVER_SO} ${CMAKE_SOURCE_DIR})

# SQLSetPos and SQLBulkOperations refused on Hive's forward-only, read-only
# cursors with their SQLSTATEs, through unixODBC against the test server.
ka_add_driver_gtest(hs2_setpos_test 120)

# Column values and descriptions in both layouts: DECIMALs of every shape in
# a buffer of their display size, a timestamp with local time zone as its
# text, names outside ASCII narrow and wide, the cursor simulation refused.
ka_add_driver_gtest(hs2_columndata_test 180)

# Cursors of one connection sharing the wire over the HTTP transport, where
# a parked reply is the rest of an HTTP response: alternating cursors, a
# cursor closed while another holds the wire, column-wise and row-wise.
ka_add_driver_script(pyodbc_hs2_wire 600
  /usr/bin/python3 ${KA_DRIVER_TESTS}/pyodbc_hs2_wire_test.py ${KA_DRIVER_SO})

# A block that never arrives (refused, or the link cut in it): every fetch
# after the failed one fails with the same SQLSTATE, in both layouts.
ka_add_driver_gtest(hs2_fetchfault_test 120)
# Damaged replies through pyodbc: tools/hs2damage between the driver and the
# test server spoils one reply per connection as a seed says, on the binary
# and the HTTP transport; no crash, no hang, a diagnostic for each failure and
# never wrong rows for structural damage. KA_DAMAGE_SEEDS=0-5000 runs more.
ka_add_driver_script(hs2_damage 900
  /usr/bin/python3 ${KA_DRIVER_TESTS}/hs2_damage_test.py ${KA_DRIVER_SO} ${CMAKE_SOURCE_DIR})
# The driver library loaded with dlopen and called with no driver manager in
# between: freed and foreign handles are refused. It must not link libodbc,
# whose exports would stand in for the driver's.
ka_add_driver_gtest(directlink_test 0 NO_ODBC LIBS ${CMAKE_DL_LIBS})
# Data sources only the system's odbc.ini holds (ODBCSYSINI), and the
# application code page taken from the locale: isql in UTF-8, C and Latin-1
# locales, pyodbc with the connect's and the attributes' diagnostics.
add_test(NAME driver.isql_locale
  COMMAND sh ${KA_DRIVER_TESTS}/isql_locale_test.sh ${KA_DRIVER_SO} ${CMAKE_SOURCE_DIR} "${KA_ASAN_RUNTIME}")
set_tests_properties(driver.isql_locale PROPERTIES TIMEOUT 180)
ka_add_driver_script(pyodbc_config 180
  /usr/bin/python3 ${KA_DRIVER_TESTS}/pyodbc_config_test.py ${KA_DRIVER_SO} ${CMAKE_SOURCE_DIR})

# isql against servers that are not what the connection string expects: TLS
# against plain peers within LoginTimeout, mismatches of encryption and
# transport naming the keyword to change, an unresolvable host with the
# resolver's reason, and certificates checked by address on both transports.
ka_add_driver_script(isql_connect_diag 300
  /usr/bin/python3 ${KA_DRIVER_TESTS}/isql_connect_diag_test.py ${KA_DRIVER_SO} ${CMAKE_SOURCE_DIR})
