# End-to-end tests: every tests/e2e/test_*.py runs twice, against the x86_64 twin under wine64
# (e2e_<name>) and against the 32-bit product under the 32-bit wine in qemu's user-mode emulator
# (e2e32_<name>), each build in one prefix of its own per test run. The tests of one build share
# the prefix's registry and System32, so they run one at a time; the two builds run side by side,
# except for the files named in _alone, which keep both cores busy on purpose and would squeeze
# the other build's timed rows.
if(QUILLON_WIN64_DIR)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(_builds win64)
  if(QUILLON_WIN32_DIR)
    list(APPEND _builds win32)
  endif()
  set(_rig ${CMAKE_SOURCE_DIR}/tools/wine-rig)  # winerig.py, which the test files import
  file(GLOB _e2e CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/test_*.py)
  set(_alone test_reader_budgets)
  set(_all_locks)
  foreach(_arch ${_builds})
    list(APPEND _all_locks ${_arch}_wine)
  endforeach()
  foreach(_arch ${_builds})
    if(_arch STREQUAL "win32")
      set(_p e2e32)  # the 32-bit product
      set(_prefix ${CMAKE_BINARY_DIR}/wineprefix32)
    else()
      set(_p e2e)
      set(_prefix ${CMAKE_BINARY_DIR}/wineprefix)
    endif()
    set(_env QUILLON_E2E_ARCH=${_arch};QUILLON_WINEPREFIX=${_prefix}
             QUILLON_WIN64_DIR=${QUILLON_WIN64_DIR};QUILLON_WIN32_DIR=${QUILLON_WIN32_DIR}
             QUILLON_NATIVE_DIR=${CMAKE_BINARY_DIR};PYTHONDONTWRITEBYTECODE=1
             PYTHONPATH=${_rig})
    add_test(NAME ${_p}_prefix COMMAND ${Python3_EXECUTABLE} ${_rig}/winerig.py create ${_prefix})
    set_tests_properties(${_p}_prefix PROPERTIES FIXTURES_SETUP ${_p}_wine_prefix
                         RESOURCE_LOCK ${_arch}_wine ENVIRONMENT "${_env}" TIMEOUT 600 LABELS "e2e;${_arch}")
    add_test(NAME ${_p}_prefix_stop COMMAND ${Python3_EXECUTABLE} ${_rig}/winerig.py stop ${_prefix})
    set_tests_properties(${_p}_prefix_stop PROPERTIES FIXTURES_CLEANUP ${_p}_wine_prefix
                         RESOURCE_LOCK ${_arch}_wine ENVIRONMENT "${_env}" TIMEOUT 120 LABELS "e2e;${_arch}")
    foreach(_t ${_e2e})
      get_filename_component(_name ${_t} NAME_WE)
      set(_locks ${_arch}_wine)
      if(_name IN_LIST _alone)
        set(_locks ${_all_locks})
      endif()
      add_test(NAME ${_p}_${_name} COMMAND ${Python3_EXECUTABLE} ${_t}
               WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/e2e)
      # Exit code 77: every test of the file was skipped (a missing X server, say).
      set_tests_properties(${_p}_${_name} PROPERTIES FIXTURES_REQUIRED ${_p}_wine_prefix
                           RESOURCE_LOCK "${_locks}" ENVIRONMENT "${_env}" TIMEOUT 600
                           LABELS "e2e;${_arch}" SKIP_RETURN_CODE 77)
    endforeach()
  endforeach()
endif()
