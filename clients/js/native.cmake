# The web client's and the extension's unit tests, with node's own test runner (no packages).
find_program(QUILLON_NODE node)
if(QUILLON_NODE)
  add_test(NAME js_client COMMAND ${QUILLON_NODE} --test ${CMAKE_SOURCE_DIR}/clients/js/test
           ${CMAKE_SOURCE_DIR}/clients/extension/test)
  set_tests_properties(js_client PROPERTIES LABELS unit TIMEOUT 120)
else()
  message(WARNING "node not found: the web client's unit tests are not registered")
endif()
