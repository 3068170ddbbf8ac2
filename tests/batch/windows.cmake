# quillon_batch.exe: many requests through quillon.dll in one process (tests/e2e).
add_executable(quillon_batch ${CMAKE_SOURCE_DIR}/tests/batch/quillon_batch.cpp)
target_link_options(quillon_batch PRIVATE ${QUILLON_STATIC_LINK})
target_include_directories(quillon_batch PRIVATE ${CMAKE_SOURCE_DIR}/include
                           ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(quillon_batch PRIVATE quillon ws2_32)
