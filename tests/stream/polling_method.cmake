# korvo_polling_method: a method whose stream polls the gateway before it
# reads its files, run under the gateway peer by the polling tests (which
# watch its opens with inotify: POSIX hosts only).
if(WIN32)
  return()
endif()
add_executable(korvo_polling_method ${CMAKE_CURRENT_SOURCE_DIR}/polling_method.cc)
korvo_library_defaults(korvo_polling_method)
target_link_libraries(korvo_polling_method PRIVATE korvo)
add_dependencies(stream_tests korvo_polling_method)
target_compile_definitions(stream_tests PRIVATE
  KORVO_POLLING_METHOD_PROGRAM="$<TARGET_FILE:korvo_polling_method>")
