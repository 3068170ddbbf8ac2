# What a release states in more than one place: the version (CMake, the changelog, the JavaScript
# client's package.json, the extension's manifest), the longest reply (quillon.h, the docs, the
# .NET sample), and the .NET sample compiling without warnings.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
foreach(_name versions dotnet_sample)
  add_test(NAME release_${_name}
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/release/test_${_name}.py)
  set_tests_properties(release_${_name} PROPERTIES LABELS release TIMEOUT 120
    ENVIRONMENT "QUILLON_NATIVE_DIR=${CMAKE_BINARY_DIR};PYTHONDONTWRITEBYTECODE=1")
endforeach()
