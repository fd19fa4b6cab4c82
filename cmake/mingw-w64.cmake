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

include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
