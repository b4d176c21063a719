# Cross toolchain for 64-bit ARM Linux with Debian's cross compilers (crossbuild-essential-arm64)
# and the arm64 libraries of a multiarch system (zlib1g-dev:arm64 and so on). Programs and
# tests run under qemu-user; scripts/cross_arm64.sh drives it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
find_program(VG_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
if(VG_QEMU_AARCH64)
  # On the system's arm64 C library (libc6:arm64): see scripts/cross_arm64.sh.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VG_QEMU_AARCH64})
endif()
