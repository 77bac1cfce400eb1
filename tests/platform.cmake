# The platform layer is internal to libZephIO, so these suites link their own copy of it. The
# device queries must see the layer a test installs with SetDeviceLayerForTesting, so that suite
# also builds the queries' source against its copy (its definitions take precedence over the
# shared library's).
target_link_libraries(device_utils_test PRIVATE ZephIOPlatform ICU::uc)
target_sources(device_utils_test PRIVATE ${PROJECT_SOURCE_DIR}/IO/KorvelIO/DeviceUtils.cpp)
# The creation-date suite sets ICU's default zone and locale itself.
target_link_libraries(file_creation_date_test PRIVATE ZephIOPlatform ICU::i18n ICU::uc)
