# The korvo command's host seam alone (tools/korvo/host_*, sha256_*), built
# without the library, so that its Windows twins run under Wine as soon as
# they compile.
set(korvo_cli_host_sources)
foreach(name IN ITEMS host_files host_system sha256)
  list(APPEND korvo_cli_host_sources
    ${PROJECT_SOURCE_DIR}/tools/korvo/${name}${KORVO_HOST_SUFFIX}.cc)
endforeach()
korvo_add_gtest(NAME cli_host_tests
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/host/host_seam_test.cc ${korvo_cli_host_sources})
target_include_directories(cli_host_tests PRIVATE ${PROJECT_SOURCE_DIR}/tools/korvo)
if(WIN32)
  target_link_libraries(cli_host_tests PRIVATE bcrypt)
else()
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
  target_link_libraries(cli_host_tests PRIVATE OpenSSL::Crypto)
endif()
