# Presses a button of a running dialog from another process, as an operator would: the MyKad
# Cancel test clicks button 1 while the reader thread waits for a card.
add_executable(quillon_dialog_clicker ${CMAKE_SOURCE_DIR}/tests/dialog_clicker/dialog_clicker_win32.cpp)
target_link_options(quillon_dialog_clicker PRIVATE ${QUILLON_STATIC_LINK})
