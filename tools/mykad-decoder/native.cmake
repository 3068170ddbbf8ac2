# The host-side MyKad reply decoder: a plain C++ library for integrators, its command-line
# program, and its tests, which use the library's own record builder as the other end.
set(_dec ${CMAKE_SOURCE_DIR}/tools/mykad-decoder)
add_library(quillon_mykad_decoder STATIC ${_dec}/mykad_decoder.cpp)
target_include_directories(quillon_mykad_decoder PUBLIC ${_dec} ${CMAKE_BINARY_DIR}/generated)

add_executable(quillon_mykad_decode ${_dec}/main.cpp)
target_link_libraries(quillon_mykad_decode PRIVATE quillon_mykad_decoder)

include(GoogleTest)
if(NOT TARGET GTest::gtest_main)
  find_package(GTest REQUIRED)
endif()
add_executable(quillon_mykad_decoder_tests ${CMAKE_SOURCE_DIR}/tests/mykad_decoder/mykad_decoder_test.cpp)
target_include_directories(quillon_mykad_decoder_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit)
target_link_libraries(quillon_mykad_decoder_tests PRIVATE quillon_mykad_decoder quillon_core GTest::gtest GTest::gtest_main)
if(NOT QUILLON_M32)
  gtest_discover_tests(quillon_mykad_decoder_tests DISCOVERY_TIMEOUT 60)
endif()
# The record builder is product code: its tests run as 32-bit code too, as the unit tests do.
quillon_add_32bit_twin(mykad_decoder_tests_32bit quillon_mykad_decoder_tests)
