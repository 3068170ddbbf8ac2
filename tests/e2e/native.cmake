# End-to-end tests under wine64: every tests/e2e/test_*.py runs against the x86_64 twin in one
# prefix per test run. They share the prefix's registry and System32, so they run one at a time.
if(QUILLON_WIN64_DIR)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(_prefix ${CMAKE_BINARY_DIR}/wineprefix)
  set(_env QUILLON_WINEPREFIX=${_prefix};QUILLON_WIN64_DIR=${QUILLON_WIN64_DIR}
           QUILLON_NATIVE_DIR=${CMAKE_BINARY_DIR};PYTHONDONTWRITEBYTECODE=1)
  add_test(NAME e2e_prefix COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/e2e/winerig.py create ${_prefix})
  set_tests_properties(e2e_prefix PROPERTIES FIXTURES_SETUP wine_prefix RESOURCE_LOCK wine
                       ENVIRONMENT "${_env}" TIMEOUT 300 LABELS e2e)
  add_test(NAME e2e_prefix_stop COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/e2e/winerig.py stop ${_prefix})
  set_tests_properties(e2e_prefix_stop PROPERTIES FIXTURES_CLEANUP wine_prefix RESOURCE_LOCK wine
                       ENVIRONMENT "${_env}" TIMEOUT 120 LABELS e2e)
  file(GLOB _e2e CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/test_*.py)
  foreach(_t ${_e2e})
    get_filename_component(_name ${_t} NAME_WE)
    add_test(NAME e2e_${_name} COMMAND ${Python3_EXECUTABLE} ${_t}
             WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/e2e)
    # Exit code 77: every test of the file was skipped (a missing X server, say).
    set_tests_properties(e2e_${_name} PROPERTIES FIXTURES_REQUIRED wine_prefix RESOURCE_LOCK wine
                         ENVIRONMENT "${_env}" TIMEOUT 600 LABELS e2e SKIP_RETURN_CODE 77)
  endforeach()
endif()
