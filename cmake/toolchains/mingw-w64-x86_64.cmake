# Windows x86_64 with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix: the
# POSIX thread model, which std::thread needs), linked statically so that
# the programs run on a bare Windows; tests run under wine64.
#   cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake -DMIRTLE_PYTHON=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(mirtle_triple x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${mirtle_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mirtle_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${mirtle_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mirtle_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(mirtle_wine NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(mirtle_wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${mirtle_wine})
endif()
