# Static checks of the Windows DLL, run after every link and as a test; none needs Wine.
#  - the machine type is the one the build targets (i386 or x86-64);
#  - the export table holds exactly the ten entry points, undecorated;
#  - 32-bit: the module definition maps each name to its stdcall symbol with 12 bytes of
#    arguments (NAME=NAME@12), and the objects define exactly those symbols;
#  - the imports are system DLLs only: the MinGW runtime (libstdc++, libgcc, libwinpthread)
#    is linked in, never shipped beside the DLL.
# Usage: cmake -DLIBRARY=<dll> -DOBJDUMP=<objdump> -DNM=<nm> -DBITS=<32|64> -DDEF=<.def file>
#              -DOBJECTS=<object files separated by |> -P check_dll_win.cmake
cmake_policy(SET CMP0057 NEW)  # IN_LIST
set(entry_points CLOSE DAYCLOSE GENERATE_KEYID GETSTATUS GETTOTALS OPEN PAY REPRINT VERIFYTRAN
    VERSION)
set(failures "")

execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIBRARY}")
endif()

# Machine type, from the file header ("file format pei-i386" or "pei-x86-64").
if(BITS EQUAL 32)
  set(format pei-i386)
else()
  set(format pei-x86-64)
endif()
if(NOT listing MATCHES "file format ${format}\n")
  string(REGEX MATCH "file format [^\n]*" found "${listing}")
  list(APPEND failures "machine: ${found}, expected ${format}")
endif()

# The export name pointer table: lines "\t[   n] +base[   k] 000c NAME" (older: "\t[n] NAME").
string(FIND "${listing}" "[Ordinal/Name Pointer] Table" start)
if(start EQUAL -1)
  list(APPEND failures "no export table")
else()
  string(SUBSTRING "${listing}" ${start} -1 table)
  string(FIND "${table}" "\n\n" end)
  string(SUBSTRING "${table}" 0 ${end} table)
  string(REGEX MATCHALL "\n\t\\[[^\n]*" lines "${table}")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^.* ([^ ]+)$" "\\1" name "${line}")
    list(APPEND names ${name})
  endforeach()
  list(SORT names)
  if(NOT names STREQUAL entry_points)
    list(APPEND failures "exported: ${names}, expected: ${entry_points}")
  endif()
endif()

# 32-bit: each export names the stdcall symbol NAME@12, and the objects define that symbol
# (a function with another argument size would be NAME@8 or NAME@16 there).
if(BITS EQUAL 32)
  file(STRINGS ${DEF} def_lines)
  set(mapped "")
  foreach(line IN LISTS def_lines)
    if(line MATCHES "^[ \t]*\"?([A-Z_]+)\"?[ \t]*=[ \t]*([A-Za-z_]+)@([0-9]+)[ \t]*$")
      set(name ${CMAKE_MATCH_1})
      if(NOT CMAKE_MATCH_2 STREQUAL name OR NOT CMAKE_MATCH_3 EQUAL 12)
        list(APPEND failures "${DEF}: ${name} maps to ${CMAKE_MATCH_2}@${CMAKE_MATCH_3}")
      endif()
      list(APPEND mapped ${name})
    endif()
  endforeach()
  list(SORT mapped)
  if(NOT mapped STREQUAL entry_points)
    list(APPEND failures "${DEF} maps: ${mapped}, expected: ${entry_points}")
  endif()
  string(REPLACE "|" ";" objects "${OBJECTS}")
  execute_process(COMMAND ${NM} --defined-only ${objects} OUTPUT_VARIABLE symbols
                  RESULT_VARIABLE rc ERROR_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on the objects of ${LIBRARY}")
  endif()
  foreach(name IN LISTS entry_points)
    string(REGEX MATCHALL " T _${name}@[0-9]+\n" defined "${symbols}")
    if(NOT defined STREQUAL " T _${name}@12\n")
      string(STRIP "${defined}" defined)
      list(APPEND failures "${name}: objects define [${defined}], expected _${name}@12")
    endif()
  endforeach()
endif()

# Imports: "\tDLL Name: KERNEL32.dll" lines, checked against the system's own DLLs.
set(system_dlls kernel32 msvcrt oleaut32 ole32 winhttp bcrypt ncrypt crypt32 user32 shell32
    advapi32 gdi32 ws2_32 winspool.drv comctl32 comdlg32 shlwapi secur32 ntdll version rpcrt4
    uxtheme imm32 iphlpapi dbghelp)
string(REGEX MATCHALL "\tDLL Name: [^\n]+" import_lines "${listing}")
set(imports "")
foreach(line IN LISTS import_lines)
  string(REGEX REPLACE "^\tDLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  list(APPEND imports ${dll})
  string(TOLOWER "${dll}" lower)
  string(REGEX REPLACE "\\.dll$" "" lower "${lower}")
  if(NOT lower IN_LIST system_dlls AND NOT lower MATCHES "^api-ms-win-")
    list(APPEND failures "imports ${dll}, which is not a system DLL")
  endif()
endforeach()
if(NOT imports)
  list(APPEND failures "no import table")
endif()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "${LIBRARY}:\n  ${text}")
endif()
message(STATUS "${LIBRARY}: ${format}, exports ${names}, imports ${imports}")
