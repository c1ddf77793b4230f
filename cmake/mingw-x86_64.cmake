# Cross build for 64-bit Windows with mingw-w64 (posix thread model: std::thread and std::mutex work).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Windows test programs of the 64-bit build run under Wine's 64-bit loader: the `wine` wrapper starts
# the 32-bit loader first, and some kernels refuse 32-bit programs.
find_program(TALV_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine)
if(NOT TALV_WINE64)
  set(TALV_WINE64 /usr/lib/wine/wine64)
endif()
set(TALV_WINE_LOADER ${TALV_WINE64})
# Through a wrapper that tells why a program died before its first line (see scripts/wine_start.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR bash ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine_start.sh ${TALV_WINE_LOADER})
