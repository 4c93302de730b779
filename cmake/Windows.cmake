# The Windows build, cross-compiled with mingw-w64 by tools/build-windows.sh:
# TarnwellFunctions.dll (static libcurl with Schannel, static C++ runtime),
# the command-line host twcall.exe and the Windows test host.
find_package(CURL REQUIRED CONFIG)

# nlohmann-json is header-only, but its package names /usr/include, which
# must never reach the cross compiler; a directory holding only its headers
# takes that place.
find_path(TW_JSON_HEADERS nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(TW_JSON_INCLUDE ${PROJECT_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${TW_JSON_INCLUDE})
file(CREATE_LINK ${TW_JSON_HEADERS}/nlohmann ${TW_JSON_INCLUDE}/nlohmann SYMBOLIC)

# The export table comes from the Linux version script, so the API is
# listed in one place; every name is exported plain, as written.
set(TW_EXPORT_MAP ${PROJECT_SOURCE_DIR}/src/exports.map)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TW_EXPORT_MAP})
file(READ ${TW_EXPORT_MAP} TW_MAP_TEXT)
string(REGEX REPLACE ".*global:(.*)local:.*" "\\1" TW_MAP_GLOBAL "${TW_MAP_TEXT}")
string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*;" TW_EXPORTS "${TW_MAP_GLOBAL}")
string(REPLACE ";;" "\n  " TW_DEF_LINES "${TW_EXPORTS}")
string(REPLACE ";" "" TW_DEF_LINES "${TW_DEF_LINES}")
set(TW_DEF_FILE ${PROJECT_BINARY_DIR}/TarnwellFunctions.def)
file(WRITE ${TW_DEF_FILE} "LIBRARY TarnwellFunctions.dll\nEXPORTS\n  ${TW_DEF_LINES}\n")

# Hosts find nothing of libstdc++, libgcc or winpthread at run time: all of
# it is linked in, so the DLL needs only Windows' own DLLs.
set(TW_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
# Release binaries ship without symbol tables (half their size).
add_link_options($<$<CONFIG:Release>:-s>)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})

file(GLOB TW_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*.cpp)
add_library(TarnwellFunctions SHARED ${TW_SOURCES} ${TW_DEF_FILE})
target_include_directories(TarnwellFunctions PRIVATE ${PROJECT_SOURCE_DIR}/include ${TW_JSON_INCLUDE})
target_link_libraries(TarnwellFunctions PRIVATE CURL::libcurl)
target_link_options(TarnwellFunctions PRIVATE ${TW_STATIC_RUNTIME})
set_target_properties(TarnwellFunctions PROPERTIES PREFIX "" IMPORT_PREFIX "" LINK_DEPENDS ${TW_EXPORT_MAP})
# The entry point skips the C runtime's tear-down at process exit
# (src/DllEntry.cpp says why); i686 names a stdcall function _name@N.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(TarnwellFunctions PRIVATE -Wl,--entry,_TwDllEntry@12)
else()
  target_link_options(TarnwellFunctions PRIVATE -Wl,--entry,TwDllEntry)
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The 32-bit exports are stdcall (TW_CALLCONV), so the compiler names them
  # _name@N. The .def file exports them under their plain names (ld's stdcall
  # fix-up finds name@N for name) and --kill-at drops the decorated aliases
  # that __declspec(dllexport) would put beside them.
  target_link_options(TarnwellFunctions PRIVATE -Wl,--enable-stdcall-fixup -Wl,--kill-at)
endif()

add_executable(twcall ${PROJECT_SOURCE_DIR}/tools/twcall.cpp)
target_include_directories(twcall PRIVATE ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/tools ${TW_JSON_INCLUDE})
target_link_options(twcall PRIVATE ${TW_STATIC_RUNTIME})

if(TW_BUILD_TESTS)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_executable(tw_windows_host ${PROJECT_SOURCE_DIR}/tests/windows/windows_host_test.cpp)
  target_include_directories(tw_windows_host PRIVATE ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/tools
                             ${TW_JSON_INCLUDE})
  target_link_libraries(tw_windows_host PRIVATE GTest::gtest GTest::gtest_main)
  target_link_options(tw_windows_host PRIVATE ${TW_STATIC_RUNTIME})
  add_dependencies(tw_windows_host TarnwellFunctions)
endif()
