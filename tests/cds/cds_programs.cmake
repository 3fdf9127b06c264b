# Programs and libraries of the CDS tests:
#   cds_probe, cds_probe_linked   run cds_init in a fresh process (cds_probe.cc);
#                                 the second has the client linked in
#   stub/libCDSClient.so          a client without PublishFile (.dll on Windows)
#   libcds_scripted_client.so     a client whose answers the test scripts,
#                                 loaded by its path (cds_scripted_client.cc)
# The tests download through the real client, linked into cds_tests, from the
# test suite's HTTP server, and copy the client's library into the places
# the loader searches.
# The probes list the process's loaded libraries through the host
# (cds_probe_modules_posix.cc / _win32.cc).
foreach(variant IN ITEMS cds_probe cds_probe_linked)
  add_executable(${variant} ${CMAKE_CURRENT_SOURCE_DIR}/cds_probe.cc
    ${CMAKE_CURRENT_SOURCE_DIR}/cds_probe_modules${KORVO_HOST_SUFFIX}.cc)
  korvo_library_defaults(${variant})
  target_link_libraries(${variant} PRIVATE korvo)
  if(WIN32)
    target_link_libraries(${variant} PRIVATE psapi)
  endif()
  add_dependencies(cds_tests ${variant})
endforeach()
target_link_libraries(cds_probe_linked PRIVATE CDSClient)
target_compile_definitions(cds_probe_linked PRIVATE CDS_PROBE_LINKED)
target_compile_definitions(cds_tests PRIVATE
  CDS_TEST_PROBE="$<TARGET_FILE:cds_probe>"
  CDS_TEST_PROBE_LINKED="$<TARGET_FILE:cds_probe_linked>")

add_library(cds_stub_client MODULE ${CMAKE_CURRENT_SOURCE_DIR}/cds_stub_client.c)
korvo_warnings(cds_stub_client)
# Named as the loader looks for the client: libCDSClient.so, or
# libCDSClient.dll on Windows.
set_target_properties(cds_stub_client PROPERTIES
  PREFIX "lib" OUTPUT_NAME CDSClient
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/stub)
if(NOT WIN32)
  set_target_properties(cds_stub_client PROPERTIES SUFFIX ".so")
endif()
add_dependencies(cds_tests cds_stub_client)

add_library(cds_scripted_client MODULE ${CMAKE_CURRENT_SOURCE_DIR}/cds_scripted_client.cc)
korvo_warnings(cds_scripted_client)
set_target_properties(cds_scripted_client PROPERTIES CXX_VISIBILITY_PRESET hidden)
add_dependencies(cds_tests cds_scripted_client)

target_link_libraries(cds_tests PRIVATE CDSClient korvo_http_test_server ${CMAKE_DL_LIBS})
target_compile_definitions(cds_tests PRIVATE
  CDS_TEST_CLIENT="$<TARGET_FILE:CDSClient>"
  CDS_TEST_STUB_CLIENT="$<TARGET_FILE:cds_stub_client>"
  CDS_TEST_SCRIPTED_CLIENT="$<TARGET_FILE:cds_scripted_client>")
