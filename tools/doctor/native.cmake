# The doctor's verdicts and wording, tested natively (tests/doctor).
add_library(quillon_doctor_lib STATIC ${CMAKE_SOURCE_DIR}/tools/doctor/doctor_checks.cpp)
target_include_directories(quillon_doctor_lib PUBLIC ${CMAKE_SOURCE_DIR}/tools/doctor)
