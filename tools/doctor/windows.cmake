# quillon_doctor.exe: the diagnostic command for the counter PC. Loads quillon.dll from its own
# folder at run time, so it also reports a DLL that is missing or too old.
add_executable(quillon_doctor ${CMAKE_SOURCE_DIR}/tools/doctor/quillon_doctor_win32.cpp
                              ${CMAKE_SOURCE_DIR}/tools/doctor/doctor_checks.cpp)
target_link_options(quillon_doctor PRIVATE ${QUILLON_STATIC_LINK})
target_include_directories(quillon_doctor PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_BINARY_DIR}/generated)
add_dependencies(quillon_doctor quillon)
