# Unit tests of the portable core (GoogleTest).
if(NOT TARGET GTest::gtest_main)
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)
# tests/unit/<folder>/x_test.cpp holds the tests of src/<folder>/x.cpp.
file(GLOB_RECURSE QUILLON_UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp)
# counting_allocator.cpp replaces the global operator new for the whole binary.
add_executable(quillon_unit_tests ${QUILLON_UNIT_TESTS}
               ${CMAKE_SOURCE_DIR}/tests/unit/counting_allocator.cpp)
target_include_directories(quillon_unit_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit)
target_link_libraries(quillon_unit_tests PRIVATE quillon_core GTest::gtest GTest::gtest_main)
# The simulator's logic (tools/simulator) is tested here too.
if(TARGET quillon_sim_lib)
  target_link_libraries(quillon_unit_tests PRIVATE quillon_sim_lib)
endif()
if(NOT QUILLON_M32)
  gtest_discover_tests(quillon_unit_tests DISCOVERY_TIMEOUT 60)
endif()

quillon_add_32bit_twin(unit_tests_32bit quillon_unit_tests)
