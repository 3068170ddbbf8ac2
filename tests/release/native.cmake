# The release zip of the 32-bit build with its export contract, the version resource of both
# builds, and every other place that states the version or the longest reply.
if(QUILLON_WIN32_DIR AND QUILLON_WIN64_DIR)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME release COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/release/test_release.py)
  set_tests_properties(release PROPERTIES LABELS "release;package;contract" TIMEOUT 240
    ENVIRONMENT "QUILLON_WIN32_DIR=${QUILLON_WIN32_DIR};QUILLON_WIN64_DIR=${QUILLON_WIN64_DIR};PYTHONDONTWRITEBYTECODE=1")
endif()
