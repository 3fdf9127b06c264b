# Progress-record paths, fed any distribution id. POSIX_ONLY: its checks
# are the POSIX path rules ('/' alone separates; the path is the folder,
# '/', the id and ".mds").
korvo_add_fuzz_target(NAME mstat_path SOURCE ${CMAKE_CURRENT_LIST_DIR}/mstat_path_fuzz.cc LIBS korvo POSIX_ONLY)
# Stream keys: opened as net streams from their own bytes, and built with
# file_stream_key_new from strings.
korvo_add_fuzz_target(NAME stream_keys
  SOURCE ${CMAKE_CURRENT_LIST_DIR}/stream_keys.cc LIBS korvo)
