# The installed CMake package, used by a separate project.
add_test(NAME InstalledPackage.ConsumerBuildsAndRuns
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/consumer/run.sh ${PROJECT_BINARY_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/consumer)
set_tests_properties(InstalledPackage.ConsumerBuildsAndRuns PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
