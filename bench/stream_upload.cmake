# Sending a file of 256 MiB up the gateway channel to the gateway peer, next
# to a bare loop of the same packets over a socket pair.
korvo_add_benchmark(NAME stream_upload SOURCES ${CMAKE_CURRENT_LIST_DIR}/stream_upload_bench.cc
  LIBS korvo)
add_dependencies(bench_stream_upload korvo_gateway)
target_compile_definitions(bench_stream_upload PRIVATE
  KORVO_GATEWAY_PROGRAM="$<TARGET_FILE:korvo_gateway>")
