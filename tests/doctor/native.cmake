# Unit tests of the diagnostic command's checks (tools/doctor).
if(NOT TARGET GTest::gtest_main)
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)
add_executable(quillon_doctor_tests ${CMAKE_SOURCE_DIR}/tests/doctor/doctor_checks_test.cpp)
target_link_libraries(quillon_doctor_tests PRIVATE quillon_doctor_lib GTest::gtest GTest::gtest_main)
gtest_discover_tests(quillon_doctor_tests DISCOVERY_TIMEOUT 60)
