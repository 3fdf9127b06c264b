# The client's tests talk to the test suite's HTTP server.
target_link_libraries(cds_client_tests PRIVATE korvo_http_test_server)
