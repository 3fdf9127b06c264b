cmake_minimum_required(VERSION 3.25)
# Runs Doxygen with the project's configuration and filter on a fixture
# header and the documentation check on its warnings; prints the check's
# verdict for the test to match.
#   cmake -DSOURCE=<root> -DFIXTURE=<dir> -DWORK=<dir> -DDOXYGEN=<doxygen> -P check_docs_refuse.cmake
set(PROJECT_VERSION 0)
set(PROJECT_SOURCE_DIR ${SOURCE})
set(KORVO_DOCS_DIR ${WORK})
set(KORVO_DOCS_INPUT ${FIXTURE})
set(KORVO_DOCS_STRIP ${FIXTURE})
set(KORVO_DOCS_INCLUDE_PATH ${FIXTURE})
file(REMOVE_RECURSE ${WORK})
configure_file(${SOURCE}/cmake/Doxyfile.in ${WORK}/Doxyfile @ONLY)
execute_process(COMMAND ${DOXYGEN} ${WORK}/Doxyfile WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "doxygen failed on the fixture")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -DWARNINGS=${WORK}/warnings.log
    -DINDEX=${WORK}/api/index.html -P ${SOURCE}/cmake/KorvoCheckDocs.cmake
  RESULT_VARIABLE verdict OUTPUT_VARIABLE out ERROR_VARIABLE err)
message(STATUS "check exit ${verdict}: ${out}${err}")
