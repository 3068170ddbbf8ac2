# The Windows Installer packages: their tables for both builds, read back with msitools, and the
# 64-bit one installed, upgraded and removed under wine64's msiexec in a prefix of its own (not the
# e2e tests' shared one: it changes Program Files, HKLM and System32). It takes the twin's e2e lock:
# it runs in the twin's share of the suite, the shorter one, and never beside the timed rows.
if(QUILLON_WIN32_DIR AND QUILLON_WIN64_DIR)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(_env QUILLON_WIN32_DIR=${QUILLON_WIN32_DIR};QUILLON_WIN64_DIR=${QUILLON_WIN64_DIR}
           QUILLON_NATIVE_DIR=${CMAKE_BINARY_DIR};PYTHONDONTWRITEBYTECODE=1
           PYTHONPATH=${CMAKE_SOURCE_DIR}/tools/wine-rig)
  add_test(NAME msi_tables COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/msi/test_msi.py Packages
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/msi)
  set_tests_properties(msi_tables PROPERTIES LABELS package TIMEOUT 180 ENVIRONMENT "${_env}")
  add_test(NAME msi_wine64 COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/msi/test_msi.py
           SilentInstallUpgradeRemoval
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/msi)
  set_tests_properties(msi_wine64 PROPERTIES LABELS "package;e2e;win64" TIMEOUT 300
                       RESOURCE_LOCK win64_wine ENVIRONMENT "${_env}")
endif()
