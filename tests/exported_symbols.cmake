# Only the public API leaves the shared libraries; callers catch the library's exceptions through
# boost::wrapexcept, so its typeinfo must stay exported.
add_test(NAME SharedLibraries.ExportOnlyThePublicApi
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/exported_symbols.sh
    --keep "typeinfo for boost::wrapexcept<Korvel::Core::IOException>"
    --keep "typeinfo for boost::wrapexcept<Korvel::Core::CoreException>"
    --keep "vtable for boost::wrapexcept<Korvel::Core::IOException>"
    $<TARGET_FILE:ZephIO> $<TARGET_FILE:ZephPointer> $<TARGET_FILE:ZephException>
    $<TARGET_FILE:ZephFilesystem> $<TARGET_FILE:ZephHash>)
