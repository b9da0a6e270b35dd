# Helpers shared by the subsystem folders: one static library each, built
# alike. The folders stand in the order of KA_SUBSYSTEMS (top CMakeLists.txt),
# and a library may use only libraries of folders below its own.

set(KA_WARNINGS -Wall -Wextra -Wno-unused-parameter)

# ka_add_library(<name> <sources...>)
function(ka_add_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
  target_compile_options(${name} PRIVATE ${KA_WARNINGS}
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions>)
  target_link_libraries(${name} PUBLIC ICU::uc ICU::i18n ICU::data Threads::Threads ${CMAKE_DL_LIBS})
  add_dependencies(${name} ka_messages)
endfunction()

# ka_library_uses(<name> <lower libraries...>): links the libraries that
# <name> calls; each must stand below <name> in KA_SUBSYSTEMS.
function(ka_library_uses name)
  list(FIND KA_SUBSYSTEMS ${name} own)
  if(own LESS 0)
    message(FATAL_ERROR "${name} is not a subsystem folder listed in KA_SUBSYSTEMS")
  endif()
  foreach(lower IN LISTS ARGN)
    list(FIND KA_SUBSYSTEMS ${lower} rank)
    if(rank LESS 0 OR NOT rank LESS own)
      message(FATAL_ERROR "${name} may not use ${lower}: it does not stand below ${name} in KA_SUBSYSTEMS")
    endif()
  endforeach()
  target_link_libraries(${name} PUBLIC ${ARGN})
endfunction()

# The whole driver for the shared library, tests and benchmarks: the top
# library, which links everything below it.
function(ka_finish_driver_libraries)
  set(top "")
  foreach(sub IN LISTS KA_SUBSYSTEMS)
    if(TARGET ${sub})
      set(top ${sub})
    endif()
  endforeach()
  add_library(ka_driver_libs INTERFACE)
  target_link_libraries(ka_driver_libs INTERFACE ${top})
endfunction()

# ka_odbc_version(<out>): the project's version as ODBC writes a driver
# version, ##.##.#### (8.1.427 gives 08.01.0427).
function(ka_odbc_version out)
  if(PROJECT_VERSION_MAJOR GREATER 99 OR PROJECT_VERSION_MINOR GREATER 99 OR PROJECT_VERSION_PATCH GREATER 9999)
    message(FATAL_ERROR "version ${PROJECT_VERSION} does not fit ODBC's ##.##.####")
  endif()
  set(parts "")
  foreach(part MAJOR MINOR PATCH)
    set(width 2)
    if(part STREQUAL "PATCH")
      set(width 4)
    endif()
    set(text "000${PROJECT_VERSION_${part}}")
    string(LENGTH "${text}" length)
    math(EXPR start "${length} - ${width}")
    string(SUBSTRING "${text}" ${start} ${width} text)
    list(APPEND parts ${text})
  endforeach()
  list(JOIN parts "." joined)
  set(${out} "${joined}" PARENT_SCOPE)
endfunction()
