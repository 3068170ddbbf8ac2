# The MyKad reply decoder as a Windows console program, for integrators on the counter PC.
set(_dec ${CMAKE_SOURCE_DIR}/tools/mykad-decoder)
add_executable(quillon_mykad_decode ${_dec}/main.cpp ${_dec}/mykad_decoder.cpp)
target_include_directories(quillon_mykad_decode PRIVATE ${_dec} ${CMAKE_BINARY_DIR}/generated)
target_link_options(quillon_mykad_decode PRIVATE ${QUILLON_STATIC_LINK})
