# shv_com_module(target "file description"): what makes a module an
# in-process COM server on Windows: exactly the four COM exports (a .def
# file) and the version resource an administrator sees in the file's
# properties. Nothing to add elsewhere.
function(shv_com_module target description)
  if(NOT WIN32)
    return()
  endif()
  set(SHV_FILE_DESCRIPTION "${description}")
  get_target_property(SHV_ORIGINAL_NAME ${target} OUTPUT_NAME)
  if(NOT SHV_ORIGINAL_NAME)
    set(SHV_ORIGINAL_NAME ${target})
  endif()
  set(SHV_ORIGINAL_NAME "${SHV_ORIGINAL_NAME}.dll")
  string(REPLACE "." "," SHV_VERSION_COMMAS ${PROJECT_VERSION})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc} ${PROJECT_SOURCE_DIR}/platform/win32/com_server.def)
endfunction()
