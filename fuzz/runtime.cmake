# The runtime's decoder, fed hostile bytes as an any, a property list list, a
# structure of every kind, a message list or an error record.
korvo_add_fuzz_target(NAME runtime_decode
  SOURCE ${CMAKE_CURRENT_LIST_DIR}/runtime_decode.cc LIBS korvo_runtime)

# The configuration reader, fed any file contents.
korvo_add_fuzz_target(NAME config_read
  SOURCE ${CMAKE_CURRENT_LIST_DIR}/config_read_fuzz.cc LIBS korvo_runtime)

# CorrectPath, fed any path, native or not.
korvo_add_fuzz_target(NAME correct_path
  SOURCE ${CMAKE_CURRENT_LIST_DIR}/correct_path_fuzz.cc LIBS korvo_runtime)
