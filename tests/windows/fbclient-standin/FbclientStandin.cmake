# Builds the test-only fbclient.dll (a Winelib module forwarding to Linux's libfbclient, see
# fbclient.c) with winegcc, the native compiler, whatever compiler the including project
# targets. Target fbclient_standin puts it as fbclient.dll into FBCLIENT_STANDIN_DIR (default:
# the build's runtime output folder), beside the programs that load it from their own folder.
find_program(WINEGCC winegcc REQUIRED)
find_file(FBCLIENT_STANDIN_IBASE_H ibase.h PATHS /usr/include /usr/include/firebird
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
get_filename_component(_standin_ibase_dir "${FBCLIENT_STANDIN_IBASE_H}" DIRECTORY)

if(NOT FBCLIENT_STANDIN_DIR)
  if(CMAKE_RUNTIME_OUTPUT_DIRECTORY)
    set(FBCLIENT_STANDIN_DIR "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  else()
    set(FBCLIENT_STANDIN_DIR "${CMAKE_BINARY_DIR}")
  endif()
endif()

set(_standin_src "${CMAKE_CURRENT_LIST_DIR}/fbclient.c")
set(_standin_exports "${CMAKE_CURRENT_LIST_DIR}/fbclient.def")
set(_standin_build "${CMAKE_BINARY_DIR}/fbclient-standin")
set(FBCLIENT_STANDIN "${FBCLIENT_STANDIN_DIR}/fbclient.dll")

# winegcc -o fbclient.dll writes the ELF module as fbclient.dll.so; Wine loads it under the
# plain name too.
add_custom_command(
  OUTPUT "${FBCLIENT_STANDIN}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${_standin_build}" "${FBCLIENT_STANDIN_DIR}"
  COMMAND "${WINEGCC}" -shared -O2 -g -Wall -Wextra -Werror -idirafter "${_standin_ibase_dir}"
          -o "${_standin_build}/fbclient.dll" "${_standin_exports}" "${_standin_src}" -lfbclient
  COMMAND ${CMAKE_COMMAND} -E copy "${_standin_build}/fbclient.dll.so" "${FBCLIENT_STANDIN}"
  DEPENDS "${_standin_src}" "${_standin_exports}"
  COMMENT "Building the fbclient.dll stand-in with winegcc"
  VERBATIM)
add_custom_target(fbclient_standin ALL DEPENDS "${FBCLIENT_STANDIN}")
