include(CMakePackageConfigHelpers)

set(ZEPHIO_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/ZephIO")

install(TARGETS ZephIO ZephPointer ZephException ZephFilesystem ZephHash
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
