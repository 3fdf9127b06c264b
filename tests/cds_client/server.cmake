# The client's tests talk to the test suite's HTTP server.
target_link_libraries(cds_client_tests PRIVATE korvo_http_test_server)
# ... and read answers and check records with the client's own text code.
target_link_libraries(cds_client_tests PRIVATE CDSClientText)
