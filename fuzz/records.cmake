# Records viewed over property lists decoded from arbitrary bytes, checked
# against one typed getter call per field.
korvo_add_fuzz_target(NAME records_views
  SOURCE ${CMAKE_CURRENT_LIST_DIR}/records_views.cc LIBS korvo)
