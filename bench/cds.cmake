# CDS downloads of 256 MiB in 4 packages from the test suite's HTTP server,
# through the client alone and through a CDS stream, next to the curl
# program fetching the same packages in the same run. Needs the test server,
# which the test suite builds.
if(TARGET korvo_http_test_server)
  korvo_add_benchmark(NAME cds SOURCES ${CMAKE_CURRENT_LIST_DIR}/cds_bench.cc
    LIBS korvo CDSClient korvo_http_test_server)
endif()
