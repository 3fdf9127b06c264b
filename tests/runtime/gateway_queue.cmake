# The gateway channel's queue of messages kept for another reader on its
# own: runtime/gateway_queue.cc compiled into the test (its names are
# hidden in the library), its payloads mg_ blocks of korvo_runtime.
korvo_add_gtest(NAME runtime_gateway_queue_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/gateway_queue.cc ${PROJECT_SOURCE_DIR}/runtime/gateway_queue.cc
  LIBS korvo_runtime)
