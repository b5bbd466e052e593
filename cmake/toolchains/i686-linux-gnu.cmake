# Linux on 32-bit x86, run natively: an x86-64 Linux runs its programs
# (with the target's C and C++ libraries installed: libpng-dev:i386,
# libstdc++6:i386).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(WSQ_TRIPLET i686-linux-gnu)
set(WSQ_MULTIARCH i386-linux-gnu)
set(WSQ_QEMU "")
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
