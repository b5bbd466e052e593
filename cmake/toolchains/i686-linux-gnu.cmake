# Linux on 32-bit x86, run natively: an x86-64 Linux runs its programs
# (with the target's C and C++ libraries installed: libpng-dev:i386,
# libstdc++6:i386).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(WSQ_TRIPLET i686-linux-gnu)
set(WSQ_MULTIARCH i386-linux-gnu)
set(WSQ_QEMU "")
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
# The arithmetic in SSE2 registers, each operation rounded to its type: the
# x87 unit's wider registers would round floats differently, and the bytes
# with them. Every 32-bit x86 processor since 2001 has SSE2.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
