# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 compilers, the
# variant with POSIX threads (std::thread and std::mutex need it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(rio_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${rio_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${rio_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${rio_mingw}-windres)

# Headers and libraries come from the MinGW sysroot and from the prefixes
# given on the command line (the cross-built Qt); programs run on the host.
set(CMAKE_FIND_ROOT_PATH /usr/${rio_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The cross-built Qt lives outside the sysroot; scripts/windows names it.
if(DEFINED ENV{RIO_WINDOWS_QT})
  list(APPEND CMAKE_FIND_ROOT_PATH $ENV{RIO_WINDOWS_QT})
endif()
