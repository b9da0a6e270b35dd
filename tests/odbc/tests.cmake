# The translation library the connection tests load.
add_library(ka_test_translator SHARED ${CMAKE_CURRENT_LIST_DIR}/translator/testtranslator.cpp)
target_compile_options(ka_test_translator PRIVATE ${KA_WARNINGS})
set_target_properties(ka_test_translator PROPERTIES PREFIX "" OUTPUT_NAME testtranslator)
target_compile_definitions(odbc_baseconnect_test PRIVATE
  KA_TEST_TRANSLATOR="$<TARGET_FILE:ka_test_translator>")
add_dependencies(odbc_baseconnect_test ka_test_translator)
