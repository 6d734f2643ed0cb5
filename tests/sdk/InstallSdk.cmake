# cmake -DBUILD_DIR=tree -DPREFIX=folder -P InstallSdk.cmake
# Installs the SDK component of the build tree into a fresh PREFIX, and fails
# when the prefix lacks what an author needs or holds anything else (a test,
# the host, another component's files).
cmake_minimum_required(VERSION 3.20)
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX} --component vx_sdk2
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${out}${err}")
endif()

set(needed include/vx_sdk2/VXSdkVersion.h include/vx_sdk2/VXModule_base.h include/vx_sdk2/VXPluginEntry.h
           include/vx_sdk2/VXHostAbi.h lib/libvx_sdk2.a lib/cmake/vx_sdk2/vx_sdk2Config.cmake
           lib/cmake/vx_sdk2/vx_sdk2ConfigVersion.cmake lib/cmake/vx_sdk2/vx_sdk2Plugin.cmake
           lib/cmake/vx_sdk2/vx_sdk2Targets.cmake share/vx_sdk2/VXPluginEntry.cpp share/vx_sdk2/plugin.def
           share/vx_sdk2/plugin.map share/vx_sdk2/toolchains/toolchain-linux32.cmake
           share/vx_sdk2/toolchains/toolchain-win32.cmake)
foreach(file ${needed})
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "the installed SDK lacks ${file}")
  endif()
endforeach()

set(allowed "^(include/vx_sdk2/VX[A-Za-z_]+\\.h|lib/libvx_sdk2\\.a|lib/cmake/vx_sdk2/vx_sdk2[A-Za-z-]*\\.cmake|share/vx_sdk2/(VXPluginEntry\\.cpp|plugin\\.def|plugin\\.map|toolchains/toolchain-[a-z0-9]+\\.cmake))$")
file(GLOB_RECURSE installed RELATIVE ${PREFIX} ${PREFIX}/*)
foreach(file ${installed})
  if(NOT file MATCHES "${allowed}")
    message(FATAL_ERROR "the installed SDK holds ${file}, which an author does not need")
  endif()
endforeach()
list(LENGTH installed count)
message(STATUS "${count} files in ${PREFIX}")
