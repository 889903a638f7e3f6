# Cross build of the 64-bit Windows DLL with Debian's mingw-w64 toolchain.
#
#   cmake -S . -B build/windows64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
#
# The "posix" flavour of the compiler, as for 32 bits (mingw-i686.cmake):
# its libstdc++ has std::thread and std::mutex. Test binaries run through
# Wine, which starts a 64-bit executable in its 64-bit half (wine64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VC_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VC_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VC_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VC_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VC_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Replaced by the build's own Wine wrapper (cmake/windows.cmake).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
