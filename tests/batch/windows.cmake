# quillon_batch.exe: many requests through quillon.dll in one process, for the fault matrix and
# the soak test (tests/e2e/test_faults.py, test_soak.py).
add_executable(quillon_batch ${CMAKE_SOURCE_DIR}/tests/batch/quillon_batch.cpp)
target_link_options(quillon_batch PRIVATE ${QUILLON_STATIC_LINK})
target_include_directories(quillon_batch PRIVATE ${CMAKE_SOURCE_DIR}/include)
target_link_libraries(quillon_batch PRIVATE quillon)
target_include_directories(quillon_batch PRIVATE ${CMAKE_SOURCE_DIR}/tests)
