# The Windows Installer packages: their tables for both builds, read back with msitools, and each
# installed, upgraded and removed under its wine's msiexec in a prefix of its own (not the e2e
# tests' shared one: it changes Program Files, HKLM and System32): the 64-bit one under wine64
# with every step, the 32-bit one (the branches' package) under the emulated 32-bit wine with one
# install, one upgrade and one removal. Each takes its build's e2e lock, so neither runs beside
# that build's timed rows.
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
  add_test(NAME msi_wine32 COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/msi/test_msi.py
           SilentInstallUpgradeRemoval32
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/msi)
  set_tests_properties(msi_wine32 PROPERTIES LABELS "package;e2e;win32" TIMEOUT 600
                       RESOURCE_LOCK win32_wine ENVIRONMENT "${_env}")
endif()
