# The probe carries the dialog template too: it runs dialogs from its own module.
add_executable(quillon_probe ${CMAKE_SOURCE_DIR}/tests/e2e/probe/quillon_probe.cpp ${QUILLON_RESOURCES})
target_link_libraries(quillon_probe PRIVATE quillon_win32)
target_link_options(quillon_probe PRIVATE ${QUILLON_STATIC_LINK})
