# libFuzzer targets, one per input surface: fuzz_<name>.cpp becomes the program fuzz_<name>. They
# share the unit tests' fakes of the platform interfaces.
file(GLOB _fuzz_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
foreach(_src ${_fuzz_sources})
  get_filename_component(_name ${_src} NAME_WE)
  add_executable(${_name} ${_src})
  target_include_directories(${_name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit)
  target_link_libraries(${_name} PRIVATE quillon_core)
  target_link_options(${_name} PRIVATE -fsanitize=fuzzer,address,undefined)
endforeach()
# The bridge's framing and messages are the bridge's own code, not the core's.
include(${CMAKE_SOURCE_DIR}/tools/bridge/core.cmake)
target_link_libraries(fuzz_bridge_messages PRIVATE quillon_bridge_core)
