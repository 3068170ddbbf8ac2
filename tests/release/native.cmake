# What a release states in more than one place: the version (CMake, the changelog, the JavaScript
# client's package.json, the extension's manifest), the longest reply (quillon.h, the docs, the
# .NET sample), and the .NET sample compiling without warnings.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME release_versions
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/release/test_versions.py)
set_tests_properties(release_versions PROPERTIES LABELS release TIMEOUT 120
  ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1")
