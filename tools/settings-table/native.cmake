# The settings table as text, for the settings reference check.
add_executable(quillon_settings_table ${CMAKE_SOURCE_DIR}/tools/settings-table/main.cpp)
target_link_libraries(quillon_settings_table PRIVATE quillon_core)
