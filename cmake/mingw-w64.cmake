# Cross-builds for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64).
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DPLOTMINT_DEPS_PREFIX=DIR ...
#
# PLOTMINT_DEPS_PREFIX is where libUEMF and GoogleTest were built for Windows
# (scripts/build-windows.sh makes build-win/deps); libraries, headers and CMake packages are
# looked up there and in the MinGW-w64 sysroot, never among the build machine's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PLOTMINT_MINGW_TRIPLE x86_64-w64-mingw32)
# The posix thread flavour: GCC 12's libstdc++ has std::thread and std::mutex only there
# (the win32 flavour, Debian's default alternative, lacks them).
set(CMAKE_C_COMPILER ${PLOTMINT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PLOTMINT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PLOTMINT_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${PLOTMINT_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${PLOTMINT_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

# MinGW's off_t and struct stat's st_size are 32 bits unless asked: a graph file or picture
# past 2 GiB would be misread. 64 bits, as on 64-bit Linux.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")

# A program that runs on a Windows without MinGW's DLLs beside it: libgcc, libstdc++ and
# winpthreads linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# try_run, gtest_discover_tests and ctest start Windows programs through Wine.
find_program(PLOTMINT_WINE NAMES wine wine64 wine-stable)
if(PLOTMINT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PLOTMINT_WINE})
endif()
# Listing the tests at build time would start Wine once per test program during the
# build; ctest lists them when it runs them instead.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# The variable reaches try_compile projects too, which read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PLOTMINT_DEPS_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/${PLOTMINT_MINGW_TRIPLE})
if(PLOTMINT_DEPS_PREFIX)
  list(PREPEND CMAKE_FIND_ROOT_PATH ${PLOTMINT_DEPS_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
