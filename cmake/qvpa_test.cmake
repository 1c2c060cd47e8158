# qvpa_test(<name> SOURCES <files...> LIBS <targets...>)
# Builds one GoogleTest executable and registers its tests with CTest. In a Windows build
# only the suites named in QVPA_WINDOWS_TESTS are built; each runs under Wine as one test
# (listing the cases would start Wine once more per suite at build time). The other suites
# remain as targets that are never built, so that what the folders set on them still applies.
function(qvpa_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(WIN32 AND NOT name IN_LIST QVPA_WINDOWS_TESTS)
    add_executable(${name} EXCLUDE_FROM_ALL ${ARG_SOURCES})
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  if(WIN32)
    # The module resources (string table, key pair) live in the test program itself.
    target_link_libraries(${name} PRIVATE qvpa_resources)
    target_compile_options(${name} PRIVATE
      -include ${PROJECT_SOURCE_DIR}/base/posix_test_compat_win.h)
  endif()
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  endif()
endfunction()
