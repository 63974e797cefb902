# Build rules shared by every module: one warning list, one way to declare a
# library, a test, a Windows program and a fuzz target.

add_library(mir_warnings INTERFACE)
target_compile_options(mir_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wimplicit-fallthrough -Werror)

# mir_library(name SOURCES ... [WIN_SOURCES ...] [POSIX_SOURCES ...] [DEPS ...])
function(mir_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;WIN_SOURCES;POSIX_SOURCES;DEPS" ${ARGN})
  set(sources ${ARG_SOURCES})
  if(WIN32)
    list(APPEND sources ${ARG_WIN_SOURCES})
  else()
    list(APPEND sources ${ARG_POSIX_SOURCES})
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE mir_warnings)
endfunction()

# mir_program(name SOURCES ... [DEPS ...] [GUI]): a Windows program with a
# wide entry point (wmain, or wWinMain with GUI).
function(mir_program name)
  cmake_parse_arguments(ARG "GUI" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} mir_warnings)
  # Stripped, and without a link timestamp, so that a rebuild is identical.
  target_link_options(${name} PRIVATE -municode -s -Wl,--no-insert-timestamp)
  if(ARG_GUI)
    target_link_options(${name} PRIVATE -mwindows)
  endif()
endfunction()

# mir_test(name SOURCES ... [DEPS ...] [TIMEOUT s] [ARGS ...]): a GoogleTest
# program, run by CTest (under Wine in the Windows build) with ARGS.
function(mir_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;ENVIRONMENT;RESOURCE_LOCK;ARGS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest_main mir_warnings)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1 ${ARG_ARGS})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  if(ARG_ENVIRONMENT)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
  if(ARG_RESOURCE_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
  endif()
  if(WIN32)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
  endif()
endfunction()

# mir_fuzzer(name SOURCES ... DEPS ... CORPUS dir): a libFuzzer target in the
# fuzz build (corpus replay plus a short smoke run); elsewhere natively a
# corpus replay under the ordinary test run.
function(mir_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;DEPS" ${ARGN})
  if(WIN32)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} mir_warnings)
  if(MIR_FUZZ)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    add_test(NAME ${name}_corpus COMMAND ${name} -runs=0 ${ARG_CORPUS})
    set(scratch ${CMAKE_CURRENT_BINARY_DIR}/${name}_found)
    file(MAKE_DIRECTORY ${scratch})
    add_test(NAME ${name}_smoke
      COMMAND ${name} -max_total_time=${MIR_FUZZ_SECONDS} -seed=1 -rss_limit_mb=4096
        -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/${name}_ ${scratch} ${ARG_CORPUS})
    set_tests_properties(${name}_smoke PROPERTIES TIMEOUT 300 LABELS fuzz-smoke)
  else()
    target_link_libraries(${name} PRIVATE mir_fuzz_replay_main)
    add_test(NAME ${name}_corpus COMMAND ${name} ${ARG_CORPUS})
  endif()
  set_tests_properties(${name}_corpus PROPERTIES TIMEOUT 120)
endfunction()
