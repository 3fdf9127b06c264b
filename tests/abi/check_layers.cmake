cmake_minimum_required(VERSION 3.25)
# Checks the include edges of the library's own code against the layer table.
#   cmake -DROOT=<source root> -DTABLE=<layer table> -P check_layers.cmake
#
# Every C and C++ file under the folders the table names must belong to a
# layer. An include "folder/file" of one of those folders, or a plain "file"
# beside the including one, is an edge from the including file's layer to the
# included file's layer; it must stay within the layer, go to a layer the
# row's USES names, or name runtime/korvo_export.h. The table's own USES must
# not loop, and neither may the folders once the edges are drawn between
# them. System headers must come from the lists the table gives the layer
# ("std" alone by default), and no include goes through '..'. The program
# folders the table names (tools/, bench/, fuzz/) are checked for these two
# as well, against lists of their own. Fails with one line per fault.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/KorvoLayers.cmake)
korvo_read_layer_table(${TABLE})

set(macros_header runtime/korvo_export.h)
set(faults)

# The names `file` includes, in `out`; an include through '..' is a fault
# of its own and left out.
function(korvo_includes_of file out)
  set(names)
  file(STRINGS ${ROOT}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "include[ \t]*[<\"]([^>\"]+)[>\"]")
      continue()
    endif()
    set(included ${CMAKE_MATCH_1})
    if(included MATCHES "(^|/)\\.\\.(/|$)")
      list(APPEND faults "${file}: includes ${included} through '..'")
    else()
      list(APPEND names ${included})
    endif()
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
  set(faults ${faults} PARENT_SCOPE)
endfunction()

# The top-level folders of the table's patterns.
set(folders)
foreach(layer IN LISTS KORVO_LAYERS)
  string(REGEX MATCHALL "[(|]([A-Za-z0-9_]+)/" tops "${KORVO_LAYER_${layer}_REGEX}")
  foreach(top IN LISTS tops)
    string(REGEX REPLACE "[(|/]" "" top "${top}")
    list(APPEND folders ${top})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES folders)

# Removes, again and again, the nodes without an edge to a node still left;
# what stays sits on a loop. `edges` holds "from>to" items.
function(find_loop nodes edges out)
  set(left ${nodes})
  set(changed TRUE)
  while(changed)
    set(changed FALSE)
    foreach(node IN LISTS left)
      set(blocked FALSE)
      foreach(edge IN LISTS edges)
        if(edge MATCHES "^${node}>(.*)$" AND CMAKE_MATCH_1 IN_LIST left)
          set(blocked TRUE)
          break()
        endif()
      endforeach()
      if(NOT blocked)
        list(REMOVE_ITEM left ${node})
        set(changed TRUE)
      endif()
    endforeach()
  endwhile()
  set(${out} ${left} PARENT_SCOPE)
endfunction()

set(table_edges)
foreach(layer IN LISTS KORVO_LAYERS)
  foreach(used IN LISTS KORVO_LAYER_${layer}_USES)
    if(NOT used IN_LIST KORVO_LAYERS)
      list(APPEND faults "the table: ${layer} uses ${used}, which is no layer")
    endif()
    list(APPEND table_edges "${layer}>${used}")
  endforeach()
endforeach()
find_loop("${KORVO_LAYERS}" "${table_edges}" table_loop)
if(table_loop)
  list(JOIN table_loop ", " names)
  list(APPEND faults "the table: the layers ${names} use each other in a loop")
endif()

set(folder_edges)
set(checked 0)
foreach(top IN LISTS folders)
  file(GLOB_RECURSE files RELATIVE ${ROOT}
    ${ROOT}/${top}/*.c ${ROOT}/${top}/*.cc ${ROOT}/${top}/*.h ${ROOT}/${top}/*.hpp
    ${ROOT}/${top}/*.inc)
  foreach(file IN LISTS files)
    math(EXPR checked "${checked} + 1")
    korvo_layer_of(${file} layer)
    if(NOT layer)
      list(APPEND faults "${file}: belongs to no layer")
      continue()
    endif()
    get_filename_component(directory ${file} DIRECTORY)
    set(system_lists ${KORVO_LAYER_${layer}_SYSTEM})
    if(NOT system_lists)
      set(system_lists std)
    endif()
    if(file IN_LIST KORVO_SYSTEM_PENDING)
      list(APPEND system_lists posix)
    endif()
    korvo_includes_of(${file} includes)
    foreach(included IN LISTS includes)
      if(NOT included MATCHES "/" AND EXISTS ${ROOT}/${directory}/${included})
        set(included ${directory}/${included})
      endif()
      if(NOT included MATCHES "^([^/]+)/" OR NOT CMAKE_MATCH_1 IN_LIST folders)
        # The system's or the C/C++ library's: only from the layer's lists.
        korvo_system_header_allowed(${included} "${system_lists}" allowed)
        if(NOT allowed)
          list(JOIN system_lists ", " names)
          list(APPEND faults
            "${file}: the layer ${layer} may not include the system header ${included} (lists: ${names})")
        endif()
        continue()
      endif()
      set(included_top ${CMAKE_MATCH_1})
      if(included STREQUAL macros_header)
        continue()
      endif()
      korvo_layer_of(${included} target)
      if(NOT target)
        list(APPEND faults "${file}: includes ${included}, which belongs to no layer")
      elseif(NOT target STREQUAL layer AND NOT target IN_LIST KORVO_LAYER_${layer}_USES)
        list(APPEND faults "${file}: the layer ${layer} may not include ${included} (layer ${target})")
      endif()
      string(REGEX MATCH "^[^/]+" file_top ${file})
      if(NOT included_top STREQUAL file_top)
        list(APPEND folder_edges "${file_top}>${included_top}")
      endif()
    endforeach()
  endforeach()
endforeach()

# The program folders: no '..', and system headers from their own lists.
foreach(top IN LISTS KORVO_PROGRAM_FOLDERS)
  file(GLOB_RECURSE files RELATIVE ${ROOT}
    ${ROOT}/${top}/*.c ${ROOT}/${top}/*.cc ${ROOT}/${top}/*.h ${ROOT}/${top}/*.hpp
    ${ROOT}/${top}/*.inc)
  foreach(file IN LISTS files)
    math(EXPR checked "${checked} + 1")
    get_filename_component(directory ${file} DIRECTORY)
    korvo_includes_of(${file} includes)
    foreach(included IN LISTS includes)
      if(EXISTS ${ROOT}/${directory}/${included} OR EXISTS ${ROOT}/${included})
        continue()  # ours
      endif()
      korvo_system_header_allowed(${included} "${KORVO_PROGRAM_${top}_SYSTEM}" allowed)
      if(NOT allowed)
        list(JOIN KORVO_PROGRAM_${top}_SYSTEM ", " names)
        list(APPEND faults
          "${file}: ${top}/ may not include the system header ${included} (lists: ${names})")
      endif()
    endforeach()
  endforeach()
endforeach()

list(REMOVE_DUPLICATES folder_edges)
find_loop("${folders}" "${folder_edges}" folder_loop)
if(folder_loop)
  list(JOIN folder_loop ", " names)
  list(APPEND faults "the folders ${names} include each other in a loop")
endif()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "layer check: forbidden includes\n  ${text}")
endif()
list(JOIN folder_edges ", " drawn)
message(STATUS "layer check: ${checked} files, every include allowed; folders: ${drawn}")
