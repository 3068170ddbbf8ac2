# Windows targets (cross-built with MinGW-w64): quillon.dll, its Win32 adapters and the tools
# that run under Windows. Statically linked, so the counter PC needs no MinGW runtime DLLs.
enable_language(RC)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_SOURCE_DIR}/src -I${CMAKE_BINARY_DIR}/generated")
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
set(QUILLON_STATIC_LINK -static -static-libgcc -static-libstdc++)

include(${CMAKE_SOURCE_DIR}/cmake/layers.cmake)

# Every folder's Win32 adapters, so Windows test programs can drive them directly.
add_library(quillon_win32 INTERFACE)
set(_adapter_libs "")
foreach(_layer ${QUILLON_LAYERS})
  if(TARGET quillon_${_layer}_win32)
    list(APPEND _adapter_libs quillon_${_layer}_win32)
  endif()
endforeach()
target_link_libraries(quillon_win32 INTERFACE ${_adapter_libs} quillon_core
                      ws2_32 ole32 oleaut32 uuid comctl32 gdi32 user32 advapi32)

file(GLOB QUILLON_RESOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/*/resources/*.rc)
add_library(quillon SHARED ${QUILLON_RESOURCES})
set_target_properties(quillon PROPERTIES PREFIX "" OUTPUT_NAME quillon)
# The entry point's library whole: nothing in the DLL refers to its export; the rest follows
# from what it uses.
target_link_libraries(quillon PRIVATE -Wl,--whole-archive quillon_command_win32 -Wl,--no-whole-archive
                      quillon_win32)
target_link_options(quillon PRIVATE ${QUILLON_STATIC_LINK})

file(GLOB _tool_dirs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/*/windows.cmake)
foreach(_f ${_tool_dirs})
  include(${_f})
endforeach()
file(GLOB _test_dirs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*/windows.cmake)
foreach(_f ${_test_dirs})
  include(${_f})
endforeach()
