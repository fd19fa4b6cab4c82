# The same Windows cross build with clang in place of GCC, over Debian's mingw-w64 headers,
# libstdc++ and linker (the GCC cross build's packages):
#   cmake -S . -B build-win-clang -DCMAKE_TOOLCHAIN_FILE=cmake/clang-mingw-w64.cmake
# The bridge's own Windows toolchain is not GCC: code only GCC accepts must not reach it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${MINGW_TRIPLET})
set(CMAKE_CXX_COMPILER_TARGET ${MINGW_TRIPLET})
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

# clang finds mingw's C headers and linker by itself, but not the C++ library of the GCC cross
# compiler (posix thread model: std::thread and std::mutex over winpthreads).
set(mingw_gcc /usr/lib/gcc/${MINGW_TRIPLET}/12-posix)
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${mingw_gcc}/include/c++ -isystem ${mingw_gcc}/include/c++/${MINGW_TRIPLET}")
set(CMAKE_CXX_STANDARD_LIBRARIES "-L${mingw_gcc} -Wl,-Bstatic -lstdc++ -lpthread")
set(CMAKE_C_STANDARD_LIBRARIES "-L${mingw_gcc} -Wl,-Bstatic -lstdc++ -lpthread")

include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
