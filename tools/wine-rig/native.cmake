if(QUILLON_M32)
  return()
endif()
# The ioctl shim is preloaded into wine: it must carry no sanitizer runtime. quillon_ptyshim32 is
# the same shim for the 32-bit wine (gcc-multilib).
foreach(_shim quillon_ptyshim quillon_ptyshim32)
  add_library(${_shim} SHARED ${CMAKE_SOURCE_DIR}/tools/wine-rig/ptyshim.c)
  set_property(TARGET ${_shim} PROPERTY COMPILE_OPTIONS -Wall -Wextra -Werror -O2)
  set_property(TARGET ${_shim} PROPERTY LINK_OPTIONS "")
  target_link_libraries(${_shim} PRIVATE dl)
endforeach()
target_compile_options(quillon_ptyshim32 PRIVATE -m32)
target_link_options(quillon_ptyshim32 PRIVATE -m32)
