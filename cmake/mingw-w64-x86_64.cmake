# Cross-building for 64-bit Windows with Debian's MinGW-w64. The posix
# flavour of the compiler brings std::thread (the card read-ahead runs on
# one); winpthread is linked statically with the rest of the runtime.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
# libjpeg-turbo and GoogleTest, built for Windows by scripts/build-windows-deps.sh.
if(MENDRAKE_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${MENDRAKE_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
