# What making and checking a release share: the release's name from the
# project's version, the plug-ins it carries, and `run`, which runs a command
# and stops the script with its output when it fails (output in run_output).
get_filename_component(root ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
file(STRINGS ${root}/CMakeLists.txt project_line REGEX "^project\\(")
if(NOT project_line MATCHES "VERSION ([0-9]+\\.[0-9]+\\.[0-9]+)")
  message(FATAL_ERROR "no project(... VERSION x.y.z) in ${root}/CMakeLists.txt")
endif()
set(VERSION ${CMAKE_MATCH_1})
set(NAME vx-plugins-${VERSION})
set(plugins ramplet sumtone)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${command} failed:\n${out}${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()
