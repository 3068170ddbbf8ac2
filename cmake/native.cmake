# Native (Linux) build: the portable core with its unit tests, the tools that run on the Linux
# side of a test (terminal simulator, pty shim), and the registration of the wine64 end-to-end
# tests, which drive the Windows build named by QUILLON_WIN64_DIR.
enable_testing()
set(QUILLON_WIN64_DIR "" CACHE PATH "Build directory of the x86_64 Windows twin (end-to-end tests)")
set(QUILLON_WIN32_DIR "" CACHE PATH "Build directory of the i686 Windows product (contract checks, 32-bit end-to-end tests)")

option(QUILLON_FUZZ "Build the libFuzzer targets only (clang)" OFF)
set(QUILLON_FUZZ_DIR "" CACHE PATH "Build directory of the fuzz targets (bounded fuzz runs as tests)")

if(QUILLON_FUZZ)
  # A build of its own: the core instrumented for libFuzzer, and the fuzz targets.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)
  include(${CMAKE_SOURCE_DIR}/cmake/layers.cmake)
  include(${CMAKE_SOURCE_DIR}/tests/fuzz/targets.cmake)
  return()
endif()

option(QUILLON_M32 "32-bit build of the core and its unit tests (run under qemu-i386-static)" OFF)
set(QUILLON_NATIVE32_DIR "" CACHE PATH "Build directory of the 32-bit unit tests")
if(QUILLON_M32)
  # Pointers and long are 4 bytes here, as in the 32-bit product. GoogleTest is built from its
  # sources with the same flags; AddressSanitizer does not work under qemu, UBSan does.
  add_compile_options(-m32)
  add_link_options(-m32)
  set(QUILLON_UBSAN_ONLY ON)
  set(QUILLON_SANITIZE OFF)
  # GoogleTest from its sources, built with the same flags (the preset names Debian's copy).
  set(QUILLON_GTEST_SOURCE "" CACHE PATH "GoogleTest's source tree, for the 32-bit build")
  if(NOT QUILLON_GTEST_SOURCE)
    message(FATAL_ERROR "QUILLON_M32 needs QUILLON_GTEST_SOURCE (the native32 preset sets it)")
  endif()
  add_subdirectory(${QUILLON_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

# Line counts for scripts/coverage.py (gcc's gcov): a tree of its own, unoptimised and without
# sanitizers, so the counts follow the source lines.
option(QUILLON_COVERAGE "Native build with gcov line counts (scripts/coverage.py reads them)" OFF)
if(QUILLON_COVERAGE)
  add_compile_options(--coverage -O0)
  add_link_options(--coverage)
endif()

if(QUILLON_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
elseif(QUILLON_UBSAN_ONLY)
  add_compile_options(-fsanitize=undefined -fno-sanitize-recover=all)
  add_link_options(-fsanitize=undefined)
endif()

include(${CMAKE_SOURCE_DIR}/cmake/layers.cmake)
quillon_layer_probes()

# A GoogleTest binary's twin built as 32-bit code (QUILLON_NATIVE32_DIR), run whole under
# qemu-i386-static as one test that also checks it holds exactly the tests of this build.
function(quillon_add_32bit_twin name target)
  if(QUILLON_NATIVE32_DIR)
    add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/tests/unit/run_32bit.sh
                                  ${QUILLON_NATIVE32_DIR}/${target} $<TARGET_FILE:${target}>)
    set_tests_properties(${name} PROPERTIES TIMEOUT 600 LABELS unit32)
  endif()
endfunction()

file(GLOB _tool_dirs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/*/native.cmake)
foreach(_f ${_tool_dirs})
  include(${_f})
endforeach()
file(GLOB _client_dirs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/clients/*/native.cmake)
foreach(_f ${_client_dirs})
  include(${_f})
endforeach()
file(GLOB _test_dirs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*/native.cmake)
foreach(_f ${_test_dirs})
  include(${_f})
endforeach()
