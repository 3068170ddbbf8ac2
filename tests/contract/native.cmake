# Static checks of the 32-bit product's export contract: a decorated or stdcall export shows here
# before anything runs.
if(QUILLON_WIN32_DIR AND QUILLON_WIN64_DIR)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME contract_pe COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/contract/test_pe_contract.py
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/contract)
  set_tests_properties(contract_pe PROPERTIES LABELS contract TIMEOUT 120
    ENVIRONMENT "QUILLON_WIN32_DIR=${QUILLON_WIN32_DIR};QUILLON_WIN64_DIR=${QUILLON_WIN64_DIR};PYTHONDONTWRITEBYTECODE=1")
endif()
