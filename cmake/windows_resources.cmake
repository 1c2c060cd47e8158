# cmake -DSTRINGS=<string_table_data.cc> -DPRIVATE_KEY=<pem> -DPUBLIC_KEY=<pem> -DVERSION=<a.b.c>
#       -DOUTPUT=<file.rc> -P windows_resources.cmake
# Writes the module's resource script: the string table (taken from the table the other
# builds compile in), the key pair as RCDATA and the version information.
file(READ "${STRINGS}" source)
# Join adjacent literals ("..." u"...") so that every entry is one {id, u"text"} pair.
string(REGEX REPLACE "\"[ \t\r\n]*u\"" "" source "${source}")
string(REGEX MATCHALL "\\{[ \t\r\n]*[0-9]+,[ \t\r\n]*u\"[^\"]*\"\\}" entries "${source}")
if(entries STREQUAL "")
  message(FATAL_ERROR "No string table entries found in ${STRINGS}")
endif()
set(table "")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^\\{[ \t\r\n]*([0-9]+),.*$" "\\1" id "${entry}")
  string(REGEX REPLACE "^[^\"]*u\"([^\"]*)\"\\}$" "\\1" text "${entry}")
  string(APPEND table "  ${id}, L\"${text}\"\n")
endforeach()

string(REPLACE "." ";" parts "${VERSION}")
list(APPEND parts 0 0 0 0)
list(SUBLIST parts 0 4 parts)
string(REPLACE ";" "," version_commas "${parts}")

set(content "// Generated at build time; not kept in sources.
#include <winver.h>

STRINGTABLE
BEGIN
${table}END

SATISPAY_PRIVATEKEY RCDATA \"${PRIVATE_KEY}\"
SATISPAY_PUBLICKEY RCDATA \"${PUBLIC_KEY}\"

1 VERSIONINFO
FILEVERSION ${version_commas}
PRODUCTVERSION ${version_commas}
FILEOS VOS_NT_WINDOWS32
FILETYPE VFT_DLL
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"040904B0\"
    BEGIN
      VALUE \"CompanyName\", \"QV Systems\"
      VALUE \"FileDescription\", \"Payment terminal driver - Satispay\"
      VALUE \"FileVersion\", \"${VERSION}\"
      VALUE \"InternalName\", \"QVPA_SATISPAY_10\"
      VALUE \"OriginalFilename\", \"QVPA_SATISPAY_10.dll\"
      VALUE \"ProductName\", \"QVPA_SATISPAY_10\"
      VALUE \"ProductVersion\", \"${VERSION}\"
    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", 0x409, 1200
  END
END
")

if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL content)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${content}")
