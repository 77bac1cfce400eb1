# The platform layer is internal to libZephIO, so these suites link their own copy of it.
target_link_libraries(device_utils_test PRIVATE ZephIODeviceQueriesWithLayer)
# The creation-date suite sets ICU's default zone and locale itself.
target_link_libraries(file_creation_date_test PRIVATE ZephIOPlatform ICU::i18n ICU::uc)
