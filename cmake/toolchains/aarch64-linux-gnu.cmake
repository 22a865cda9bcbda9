# Linux on 64-bit ARM with Debian's cross compiler (g++-aarch64-linux-gnu),
# linked statically; tests run under qemu-aarch64-static (qemu-user-static).
#   cmake -S . -B build/arm -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake -DMIRTLE_PYTHON=OFF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(mirtle_triple aarch64-linux-gnu)

set(CMAKE_C_COMPILER ${mirtle_triple}-gcc)
set(CMAKE_CXX_COMPILER ${mirtle_triple}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${mirtle_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(mirtle_qemu NAMES qemu-aarch64-static qemu-aarch64 NO_CMAKE_FIND_ROOT_PATH)
if(mirtle_qemu)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${mirtle_qemu} -L /usr/${mirtle_triple})
endif()
