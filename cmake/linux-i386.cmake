# Build for 32-bit x86 Linux on a 64-bit Debian machine, with Debian's
# multilib compilers and the i386 libraries (./run test-i386):
#
#   cmake -S . -B build/i386 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake
#
# The programs run natively; only the interpreters that test the bindings
# are 64-bit, so those tests are left out of such a build.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
# Libraries, CMake packages (GTest) and pkg-config files of the i386
# architecture, never the machine's own.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)
