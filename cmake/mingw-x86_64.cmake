# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix thread model, which has std::mutex
# and std::thread). Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests run under Wine's 64-bit loader itself: Debian's `wine` wrapper starts the 32-bit loader
# first, which fails on kernels that cannot execute 32-bit programs. WINELOADER makes the
# processes Wine starts (services, child programs) use the same loader.
find_program(QVPA_WINE64_LOADER NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine /usr/libexec/wine
             NO_DEFAULT_PATH)
find_program(QVPA_WINE64_LOADER NAMES wine64)
if(QVPA_WINE64_LOADER)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINELOADER=${QVPA_WINE64_LOADER} ${QVPA_WINE64_LOADER})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
