# Base64 and the tag helpers, each next to memcpy of the same bytes; Base64
# also with its portable kernels alone and with OpenSSL's codec
# (libssl-dev).
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
korvo_add_benchmark(NAME kes_codec
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/kes_codec_bench.cc
          ${KORVO_INCLUDE_ROOT}/kes/kes_base64_scalar.cc
  LIBS korvo OpenSSL::Crypto)
