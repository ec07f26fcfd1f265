# Cross-building for 64-bit Windows with mingw-w64 (the posix thread flavour:
# std::thread and std::mutex). Programs built here run under Wine, so ctest
# and the build's own test discovery work unchanged. On Windows with mingw,
# configure without this file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SHV_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SHV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SHV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${SHV_MINGW_TRIPLET}-windres)

# Only the cross prefix and the third-party prefix are searched for
# libraries and headers: never the build machine's /usr/include.
set(CMAKE_FIND_ROOT_PATH /usr/${SHV_MINGW_TRIPLET} ${SHV_THIRD_PARTY_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(SHV_WINE wine)
if(SHV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SHV_WINE})
endif()
