# Installation layout and the Debian package.
#
# `cmake --install` puts the runner and the script check in bin/, the check's manual page in
# share/man/man1/, an example settings file and an example upgrade
# script in share/dbupgrade/ and the README in share/doc/dbupgrade/. `cpack` in the build folder
# builds a .deb from the same layout. The runner loads libfbclient at run time (dlopen), so the
# package names the client library as a dependency instead of linking it.
include(GNUInstallDirs)

# Installing (and so cpack) takes what the build has produced instead of building every target
# first: the package test runs cpack while the other tests of the same build are running.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(FILES ${PROJECT_SOURCE_DIR}/examples/dbupgrade.ini ${PROJECT_SOURCE_DIR}/examples/dbupgrade.sql
        DESTINATION ${CMAKE_INSTALL_DATADIR}/dbupgrade)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/man/dbupgrade-check.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "dbupgrade")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "dbupgrade")
set(CPACK_PACKAGE_CONTACT "dbupgrade maintainers <dbupgrade@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Unattended database upgrade runner for InterBase/Firebird databases")
set(CPACK_PACKAGE_DESCRIPTION
    "Applies one SQL upgrade script to each database named in its settings file, logs what it did and records SetupStatus=Continue or Cancel for the calling setup.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "database")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The C++ runtime is found from the executable's ELF dependencies; the client library is
# dlopen'ed and has to be named by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libfbclient2")
include(CPack)
