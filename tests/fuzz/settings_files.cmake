driftpost_fuzzer(settings_files
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/SettingsFilesFuzz.cpp
  LIBS driftpost_container driftpost_picture driftpost_platform)
