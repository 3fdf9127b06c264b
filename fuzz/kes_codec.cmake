# The Kes layer's parsers of outside bytes: Base64 decoding and the tag
# helpers that read and fill the depot's entry records.
korvo_add_fuzz_target(NAME kes_base64_decode
  SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/kes_base64_decode_fuzz.cc LIBS korvo)
korvo_add_fuzz_target(NAME kes_tags
  SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/kes_tags_fuzz.cc LIBS korvo)

# The Base64 target also runs the codec's kernels side by side; they are
# internal to the library, so it builds its own copies.
set(kes_base64_kernels ${KORVO_INCLUDE_ROOT}/kes/kes_base64_scalar.cc
                       ${KORVO_INCLUDE_ROOT}/kes/kes_base64_avx2.cc)
target_sources(replay_kes_base64_decode PRIVATE ${kes_base64_kernels})
if(KORVO_FUZZ)
  target_sources(fuzz_kes_base64_decode PRIVATE ${kes_base64_kernels})
endif()
