# The depot's parser of entry files, whose bytes another process, a crash or
# a user may have written.
korvo_add_fuzz_target(NAME depot_entry_file
  SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/depot_entry_file_fuzz.cc LIBS korvo)
