# Cross-compiling the Windows programs on Debian with MinGW-w64 (see README, "Windows").
# The -posix compilers: the plain ones use the win32 thread model, without std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_ravdel_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_ravdel_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_ravdel_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_ravdel_mingw}-windres)
set(CMAKE_AR ${_ravdel_mingw}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${_ravdel_mingw}-gcc-ranlib-posix CACHE FILEPATH "")

# Statically linked: the programs need no libstdc++, libgcc or libwinpthread DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# libjpeg-turbo, libpng, zlib and GoogleTest built by scripts/windows-deps.sh; it prints the
# prefix, which the windows preset passes as RAVDEL_WINDOWS_DEPS.
if(NOT RAVDEL_WINDOWS_DEPS AND DEFINED ENV{RAVDEL_WINDOWS_DEPS})
  set(RAVDEL_WINDOWS_DEPS "$ENV{RAVDEL_WINDOWS_DEPS}")
endif()
set(RAVDEL_WINDOWS_DEPS "${RAVDEL_WINDOWS_DEPS}" CACHE PATH
    "Prefix of the MinGW builds of libjpeg-turbo, libpng, zlib and GoogleTest")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES RAVDEL_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${_ravdel_mingw} ${RAVDEL_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static libraries only, so that find_package never picks an import library.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

# Tests (and gtest_discover_tests) run the programs under Wine, through a runner that starts a
# program once more when Wine did not start it at all. WINEPREFIX and WINEDEBUG come from the
# environment (the windows preset sets them).
find_program(RAVDEL_WINE wine)
if(RAVDEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-test-runner.sh ${RAVDEL_WINE})
endif()
