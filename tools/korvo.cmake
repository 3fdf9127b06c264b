# korvo: the command-line program (tools/korvo/), on the library's public
# interface only. Its subcommands register themselves; see
# tools/korvo/command_registry.hpp.
find_package(CLI11 REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)  # SHA-256 of received segments
file(GLOB korvo_cli_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/korvo/*.cc)
add_executable(korvo_cli ${korvo_cli_sources})
set_target_properties(korvo_cli PROPERTIES OUTPUT_NAME korvo)
korvo_library_defaults(korvo_cli)
target_compile_definitions(korvo_cli PRIVATE KORVO_VERSION="${PROJECT_VERSION}")
target_link_libraries(korvo_cli PRIVATE korvo CLI11::CLI11 nlohmann_json::nlohmann_json
  OpenSSL::Crypto)
