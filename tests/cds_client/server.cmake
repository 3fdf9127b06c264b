# The client's tests talk to the test suite's HTTP server.
target_link_libraries(cds_client_tests PRIVATE korvo_http_test_server)
# ... and read answers and check records with the client's own text code.
target_link_libraries(cds_client_tests PRIVATE CDSClientText)
# Locks and FIFOs as the host makes them.
target_sources(cds_client_tests PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/client_test_host${KORVO_HOST_SUFFIX}.cc)
# A process that starts a download and waits to be killed.
add_executable(cds_download_and_wait ${CMAKE_CURRENT_SOURCE_DIR}/download_and_wait.cc)
korvo_library_defaults(cds_download_and_wait)
target_link_libraries(cds_download_and_wait PRIVATE CDSClient)
add_dependencies(cds_client_tests cds_download_and_wait)
target_compile_definitions(cds_client_tests PRIVATE
  CDS_DOWNLOAD_AND_WAIT="$<TARGET_FILE:cds_download_and_wait>")
