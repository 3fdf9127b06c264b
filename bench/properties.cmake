# Property lists: encoding and decoding a TOC of 1 000 segments next to memcpy
# of the same bytes, and properties_get_long on a 50-key list next to a bare
# scan of the keys.
korvo_add_benchmark(NAME properties SOURCES ${CMAKE_CURRENT_LIST_DIR}/properties_bench.cc
  LIBS korvo)
