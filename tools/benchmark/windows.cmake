# quillon_benchmark.exe: the library's overhead per command against the line's physical limit
# (scripts/benchmark.sh runs it). Loads quillon.dll itself, to time the load.
add_executable(quillon_benchmark ${CMAKE_SOURCE_DIR}/tools/benchmark/quillon_benchmark.cpp)
target_link_options(quillon_benchmark PRIVATE ${QUILLON_STATIC_LINK})
target_include_directories(quillon_benchmark PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(quillon_benchmark PRIVATE psapi)
add_dependencies(quillon_benchmark quillon orvmykad_standin)
