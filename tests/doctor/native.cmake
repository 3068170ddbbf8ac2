# Unit tests of the doctor (tools/doctor): its verdicts and its view of the library's choices,
# with the unit tests' fakes of the platform and the card-reader library.
if(NOT TARGET GTest::gtest_main)
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)
add_executable(quillon_doctor_tests ${CMAKE_SOURCE_DIR}/tests/doctor/doctor_checks_test.cpp
                                    ${CMAKE_SOURCE_DIR}/tests/doctor/library_choices_test.cpp)
target_include_directories(quillon_doctor_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit)
target_link_libraries(quillon_doctor_tests PRIVATE quillon_doctor_lib quillon_core GTest::gtest
                      GTest::gtest_main)
gtest_discover_tests(quillon_doctor_tests DISCOVERY_TIMEOUT 60)
