# POSIX_ONLY: a harness that makes its temporary files, folders, sockets or
# environment with POSIX calls is replayed on POSIX hosts only.
# Progress-record paths, fed any distribution id.
korvo_add_fuzz_target(NAME mstat_path SOURCE ${CMAKE_CURRENT_LIST_DIR}/mstat_path_fuzz.cc LIBS korvo POSIX_ONLY)
# Stream keys: opened as net streams from their own bytes, and built with
# file_stream_key_new from strings.
korvo_add_fuzz_target(NAME stream_keys
  SOURCE ${CMAKE_CURRENT_LIST_DIR}/stream_keys.cc LIBS korvo POSIX_ONLY)
