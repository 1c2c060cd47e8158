# Fails unless the library exports exactly the entry points and the string functions.
# Usage: cmake -DLIBRARY=<path> -P check_exports.cmake
execute_process(COMMAND nm -D --defined-only ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^ \n]+\n" lines "${listing}")
set(names "")
foreach(line IN LISTS lines)
  string(STRIP "${line}" name)
  list(APPEND names ${name})
endforeach()
list(SORT names)
set(expected CLOSE DAYCLOSE GENERATE_KEYID GETSTATUS GETTOTALS OPEN PAY REPRINT SysAllocString
    SysAllocStringLen SysFreeString SysStringLen VERIFYTRAN VERSION)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported: ${names}\nexpected: ${expected}")
endif()
