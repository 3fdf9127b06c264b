# Compares the names a library exports (the list `actual`, read from its
# symbol table by the including script) with the lists
# EXPECTED_DIR/*.syms, less the names of the files `absent_lists`, and
# fails naming what is missing and what is extra.
# Included by check_exports.cmake (ELF) and check_dll_exports.cmake (PE).

# The names in the list files given after `out`, one per line, '#' starting a comment.
function(read_name_lists out)
  set(names)
  foreach(list_file IN LISTS ARGN)
    file(STRINGS ${list_file} entries)
    foreach(entry IN LISTS entries)
      string(REGEX REPLACE "#.*$" "" entry "${entry}")
      string(STRIP "${entry}" entry)
      if(entry)
        list(APPEND names ${entry})
      endif()
    endforeach()
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

file(GLOB lists ${EXPECTED_DIR}/*.syms)
read_name_lists(expected ${lists})

# `absent_lists` (set by the including script, if at all): files naming
# listed names this kind of library does not carry.
if(absent_lists)
  read_name_lists(absent ${absent_lists})
  if(absent)
    list(REMOVE_ITEM expected ${absent})
  endif()
endif()
list(REMOVE_DUPLICATES actual)
list(REMOVE_DUPLICATES expected)
set(missing ${expected})
list(REMOVE_ITEM missing ${actual})
set(extra ${actual})
list(REMOVE_ITEM extra ${expected})
list(LENGTH expected n_expected)
list(LENGTH actual n_actual)
if(missing OR extra)
  list(JOIN missing "\n  " missing_text)
  list(JOIN extra "\n  " extra_text)
  message(FATAL_ERROR "${LIBRARY}: ${n_actual} exported, ${n_expected} expected\n"
    "missing:\n  ${missing_text}\nunexpected:\n  ${extra_text}")
endif()
message(STATUS "${LIBRARY}: all ${n_expected} expected names exported, nothing else")
