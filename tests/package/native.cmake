# The release zip made from the 32-bit build, and the version resource of both builds.
if(QUILLON_WIN32_DIR AND QUILLON_WIN64_DIR)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME package_package COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/package/test_package.py
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/package)
  set_tests_properties(package_package PROPERTIES LABELS package TIMEOUT 180
    ENVIRONMENT "QUILLON_WIN32_DIR=${QUILLON_WIN32_DIR};QUILLON_WIN64_DIR=${QUILLON_WIN64_DIR};PYTHONDONTWRITEBYTECODE=1")
endif()
