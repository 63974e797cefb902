# Abseil (string formatting) and GoogleTest, both from Debian's packages:
# natively the installed libabsl-dev; for MinGW the Abseil sources that
# scripts/setup.sh fetched; GoogleTest from the sources of the googletest package.

if(CMAKE_CROSSCOMPILING)
  if(NOT EXISTS ${MIR_DEPS_DIR}/abseil/CMakeLists.txt)
    message(FATAL_ERROR "Abseil sources missing in ${MIR_DEPS_DIR}/abseil: run scripts/setup.sh")
  endif()
  set(ABSL_PROPAGATE_CXX_STD ON)
  set(ABSL_ENABLE_INSTALL OFF)
  set(BUILD_TESTING OFF)
  add_subdirectory(${MIR_DEPS_DIR}/abseil ${CMAKE_BINARY_DIR}/_deps/abseil EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(absl REQUIRED)
endif()

set(INSTALL_GTEST OFF)
set(gtest_force_shared_crt OFF)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL SYSTEM)
