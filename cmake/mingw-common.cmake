# What the mingw-w64 toolchain files share; they set CMAKE_SYSTEM_PROCESSOR
# and VC_MINGW_TRIPLE first.
#
# The "posix" flavour of the compiler is used on purpose: its libstdc++
# has std::thread and std::mutex (GCC 12's win32 flavour has neither), so
# the tests and any host code may use them.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VC_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VC_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VC_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VC_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows executables built here run under Wine (gtest discovery, ctest),
# which starts a 64-bit executable in its 64-bit half. The project replaces
# this with a wrapper that uses a Wine prefix of the build tree
# (cmake/windows.cmake).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
