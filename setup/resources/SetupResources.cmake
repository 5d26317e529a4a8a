# The resources of the setup program: application manifest, version resource, payload container, and the
# build stamp written into the resource directory after linking.
#
#   qor_setup_resources(<target> <payload-file> [STAMP_REPORT <file>])
#     attaches the resources to an executable target and stamps it after every link. <payload-file> is
#     normally ${QOR_PAYLOAD_I686} (the setup for users) or ${QOR_PAYLOAD_X86_64} (the setup for Wine).
#     STAMP_REPORT writes "0xXXXXXXXX YYYY-MM-DD HH:MM:SS" of the written stamp to <file> (for tests).
#
# The maker's settings below go into the version resource and into the generated header
# QuorvexSetupBuildInfo.h (directory QOR_SETUP_BUILD_INFO_DIR) for the main window.

set(QOR_MAKER_NAME "Quorvex developers" CACHE STRING "The maker's name (CompanyName, notice line)")
set(QOR_LEGAL_NOTICE "Copyright (C) Quorvex developers" CACHE STRING "The maker's legal notice (LegalCopyright)")
set(QOR_HOME_PAGE "https://www.example.org/quorvex" CACHE STRING "The maker's home page address")

foreach(var QOR_MAKER_NAME QOR_LEGAL_NOTICE QOR_HOME_PAGE)
  if("${${var}}" MATCHES "[\r\n]")
    message(FATAL_ERROR "${var} must be one line of text")
  endif()
  # Resource script strings double their quotes and escape backslashes; C++ literals escape both.
  string(REPLACE "\\" "\\\\" esc "${${var}}")
  string(REPLACE "\"" "\"\"" rc_value "${esc}")
  string(REPLACE "\"" "\\\"" cxx_value "${esc}")
  string(REPLACE "QOR_" "QOR_RC_" rc_name ${var})
  string(REPLACE "QOR_" "QOR_CXX_" cxx_name ${var})
  set(${rc_name} "${rc_value}")
  set(${cxx_name} "${cxx_value}")
endforeach()

set(QOR_SETUP_BUILD_INFO_DIR ${CMAKE_BINARY_DIR}/generated/setup)
configure_file(${CMAKE_CURRENT_LIST_DIR}/QuorvexSetupBuildInfo.h.in
               ${QOR_SETUP_BUILD_INFO_DIR}/QuorvexSetupBuildInfo.h @ONLY)
# Remembered for qor_setup_resources, which runs in other directories.
set_property(GLOBAL PROPERTY QOR_RC_MAKER_NAME "${QOR_RC_MAKER_NAME}")
set_property(GLOBAL PROPERTY QOR_RC_LEGAL_NOTICE "${QOR_RC_LEGAL_NOTICE}")

function(qor_setup_resources target payload)
  cmake_parse_arguments(R "" "STAMP_REPORT" "" ${ARGN})
  if(NOT payload)
    message(FATAL_ERROR "qor_setup_resources(${target}): no payload file given")
  endif()
  if(NOT QOR_HOST_STAMP_TOOL)
    message(FATAL_ERROR "qor_setup_resources(${target}): the payload folder must be added first")
  endif()
  get_property(QOR_RC_MAKER_NAME GLOBAL PROPERTY QOR_RC_MAKER_NAME)
  get_property(QOR_RC_LEGAL_NOTICE GLOBAL PROPERTY QOR_RC_LEGAL_NOTICE)
  set(manifest ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/QuorvexSetup.manifest)
  string(REPLACE "\"" "\"\"" QOR_RC_MANIFEST "${manifest}")
  string(REPLACE "\"" "\"\"" QOR_RC_PAYLOAD "${payload}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources/QuorvexSetup.rc)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/QuorvexSetup.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${payload};${manifest}")

  if(payload STREQUAL QOR_PAYLOAD_I686)
    add_dependencies(${target} qor_payload_i686)
  elseif(payload STREQUAL QOR_PAYLOAD_X86_64)
    add_dependencies(${target} qor_payload_x86_64)
  endif()
  add_dependencies(${target} qor_host_tools)
  set(report)
  if(R_STAMP_REPORT)
    set(report --report ${R_STAMP_REPORT})
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${QOR_HOST_STAMP_TOOL} ${report} $<TARGET_FILE:${target}>
    COMMENT "Writing the build time into ${target}" VERBATIM)
endfunction()
