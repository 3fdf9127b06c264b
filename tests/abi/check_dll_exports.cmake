cmake_minimum_required(VERSION 3.25)
# Compares the export table of the DLL LIBRARY with the names listed in the
# *.syms files of EXPECTED_DIR (the lists the Linux check reads). Fails with
# the lists of missing and unexpected names, and when the name the DLL gives
# itself is not its file's.
#   cmake -DLIBRARY=<dll> -DEXPECTED_DIR=<dir> -DOBJDUMP=<objdump> -P check_dll_exports.cmake
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${LIBRARY}")
endif()

get_filename_component(file_name ${LIBRARY} NAME)
if(NOT dump MATCHES "\nName[ \t]+[0-9a-fA-F]+[ \t]+([^\n]+)\n" OR NOT CMAKE_MATCH_1 STREQUAL file_name)
  message(FATAL_ERROR "${LIBRARY}: names itself '${CMAKE_MATCH_1}', expected '${file_name}'")
endif()

# The name pointer table: "[ordinal] name" lines after its heading.
set(actual)
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" table_start)
if(table_start LESS 0)
  message(FATAL_ERROR "${LIBRARY}: no export table")
endif()
string(SUBSTRING "${dump}" ${table_start} -1 table)
string(REPLACE "\n" ";" table_lines "${table}")
list(POP_FRONT table_lines)
foreach(line IN LISTS table_lines)
  if(line MATCHES "^[ \t]*\\[[ 0-9]+\\] ([^ \t]+)")
    list(APPEND actual ${CMAKE_MATCH_1})
  elseif(NOT line MATCHES "^[ \t]*$")
    break()
  endif()
endforeach()

# Names the Linux lists hold that a DLL rightly lacks, one per line with
# its reason in a comment (EXPECTED_DIR/not_in_dll.names): the exported
# names of a DLL are the Linux names without them.
if(EXISTS ${EXPECTED_DIR}/not_in_dll.names)
  set(absent_lists ${EXPECTED_DIR}/not_in_dll.names)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/compare_exports.cmake)
