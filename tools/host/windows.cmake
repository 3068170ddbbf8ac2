add_executable(quillon_host ${CMAKE_SOURCE_DIR}/tools/host/quillon_host.cpp)
target_link_options(quillon_host PRIVATE ${QUILLON_STATIC_LINK})
target_include_directories(quillon_host PRIVATE ${CMAKE_SOURCE_DIR}/include ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(quillon_host PRIVATE quillon)
