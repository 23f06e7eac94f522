# ZiptextExtras.cmake - what ships around ziptext and libziptext for users
#
#  - the man page, made by help2man from the built tool's --help and
#    --version, so the option list has one source (skipped with a message
#    when help2man is missing);
#  - bash completion, which reads the options from --help when it runs.

find_program(ZIPTEXT_HELP2MAN help2man)
set(ZIPTEXT_MAN_PAGE "")
if(ZIPTEXT_HELP2MAN)
  set(ZIPTEXT_MAN_PAGE ${CMAKE_BINARY_DIR}/share/man/man1/ziptext.1)
  # help2man takes "Usage:" and "  or:" lines as the synopsis; --help writes
  # "usage:" and indents the other forms.
  set(help ${CMAKE_BINARY_DIR}/ziptext-help2man.sh)
  file(GENERATE OUTPUT ${help}
       CONTENT "#!/bin/sh\n\"$<TARGET_FILE:ziptext>\" \"$@\" | sed -e 's/^usage: /Usage: /' \
-e 's/^       ziptext /  or:  ziptext /'\n"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  add_custom_command(
    OUTPUT ${ZIPTEXT_MAN_PAGE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share/man/man1
    COMMAND ${ZIPTEXT_HELP2MAN} --no-info --name "the text of every member of a ZIP archive"
            --output ${ZIPTEXT_MAN_PAGE} ${help}
    DEPENDS ziptext VERBATIM)
  add_custom_target(ziptext_man ALL DEPENDS ${ZIPTEXT_MAN_PAGE})
  install(FILES ${ZIPTEXT_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no man page for ziptext (Debian package help2man)")
endif()

install(FILES ${CMAKE_SOURCE_DIR}/tools/completion/ziptext.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ziptext)
