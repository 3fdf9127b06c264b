# Reading the layer table (KorvoLayerTable.cmake) and building the layers.
# The table functions also serve the include check (tests/abi/check_layers.cmake),
# which runs in script mode, so they keep to plain variables.
#
#   KORVO_LAYERS                 the layers in table order
#   KORVO_LAYER_<layer>_REGEX    the layer's file patterns as one regex
#   KORVO_LAYER_<layer>_USES     the layers its files may include besides its own
#   KORVO_LAYER_<layer>_SYSTEM   the lists of system headers its files may include
#   KORVO_SYSTEM_<list>          a list of system-header patterns
#   KORVO_PROGRAM_FOLDERS        folders of programs (tools, benchmarks, fuzz
#                                targets), checked for their includes only
#   KORVO_PROGRAM_<folder>_SYSTEM   the lists a program folder may include
#   KORVO_SYSTEM_PENDING         files allowed the "posix" list until their
#                                host calls move onto the host layer

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

# Records a named list of system headers. Patterns are header names as
# written between <>; '*' stands for any run of characters other than '/'.
macro(korvo_system_headers name)
  set(KORVO_SYSTEM_${name} ${ARGN})
endmacro()

# The lists of system headers the files of `layer` may include; a layer
# without such a line may include the list "std" alone.
macro(korvo_layer_system_headers layer)
  set(KORVO_LAYER_${layer}_SYSTEM ${ARGN})
endmacro()

# A folder of programs beside the library, and the lists its files may
# include.
macro(korvo_program_folder folder)
  cmake_parse_arguments(_program "" "" "SYSTEM" ${ARGN})
  list(APPEND KORVO_PROGRAM_FOLDERS ${folder})
  set(KORVO_PROGRAM_${folder}_SYSTEM ${_program_SYSTEM})
endmacro()

# Files that may still include the "posix" list, named one by one.
macro(korvo_system_headers_pending)
  list(APPEND KORVO_SYSTEM_PENDING ${ARGN})
endmacro()

# Reads `table` (default: the project's table) into the variables above.
macro(korvo_read_layer_table table)
  set(KORVO_LAYERS)
  set(KORVO_PROGRAM_FOLDERS)
  set(KORVO_SYSTEM_PENDING)
  include(${table})
endmacro()

# TRUE in `out` when `header` fits a pattern of one of the named `lists`.
function(korvo_system_header_allowed header lists out)
  foreach(list IN LISTS lists)
    foreach(pattern IN LISTS KORVO_SYSTEM_${list})
      string(REPLACE "." "\\." regex "${pattern}")
      string(REPLACE "+" "\\+" regex "${regex}")
      string(REPLACE "*" "[^/]*" regex "${regex}")
      if(header MATCHES "^${regex}$")
        set(${out} TRUE PARENT_SCOPE)
        return()
      endif()
    endforeach()
  endforeach()
  set(${out} FALSE PARENT_SCOPE)
endfunction()

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

# The suffix of this host's implementation files, and of those that this
# build leaves out. Test programs that build a host file of their own name it
# as kes/<name>${KORVO_HOST_SUFFIX}.cc.
if(WIN32)
  set(KORVO_HOST_SUFFIX "_win32")
  set(KORVO_OTHER_HOST_SUFFIX "_posix")
else()
  set(KORVO_HOST_SUFFIX "_posix")
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
  # Its exported names are dllexport on Windows (runtime/korvo_export.h).
  target_compile_definitions(korvo_${layer} PRIVATE KORVO_BUILDING_KORVO=1)
  target_link_libraries(korvo PRIVATE korvo_${layer})
  foreach(header IN LISTS headers)
    set_property(GLOBAL APPEND PROPERTY KORVO_PUBLIC_HEADERS ${header})
  endforeach()
endfunction()
