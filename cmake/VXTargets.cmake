# Compiler settings shared by every target. The rules a plug-in is built by,
# and vx_add_plugin(), are in vx_sdk2Plugin.cmake, which the installed SDK
# carries too.

set(VX_PLUGIN_DIR ${CMAKE_BINARY_DIR}/plugins)
set(VX_SDK_DIR ${CMAKE_SOURCE_DIR}/vx_sdk2)
set(VX_SDK2_ENTRY_DIR ${VX_SDK_DIR})
set(VX_SDK2_PLUGIN_OUTPUT_DIRECTORY ${VX_PLUGIN_DIR})
include(${CMAKE_CURRENT_LIST_DIR}/vx_sdk2Plugin.cmake)

# The host, the tests and the benchmarks compute as the plug-ins do, so that
# what they compare against is computed the same way on every target, and
# the test programs need only system DLLs too.
add_compile_options(${VX_SDK2_COMPILE_OPTIONS} -Wall -Wextra)
add_link_options(${VX_SDK2_LINK_OPTIONS})
set(VX_TARGET_32BIT ${VX_SDK2_TARGET_32BIT})

# -O1, as the sanitizers advise: unoptimised, the oscillator's vector code
# runs some forty times slower than in a release build, which makes the
# validator's longest checks last minutes.
if(VX_SANITIZE)
  add_compile_options(-O1 -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Where test programs find plug-ins; Wine sees the build tree on drive Z:.
if(WIN32)
  set(VX_PLUGIN_DIR_FOR_TESTS "Z:${VX_PLUGIN_DIR}")
else()
  set(VX_PLUGIN_DIR_FOR_TESTS "${VX_PLUGIN_DIR}")
endif()
