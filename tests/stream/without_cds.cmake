# stream_without_cds_tests: the stream layer and the layers below it, linked
# without the CDS layer, as a build that leaves CDS out would link them. The
# link itself shows that stream/ needs nothing of cds/.
korvo_add_gtest(NAME stream_without_cds_tests
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/without_cds/cds_source_test.cc
  LIBS korvo_stream korvo_depot korvo_records korvo_properties korvo_helpers
       korvo_errors korvo_kes korvo_runtime)
# The layers' objects are linked in, not imported from korvo.dll: the test
# declares their names as the library's own build does.
target_compile_definitions(stream_without_cds_tests PRIVATE KORVO_BUILDING_KORVO=1)
