# What both Windows cross builds share (mingw-w64.cmake with GCC, clang-mingw-w64.cmake with
# clang): where the target's libraries and packages are, the static runtime, no test suites.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# The test suites run on Linux against this build (scripts/test-windows.sh); GoogleTest has no
# Windows build in Debian.
set(MORVANE_BUILD_TESTS OFF CACHE BOOL "Build the test suites")

# nlohmann JSON is header-only, but its package lives in the build machine's /usr, and handing
# /usr/include to the cross compiler would put glibc's headers ahead of mingw's. A staging
# prefix in the build folder holds only the nlohmann headers and a copy of the package files,
# which locate the headers relative to themselves.
get_property(in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT in_try_compile)
  set(staging ${CMAKE_BINARY_DIR}/mingw-w64-deps)
  set(json_package ${staging}/share/cmake/nlohmann_json)
  if(NOT EXISTS ${json_package}/nlohmann_jsonConfig.cmake AND EXISTS /usr/include/nlohmann)
    file(MAKE_DIRECTORY ${staging}/include ${json_package})
    file(CREATE_LINK /usr/include/nlohmann ${staging}/include/nlohmann SYMBOLIC)
    file(GLOB json_package_files /usr/share/cmake/nlohmann_json/*.cmake)
    file(COPY ${json_package_files} DESTINATION ${json_package})
  endif()
  set(nlohmann_json_DIR ${json_package} CACHE PATH "nlohmann JSON package for the cross build")
endif()
