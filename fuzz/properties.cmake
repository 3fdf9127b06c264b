# Property lists decoded from arbitrary bytes, re-encoded, cloned and compared.
korvo_add_fuzz_target(NAME properties_decode
  SOURCE ${CMAKE_CURRENT_LIST_DIR}/properties_decode.cc LIBS korvo)
