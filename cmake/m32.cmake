# 32-bit x86 build, run under user-mode emulation: the kernels of our machines
# do not execute 32-bit binaries directly. The compiler and the C and C++
# libraries are the machine's multilib ones; the image libraries of the zpx
# program come from Debian's i386 packages, which build.sh unpacks into
# ZPX_SYSROOT (without it, the program is not built).
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
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L "${ZPX_SYSROOT}")
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386)
endif()
