# The CDS stream tests download through the real client (linked in, so that
# the loader finds it in the running program) from the test suite's HTTP
# server, and run the gateway peer for the commands that stop a download.
add_dependencies(cds_stream_tests korvo_gateway)
target_link_libraries(cds_stream_tests PRIVATE CDSClient korvo_http_test_server)
target_compile_definitions(cds_stream_tests PRIVATE
  KORVO_GATEWAY_PROGRAM="$<TARGET_FILE:korvo_gateway>")
