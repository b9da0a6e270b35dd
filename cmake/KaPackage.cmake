# The Debian package, made by CPack from the install rules. tools/package
# configures a release tree whose install puts the driver under the
# multiarch odbc folder (/usr/lib/<multiarch>/odbc) and runs cpack there.
# The maintainer scripts register the driver with odbcinst on installation
# and unregister it on removal.

set(CPACK_GENERATOR "DEB")
string(TOLOWER "${KA_DRIVER_BASE_NAME}" KA_PACKAGE_NAME)
set(CPACK_PACKAGE_NAME "${KA_PACKAGE_NAME}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ODBC driver for HiveServer2 (${KA_DRIVER_BASE_NAME})")
set(CPACK_PACKAGE_DESCRIPTION "An ODBC 3.x driver that unixODBC loads to reach HiveServer2 over its Thrift protocol. The package registers the driver with unixODBC as ${KA_DRIVER_NAME} and installs an odbc.ini template under /usr/share/${KA_DRIVER_BASE_NAME}.")
set(CPACK_PACKAGE_CONTACT "Mirrowen ${KA_DRIVER_BASE_NAME} maintainers <${KA_PACKAGE_NAME}@mirrowen.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
# The templates name their paths from the install prefix, which must be
# the installed one (/usr), not CPack's staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "libs")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# odbcinst registers the driver; unixODBC's driver manager loads it. The
# libraries the shipped files link (libcurl among them) come from shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "odbcinst, unixodbc")

set(KA_PACKAGE_DRIVER_PATH "/usr/${KA_INSTALL_LIBDIR}/${KA_DRIVER_BASE_NAME}.so")
set(KA_PACKAGE_DESCRIPTION "HiveServer2 ODBC driver ${KA_DRIVER_VERSION_ODBC}")
# The key the maintainer scripts put into the driver's odbcinst.ini entry,
# by which they know the entry as the package's own.
set(KA_PACKAGE_MARK "RegisteredBy=${KA_PACKAGE_NAME} package")
# Debian's copyright file, in the package's own doc folder.
option(KA_DEBIAN_DOCS "Install Debian's copyright file under share/doc/<package>" OFF)
if(KA_DEBIAN_DOCS)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/debian/copyright DESTINATION share/doc/${KA_PACKAGE_NAME})
endif()
foreach(script postinst prerm postrm)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/${script}.in
    ${CMAKE_BINARY_DIR}/packaging/debian/${script} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  list(APPEND KA_PACKAGE_SCRIPTS ${CMAKE_BINARY_DIR}/packaging/debian/${script})
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${KA_PACKAGE_SCRIPTS}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
