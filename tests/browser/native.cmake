# The web demo in Debian's chromium, through the extension and quillon_bridge.exe under wine64.
# It shares the e2e tests' prefix and lock (the prefix's registry and COM links are one), and
# installs its one npm package when missing.
if(QUILLON_WIN64_DIR)
  find_program(QUILLON_NODE node)
  set(_browser ${CMAKE_SOURCE_DIR}/tests/browser)
  add_test(NAME e2e_browser_demo
           COMMAND sh -c "[ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund --loglevel=error; exec ${QUILLON_NODE} --test web_demo.test.mjs"
           WORKING_DIRECTORY ${_browser})
  set_tests_properties(e2e_browser_demo PROPERTIES
                       FIXTURES_REQUIRED e2e_wine_prefix RESOURCE_LOCK win64_wine TIMEOUT 420
                       LABELS "e2e;win64;browser"
                       ENVIRONMENT "QUILLON_E2E_ARCH=win64;QUILLON_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;QUILLON_WIN64_DIR=${QUILLON_WIN64_DIR};QUILLON_NATIVE_DIR=${CMAKE_BINARY_DIR};PYTHONDONTWRITEBYTECODE=1")
endif()
