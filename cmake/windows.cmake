# Windows x64 with mingw-w64: modules and programs carry their runtime inside
# (no mingw DLLs next to them), target Windows 7 and later, and link the
# Boost.Thread static library built for this target.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SHV_THIRD_PARTY_PREFIX)
set(Boost_USE_STATIC_LIBS ON)
if(SHV_THIRD_PARTY_PREFIX)
  # The prefix scripts/build-windows fills: only it, never the build machine's.
  list(APPEND CMAKE_PREFIX_PATH ${SHV_THIRD_PARTY_PREFIX})
  set(BOOST_ROOT ${SHV_THIRD_PARTY_PREFIX})
  set(Boost_NO_BOOST_CMAKE ON)
  set(Boost_NO_SYSTEM_PATHS ON)
endif()

add_compile_definitions(
  _WIN32_WINNT=0x0601 WINVER=0x0601 BOOST_USE_WINAPI_VERSION=0x0601
  NOMINMAX BOOST_THREAD_USE_LIB BOOST_ALL_NO_LIB)
add_link_options(-static -static-libgcc -static-libstdc++)
# Modules and programs in one folder: Windows finds a module next to its host.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
# No "lib" prefix: the modules keep their Windows names (healthval.dll).
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_SHARED_MODULE_PREFIX "")
