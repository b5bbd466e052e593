# What `cmake --install` puts under the prefix, in the GNU standard places:
# wsq1, unwsq, wsqtx and the batch helper wsqjob, libwsq, its headers (wsq.h, the
# C interface, transaction.h, transaction files in C, and libwsq.h, the
# format kernels for C++), the CMake package
# wsq (find_package(wsq) gives the target wsq::wsq), wsq.pc for pkg-config,
# the manual pages, and the desktop's knowledge of WSQ files (desktop/): the
# type image/x-wsq for the shared MIME database and for file(1), and a
# thumbnailer. The Python package wsq is installed by python/CMakeLists.txt.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(BUILD_SHARED_LIBS)
  set(wsq_kind shared)
  # The programs find libwsq from wherever the prefix is moved to.
  file(RELATIVE_PATH wsq_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(wsq1 unwsq wsqtx PROPERTIES INSTALL_RPATH "$ORIGIN/${wsq_bin_to_lib}")
else()
  set(wsq_kind static)
endif()

install(TARGETS wsq1 unwsq wsqtx)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/src/wsqjob TYPE BIN)
install(TARGETS wsq EXPORT wsq-targets INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/src/wsq.h ${PROJECT_SOURCE_DIR}/src/transaction.h
        ${PROJECT_SOURCE_DIR}/src/libwsq.h TYPE INCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/docs/wsq1.1 ${PROJECT_SOURCE_DIR}/docs/unwsq.1
        ${PROJECT_SOURCE_DIR}/docs/wsqjob.1 ${PROJECT_SOURCE_DIR}/docs/wsqtx.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/desktop/wsq.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES ${PROJECT_SOURCE_DIR}/desktop/wsq.thumbnailer
        DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)
install(FILES ${PROJECT_SOURCE_DIR}/desktop/wsq.magic DESTINATION ${CMAKE_INSTALL_DATADIR}/wsq)

# A static and a shared build may be installed into one prefix: each brings
# its own targets file and wsq-config.cmake picks one.
set(wsq_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/wsq)
install(EXPORT wsq-targets NAMESPACE wsq:: FILE wsq-${wsq_kind}-targets.cmake
        DESTINATION ${wsq_cmake_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/wsq-config.cmake.in
  ${PROJECT_BINARY_DIR}/wsq-config.cmake INSTALL_DESTINATION ${wsq_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/wsq-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/wsq-config.cmake ${PROJECT_BINARY_DIR}/wsq-config-version.cmake
        DESTINATION ${wsq_cmake_dir})

# wsq.pc names its directories relative to itself, so the prefix can move. A
# static libwsq is C++ inside and starts threads: a C program that links it
# also needs the C++ runtime and the thread library, which wsq.pc then names.
if(BUILD_SHARED_LIBS)
  set(wsq_pc_libs "-lwsq")
else()
  set(wsq_pc_libs "-lwsq -lstdc++ -lm -pthread")
endif()
set(wsq_pc_dir ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH wsq_pc_prefix ${wsq_pc_dir} ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" wsq_pc_prefix "${wsq_pc_prefix}")
file(RELATIVE_PATH wsq_pc_includedir ${wsq_pc_dir} ${CMAKE_INSTALL_FULL_INCLUDEDIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/wsq.pc.in ${PROJECT_BINARY_DIR}/wsq.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/wsq.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
