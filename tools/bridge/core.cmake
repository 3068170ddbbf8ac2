# The bridge's portable part (framing, messages, the one-at-a-time rule), for the Windows program,
# its native unit tests and its fuzz target. JSON through Debian's nlohmann-json3-dev: header-only,
# so the MinGW builds see it through a folder that holds only its headers.
if(NOT TARGET quillon_bridge_core)
  set(_json /usr/include/nlohmann)
  if(NOT EXISTS ${_json}/json.hpp)
    message(FATAL_ERROR "nlohmann/json.hpp not found: install nlohmann-json3-dev (scripts/setup.sh)")
  endif()
  set(_json_view ${CMAKE_BINARY_DIR}/json-include)
  file(MAKE_DIRECTORY ${_json_view})
  if(NOT EXISTS ${_json_view}/nlohmann)
    file(CREATE_LINK ${_json} ${_json_view}/nlohmann SYMBOLIC)
  endif()
  set(_bridge ${CMAKE_SOURCE_DIR}/tools/bridge)
  add_library(quillon_bridge_core STATIC ${_bridge}/framing.cpp ${_bridge}/session.cpp)
  target_include_directories(quillon_bridge_core PUBLIC ${_bridge} ${_json_view}
                             ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/include
                             ${CMAKE_BINARY_DIR}/generated)
  target_link_libraries(quillon_bridge_core PUBLIC quillon_command)
endif()
