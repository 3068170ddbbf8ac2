# The stand-in OrvMyKad.dll, for tests and demos without a card reader: undecorated cdecl exports,
# statically linked. Copied beside quillon.dll so the library finds it there first.
set(_orv ${CMAKE_SOURCE_DIR}/tools/orvmykad-standin)
add_library(orvmykad_standin SHARED ${_orv}/standin_dll_win32.cpp ${_orv}/standin_model.cpp)
set_target_properties(orvmykad_standin PROPERTIES PREFIX "" OUTPUT_NAME OrvMyKad)
target_include_directories(orvmykad_standin PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_link_options(orvmykad_standin PRIVATE ${QUILLON_STATIC_LINK})

# Runs the reader thread's algorithm against whichever OrvMyKad.dll it finds, without a dialog.
add_executable(quillon_mykad_reader_probe ${_orv}/reader_probe_win32.cpp
               ${CMAKE_SOURCE_DIR}/src/cardreader/orvmykad_win32.cpp)
target_link_libraries(quillon_mykad_reader_probe PRIVATE quillon_core)
target_link_options(quillon_mykad_reader_probe PRIVATE ${QUILLON_STATIC_LINK})
