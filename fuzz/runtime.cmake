# The runtime's decoder, fed hostile bytes as an any, a property list list, a
# structure of every kind, a message list or an error record.
korvo_add_fuzz_target(NAME runtime_decode
  SOURCE ${CMAKE_CURRENT_LIST_DIR}/runtime_decode.cc LIBS korvo_runtime)
