# Linux on IBM Z (s390x), big-endian, run under qemu-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(WSQ_TRIPLET s390x-linux-gnu)
set(WSQ_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
