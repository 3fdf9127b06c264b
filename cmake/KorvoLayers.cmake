# Reading the layer table (KorvoLayerTable.cmake) and building the layers.
# The table functions also serve the include check (tests/abi/check_layers.cmake),
# which runs in script mode, so they keep to plain variables.
#
#   KORVO_LAYERS                 the layers in table order
#   KORVO_LAYER_<layer>_REGEX    the layer's file patterns as one regex
#   KORVO_LAYER_<layer>_USES     the layers its files may include besides its own

# Records one row of the table.
macro(korvo_layer name)
  cmake_parse_arguments(_layer "" "" "FILES;USES" ${ARGN})
  set(_regexes)
  foreach(_pattern IN LISTS _layer_FILES)
    # Patterns hold names, '/', '.' and '*'.
    string(REPLACE "." "\\." _regex "${_pattern}")
    string(REPLACE "*" "[^/]*" _regex "${_regex}")
    list(APPEND _regexes "${_regex}")
  endforeach()
  list(JOIN _regexes "|" _regex)
  set(KORVO_LAYER_${name}_REGEX "^(${_regex})$")
  set(KORVO_LAYER_${name}_USES ${_layer_USES})
  list(APPEND KORVO_LAYERS ${name})
endmacro()

# Reads `table` (default: the project's table) into the variables above.
macro(korvo_read_layer_table table)
  set(KORVO_LAYERS)
  include(${table})
endmacro()

# The layer of `path` (relative to the source root) in `out`; empty when no
# row of the table claims it.
function(korvo_layer_of path out)
  foreach(layer IN LISTS KORVO_LAYERS)
    if(path MATCHES "${KORVO_LAYER_${layer}_REGEX}")
      set(${out} ${layer} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

# The suffix of the host implementation files that this build leaves out.
if(WIN32)
  set(KORVO_OTHER_HOST_SUFFIX "_posix")
else()
  set(KORVO_OTHER_HOST_SUFFIX "_win32")
endif()

# Builds the files of the calling folder that belong to `layer` as the object
# library korvo_<layer>, linked into libkorvo.so, and records its public
# headers (for the C compile check and for installation). Sources listed
# after EXCLUDE stay out of the build (an alternative implementation that the
# build did not choose, say).
#   korvo_add_layer(<layer> [EXCLUDE <file>...])
function(korvo_add_layer layer)
  cmake_parse_arguments(arg "" "" "EXCLUDE" ${ARGN})
  if(NOT layer IN_LIST KORVO_LAYERS)
    message(FATAL_ERROR "korvo_add_layer: ${layer} is not in the layer table")
  endif()
  file(GLOB candidates CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/*.c ${CMAKE_CURRENT_SOURCE_DIR}/*.cc
    ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.hpp)
  set(files)
  set(headers)
  foreach(file IN LISTS candidates)
    file(RELATIVE_PATH relative ${KORVO_INCLUDE_ROOT} ${file})
    korvo_layer_of(${relative} owner)
    get_filename_component(name ${file} NAME)
    if(NOT owner STREQUAL layer OR name IN_LIST arg_EXCLUDE)
      continue()
    endif()
    # One implementation file per host: <name>_posix.cc on POSIX hosts,
    # <name>_win32.cc on Windows, beside the portable <name>.hpp.
    if(name MATCHES "${KORVO_OTHER_HOST_SUFFIX}\\.(c|cc)$")
      continue()
    endif()
    list(APPEND files ${file})
    if(file MATCHES "\\.h$")
      list(APPEND headers ${file})
    endif()
  endforeach()
  if(NOT files)
    return()
  endif()
  add_library(korvo_${layer} OBJECT ${files})
  korvo_library_defaults(korvo_${layer})
  target_link_libraries(korvo PRIVATE korvo_${layer})
  foreach(header IN LISTS headers)
    set_property(GLOBAL APPEND PROPERTY KORVO_PUBLIC_HEADERS ${header})
  endforeach()
endfunction()
