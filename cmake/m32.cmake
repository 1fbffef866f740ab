# 32-bit x86 build, run under user-mode emulation: the kernels of our machines
# do not execute 32-bit binaries directly. The compiler links against the
# machine's multilib C and C++ libraries; the image libraries of the zpx
# program come from Debian's i386 packages, which build.sh unpacks with their
# dependencies into ZPX_SYSROOT (without it, the program is not built), and
# the emulator runs the programs with that sysroot's C library.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZPX_SYSROOT)
if(ZPX_SYSROOT)
  list(APPEND CMAKE_FIND_ROOT_PATH "${ZPX_SYSROOT}")
  set(ENV{PKG_CONFIG_LIBDIR} "${ZPX_SYSROOT}/usr/lib/i386-linux-gnu/pkgconfig:${ZPX_SYSROOT}/usr/share/pkgconfig")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "${ZPX_SYSROOT}")
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L "${ZPX_SYSROOT}")
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386)
endif()
