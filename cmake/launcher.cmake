# The launcher program: the run sequence's object library linked with a
# resource script that embeds the two payloads. The sample payload (the
# payload probe) stands in for both unless MIR_SETUP_GUIDE_PAYLOAD and
# MIR_INSTALLER_PAYLOAD name real ones (the release preset takes them from
# the environment).

set(MIR_SAMPLE_PAYLOAD ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/payload_probe.exe)
set(MIR_SETUP_GUIDE_PAYLOAD "" CACHE FILEPATH
    "Setup guide embedded as resource 201 (default: the sample payload)")
set(MIR_INSTALLER_PAYLOAD "" CACHE FILEPATH
    "Real installer embedded as resource 202 (default: the sample payload)")

# The launcher's version resource: the version is MIR_VERSION (version.cmake),
# the names are the product's.
string(REPLACE ";" "," MIR_RC_VERSION_COMMAS "${MIR_VERSION_NUMBERS}")
set(MIR_PRODUCT_NAME "Mirelo Browser")
set(MIR_COMPANY_NAME "Mirelo")
set(MIR_FILE_DESCRIPTION "Mirelo Browser Setup")
set(MIR_COPYRIGHT "Copyright 2026 Mirelo. All rights reserved.")

# lld, through clang's MinGW driver, links the launcher (see link_with_lld.sh).
find_program(MIR_CLANGXX clang++ REQUIRED)

# mir_launcher(target OUTPUT_NAME name GUIDE file INSTALLER file): the
# launcher with these two files as its payloads.
function(mir_launcher target)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME;GUIDE;INSTALLER" "" ${ARGN})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  set(MIR_RC_ICON ${PROJECT_SOURCE_DIR}/mir_installer_win/setup_launcher/mirelo.ico)
  set(MIR_RC_GUIDE ${ARG_GUIDE})
  set(MIR_RC_INSTALLER ${ARG_INSTALLER})
  set(MIR_RC_MANIFEST ${PROJECT_SOURCE_DIR}/cmake/launcher.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/launcher.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES
    OBJECT_DEPENDS "${ARG_GUIDE};${ARG_INSTALLER};${MIR_RC_ICON};${MIR_RC_MANIFEST}")
  mir_program(${target} GUI SOURCES ${rc} DEPS mir_setup_launcher_main)
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:mir_setup_launcher_main>)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
  # File offsets equal to section offsets (sections are page-aligned by
  # default), so the loader maps the image (and its 233 MB of payload)
  # straight from the file instead of reading it all.
  target_link_options(${target} PRIVATE -Wl,--file-alignment=4096)
  # lld fills the load-configuration entry from the launcher's own structure
  # (DependentLoadFlags); GNU ld would leave it empty.
  set_target_properties(${target} PROPERTIES
    CXX_LINKER_LAUNCHER "sh;${PROJECT_SOURCE_DIR}/cmake/link_with_lld.sh;${MIR_CLANGXX}")
  if(ARG_GUIDE STREQUAL MIR_SAMPLE_PAYLOAD OR ARG_INSTALLER STREQUAL MIR_SAMPLE_PAYLOAD)
    add_dependencies(${target} payload_probe)
  endif()
endfunction()
