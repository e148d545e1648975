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

# The suites of the other areas that need neither a database nor a Linux-only facility: the
# text formats and parameter buffers of the client layer, the runner's tokenizer and script
# variables, here with Windows' C runtime and the platform layer's Windows side.
if(DBU_BUILD_TESTS)
  add_executable(portable_tests
    ${PROJECT_SOURCE_DIR}/tests/ibclient/date_time_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/ibclient/dpb_tpb_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/ibclient/text_format_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/runner/script_variables_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/runner/sql_tokenizer_test.cpp)
  target_link_libraries(portable_tests PRIVATE runner_core GTest::gtest_main)
  gtest_discover_tests(portable_tests DISCOVERY_TIMEOUT 120 DISCOVERY_MODE PRE_TEST
                       PROPERTIES TIMEOUT 600)
endif()
