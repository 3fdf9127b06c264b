# korvo_gateway: the gateway peer that method authors, the end-to-end tests
# and the benchmarks run a method against. The packet code and the
# channel's end are the runtime's own, compiled in (they are internal to
# korvo_runtime).
file(GLOB gateway_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/gateway/*.cc)
list(FILTER gateway_sources EXCLUDE REGEX "${KORVO_OTHER_HOST_SUFFIX}\\.cc$")
add_executable(korvo_gateway ${gateway_sources} ${KORVO_INCLUDE_ROOT}/runtime/channel_packet.cc
  ${KORVO_INCLUDE_ROOT}/runtime/gateway_socket${KORVO_HOST_SUFFIX}.cc)
korvo_library_defaults(korvo_gateway)
target_link_libraries(korvo_gateway PRIVATE korvo)
# --make-toc writes each file's SHA-256: OpenSSL's, or Windows' own (bcrypt).
if(WIN32)
  target_link_libraries(korvo_gateway PRIVATE bcrypt ws2_32)
else()
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
  target_link_libraries(korvo_gateway PRIVATE OpenSSL::Crypto)
endif()
