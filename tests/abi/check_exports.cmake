cmake_minimum_required(VERSION 3.25)
# Compares the dynamic symbol table of LIBRARY with the names listed in the
# *.syms files of EXPECTED_DIR (one name per line, '#' starts a comment).
# Fails with the lists of missing and unexpected names, and when the library's
# SONAME is not SONAME.
execute_process(COMMAND ${NM} -D --defined-only --format=posix ${LIBRARY}
  OUTPUT_VARIABLE nm_out RESULT_VARIABLE nm_rc)
if(NOT nm_rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()

execute_process(COMMAND ${READELF} -d ${LIBRARY} OUTPUT_VARIABLE dynamic)
if(NOT dynamic MATCHES "Library soname: \\[([^]]+)\\]" OR NOT CMAKE_MATCH_1 STREQUAL SONAME)
  message(FATAL_ERROR "${LIBRARY}: SONAME '${CMAKE_MATCH_1}', expected '${SONAME}'")
endif()

# Names the linker adds to every shared object.
set(linker_names _init _fini _edata _end __bss_start)

set(actual)
string(REPLACE "\n" ";" nm_lines "${nm_out}")
foreach(line IN LISTS nm_lines)
  if(line MATCHES "^([^ ]+) ")
    set(name ${CMAKE_MATCH_1})
    string(REGEX REPLACE "@.*$" "" name "${name}")
    # Sanitizer builds add instrumentation names of their own.
    if(name MATCHES "^(__odr_asan|__asan|__ubsan|__sanitizer|__sancov|__start___sancov|__stop___sancov)")
      continue()
    endif()
    if(NOT name IN_LIST linker_names)
      list(APPEND actual ${name})
    endif()
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/compare_exports.cmake)
