# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake && cmake --build build-win
# gives bin/morvane-bridge.exe beside bin/MorvaneSdk.dll. Everything is linked against the static
# C++ runtime and winpthreads, so the exe and the DLLs need no other DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
# The posix thread model: the win32 one of GCC 12 has no std::thread or std::mutex.
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

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
