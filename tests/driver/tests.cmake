# The driver library as applications meet it: its exported names, and the
# unixODBC driver manager loading it from C++, from isql and from pyodbc.
# Only these tests link libodbc.
set(KA_DRIVER_TESTS ${CMAKE_CURRENT_LIST_DIR})
set(KA_DRIVER_SO ${CMAKE_BINARY_DIR}/lib/VYspark28.so)

# A process that is not sanitized needs the sanitizer's runtime preloaded
# before it can load the sanitized driver.
set(KA_ASAN_RUNTIME "")
if(KA_SANITIZE)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
    OUTPUT_VARIABLE KA_ASAN_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()

find_library(KA_ODBC_LIBRARY odbc REQUIRED)
add_executable(driver_drivermanager_test ${KA_DRIVER_TESTS}/drivermanager_test.cpp)
target_compile_options(driver_drivermanager_test PRIVATE ${KA_WARNINGS})
target_link_libraries(driver_drivermanager_test PRIVATE GTest::gtest_main ${KA_ODBC_LIBRARY}
  ${CMAKE_DL_LIBS})
add_dependencies(driver_drivermanager_test VYspark28)
gtest_discover_tests(driver_drivermanager_test TEST_PREFIX "driver." DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT "KA_DRIVER_LIB=${KA_DRIVER_SO};KA_TEST_BUILD_DIR=${CMAKE_BINARY_DIR}")

add_test(NAME driver.exports
  COMMAND sh ${KA_DRIVER_TESTS}/exports_test.sh ${KA_DRIVER_SO} ${KA_DRIVER_TESTS}/exports.txt)

find_program(KA_ISQL isql REQUIRED)
add_test(NAME driver.isql
  COMMAND sh ${KA_DRIVER_TESTS}/isql_test.sh ${KA_DRIVER_SO} "${KA_ASAN_RUNTIME}")

add_test(NAME driver.pyodbc
  COMMAND /usr/bin/python3 ${KA_DRIVER_TESTS}/pyodbc_test.py ${KA_DRIVER_SO})
if(KA_ASAN_RUNTIME)
  # Python's own allocations are not the driver's to account for.
  set_tests_properties(driver.pyodbc PROPERTIES
    ENVIRONMENT "LD_PRELOAD=${KA_ASAN_RUNTIME};ASAN_OPTIONS=detect_leaks=0")
endif()
set_tests_properties(driver.isql driver.pyodbc PROPERTIES TIMEOUT 120)
