# cmake -DSOURCE=folder -DWORK=folder -DPREFIX=sdk-prefix -DGENERATOR=... -P OutsideBuild.cmake
#   [-DMAKE_PROGRAM=...] [-DBUILD_TYPE=...] [-DTOOLCHAIN=file] [-DLAUNCHER=ccache]
#   [-DCACHE_ARGS=-DA=1|-DB=2] [-DRENAME=name] [-DPLUGIN=file-name]
#   [-DCHECK_EXPORTS=script -DTOOL_VAR=NM|OBJDUMP -DTOOL=path] [-DEXPECT_FAILURE=regex]
#
# Builds SOURCE as an author outside this repository would: a copy of the
# folder alone, configured and built against the SDK installed in PREFIX,
# with no package registry and no CMAKE_PREFIX_PATH from the environment, so
# nothing of the source tree can leak in. RENAME changes the project() line
# and nothing else, as an author starting a plug-in of their own does.
# PLUGIN names the library the build must produce, whose exports
# CHECK_EXPORTS then checks. With EXPECT_FAILURE the configuration must fail
# with a message matching it.
cmake_minimum_required(VERSION 3.20)
foreach(var SOURCE WORK PREFIX GENERATOR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "OutsideBuild.cmake needs -D${var}=...")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/src)
# The folder's own files only: not a build an author may have made inside it.
file(COPY ${SOURCE}/ DESTINATION ${WORK}/src PATTERN CMakeCache.txt EXCLUDE PATTERN CMakeFiles EXCLUDE
     PATTERN "build*" EXCLUDE)

if(RENAME)
  file(READ ${WORK}/src/CMakeLists.txt lists)
  string(REGEX MATCHALL "\nproject\\([A-Za-z0-9_]+ " projects "${lists}")
  list(LENGTH projects count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "${SOURCE}/CMakeLists.txt should have one project() line to rename, has ${count}")
  endif()
  string(REGEX REPLACE "\nproject\\([A-Za-z0-9_]+ " "\nproject(${RENAME} " lists "${lists}")
  file(WRITE ${WORK}/src/CMakeLists.txt "${lists}")
endif()

set(args -S ${WORK}/src -B ${WORK}/build -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${PREFIX}
         -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
if(MAKE_PROGRAM)
  list(APPEND args -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM})
endif()
if(BUILD_TYPE)
  list(APPEND args -DCMAKE_BUILD_TYPE=${BUILD_TYPE})
endif()
if(TOOLCHAIN)
  list(APPEND args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()
if(LAUNCHER)
  list(APPEND args -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER})
endif()
if(CACHE_ARGS)
  string(REPLACE "|" ";" extra "${CACHE_ARGS}")
  list(APPEND args ${extra})
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=CMAKE_PREFIX_PATH --unset=vx_sdk2_DIR --unset=vx_sdk2_ROOT
                        ${CMAKE_COMMAND} ${args}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(DEFINED EXPECT_FAILURE)
  if(rc EQUAL 0)
    message(FATAL_ERROR "configuring ${SOURCE} succeeded, but should have failed:\n${out}")
  endif()
  if(NOT "${out}${err}" MATCHES "${EXPECT_FAILURE}")
    message(FATAL_ERROR "configuring ${SOURCE} failed, but not with \"${EXPECT_FAILURE}\":\n${out}${err}")
  endif()
  message(STATUS "configuring failed as it should: ${EXPECT_FAILURE}")
  return()
endif()
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "configuring ${SOURCE} against ${PREFIX} failed:\n${out}${err}")
endif()

# The package must have come from PREFIX and nowhere else.
file(STRINGS ${WORK}/build/CMakeCache.txt found REGEX "^vx_sdk2_DIR:")
string(REGEX REPLACE "^[^=]*=" "" found "${found}")
file(REAL_PATH "${PREFIX}" real_prefix)
file(REAL_PATH "${found}" real_found)
string(FIND "${real_found}" "${real_prefix}/" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "vx_sdk2 was found in ${found}, not in ${PREFIX}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build RESULT_VARIABLE rc OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "building ${SOURCE} against ${PREFIX} failed:\n${out}${err}")
endif()

if(PLUGIN)
  if(NOT EXISTS ${WORK}/build/${PLUGIN})
    file(GLOB made RELATIVE ${WORK}/build ${WORK}/build/*.so ${WORK}/build/*.dll)
    message(FATAL_ERROR "the build made ${made}, not ${PLUGIN}")
  endif()
  if(CHECK_EXPORTS)
    execute_process(COMMAND ${CMAKE_COMMAND} -D${TOOL_VAR}=${TOOL} -DLIBRARY=${WORK}/build/${PLUGIN}
                            -DDLL=${WORK}/build/${PLUGIN} -P ${CHECK_EXPORTS}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${PLUGIN}: ${out}${err}")
    endif()
  endif()
  message(STATUS "built ${WORK}/build/${PLUGIN} against ${PREFIX}")
endif()
