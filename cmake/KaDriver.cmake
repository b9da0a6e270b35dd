# Helpers shared by the subsystem folders: one static library each, all of
# them built alike and gathered into one link group for the driver and tests.

set(KA_WARNINGS -Wall -Wextra -Wno-unused-parameter)
set_property(GLOBAL PROPERTY KA_DRIVER_LIBS "")

# ka_add_library(<name> <sources...>)
function(ka_add_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
  target_compile_options(${name} PRIVATE ${KA_WARNINGS}
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions>)
  target_link_libraries(${name} PUBLIC ICU::uc ICU::i18n ICU::data Threads::Threads ${CMAKE_DL_LIBS})
  add_dependencies(${name} ka_messages)
  set_property(GLOBAL APPEND PROPERTY KA_DRIVER_LIBS ${name})
endfunction()

# The subsystem libraries call each other in both directions (the foundation
# posts diagnostics whose texts need the platform layer, and so on), so they
# are linked as one group that the linker rescans.
function(ka_finish_driver_libraries)
  get_property(libs GLOBAL PROPERTY KA_DRIVER_LIBS)
  add_library(ka_driver_libs INTERFACE)
  if(libs)
    string(REPLACE ";" "," libcsv "${libs}")
    target_link_libraries(ka_driver_libs INTERFACE "$<LINK_GROUP:RESCAN,${libcsv}>")
    foreach(l IN LISTS libs)
      target_include_directories(ka_driver_libs INTERFACE $<TARGET_PROPERTY:${l},INTERFACE_INCLUDE_DIRECTORIES>)
    endforeach()
  endif()
  target_link_libraries(ka_driver_libs INTERFACE ICU::uc ICU::i18n ICU::data Threads::Threads ${CMAKE_DL_LIBS})
endfunction()
