# Windows on x86-64 with mingw-w64 (its POSIX-threads compilers), run under
# wine. The programs and tests are linked whole (-static), and a shared
# libwsq.dll carries the C++ runtime and threads inside it: neither needs a
# compiler's DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# Libraries are found in mingw-w64's tree (Debian's zlib for it among them)
# and in WSQ_TARGET_ROOT, where .ci/cross installs the libpng it builds.
set(WSQ_TARGET_ROOT "" CACHE PATH "A tree of libraries built for the target, searched for libraries")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${WSQ_TARGET_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
