# Compiler settings shared by every target, and vx_add_plugin().

# The same inputs give the same output samples on all three targets: no
# fused multiply-add anywhere, and SSE2 arithmetic instead of x87 on 32-bit.
add_compile_options(-ffp-contract=off -Wall -Wextra)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "i686|i386|x86$")
  add_compile_options(-msse2 -mfpmath=sse)
  set(VX_TARGET_32BIT ON)
endif()

if(WIN32)
  # A plug-in DLL or test program needs only system DLLs.
  add_link_options(-static-libgcc -static-libstdc++ -static)
endif()

# -O1, as the sanitizers advise: unoptimised, the oscillator's vector code
# runs some forty times slower than in a release build, which makes the
# validator's longest checks last minutes.
if(VX_SANITIZE)
  add_compile_options(-O1 -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

set(VX_PLUGIN_DIR ${CMAKE_BINARY_DIR}/plugins)
set(VX_SDK_DIR ${CMAKE_SOURCE_DIR}/vx_sdk2)

# vx_add_plugin(NAME SOURCES...): a plug-in library NAME.so / NAME.dll in
# build/<preset>/plugins, with the framework compiled in and only
# getModuleProperties and makeModule exported. One of the sources names the
# plug-in's module class with VX_REGISTER_MODULE (VXPluginEntry.h).
function(vx_add_plugin name)
  add_library(${name} MODULE ${ARGN} ${VX_SDK_DIR}/VXPluginEntry.cpp)
  target_link_libraries(${name} PRIVATE vx_sdk2)
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    LIBRARY_OUTPUT_DIRECTORY ${VX_PLUGIN_DIR}
    RUNTIME_OUTPUT_DIRECTORY ${VX_PLUGIN_DIR}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    target_sources(${name} PRIVATE ${VX_SDK_DIR}/plugin.def)
  else()
    target_link_options(${name} PRIVATE -Wl,--version-script=${VX_SDK_DIR}/plugin.map -Wl,-z,defs)
  endif()
endfunction()

# Where test programs find plug-ins; Wine sees the build tree on drive Z:.
if(WIN32)
  set(VX_PLUGIN_DIR_FOR_TESTS "Z:${VX_PLUGIN_DIR}")
else()
  set(VX_PLUGIN_DIR_FOR_TESTS "${VX_PLUGIN_DIR}")
endif()
