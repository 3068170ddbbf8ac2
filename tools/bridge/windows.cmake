# quillon_bridge.exe: the native-messaging host. It loads quillon.dll at run time from its own
# folder, so it does not link it, and imports only DLLs that Windows takes from its system folder
# whatever lies beside the program (so not version.dll: the version is read from the module).
include(${CMAKE_SOURCE_DIR}/tools/bridge/core.cmake)
add_executable(quillon_bridge ${CMAKE_SOURCE_DIR}/tools/bridge/main_win32.cpp
               ${CMAKE_SOURCE_DIR}/tools/bridge/bridge.rc)
target_link_libraries(quillon_bridge PRIVATE quillon_bridge_core advapi32)
target_link_options(quillon_bridge PRIVATE ${QUILLON_STATIC_LINK})
