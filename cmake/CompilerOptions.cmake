# Warning and sanitizer flags for the project's own targets only.
add_library(dbu_options INTERFACE)
target_compile_options(dbu_options INTERFACE -Wall -Wextra -Wpedantic)
if(DBU_WERROR)
  target_compile_options(dbu_options INTERFACE -Werror)
endif()
if(DBU_SANITIZE)
  set(_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_compile_options(dbu_options INTERFACE ${_san})
  target_link_options(dbu_options INTERFACE ${_san})
endif()

# Fuzzing: coverage instrumentation for libFuzzer on every library the fuzz targets link,
# with AddressSanitizer and UndefinedBehaviorSanitizer so that a bad access stops the run.
if(DBU_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "DBU_FUZZ needs clang++ (-DCMAKE_CXX_COMPILER=clang++)")
  endif()
  set(_fuzz -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
            -fno-sanitize-recover=all)
  target_compile_options(dbu_options INTERFACE ${_fuzz})
  target_link_options(dbu_options INTERFACE -fsanitize=address,undefined)
endif()

# A static library of every .cpp file in the calling folder (an interface library while the
# folder holds none yet), with the project root as include path.
function(dbu_area_library name)
  cmake_parse_arguments(ARG "" "" "EXCLUDE;DEPENDS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(ex ${ARG_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${ex})
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC dbu_options ${ARG_DEPENDS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE dbu_options ${ARG_DEPENDS})
  endif()
endfunction()
