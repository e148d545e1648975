# Installation layout and the Debian package.
#
# `cmake --install` puts the runner and the script check in bin/, an example settings file and
# an example upgrade script in share/dbupgrade/, every manual page of man/ (compressed) in share/man/man1/, and the
# README, the copyright file and the Debian changelog in share/doc/dbupgrade/. `cpack` in the
# build folder builds a .deb from the same layout. The runner loads libfbclient at run time
# (dlopen), so the package names the client library as a dependency instead of linking it.
include(GNUInstallDirs)

# Installing (and so cpack) takes what the build has produced instead of building every target
# first: the package test runs cpack while the other tests of the same build are running.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
# Folders made by the install get the usual mode whatever the umask of the build.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(DBU_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/packaging/debian)
set(DBU_DEBIAN_REVISION 1)

# The changelog's newest entry must name the version that the package gets, or the package
# would describe another release than the one it carries.
file(STRINGS ${DBU_DEBIAN_DIR}/changelog _changelog_head LIMIT_COUNT 1)
if(NOT _changelog_head MATCHES "^dbupgrade \\(${PROJECT_VERSION}-${DBU_DEBIAN_REVISION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog starts with '${_changelog_head}', "
                      "expected version ${PROJECT_VERSION}-${DBU_DEBIAN_REVISION}")
endif()

# Compressed copies of the manual pages and the changelog, made by every build (gzip -n keeps
# the name and time stamp out, so the package is the same for the same sources).
set(_compressed)
function(dbu_gzip source output)
  get_filename_component(_dir ${output} DIRECTORY)
  string(REGEX REPLACE "\\.gz$" "" _plain ${output})
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_dir}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${_plain}
    COMMAND gzip -9nf ${_plain}
    DEPENDS ${source} VERBATIM)
  set(_compressed ${_compressed} ${output} PARENT_SCOPE)
endfunction()

file(GLOB _man_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.1)
foreach(_page ${_man_pages})
  get_filename_component(_name ${_page} NAME)
  dbu_gzip(${_page} ${PROJECT_BINARY_DIR}/man/${_name}.gz)
  install(FILES ${PROJECT_BINARY_DIR}/man/${_name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
dbu_gzip(${DBU_DEBIAN_DIR}/changelog ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_target(dbu_compressed_docs ALL DEPENDS ${_compressed})

install(FILES ${PROJECT_SOURCE_DIR}/examples/dbupgrade.ini ${PROJECT_SOURCE_DIR}/examples/dbupgrade.sql
        DESTINATION ${CMAKE_INSTALL_DATADIR}/dbupgrade)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${DBU_DEBIAN_DIR}/copyright
              ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${DBU_DEBIAN_DIR}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME dbupgrade)

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "dbupgrade")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "dbupgrade maintainers")
set(CPACK_PACKAGE_CONTACT "dbupgrade maintainers <maintainers@dbupgrade.example>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_RELEASE ${DBU_DEBIAN_REVISION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "unattended upgrade of Firebird databases during a setup")
set(CPACK_PACKAGE_DESCRIPTION
    "dbupgrade is a step of a software setup. It applies one SQL upgrade script to
each database named in its settings file, writes what it did to a log file and
records SetupStatus=Continue or Cancel in the settings file for the setup that
started it. It prints nothing; its manual page describes its files. The
companion dbupgrade-check finds an upgrade script's mistakes before it ships.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "database")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Installed executables carry no symbols.
set(CPACK_STRIP_FILES ON)
# The C++ runtime is found from the executable's ELF dependencies; the client library is
# dlopen'ed and has to be named by hand. The embedded engine (libEngine12.so and the character
# sets) is what a plain database path needs; a setup that reaches every database through a
# server does without it, so it is recommended (apt installs it by default) rather than required.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libfbclient2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "firebird3.0-server-core")
include(CPack)
