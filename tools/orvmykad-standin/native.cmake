# The stand-in reader's scenario handling and call answers, tested natively.
set(_orv ${CMAKE_SOURCE_DIR}/tools/orvmykad-standin)
add_library(quillon_orvmykad_standin_model STATIC ${_orv}/standin_model.cpp)
target_include_directories(quillon_orvmykad_standin_model PUBLIC ${_orv})

include(GoogleTest)
if(NOT TARGET GTest::gtest_main)
  find_package(GTest REQUIRED)
endif()
add_executable(quillon_standin_tests ${CMAKE_SOURCE_DIR}/tests/orvmykad_standin/standin_model_test.cpp)
target_link_libraries(quillon_standin_tests PRIVATE quillon_orvmykad_standin_model GTest::gtest GTest::gtest_main)
gtest_discover_tests(quillon_standin_tests DISCOVERY_TIMEOUT 60)
