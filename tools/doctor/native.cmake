# The doctor's verdicts and its view of the library's choices, tested natively (tests/doctor). The
# choices come from the library's own layer libraries, so the doctor follows their rules.
add_library(quillon_doctor_lib STATIC ${CMAKE_SOURCE_DIR}/tools/doctor/doctor_checks.cpp
                                      ${CMAKE_SOURCE_DIR}/tools/doctor/library_choices.cpp
                                      ${CMAKE_SOURCE_DIR}/tools/doctor/install_checks.cpp)
target_include_directories(quillon_doctor_lib PUBLIC ${CMAKE_SOURCE_DIR}/tools/doctor
                           ${CMAKE_SOURCE_DIR}/src ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(quillon_doctor_lib PUBLIC quillon_foundation quillon_cardreader)
