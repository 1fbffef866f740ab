# arm64 build, run under user-mode emulation. Clang cross-compiles against a
# sysroot of Debian's arm64 packages that build.sh unpacks (ZPX_SYSROOT): the
# machine keeps its own packages, and GCC's arm64 cross compiler cannot be
# installed beside the 32-bit build's g++-multilib.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZPX_SYSROOT)
if(NOT ZPX_SYSROOT OR NOT EXISTS "${ZPX_SYSROOT}/usr/include")
  message(FATAL_ERROR "ZPX_SYSROOT must name the unpacked arm64 packages (build.sh test makes it)")
endif()
set(CMAKE_SYSROOT "${ZPX_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "${ZPX_SYSROOT}/usr/lib/aarch64-linux-gnu/pkgconfig:${ZPX_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${ZPX_SYSROOT}")

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L "${ZPX_SYSROOT}")

# Debian's binutils-aarch64-linux-gnu: the linker clang calls, and the tools the tests read the module with.
set(CMAKE_NM aarch64-linux-gnu-nm CACHE FILEPATH "")
set(CMAKE_OBJDUMP aarch64-linux-gnu-objdump CACHE FILEPATH "")
