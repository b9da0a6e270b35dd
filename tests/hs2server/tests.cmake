# The HiveServer2 test server's own tests, and the check of the server with
# hive-driver, an independent client from the npm registry. Both need
# tools/hs2server/setup to have run (tools/test-all runs it).
set(KA_HS2_DIR ${CMAKE_CURRENT_LIST_DIR})
add_test(NAME hs2server.server_test
         COMMAND /usr/bin/python3 ${KA_HS2_DIR}/server_test.py)
add_test(NAME hs2server.hive_driver_check
         COMMAND node ${KA_HS2_DIR}/hive_driver_check.js)
set_tests_properties(hs2server.server_test hs2server.hive_driver_check PROPERTIES TIMEOUT 240)
