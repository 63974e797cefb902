# The release's version, four numbers (major.minor.build.patch), in the one
# place every build takes it from: the launcher's version resource, the
# tool's --version and the Debian packages' version. A release names it
# (the release preset takes MIR_VERSION from the environment, so a build
# never ships the one that an earlier configure left in the cache); the
# other builds use the default below.
#   cmake [-DMIR_VERSION=V] -P cmake/version.cmake   checks V (or takes the
#                                                    default) and prints it
set(MIR_DEFAULT_VERSION "1.0.0.0")

if(NOT CMAKE_SCRIPT_MODE_FILE)
  set(MIR_VERSION ${MIR_DEFAULT_VERSION} CACHE STRING "Release version, four numbers: major.minor.build.patch")
elseif(NOT DEFINED MIR_VERSION)
  set(MIR_VERSION ${MIR_DEFAULT_VERSION})
endif()
if(NOT MIR_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "MIR_VERSION must be four numbers separated by dots (MIR_VERSION=1.2.3.0), "
                      "not '${MIR_VERSION}'")
endif()
set(MIR_VERSION_NUMBERS ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
foreach(part ${MIR_VERSION_NUMBERS})
  # A version resource holds each number in 16 bits; a leading zero would
  # give one version two spellings.
  if(part GREATER 65535 OR part MATCHES "^0[0-9]")
    message(FATAL_ERROR "MIR_VERSION: each number is 0 to 65535 without leading zeros, not ${part}")
  endif()
endforeach()
if(CMAKE_SCRIPT_MODE_FILE)
  message(${MIR_VERSION})
endif()
