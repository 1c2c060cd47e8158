# Dependencies of the Windows build. The system libraries (WinHTTP, CNG, crypt32, oleaut32)
# come with the compiler's import libraries; third-party code that Debian ships for Linux only
# is compiled here from Debian's own source packages, and header-only libraries are used from
# their Debian location through a private include folder (never the whole of /usr/include).
set(QVPA_DEBIAN_SOURCE_DIR "${PROJECT_SOURCE_DIR}/build-debian-src" CACHE PATH
    "Folder where Debian source packages are unpacked for the Windows build")

# qvpa_debian_source(<package> <variable>): unpacks the package once, sets <variable> to its tree.
function(qvpa_debian_source package variable)
  execute_process(
    COMMAND bash ${PROJECT_SOURCE_DIR}/tools/debian-source.sh ${package} ${QVPA_DEBIAN_SOURCE_DIR}
    OUTPUT_VARIABLE tree OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT IS_DIRECTORY "${tree}")
    message(FATAL_ERROR "Debian source package ${package} could not be unpacked")
  endif()
  set(${variable} "${tree}" PARENT_SCOPE)
endfunction()

find_package(Threads REQUIRED)

# Programs and DLLs side by side, so that the host and the tests find the library.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# Everything the DLL needs is linked in: it imports only system DLLs.
add_link_options(-static -static-libgcc -static-libstdc++)
# _POSIX_THREAD_SAFE_FUNCTIONS: the runtime's localtime_r and gmtime_r.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _POSIX_THREAD_SAFE_FUNCTIONS=200112L _WIN32_WINNT=0x0601
                        WINVER=0x0601)
# GCC 12 reports string concatenations inlined from libstdc++ as overlapping copies (a
# false positive, GCC bug 105329) at this optimisation level.
add_compile_options(-Wno-restrict)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # Win32 hosts may call with the stack aligned to 4 bytes only.
  add_compile_options(-mincoming-stack-boundary=2)
endif()

# nlohmann-json: its Debian headers, without the rest of /usr/include.
set(QVPA_PRIVATE_INCLUDE ${CMAKE_BINARY_DIR}/private-include)
file(MAKE_DIRECTORY ${QVPA_PRIVATE_INCLUDE})
if(NOT EXISTS ${QVPA_PRIVATE_INCLUDE}/nlohmann)
  file(CREATE_LINK /usr/include/nlohmann ${QVPA_PRIVATE_INCLUDE}/nlohmann SYMBOLIC)
endif()
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${QVPA_PRIVATE_INCLUDE})
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json)

# The XML parser from Debian's source package, built as the EXPAT::EXPAT the request reader
# links (a static library: the DLL carries it).
qvpa_debian_source(expat QVPA_EXPAT_TREE)
set(QVPA_EXPAT_LIB ${QVPA_EXPAT_TREE}/expat/lib)
file(WRITE ${CMAKE_BINARY_DIR}/expat-config/expat_config.h
     "#define XML_DTD 1\n#define XML_NS 1\n#define XML_GE 1\n#define XML_CONTEXT_BYTES 1024\n#define BYTEORDER 1234\n#define HAVE_MEMMOVE 1\n")
add_library(expat STATIC ${QVPA_EXPAT_LIB}/xmlparse.c ${QVPA_EXPAT_LIB}/xmlrole.c ${QVPA_EXPAT_LIB}/xmltok.c)
target_include_directories(expat PRIVATE ${CMAKE_BINARY_DIR}/expat-config)
target_include_directories(expat SYSTEM PUBLIC ${QVPA_EXPAT_LIB})
target_compile_definitions(expat PRIVATE HAVE_EXPAT_CONFIG_H PUBLIC XML_STATIC)
# C sources: the project's C++ warning options do not apply; the stack option does.
set_target_properties(expat PROPERTIES COMPILE_OPTIONS "-w")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_compile_options(expat PRIVATE -mincoming-stack-boundary=2)
endif()
add_library(EXPAT::EXPAT ALIAS expat)

