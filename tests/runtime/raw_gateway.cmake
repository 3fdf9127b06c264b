# The gateway's end of the method processes' channels
# (raw_gateway.hpp), in this host's form.
target_sources(runtime_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/raw_gateway${KORVO_HOST_SUFFIX}.cc)
