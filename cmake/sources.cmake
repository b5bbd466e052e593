# The library's sources, named once: the native static and shared libraries,
# the Python package's library, the builds the tests, fuzz targets and
# benchmarks make of it, and the WebAssembly build all take them from here.
cmake_path(GET CMAKE_CURRENT_LIST_DIR PARENT_PATH wsq_root)
set(WSQ_LIBRARY_SOURCES
  ${wsq_root}/src/libwsq.cpp
  ${wsq_root}/src/platform.cpp
  ${wsq_root}/src/transaction.cpp
  ${wsq_root}/src/vector.cpp
  ${wsq_root}/src/vector_avx2.cpp
  ${wsq_root}/src/vector_avx512.cpp
  ${wsq_root}/src/vector_neon.cpp
  ${wsq_root}/src/vector_simd128.cpp
  ${wsq_root}/src/wsq.cpp)
