# POSIX_ONLY: a harness that makes its temporary files, folders, sockets or
# environment with POSIX calls is replayed on POSIX hosts only.
# The depot's parser of entry files, whose bytes another process, a crash or
# a user may have written.
korvo_add_fuzz_target(NAME depot_entry_file
  SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/depot_entry_file_fuzz.cc LIBS korvo POSIX_ONLY)

# The depot's handling of whatever names and kinds of files other programs
# leave in its directory.
korvo_add_fuzz_target(NAME depot_dir_names
  SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/depot_dir_names_fuzz.cc LIBS korvo POSIX_ONLY)
