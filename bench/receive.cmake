# korvo receive end to end, with and without SHA-256 verification of its
# segments, against a bare read()/write() copy of the same bytes.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
korvo_add_benchmark(NAME receive SOURCES ${CMAKE_CURRENT_LIST_DIR}/receive_bench.cc
  LIBS korvo OpenSSL::Crypto)
target_compile_definitions(bench_receive PRIVATE KORVO_PROGRAM="$<TARGET_FILE:korvo_cli>"
  KORVO_GATEWAY_PROGRAM="$<TARGET_FILE:korvo_gateway>")
add_dependencies(bench_receive korvo_cli korvo_gateway)
