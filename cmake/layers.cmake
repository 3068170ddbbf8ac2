# The subsystem folders of src/ as one library each, stacked in one direction:
#
#   foundation <- terminal <- serial, cardreader <- acqdialog <- command
#
# A folder's code sees only its own folder and the folders below it: each library compiles against
# a view of src/ (build/layers/<folder>/) that holds links to just those folders, so an include
# against the direction finds no file and the build stops there.
set(QUILLON_LAYERS foundation terminal serial cardreader acqdialog command)
set(QUILLON_BELOW_foundation "")
set(QUILLON_BELOW_terminal foundation)
set(QUILLON_BELOW_serial foundation terminal)
set(QUILLON_BELOW_cardreader foundation terminal)
set(QUILLON_BELOW_acqdialog foundation terminal serial cardreader)
set(QUILLON_BELOW_command foundation terminal serial cardreader acqdialog)

set(QUILLON_COMMON_INCLUDES ${CMAKE_SOURCE_DIR}/include ${CMAKE_BINARY_DIR}/generated)

foreach(_layer ${QUILLON_LAYERS})
  set(_view ${CMAKE_BINARY_DIR}/layers/${_layer})
  file(REMOVE_RECURSE ${_view})
  file(MAKE_DIRECTORY ${_view})
  foreach(_seen ${_layer} ${QUILLON_BELOW_${_layer}})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/src/${_seen} ${_view}/${_seen} SYMBOLIC)
  endforeach()
  set(QUILLON_VIEW_${_layer} ${_view})
endforeach()

# quillon_<folder>: the folder's portable files. Windows builds add quillon_<folder>_win32 with
# its adapters (*_win32.cpp), seeing the same view.
foreach(_layer ${QUILLON_LAYERS})
  file(GLOB _all CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${_layer}/*.cpp)
  set(_portable ${_all})
  list(FILTER _portable EXCLUDE REGEX "_win32\\.cpp$")
  set(_adapters ${_all})
  list(FILTER _adapters INCLUDE REGEX "_win32\\.cpp$")

  set(_below_libs "")
  foreach(_b ${QUILLON_BELOW_${_layer}})
    list(APPEND _below_libs quillon_${_b})
  endforeach()

  add_library(quillon_${_layer} STATIC ${_portable})
  target_include_directories(quillon_${_layer} PRIVATE ${QUILLON_VIEW_${_layer}} ${QUILLON_COMMON_INCLUDES})
  target_link_libraries(quillon_${_layer} PUBLIC ${_below_libs})

  if(WIN32 AND _adapters)
    set(_below_adapters "")
    foreach(_b ${QUILLON_BELOW_${_layer}})
      if(TARGET quillon_${_b}_win32)
        list(APPEND _below_adapters quillon_${_b}_win32)
      endif()
    endforeach()
    add_library(quillon_${_layer}_win32 STATIC ${_adapters})
    target_include_directories(quillon_${_layer}_win32 PRIVATE ${QUILLON_VIEW_${_layer}} ${QUILLON_COMMON_INCLUDES})
    target_link_libraries(quillon_${_layer}_win32 PUBLIC quillon_${_layer} ${_below_adapters})
  endif()
endforeach()

# Tests and tools see the whole of src/ and link every layer.
add_library(quillon_core INTERFACE)
target_include_directories(quillon_core INTERFACE ${CMAKE_SOURCE_DIR}/src ${QUILLON_COMMON_INCLUDES})
target_link_libraries(quillon_core INTERFACE quillon_command)

# The proof that the direction holds: from each folder's view, a header of every folder above it
# must not be found, and one of every folder below it must compile.
function(quillon_layer_probes)
  set(_probe_dir ${CMAKE_BINARY_DIR}/layer-probes)
  file(MAKE_DIRECTORY ${_probe_dir})
  foreach(_layer ${QUILLON_LAYERS})
    foreach(_other ${QUILLON_LAYERS})
      if(_other STREQUAL _layer)
        continue()
      endif()
      file(GLOB _headers ${CMAKE_SOURCE_DIR}/src/${_other}/*.h)
      list(FILTER _headers EXCLUDE REGEX "_win32\\.h$")
      list(SORT _headers)
      list(GET _headers 0 _header)
      get_filename_component(_name ${_header} NAME)
      set(_probe ${_probe_dir}/${_layer}_includes_${_other}.cpp)
      file(WRITE ${_probe} "#include \"${_other}/${_name}\"\n")
      set(_test layers_${_layer}_includes_${_other})
      add_test(NAME ${_test}
               COMMAND ${CMAKE_CXX_COMPILER} -std=c++17 -fsyntax-only -I${QUILLON_VIEW_${_layer}}
                       -I${CMAKE_SOURCE_DIR}/include -I${CMAKE_BINARY_DIR}/generated ${_probe})
      list(FIND QUILLON_BELOW_${_layer} ${_other} _at)
      if(_at EQUAL -1)
        set_tests_properties(${_test} PROPERTIES LABELS layers
                             PASS_REGULAR_EXPRESSION "${_other}/${_name}: No such file")
      else()
        set_tests_properties(${_test} PROPERTIES LABELS layers)
      endif()
    endforeach()
  endforeach()
endfunction()
