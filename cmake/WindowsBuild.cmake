# The Windows build, cross-compiled with MinGW-w64 (cmake/toolchain-mingw-w64-x86_64.cmake) into
# build-windows/ by scripts/build-windows.sh: dbupgrade.exe and dbupgrade-check.exe, a ZIP of
# both with the example settings file and script, the README and the license (cpack), and the
# test suites that need no Linux-only facility, which ctest runs under Wine through the
# toolchain's CMAKE_CROSSCOMPILING_EMULATOR.
install(FILES ${PROJECT_SOURCE_DIR}/examples/dbupgrade.ini ${PROJECT_SOURCE_DIR}/examples/dbupgrade.sql
              ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION .)
set(CPACK_GENERATOR "ZIP")
set(CPACK_PACKAGE_NAME "dbupgrade")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_FILE_NAME "dbupgrade-${PROJECT_VERSION}-windows-x64")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# Installed executables carry no symbols.
set(CPACK_STRIP_FILES ON)
include(CPack)

if(DBU_BUILD_TESTS)
  enable_testing()
  # GoogleTest built from source with the cross compiler (Debian's googletest package).
  set(DBU_GOOGLETEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest's source folder")
  if(NOT EXISTS "${DBU_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt")
    message(FATAL_ERROR "GoogleTest's sources are not in ${DBU_GOOGLETEST_SOURCE_DIR} "
                        "(Debian package googletest; or set DBU_GOOGLETEST_SOURCE_DIR)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory("${DBU_GOOGLETEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  include(GoogleTest)
  add_subdirectory(tests/platform)
endif()
