# What makes a module an in-process COM server on Windows: exactly the four
# COM exports (a .def file) and the version resource an administrator sees in
# the file's properties.
#   shv_com_module(target "file description")   exports and version resource
#   shv_version_resource(target)                 version resource only (called
#                                                by shv_resources for modules)
# Nothing to add on other platforms.

# File descriptions of the deliverables, by target.
set(shv_deliverables healthval healthcfg)
set(shv_file_descriptions
  healthval "Vexor System Health Validator"
  healthcfg "Vexor System Health Validator Configuration")

function(shv_version_resource target)
  if(NOT WIN32)
    return()
  endif()
  get_target_property(type ${target} TYPE)
  get_target_property(done ${target} SHV_VERSION_RESOURCE)
  if(NOT type STREQUAL "SHARED_LIBRARY" OR done)
    return()
  endif()
  set(SHV_FILE_DESCRIPTION "${ARGN}")
  if(NOT SHV_FILE_DESCRIPTION)
    list(FIND shv_file_descriptions ${target} at)
    if(at GREATER_EQUAL 0)
      math(EXPR at "${at} + 1")
      list(GET shv_file_descriptions ${at} SHV_FILE_DESCRIPTION)
    else()
      set(SHV_FILE_DESCRIPTION ${target})
    endif()
  endif()
  get_target_property(SHV_ORIGINAL_NAME ${target} OUTPUT_NAME)
  if(NOT SHV_ORIGINAL_NAME)
    set(SHV_ORIGINAL_NAME ${target})
  endif()
  set(SHV_ORIGINAL_NAME "${SHV_ORIGINAL_NAME}.dll")
  string(REPLACE "." "," SHV_VERSION_COMMAS ${PROJECT_VERSION})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_target_properties(${target} PROPERTIES SHV_VERSION_RESOURCE ON)
endfunction()

function(shv_com_module target description)
  if(NOT WIN32)
    return()
  endif()
  shv_version_resource(${target} "${description}")
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/platform/win32/com/com_server.def)
endfunction()
