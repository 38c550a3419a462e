# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (the posix thread
# model: its libstdc++ has std::thread and std::mutex). Programs built during
# the build (image packing, GoogleTest's listing) run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NORVANE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${NORVANE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NORVANE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${NORVANE_MINGW_PREFIX}-windres)

# Libraries cross-built by scripts/windows/build_deps.sh live in its cache;
# NORVANE_WINDOWS_DEPS names that prefix (passed on the command line).
set(CMAKE_FIND_ROOT_PATH /usr/${NORVANE_MINGW_PREFIX})
if(NORVANE_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${NORVANE_WINDOWS_DEPS})
  list(APPEND CMAKE_PREFIX_PATH ${NORVANE_WINDOWS_DEPS})
endif()
# NORVANE_WINDOWS_QT names the cache's Qt for Windows (the window's build).
if(NORVANE_WINDOWS_QT)
  list(APPEND CMAKE_FIND_ROOT_PATH ${NORVANE_WINDOWS_QT})
  list(APPEND CMAKE_PREFIX_PATH ${NORVANE_WINDOWS_QT})
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NORVANE_WINDOWS_DEPS NORVANE_WINDOWS_QT)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(NORVANE_WINE NAMES wine wine64)
if(NORVANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${NORVANE_WINE})
endif()
