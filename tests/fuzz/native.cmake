# Bounded runs of the fuzz targets built in QUILLON_FUZZ_DIR, as tests: each target runs from its
# corpus in tests/fuzz/corpus/<name> for QUILLON_FUZZ_SECONDS and fails on any finding.
set(QUILLON_FUZZ_SECONDS 40 CACHE STRING "Seconds of each bounded fuzz run in the test suite")
if(QUILLON_FUZZ_DIR)
  file(GLOB _fuzz_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
  foreach(_src ${_fuzz_sources})
    get_filename_component(_name ${_src} NAME_WE)
    add_test(NAME ${_name}
             COMMAND ${CMAKE_SOURCE_DIR}/tests/fuzz/run_fuzz.sh ${QUILLON_FUZZ_DIR}/${_name}
                     ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${_name} ${QUILLON_FUZZ_SECONDS})
    set_tests_properties(${_name} PROPERTIES TIMEOUT 300 LABELS fuzz)
  endforeach()
endif()
