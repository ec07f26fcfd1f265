# shv_resources(target data.json): the module's resources, generated from its
# one data file: embedded as a C++ table here, a resource script on Windows.
function(shv_resources target data)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  get_filename_component(module ${data} NAME_WE)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources)
  set(generator ${PROJECT_SOURCE_DIR}/resources/generate.py)
  add_custom_command(
    OUTPUT ${out}/${module}_resources.cpp ${out}/${module}.rc
    COMMAND ${Python3_EXECUTABLE} ${generator} --data ${data} --out-dir ${out}
    DEPENDS ${generator} ${data}
    COMMENT "Generating the resources of ${target} from ${module}.json"
    VERBATIM)
  if(WIN32)
    target_sources(${target} PRIVATE ${out}/${module}.rc)
    # The deliverables carry their version resource wherever they are built.
    if(${target} IN_LIST shv_deliverables)
      shv_version_resource(${target})
    endif()
    target_include_directories(${target} PRIVATE ${out})  # the icon files the script names
  else()
    target_sources(${target} PRIVATE ${out}/${module}_resources.cpp)
  endif()
endfunction()
