# The stand-in OrvMyKad.dll, for tests and demos without a card reader: undecorated cdecl exports,
# statically linked. Copied beside quillon.dll so the library finds it there first.
set(_orv ${CMAKE_SOURCE_DIR}/tools/orvmykad-standin)
add_library(orvmykad_standin SHARED ${_orv}/standin_dll_win32.cpp ${_orv}/standin_model.cpp)
set_target_properties(orvmykad_standin PROPERTIES PREFIX "" OUTPUT_NAME OrvMyKad)
target_link_options(orvmykad_standin PRIVATE ${QUILLON_STATIC_LINK})
