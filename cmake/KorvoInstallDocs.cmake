# What people read, installed with the programs (component "runtime", the
# Debian package korvo):
#   share/man/man1/<program>.1.gz                 the man pages of docs/man/
#                                                 (compressed, as man and
#                                                 Debian expect them)
#   share/bash-completion/completions/korvo       bash completion for korvo
#   share/doc/korvo/README.md, share/doc/korvo/*.md  the README and docs/
# On Windows (the ZIP) only the README, at the top, and docs/ in doc/: no
# man or bash there.
# Included from KorvoPackaging.cmake after GNUInstallDirs.
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT runtime)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}
    COMPONENT runtime FILES_MATCHING PATTERN "*.md" PATTERN "man" EXCLUDE)
  return()
endif()
find_program(KORVO_GZIP gzip REQUIRED)

set(KORVO_MAN_PAGES korvo korvo_gateway korvo_sample_method)
set(compressed_pages)
foreach(page IN LISTS KORVO_MAN_PAGES)
  set(source ${PROJECT_SOURCE_DIR}/docs/man/${page}.1)
  set(compressed ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
  # -n: no name or time stamp in the file, so that builds are reproducible.
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${KORVO_GZIP} -9n -c ${source} > ${compressed}
    DEPENDS ${source} VERBATIM)
  list(APPEND compressed_pages ${compressed})
endforeach()
add_custom_target(korvo_man_pages ALL DEPENDS ${compressed_pages})
install(FILES ${compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)

install(FILES ${PROJECT_SOURCE_DIR}/tools/completion/korvo
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT runtime)

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}
  COMPONENT runtime FILES_MATCHING PATTERN "*.md" PATTERN "man" EXCLUDE)
