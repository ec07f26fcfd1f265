# Warnings for our own targets only; third-party headers come in as system
# includes and stay quiet.
function(shv_warnings target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra)
  endif()
endfunction()

# Test and benchmark programs are compiled on every run of the suite and
# debugged rarely: they get no debug information, and test code also only
# light optimisation (together about half the compile time of -O2 -g).
# Benchmarks keep the build type's optimisation, since their baselines are
# compiled in them. The libraries under test keep the build type's flags.
# shv_quick_build(target [OPTIMIZED])
function(shv_quick_build target)
  cmake_parse_arguments(ARG "OPTIMIZED" "" "" ${ARGN})
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    if(ARG_OPTIMIZED)
      target_compile_options(${target} PRIVATE $<$<CONFIG:RelWithDebInfo>:-g0>)
    else()
      target_compile_options(${target} PRIVATE $<$<CONFIG:RelWithDebInfo>:-O1 -g0>)
    endif()
  endif()
endfunction()
