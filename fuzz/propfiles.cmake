# Property files of every layout loaded from arbitrary bytes.
korvo_add_fuzz_target(NAME propfiles_load
  SOURCE ${CMAKE_CURRENT_LIST_DIR}/propfiles_load.cc LIBS korvo)
