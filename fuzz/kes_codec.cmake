# The Kes layer's parsers of outside bytes: Base64 decoding and the tag
# helpers that read and fill the depot's entry records.
korvo_add_fuzz_target(NAME kes_base64_decode
  SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/kes_base64_decode_fuzz.cc LIBS korvo)
korvo_add_fuzz_target(NAME kes_tags
  SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/kes_tags_fuzz.cc LIBS korvo)
