# The wildcard matcher: arbitrary patterns and names.
korvo_add_fuzz_target(NAME match SOURCE ${CMAKE_CURRENT_LIST_DIR}/match_fuzz.cc LIBS korvo)
