# The stand-in's calling-convention check of the message callback (tests/e2e).
add_executable(quillon_standin_convention_probe
               ${CMAKE_SOURCE_DIR}/tests/orvmykad_standin/convention_probe_win32.cpp)
target_link_options(quillon_standin_convention_probe PRIVATE ${QUILLON_STATIC_LINK})
add_dependencies(quillon_standin_convention_probe orvmykad_standin)
