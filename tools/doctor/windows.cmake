# quillon_doctor.exe: the diagnostic command for the counter PC. Links the layer libraries that
# quillon.dll is built from (settings location and port discovery, the reader library's loader) to
# work out the library's choices itself, and loads quillon.dll from its own folder at run time, so
# it also reports a DLL that is missing or of another release. It imports only DLLs that Windows
# takes from its system folder whatever lies beside the program (so not version.dll: the version
# is read from the loaded module).
add_executable(quillon_doctor ${CMAKE_SOURCE_DIR}/tools/doctor/quillon_doctor_win32.cpp
                              ${CMAKE_SOURCE_DIR}/tools/doctor/library_choices_win32.cpp
                              ${CMAKE_SOURCE_DIR}/tools/doctor/install_facts_win32.cpp
                              ${CMAKE_SOURCE_DIR}/tools/doctor/library_choices.cpp
                              ${CMAKE_SOURCE_DIR}/tools/doctor/install_checks.cpp
                              ${CMAKE_SOURCE_DIR}/tools/doctor/doctor_checks.cpp)
target_link_options(quillon_doctor PRIVATE ${QUILLON_STATIC_LINK})
target_include_directories(quillon_doctor PRIVATE ${CMAKE_SOURCE_DIR}/tools/doctor
                           ${CMAKE_SOURCE_DIR}/src ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(quillon_doctor PRIVATE quillon_foundation_win32 quillon_cardreader_win32
                      advapi32 ws2_32 user32)
add_dependencies(quillon_doctor quillon)
