# What every Linux cross build shares: Debian's cross compiler for
# WSQ_TRIPLET (its multiarch directory WSQ_MULTIARCH, the triplet's if unset), the target's libraries where Debian's multiarch packages put
# them (libpng-dev:ARCH) or in a tree of target packages unpacked at
# WSQ_TARGET_ROOT, and its programs run under qemu-user (WSQ_QEMU), or
# natively where the processor runs them (WSQ_QEMU empty).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${WSQ_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${WSQ_TRIPLET}-g++)
if(NOT WSQ_MULTIARCH)
  set(WSQ_MULTIARCH ${WSQ_TRIPLET})
endif()
set(CMAKE_LIBRARY_ARCHITECTURE ${WSQ_MULTIARCH})
set(WSQ_TARGET_ROOT "" CACHE PATH "A tree of the target's packages unpacked (dpkg -x), searched for libraries")
set(CMAKE_FIND_ROOT_PATH /usr/${WSQ_TRIPLET} / ${WSQ_TARGET_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The tree's shared libraries are found by the linker and by the emulated
# loader, which is told where they are.
if(WSQ_TARGET_ROOT)
  include_directories(SYSTEM ${WSQ_TARGET_ROOT}/usr/include)
  set(tree_libraries ${WSQ_TARGET_ROOT}/lib/${WSQ_MULTIARCH}:${WSQ_TARGET_ROOT}/usr/lib/${WSQ_MULTIARCH})
  add_link_options(-Wl,-rpath-link,${tree_libraries})
  set(tree_environment -E LD_LIBRARY_PATH=${tree_libraries})
endif()
if(WSQ_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WSQ_QEMU} -L /usr/${WSQ_TRIPLET} ${tree_environment})
endif()
