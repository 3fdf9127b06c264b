# korvo: the command-line program (tools/korvo/), on the library's public
# interface only. Its subcommands register themselves; see
# tools/korvo/command_registry.hpp.
if(NOT CMAKE_CROSSCOMPILING)  # a cross build has them from cmake/KorvoCrossPackages.cmake
  find_package(CLI11 REQUIRED)
  find_package(nlohmann_json 3 REQUIRED)
endif()
file(GLOB korvo_cli_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/korvo/*.cc)
list(FILTER korvo_cli_sources EXCLUDE REGEX "${KORVO_OTHER_HOST_SUFFIX}\\.cc$")
add_executable(korvo_cli ${korvo_cli_sources})
set_target_properties(korvo_cli PROPERTIES OUTPUT_NAME korvo)
korvo_library_defaults(korvo_cli)
target_compile_definitions(korvo_cli PRIVATE KORVO_VERSION="${PROJECT_VERSION}")
target_link_libraries(korvo_cli PRIVATE korvo CLI11::CLI11 nlohmann_json::nlohmann_json)
# SHA-256 of received segments: OpenSSL's, or Windows' own (bcrypt). On
# POSIX hosts libcrypto is loaded at the first digest (sha256_posix.cc), so
# only its headers are used here; the runtime package still depends on it
# through korvo_gateway, which links it.
if(WIN32)
  target_link_libraries(korvo_cli PRIVATE bcrypt)
else()
  find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto)
  target_include_directories(korvo_cli PRIVATE ${OPENSSL_INCLUDE_DIR})
  target_link_libraries(korvo_cli PRIVATE ${CMAKE_DL_LIBS})
endif()
