# Fails when an ELF object of the build tree has an empty entry in its run
# path (RUNPATH or RPATH): the loader reads an empty entry as the current
# folder, so a library put there would be loaded by the tests and tools.
#   cmake -DBUILD_DIR=<build tree> -DREADELF=<readelf> -P check_runpaths.cmake
file(GLOB_RECURSE candidates LIST_DIRECTORIES false "${BUILD_DIR}/*")
set(checked 0)
set(faults)
foreach(file IN LISTS candidates)
  # Objects being compiled and CMake's own probes are no built objects.
  if(file MATCHES "\\.(o|a|c|cc|cmake|txt|json|log)$" OR file MATCHES "/CMakeFiles/")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  execute_process(COMMAND ${READELF} -d "${file}"
    OUTPUT_VARIABLE dynamic ERROR_QUIET RESULT_VARIABLE failed)
  if(failed)
    continue()
  endif()
  math(EXPR checked "${checked} + 1")
  string(REGEX MATCHALL "Library (runpath|rpath): \\[[^]]*\\]" paths "${dynamic}")
  foreach(path IN LISTS paths)
    string(REGEX REPLACE "^Library (runpath|rpath): \\[(.*)\\]$" "\\2" value "${path}")
    # An empty entry: the whole value empty, or a ':' at either end or
    # beside another.
    if(value STREQUAL "" OR value MATCHES "(^:|::|:$)")
      file(RELATIVE_PATH name "${BUILD_DIR}" "${file}")
      list(APPEND faults "${name}: [${value}]")
    endif()
  endforeach()
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no ELF objects under ${BUILD_DIR}")
endif()
if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "run paths with an empty entry (the current folder):\n  ${text}")
endif()
message(STATUS "${checked} ELF objects, no empty run-path entry")
