# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix threads,
# which std::thread needs). SKARVEL_WINDOWS_PREFIX names the folder that holds
# the Windows libraries (set by scripts/windows.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)
set(CMAKE_AR ${_mingw}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${_mingw}-gcc-ranlib-posix CACHE FILEPATH "")

if(NOT SKARVEL_WINDOWS_PREFIX AND DEFINED ENV{SKARVEL_WINDOWS_PREFIX})
  set(SKARVEL_WINDOWS_PREFIX "$ENV{SKARVEL_WINDOWS_PREFIX}")
endif()
# try_compile projects see the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SKARVEL_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw} ${SKARVEL_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must read the Windows .pc files only.
if(SKARVEL_WINDOWS_PREFIX)
  set(ENV{PKG_CONFIG_LIBDIR} "${SKARVEL_WINDOWS_PREFIX}/lib/pkgconfig:${SKARVEL_WINDOWS_PREFIX}/share/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()
