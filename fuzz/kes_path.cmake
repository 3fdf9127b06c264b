# The Kes path rules, fed any path and buffer size.
korvo_add_fuzz_target(NAME kes_path SOURCE ${CMAKE_CURRENT_LIST_DIR}/kes_path_fuzz.cc LIBS korvo)
