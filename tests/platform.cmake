# The creation-date suite sets ICU's default zone and locale itself.
target_link_libraries(file_creation_date_test PRIVATE ICU::i18n ICU::uc)
