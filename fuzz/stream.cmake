# Stream keys: opened as net streams from their own bytes, and built with
# file_stream_key_new from strings.
korvo_add_fuzz_target(NAME stream_keys
  SOURCE ${CMAKE_CURRENT_LIST_DIR}/stream_keys.cc LIBS korvo)
