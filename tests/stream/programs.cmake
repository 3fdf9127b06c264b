# The end-to-end tests run the gateway peer and the sample method.
add_dependencies(stream_tests korvo_gateway korvo_sample_method)
target_compile_definitions(stream_tests PRIVATE
  KORVO_GATEWAY_PROGRAM="$<TARGET_FILE:korvo_gateway>"
  KORVO_SAMPLE_METHOD_PROGRAM="$<TARGET_FILE:korvo_sample_method>")
