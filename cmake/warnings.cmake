# Warnings for our own targets only; third-party headers come in as system
# includes and stay quiet.
function(shv_warnings target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra)
  endif()
endfunction()
