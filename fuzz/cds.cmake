# The CDS source: the registry file, the client's cds.cfg, the heads of
# HTTP answers as the CDS client reads them, and its cached packages' check
# records.
korvo_add_fuzz_target(NAME cds_registry SOURCE ${CMAKE_CURRENT_LIST_DIR}/cds_registry_fuzz.cc)
korvo_add_fuzz_target(NAME cds_config SOURCE ${CMAKE_CURRENT_LIST_DIR}/cds_config_fuzz.cc)
korvo_add_fuzz_target(NAME cds_http_answer SOURCE ${CMAKE_CURRENT_LIST_DIR}/cds_http_answer_fuzz.cc)
korvo_add_fuzz_target(NAME cds_check_record SOURCE ${CMAKE_CURRENT_LIST_DIR}/cds_check_record_fuzz.cc
  LIBS CDSClientText)
