# The settings reference (docs/settings.md) and the sample QUILLON.ini against the settings table
# (by value) and the prompt texts the sources read.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME docs_settings_reference
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/docs/test_settings_reference.py
         WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/docs)
set_tests_properties(docs_settings_reference PROPERTIES LABELS docs TIMEOUT 60
                     ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1;QUILLON_SETTINGS_TABLE=$<TARGET_FILE:quillon_settings_table>")