# The SQL engine of the payment journal from Debian's source package. Its single-file form
# (sqlite3.c) is generated once from the source tree with the host's compiler and tclsh, under a
# lock since both Windows builds may configure at once.
qvpa_debian_source(sqlite3 QVPA_SQLITE_TREE)
get_filename_component(QVPA_SQLITE_VERSION_DIR ${QVPA_SQLITE_TREE} NAME)
# (Not named "sqlite3-<version>...", which tools/debian-source.sh takes for the unpacked tree.)
set(QVPA_SQLITE_AMALGAMATION ${QVPA_DEBIAN_SOURCE_DIR}/single-file-${QVPA_SQLITE_VERSION_DIR})
file(LOCK ${QVPA_DEBIAN_SOURCE_DIR}/sqlite3-amalgamation.lock GUARD FILE)
if(NOT EXISTS ${QVPA_SQLITE_AMALGAMATION}/sqlite3.c)
  find_program(QVPA_TCLSH tclsh REQUIRED)
  set(work ${QVPA_SQLITE_AMALGAMATION}-work)
  file(REMOVE_RECURSE ${work})
  file(MAKE_DIRECTORY ${work})
  execute_process(COMMAND env -u CC -u CFLAGS sh ${QVPA_SQLITE_TREE}/configure --disable-tcl
                  WORKING_DIRECTORY ${work} OUTPUT_QUIET RESULT_VARIABLE rc)
  if(rc EQUAL 0)
    execute_process(COMMAND make sqlite3.c WORKING_DIRECTORY ${work} OUTPUT_QUIET RESULT_VARIABLE rc)
  endif()
  if(NOT rc EQUAL 0 OR NOT EXISTS ${work}/sqlite3.c)
    message(FATAL_ERROR "The single-file SQL engine could not be generated from ${QVPA_SQLITE_TREE}")
  endif()
  file(MAKE_DIRECTORY ${QVPA_SQLITE_AMALGAMATION})
  file(COPY ${work}/sqlite3.c ${work}/sqlite3.h DESTINATION ${QVPA_SQLITE_AMALGAMATION})
  file(REMOVE_RECURSE ${work})
endif()
file(LOCK ${QVPA_DEBIAN_SOURCE_DIR}/sqlite3-amalgamation.lock RELEASE)
add_library(sqlite3 STATIC ${QVPA_SQLITE_AMALGAMATION}/sqlite3.c)
target_include_directories(sqlite3 SYSTEM PUBLIC ${QVPA_SQLITE_AMALGAMATION})
target_compile_definitions(sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION SQLITE_DQS=0)
set_target_properties(sqlite3 PROPERTIES COMPILE_OPTIONS "-w")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_compile_options(sqlite3 PRIVATE -mincoming-stack-boundary=2)
endif()
add_library(SQLite::SQLite3 ALIAS sqlite3)

# GoogleTest from the source folder Debian ships.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
foreach(t gtest gtest_main gmock gmock_main)
  target_compile_options(${t} PRIVATE -w)
  if(NOT TARGET GTest::${t})
    add_library(GTest::${t} ALIAS ${t})
  endif()
endforeach()

# The test suites whose sources are platform-neutral, and the Windows-only ones.
set(QVPA_WINDOWS_TESTS
  base_text_test base_text_helpers_test base_windows_test base_log_writer_test
  base_application_test base_windowing_gui_test io_handler_test io_http_client_windows_test
  io_tcp_socket_windows_test io_handler_tcp_test io_handler_dll_test io_handler_serial_test
  io_handler_opos_test io_handler_spool_test io_spooler_windows_test
  io_code_page_test rpt_util_test device_handler_test payment_handler_test
  payment_device_test connection_test io_handler_factory_test result_documents_test
  payment_wrapper_test host_script_test satispay_windows_test)
