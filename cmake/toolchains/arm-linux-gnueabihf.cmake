# Linux on 32-bit ARM (ARMv7, hard float), run under qemu-arm.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(WSQ_TRIPLET arm-linux-gnueabihf)
set(WSQ_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
