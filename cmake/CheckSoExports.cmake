# cmake -DNM=... -DLIBRARY=... -P CheckSoExports.cmake
# Fails unless getModuleProperties and makeModule are the only dynamic
# symbols the shared library defines.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n ]+\n" names "${dump}")
set(found "")
foreach(name ${names})
  string(STRIP "${name}" name)
  list(APPEND found "${name}")
endforeach()
list(SORT found)
if(NOT found STREQUAL "getModuleProperties;makeModule")
  message(FATAL_ERROR "${LIBRARY} exports: ${found}")
endif()
message(STATUS "${LIBRARY}: ${found}")
