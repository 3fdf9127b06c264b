# korvo receive --from cds of 256 MiB in 4 packages from the test suite's
# HTTP server, next to the curl program fetching the same packages in the
# same run. Needs the test server, which the test suite builds.
if(TARGET korvo_http_test_server)
  korvo_add_benchmark(NAME receive_cds SOURCES ${CMAKE_CURRENT_LIST_DIR}/receive_cds_bench.cc
    LIBS korvo korvo_http_test_server)
  target_compile_definitions(bench_receive_cds PRIVATE KORVO_PROGRAM="$<TARGET_FILE:korvo_cli>"
    KORVO_CDS_CLIENT_LIBRARY="$<TARGET_FILE:CDSClient>")
  add_dependencies(bench_receive_cds korvo_cli CDSClient)
endif()
