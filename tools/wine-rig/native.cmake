if(QUILLON_M32)
  return()
endif()
# The ioctl shim is preloaded into wine: it must carry no sanitizer runtime.
add_library(quillon_ptyshim SHARED ${CMAKE_SOURCE_DIR}/tools/wine-rig/ptyshim.c)
set_property(TARGET quillon_ptyshim PROPERTY COMPILE_OPTIONS -Wall -Wextra -Werror -O2)
set_property(TARGET quillon_ptyshim PROPERTY LINK_OPTIONS "")
target_link_libraries(quillon_ptyshim PRIVATE dl)
