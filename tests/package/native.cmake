# The version resource of both Windows builds and the release zip made from the 32-bit one.
if(QUILLON_WIN32_DIR AND QUILLON_WIN64_DIR)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  foreach(_t version_resource package)
    add_test(NAME package_${_t}
             COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/package/test_${_t}.py
             WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/package)
    set_tests_properties(package_${_t} PROPERTIES LABELS package TIMEOUT 180
      ENVIRONMENT "QUILLON_WIN32_DIR=${QUILLON_WIN32_DIR};QUILLON_WIN64_DIR=${QUILLON_WIN64_DIR};PYTHONDONTWRITEBYTECODE=1")
  endforeach()
endif()
