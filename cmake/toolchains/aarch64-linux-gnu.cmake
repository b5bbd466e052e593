# Linux on 64-bit ARM, run under qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(WSQ_TRIPLET aarch64-linux-gnu)
set(WSQ_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
