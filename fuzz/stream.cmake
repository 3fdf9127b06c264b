# Progress-record paths, fed any distribution id.
korvo_add_fuzz_target(NAME mstat_path SOURCE ${CMAKE_CURRENT_LIST_DIR}/mstat_path_fuzz.cc LIBS korvo)
