# Cross-compiling for 64-bit ARM Linux (Raspberry Pi OS 64-bit, Debian arm64) on Debian with
# crossbuild-essential-arm64 and the arm64 -dev packages of the libraries (multiarch:
# dpkg --add-architecture arm64). Tests run under qemu-aarch64 from qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(_ravdel_triple aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${_ravdel_triple}-gcc)
set(CMAKE_CXX_COMPILER ${_ravdel_triple}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${_ravdel_triple})

# The target's libraries and CMake packages live in Debian's multiarch folders of /usr; the
# programs CMake runs (moc and the other Qt tools too) are the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${_ravdel_triple} /usr)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${_ravdel_triple}/pkgconfig:/usr/share/pkgconfig)
set(QT_HOST_PATH /usr CACHE PATH "Where the build machine's Qt tools are")

# Tests (and gtest_discover_tests) run the programs under the emulator. Their loader and
# libraries are the multiarch ones (libc6:arm64 and the rest, in /lib/aarch64-linux-gnu): the
# cross compiler's own copy of the loader in /usr/aarch64-linux-gnu is of another glibc
# build, and mixed with the multiarch libc.so.6 it hangs in the first thread start.
find_program(RAVDEL_QEMU_AARCH64 qemu-aarch64)
if(RAVDEL_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RAVDEL_QEMU_AARCH64})
endif()
