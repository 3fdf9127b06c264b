# Locating segments: the mount table that names the CD drives and the lines
# of "remote.dir", both written by other programs. The readers need nothing
# but the C++ library, so the targets compile them in.
korvo_add_fuzz_target(NAME mount_table SOURCE ${CMAKE_CURRENT_LIST_DIR}/mount_table_fuzz.cc)
korvo_add_fuzz_target(NAME remote_dir_lines
  SOURCE ${CMAKE_CURRENT_LIST_DIR}/remote_dir_lines_fuzz.cc)
foreach(kind IN ITEMS replay fuzz)
  if(TARGET ${kind}_mount_table)
    target_sources(${kind}_mount_table PRIVATE ${KORVO_INCLUDE_ROOT}/stream/mount_table.cc)
  endif()
  if(TARGET ${kind}_remote_dir_lines)
    target_sources(${kind}_remote_dir_lines PRIVATE
      ${KORVO_INCLUDE_ROOT}/stream/remote_dir_lines.cc)
  endif()
endforeach()
