# Where an installation puts the driver, and the templates written for it.
# The driver and its TLS library go to KA_INSTALL_LIBDIR; the driver's
# install directory (the InstallDir of its [ODBC] section, holding locale/)
# is KA_INSTALL_HOME. Both are below the prefix. The defaults give
#   <prefix>/lib/VYspark28.so, <prefix>/lib/libVYtls28.so, <prefix>/lib/libVYcurl28.so,
#   <prefix>/locale/en_US/LC_MESSAGES/VYspark28.mo,
#   <prefix>/share/VYspark28/{odbcinst.ini,odbc.ini}, <prefix>/share/doc/VYspark28/
# The Debian package puts the first three under the multiarch odbc folder.

set(KA_INSTALL_LIBDIR "lib" CACHE STRING "Folder below the prefix for the driver and its TLS library")
set(KA_INSTALL_HOME "" CACHE STRING "The driver's install directory below the prefix, which holds locale/ (empty: the prefix)")
# The driver's name in odbcinst.ini, and the data source of the template.
set(KA_DRIVER_NAME ${KA_DRIVER_BASE_NAME})
set(KA_DSN_NAME "HiveServer2")
set(KA_TEMPLATE_SUBDIR "share/${KA_DRIVER_BASE_NAME}")
set(KA_DOC_SUBDIR "share/doc/${KA_DRIVER_BASE_NAME}")

foreach(dir KA_INSTALL_LIBDIR KA_INSTALL_HOME)
  if(IS_ABSOLUTE "${${dir}}" OR "${${dir}}" MATCHES "(^|/)\\.\\.(/|$)")
    message(FATAL_ERROR "${dir} (${${dir}}) must name a folder below the install prefix")
  endif()
endforeach()
if(KA_INSTALL_HOME STREQUAL "")
  set(KA_LOCALE_DESTINATION "locale")
else()
  set(KA_LOCALE_DESTINATION "${KA_INSTALL_HOME}/locale")
endif()

# The templates name absolute paths, so they are written when the install
# runs, under the prefix it runs with (cmake --install --prefix, or CPack's).
function(ka_install_extras)
  set(src ${CMAKE_SOURCE_DIR}/packaging)
  install(CODE "
    set(KA_DRIVER_BASE_NAME \"${KA_DRIVER_BASE_NAME}\")
    set(KA_DRIVER_NAME \"${KA_DRIVER_NAME}\")
    set(KA_DSN_NAME \"${KA_DSN_NAME}\")
    set(KA_DRIVER_DESCRIPTION \"HiveServer2 ODBC driver ${KA_DRIVER_VERSION_ODBC}\")
    set(KA_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(KA_DRIVER_PATH \"\${KA_PREFIX}/${KA_INSTALL_LIBDIR}/${KA_DRIVER_BASE_NAME}.so\")
    if(\"${KA_INSTALL_HOME}\" STREQUAL \"\")
      set(KA_INSTALL_HOME \"\${KA_PREFIX}\")
    else()
      set(KA_INSTALL_HOME \"\${KA_PREFIX}/${KA_INSTALL_HOME}\")
    endif()
    set(KA_TEMPLATE_DIR \"\${KA_PREFIX}/${KA_TEMPLATE_SUBDIR}\")
    set(KA_DOC_DIR \"\${KA_PREFIX}/${KA_DOC_SUBDIR}\")
    foreach(name odbcinst.ini odbc.ini)
      set(out \"\$ENV{DESTDIR}\${KA_TEMPLATE_DIR}/\${name}\")
      message(STATUS \"Installing: \${out}\")
      configure_file(\"${src}/\${name}.in\" \"\${out}\" @ONLY)
      list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${out}\")
    endforeach()
  ")
  install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/keywords.md
    DESTINATION ${KA_DOC_SUBDIR})
endfunction()
