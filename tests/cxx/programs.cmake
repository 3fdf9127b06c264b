# The C++ interface is tested as consumers use it, through the staged
# headers (<korvo/korvo.hpp>); the sample method's C++ twin runs under the
# gateway peer.
add_dependencies(cxx_tests korvo_headers korvo_gateway korvo_sample_method_cxx)
target_compile_definitions(cxx_tests PRIVATE
  KORVO_GATEWAY_PROGRAM="$<TARGET_FILE:korvo_gateway>"
  KORVO_SAMPLE_METHOD_CXX_PROGRAM="$<TARGET_FILE:korvo_sample_method_cxx>")
