# The installed CMake package, used by a separate project. Not in the sanitizer builds: the
# consumer is built without the sanitizer runtime that such a library needs first.
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=")
  return()
endif()
add_test(NAME InstalledPackage.ConsumerBuildsAndRuns
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/consumer/run.sh ${PROJECT_BINARY_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/consumer)
set_tests_properties(InstalledPackage.ConsumerBuildsAndRuns PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
