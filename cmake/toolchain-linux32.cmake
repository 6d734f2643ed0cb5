# 32-bit x86 Linux build on an x86_64 machine (g++-multilib).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)

# Where the machine cannot execute 32-bit x86 programs, run.sh names an
# emulator (qemu-i386) for the tests to run under; empty, they run directly.
set(VX_I386_EMULATOR "" CACHE STRING "Command that runs the 32-bit test programs (empty: run them directly)")
if(VX_I386_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VX_I386_EMULATOR})
endif()
