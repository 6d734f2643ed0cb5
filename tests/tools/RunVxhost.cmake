# Runs vxhost once for ctest, through the build's emulator where there is one
# (qemu-i386, Wine), and checks its exit status and output.
#   cmake -DVXHOST=... [-DRUNNER=...] -DARGS="a|b|c" -DSTATUS=N [-DEXPECT="regex|regex"] [-DWORK=folder]
#         [-DFILE=path relative to WORK that must exist afterwards] -P RunVxhost.cmake
string(REPLACE "|" ";" arguments "${ARGS}")
if(NOT WORK)
  set(WORK ${CMAKE_CURRENT_BINARY_DIR})
endif()
file(MAKE_DIRECTORY ${WORK})
if(FILE)
  file(REMOVE ${WORK}/${FILE})
endif()
execute_process(COMMAND ${RUNNER} ${VXHOST} ${arguments}
                WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("vxhost ${arguments}\n--- status ${status}\n--- output\n${out}--- errors\n${err}")
if(NOT status STREQUAL "${STATUS}")
  message(FATAL_ERROR "exit status ${status}, expected ${STATUS}")
endif()
if(EXPECT)
  string(REPLACE "|" ";" patterns "${EXPECT}")
  foreach(pattern ${patterns})
    if(NOT "${out}${err}" MATCHES "${pattern}")
      message(FATAL_ERROR "the output does not match: ${pattern}")
    endif()
  endforeach()
endif()
if(FILE AND NOT EXISTS ${WORK}/${FILE})
  message(FATAL_ERROR "${FILE} was not written")
endif()
