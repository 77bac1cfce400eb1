include(CMakePackageConfigHelpers)

set(ZEPHIO_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/ZephIO")

install(TARGETS ZephIO ZephExport ZephPointer ZephException ZephFilesystem ZephHash
  EXPORT ZephIOTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT ZephIOTargets NAMESPACE ZephIO:: DESTINATION ${ZEPHIO_CMAKE_DIR})

configure_package_config_file(cmake/ZephIOConfig.cmake.in
  "${CMAKE_CURRENT_BINARY_DIR}/ZephIOConfig.cmake"
  INSTALL_DESTINATION ${ZEPHIO_CMAKE_DIR})
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/ZephIOConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES
  "${CMAKE_CURRENT_BINARY_DIR}/ZephIOConfig.cmake"
  "${CMAKE_CURRENT_BINARY_DIR}/ZephIOConfigVersion.cmake"
  DESTINATION ${ZEPHIO_CMAKE_DIR})

# pkg-config, for builds that do not use CMake; relocatable (paths from the .pc file's own folder).
file(RELATIVE_PATH ZEPHIO_PC_PREFIX_FROM_PCDIR "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
string(REGEX REPLACE "/$" "" ZEPHIO_PC_PREFIX_FROM_PCDIR "${ZEPHIO_PC_PREFIX_FROM_PCDIR}")
configure_file(cmake/zephio.pc.in "${CMAKE_CURRENT_BINARY_DIR}/zephio.pc" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/zephio.pc" DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
