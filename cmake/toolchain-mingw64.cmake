# Cross build for Windows x64 with Debian's MinGW-w64 compiler (POSIX thread model:
# g++-mingw-w64-x86-64-posix). Test executables run under 64-bit Wine (Debian's wine64).
#
#   cmake -S . -B build/mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
#
# Static dependencies built for this target (scripts/build-mingw-deps.sh) are looked up in
# VX_MINGW_DEPS, by default build/mingw-deps in the source tree.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(VX_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(VX_MINGW_CXX NAMES ${VX_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(VX_MINGW_CC NAMES ${VX_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(VX_MINGW_WINDRES NAMES ${VX_MINGW_TRIPLE}-windres)
set(CMAKE_C_COMPILER ${VX_MINGW_CC})
set(CMAKE_CXX_COMPILER ${VX_MINGW_CXX})
if(VX_MINGW_WINDRES)
  set(CMAKE_RC_COMPILER ${VX_MINGW_WINDRES})
endif()

if(NOT DEFINED VX_MINGW_DEPS)
  if(DEFINED ENV{VX_MINGW_DEPS})
    set(VX_MINGW_DEPS "$ENV{VX_MINGW_DEPS}")
  else()
    get_filename_component(VX_MINGW_DEPS "${CMAKE_CURRENT_LIST_DIR}/../build/mingw-deps" ABSOLUTE)
  endif()
endif()
# try_compile projects load this file again and need the same value.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VX_MINGW_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${VX_MINGW_TRIPLE} "${VX_MINGW_DEPS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
list(APPEND CMAKE_PREFIX_PATH "${VX_MINGW_DEPS}")

# Everything links the compiler's runtime statically (libstdc++, libgcc, winpthread), so
# the binaries need nothing but system DLLs, under Wine and on a user's machine alike.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Tests and the build-time test discovery run the .exe files through Wine. Debian puts
# the 64-bit loader in /usr/lib/wine; `wine64` on the PATH is the fallback elsewhere.
find_program(VX_WINE64 NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT VX_WINE64)
  find_program(VX_WINE64 NAMES wine64 wine)
endif()
if(VX_WINE64)
  # WINEPREFIX stays inside the build tree; scripts/test-mingw.sh initialises it before CTest.
  # cmake/wine-exec.sh starts a program again when Wine dies before it printed anything.
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix" "WINEDEBUG=-all"
      "WINEDLLOVERRIDES=mscoree,mshtml=" bash "${CMAKE_CURRENT_LIST_DIR}/wine-exec.sh"
      ${VX_WINE64})
endif()
