# Only the public API leaves the shared libraries.
add_test(NAME SharedLibraries.ExportOnlyThePublicApi
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/exported_symbols.sh
    $<TARGET_FILE:ZephIO> $<TARGET_FILE:ZephPointer> $<TARGET_FILE:ZephException>
    $<TARGET_FILE:ZephFilesystem> $<TARGET_FILE:ZephHash>)
