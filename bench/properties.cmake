# Property lists: encoding and decoding a TOC of 1 000 segments next to memcpy
# of the same bytes and to the same TOC in msgpack-c (libmsgpack-dev) and
# protobuf (libprotobuf-dev, protobuf-compiler), and properties_get_long on a
# 50-key list next to a bare scan of the keys.
find_package(Protobuf REQUIRED)
find_package(msgpack REQUIRED)
# The generated protobuf code is built without the project's warning flags.
protobuf_generate_cpp(toc_peer_sources toc_peer_headers ${CMAKE_CURRENT_LIST_DIR}/toc_peer.proto)
add_library(bench_toc_peers STATIC ${toc_peer_sources} ${CMAKE_CURRENT_LIST_DIR}/toc_peers.cc)
target_include_directories(bench_toc_peers PUBLIC ${CMAKE_CURRENT_BINARY_DIR}/.. ${KORVO_INCLUDE_ROOT})
target_link_libraries(bench_toc_peers PUBLIC korvo protobuf::libprotobuf msgpackc)
korvo_add_benchmark(NAME properties SOURCES ${CMAKE_CURRENT_LIST_DIR}/properties_bench.cc
  LIBS korvo bench_toc_peers)
