# The API reference: Doxygen reads the staged public headers
# (KorvoHeaders.cmake) through cmake/doxygen_filter.awk and writes
# build/docs/api/index.html; the install puts it into share/doc/korvo/api/.
# Its warnings go to build/docs/warnings.log, which the test abi.api_reference
# reads: an undocumented public function fails it.
#   cmake --build build --target docs
option(KORVO_DOCS "Build the API reference (needs doxygen)" ON)
if(NOT KORVO_DOCS)
  return()
endif()
find_program(KORVO_DOXYGEN doxygen)
if(NOT KORVO_DOXYGEN)
  message(FATAL_ERROR "the API reference needs doxygen (scripts/setup.sh installs it), "
    "or configure with -DKORVO_DOCS=OFF")
endif()

set(KORVO_DOCS_DIR ${PROJECT_BINARY_DIR}/docs)
set(KORVO_DOCS_INPUT ${KORVO_STAGED_INCLUDE_ROOT}/korvo)
set(KORVO_DOCS_STRIP ${KORVO_STAGED_INCLUDE_ROOT})
set(KORVO_DOCS_INCLUDE_PATH ${KORVO_STAGED_INCLUDE_ROOT})
configure_file(${PROJECT_SOURCE_DIR}/cmake/Doxyfile.in ${KORVO_DOCS_DIR}/Doxyfile @ONLY)

get_property(staged GLOBAL PROPERTY KORVO_STAGED_HEADERS)
add_custom_command(OUTPUT ${KORVO_DOCS_DIR}/api/index.html
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${KORVO_DOCS_DIR}/api
  COMMAND ${KORVO_DOXYGEN} ${KORVO_DOCS_DIR}/Doxyfile
  DEPENDS ${staged} ${KORVO_DOCS_DIR}/Doxyfile ${PROJECT_SOURCE_DIR}/cmake/doxygen_filter.awk
    ${PROJECT_SOURCE_DIR}/docs/api.md
  WORKING_DIRECTORY ${KORVO_DOCS_DIR}
  COMMENT "Writing the API reference into ${KORVO_DOCS_DIR}/api" VERBATIM)
add_custom_target(docs ALL DEPENDS ${KORVO_DOCS_DIR}/api/index.html)
add_dependencies(docs korvo_headers)

install(DIRECTORY ${KORVO_DOCS_DIR}/api/
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/api COMPONENT dev)

# The reference documents every public function.
if(KORVO_TESTS)
  add_test(NAME abi.api_reference
    COMMAND ${CMAKE_COMMAND} -DWARNINGS=${KORVO_DOCS_DIR}/warnings.log
      -DINDEX=${KORVO_DOCS_DIR}/api/index.html
      -P ${PROJECT_SOURCE_DIR}/cmake/KorvoCheckDocs.cmake)
  # The check refuses an undocumented function and takes a group's comment
  # for each of its functions.
  add_test(NAME abi.api_reference_refuses
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR}
      -DFIXTURE=${PROJECT_SOURCE_DIR}/tests/abi/docs_fixture
      -DWORK=${PROJECT_BINARY_DIR}/tests/abi/docs_fixture -DDOXYGEN=${KORVO_DOXYGEN}
      -P ${PROJECT_SOURCE_DIR}/tests/abi/check_docs_refuse.cmake)
  set_tests_properties(abi.api_reference_refuses PROPERTIES
    PASS_REGULAR_EXPRESSION "check exit 1: .*1 public functions have no documentation:.*fixture.h:11: warning: Member bare_function"
    FAIL_REGULAR_EXPRESSION "documented_(first|second)")
endif()
