# Stand-in libraries that the tests load at run time in place of libraries
# that do not exist on Linux (the setup and dialog back ends, a driver
# manager's trace library) or that the binding tests need: each records the
# calls it receives in the file that KA_STANDIN_LOG names.
set(KA_STANDIN_DIR ${CMAKE_BINARY_DIR}/tests/standin)

function(ka_standin target output source)
  set(dir ${KA_STANDIN_DIR})
  if(ARGC GREATER 3)
    set(dir ${KA_STANDIN_DIR}/${ARGV3})
  endif()
  add_library(${target} MODULE ${CMAKE_CURRENT_LIST_DIR}/${source})
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${output} SUFFIX ".so"
    LIBRARY_OUTPUT_DIRECTORY ${dir})
  # Loaded into sanitized and unsanitized processes alike.
  target_compile_options(${target} PRIVATE -fno-sanitize=all)
  target_link_options(${target} PRIVATE -fno-sanitize=all)
endfunction()

ka_standin(ka_standin_calls libkastandin standin_calls.c)
ka_standin(ka_standin_trace libkastandintrace standin_trace.c)
# The setup library of the driver "VYspark28" and the dialog library; a
# setup library without its entry point in a directory of its own.
ka_standin(ka_standin_setup VYspark28r standin_setup.c)
ka_standin(ka_standin_setup_noentry VYspark28r standin_setup.c noentry)
target_compile_definitions(ka_standin_setup_noentry PRIVATE KA_STANDIN_NO_ENTRY)
ka_standin(ka_standin_dialog libVYmbackw standin_dialog.c)

foreach(t IN ITEMS platform_callmapper_test odbc_tracebridge_test odbc_setupapi_test driver_hs2_dialog_test)
  if(TARGET ${t})
    target_compile_definitions(${t} PRIVATE KA_STANDIN_DIR="${KA_STANDIN_DIR}"
      KA_DRIVER_SO="${CMAKE_BINARY_DIR}/lib/VYspark28.so")
    add_dependencies(${t} ka_standin_calls ka_standin_trace ka_standin_setup ka_standin_setup_noentry
      ka_standin_dialog VYspark28)
  endif()
endforeach()
