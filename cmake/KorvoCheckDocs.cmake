cmake_minimum_required(VERSION 3.25)
# Fails when Doxygen's warnings (WARNINGS, the docs target's log) name an
# undocumented function of the public headers, listing them; other warnings
# are shown without failing.
#   cmake -DWARNINGS=<build>/docs/warnings.log -DINDEX=<build>/docs/api/index.html -P KorvoCheckDocs.cmake
if(NOT EXISTS ${INDEX} OR NOT EXISTS ${WARNINGS})
  message(FATAL_ERROR "no API reference: build the target docs first")
endif()
file(STRINGS ${WARNINGS} lines)
set(undocumented)
set(others 0)
foreach(line IN LISTS lines)
  if(line MATCHES "warning: Member (.*) \\(function\\) of .* is not documented")
    list(APPEND undocumented "${line}")
  elseif(line MATCHES "warning:")
    math(EXPR others "${others} + 1")
  endif()
endforeach()
list(LENGTH undocumented count)
if(count GREATER 0)
  list(JOIN undocumented "\n  " text)
  message(FATAL_ERROR "${count} public functions have no documentation:\n  ${text}")
endif()
message(STATUS "API reference: every public function is documented (${others} other warnings in ${WARNINGS})")
