# The counter-terminal simulator (Linux): its logic as a library shared with the unit tests, the
# program that serves a pseudo-terminal, and a pty round trip against the program as a test.
set(_sim ${CMAKE_SOURCE_DIR}/tools/simulator)
add_library(quillon_sim_lib STATIC ${_sim}/terminal_wire.cpp ${_sim}/scenario.cpp ${_sim}/terminal_model.cpp)
target_include_directories(quillon_sim_lib PUBLIC ${CMAKE_SOURCE_DIR}/tools)
target_link_libraries(quillon_sim_lib PUBLIC quillon_core)

if(QUILLON_M32)
  return()
endif()

add_executable(quillon_terminal_sim ${_sim}/main.cpp)
target_link_libraries(quillon_terminal_sim PRIVATE quillon_sim_lib)


if(NOT TARGET GTest::gtest_main)
  find_package(GTest REQUIRED)
endif()
add_executable(quillon_sim_pty_tests ${CMAKE_SOURCE_DIR}/tests/simulator/pty_roundtrip_test.cpp)
target_link_libraries(quillon_sim_pty_tests PRIVATE quillon_sim_lib GTest::gtest GTest::gtest_main)
target_compile_definitions(quillon_sim_pty_tests PRIVATE
                           QUILLON_TERMINAL_SIM_PATH="$<TARGET_FILE:quillon_terminal_sim>")
add_dependencies(quillon_sim_pty_tests quillon_terminal_sim)
add_test(NAME simulator_pty_roundtrip COMMAND quillon_sim_pty_tests)
set_tests_properties(simulator_pty_roundtrip PROPERTIES TIMEOUT 60)
