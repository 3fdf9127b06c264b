# Tests of a Windows cross build, run under Wine (CMAKE_CROSSCOMPILING_EMULATOR).
#
# Wine starts a process in a few tenths of a second, so a test program is
# one ctest entry that runs all its tests in one process (its GoogleTest
# output says which passed) instead of one process per test. The programs
# find the project's DLLs and the mingw-w64 runtime DLLs (libstdc++, libgcc,
# winpthread) through WINEPATH, which Wine puts on the Windows PATH of the
# program and of every child it starts.

# The folders of the mingw-w64 runtime DLLs, from the compiler itself.
function(korvo_mingw_runtime_folders out)
  set(folders)
  foreach(dll IN ITEMS libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
      OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${found}" AND EXISTS "${found}")
      get_filename_component(folder "${found}" DIRECTORY)
      get_filename_component(folder "${folder}" REALPATH)
      list(APPEND folders ${folder})
    endif()
  endforeach()
  list(REMOVE_DUPLICATES folders)
  set(${out} ${folders} PARENT_SCOPE)
endfunction()

if(WIN32 AND NOT DEFINED KORVO_WINE_PATH)
  korvo_mingw_runtime_folders(runtime_folders)
  # The project's DLLs: korvo and the CDS client at the top of the build,
  # korvo_runtime in runtime/.
  set(KORVO_WINE_PATH ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/runtime ${CMAKE_BINARY_DIR}/cds/client
    ${runtime_folders})
  # The entries of WINEPATH are separated by ';', which a test property's list
  # would split: escaped here once.
  list(JOIN KORVO_WINE_PATH "\\;" KORVO_WINE_PATH_ESCAPED)
endif()

# Sets the environment every test under Wine needs on the tests `names`,
# with `extra` (NAME=value items) on top.
function(korvo_wine_test_environment)
  cmake_parse_arguments(arg "" "" "TESTS;EXTRA" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  set_property(TEST ${arg_TESTS} APPEND PROPERTY ENVIRONMENT
    "WINEPATH=${KORVO_WINE_PATH_ESCAPED}" "WINEDEBUG=-all" ${arg_EXTRA})
endfunction()
