# Windows program that drives ComPort directly, for tests/e2e/test_faults.py.
add_executable(quillon_comport_probe ${CMAKE_SOURCE_DIR}/tests/comport/comport_probe.cpp)
target_link_libraries(quillon_comport_probe PRIVATE quillon_win32)
target_link_options(quillon_comport_probe PRIVATE ${QUILLON_STATIC_LINK})
target_include_directories(quillon_comport_probe PRIVATE ${CMAKE_SOURCE_DIR}/tests)
