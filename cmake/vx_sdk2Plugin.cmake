# How a plug-in library is built: the compiler and linker options every
# plug-in needs, and vx_add_plugin(). This one file serves this repository's
# plug-ins and, installed beside vx_sdk2Config.cmake, every plug-in built
# outside it against the installed SDK, so both follow the same rules.
#
# The includer first sets VX_SDK2_ENTRY_DIR, the folder that holds the
# exported entry points (VXPluginEntry.cpp) and the export lists
# (plugin.def, plugin.map), and defines the target vx_sdk2::vx_sdk2. It may
# set VX_SDK2_PLUGIN_OUTPUT_DIRECTORY, the folder plug-ins are written to
# (by default each plug-in's own build folder).

# The same inputs give the same output samples on every target: no fused
# multiply-add anywhere, and SSE2 arithmetic instead of x87 on 32-bit x86,
# whose 80-bit registers would round differently from one build to the next.
set(VX_SDK2_COMPILE_OPTIONS -ffp-contract=off)
set(VX_SDK2_TARGET_32BIT OFF)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "i686|i386|x86$")
  list(APPEND VX_SDK2_COMPILE_OPTIONS -msse2 -mfpmath=sse)
  set(VX_SDK2_TARGET_32BIT ON)
endif()

# A plug-in DLL needs only system DLLs: the host's machine has no MinGW
# runtime.
set(VX_SDK2_LINK_OPTIONS "")
if(WIN32)
  set(VX_SDK2_LINK_OPTIONS -static-libgcc -static-libstdc++ -static)
endif()

# vx_sdk2_target_rules(TARGET): the floating-point and runtime options of a
# plug-in, for a library of the plug-in's own (a kernel it links in) that is
# not made by vx_add_plugin.
function(vx_sdk2_target_rules target)
  target_compile_options(${target} PRIVATE ${VX_SDK2_COMPILE_OPTIONS})
  target_link_options(${target} PRIVATE ${VX_SDK2_LINK_OPTIONS})
  set_target_properties(${target} PROPERTIES
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    POSITION_INDEPENDENT_CODE ON)
endfunction()

# vx_add_plugin(NAME name SOURCES source... [OUTPUT_DIRECTORY dir])
# vx_add_plugin(name source...)
#
# A plug-in library the host loads: name.so on Linux, name.dll on Windows,
# with no "lib" in front, the framework compiled in, and getModuleProperties
# and makeModule its only exports. One of the sources names the module class
# with VX_REGISTER_MODULE (VXPluginEntry.h). The sources see VX_PLUGIN_NAME,
# the name as a string, so a module can take its identifier from it.
function(vx_add_plugin)
  if(ARGC GREATER 0 AND ARGV0 STREQUAL "NAME")
    cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;OUTPUT_DIRECTORY" "SOURCES")
    if(arg_UNPARSED_ARGUMENTS OR arg_KEYWORDS_MISSING_VALUES)
      message(FATAL_ERROR "vx_add_plugin: unexpected ${arg_UNPARSED_ARGUMENTS}${arg_KEYWORDS_MISSING_VALUES}; "
                          "write vx_add_plugin(NAME name SOURCES source...)")
    endif()
  else()
    set(arg_SOURCES ${ARGN})
    list(POP_FRONT arg_SOURCES arg_NAME)
  endif()
  if(NOT arg_NAME OR NOT arg_SOURCES)
    message(FATAL_ERROR "vx_add_plugin: a plug-in needs a NAME and at least one source")
  endif()
  if(NOT arg_OUTPUT_DIRECTORY AND VX_SDK2_PLUGIN_OUTPUT_DIRECTORY)
    set(arg_OUTPUT_DIRECTORY ${VX_SDK2_PLUGIN_OUTPUT_DIRECTORY})
  endif()

  set(name ${arg_NAME})
  add_library(${name} MODULE ${arg_SOURCES} ${VX_SDK2_ENTRY_DIR}/VXPluginEntry.cpp)
  target_link_libraries(${name} PRIVATE vx_sdk2::vx_sdk2)
  target_compile_definitions(${name} PRIVATE VX_PLUGIN_NAME="${name}")
  vx_sdk2_target_rules(${name})
  # The host finds a plug-in by its file name: no "lib" on any platform.
  set_target_properties(${name} PROPERTIES PREFIX "")
  if(arg_OUTPUT_DIRECTORY)
    # Both kinds of output folder, so that the library lands there whichever
    # kind of artifact the platform makes of it.
    set_target_properties(${name} PROPERTIES
      LIBRARY_OUTPUT_DIRECTORY ${arg_OUTPUT_DIRECTORY}
      RUNTIME_OUTPUT_DIRECTORY ${arg_OUTPUT_DIRECTORY})
  endif()
  # Only the two entry points are exported: by name and by ordinal on
  # Windows, as the only dynamic symbols on Linux, where -z defs also turns
  # a symbol the library forgot to define into a link error rather than a
  # plug-in the host cannot load.
  if(WIN32)
    target_sources(${name} PRIVATE ${VX_SDK2_ENTRY_DIR}/plugin.def)
  else()
    target_link_options(${name} PRIVATE -Wl,--version-script=${VX_SDK2_ENTRY_DIR}/plugin.map -Wl,-z,defs)
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${VX_SDK2_ENTRY_DIR}/plugin.map)
  endif()
endfunction()
