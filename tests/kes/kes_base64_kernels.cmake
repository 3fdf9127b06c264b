# The Base64 kernels are internal to the library: the test program builds
# its own copies, so that both the portable and the AVX2 loops are checked
# on every machine that can run them, whichever the library would choose.
target_sources(kes_tests PRIVATE ${KORVO_INCLUDE_ROOT}/kes/kes_base64_scalar.cc
                                 ${KORVO_INCLUDE_ROOT}/kes/kes_base64_avx2.cc)
