# ZiptextExtras.cmake - what ships around ziptext and libziptext for users
#
#  - the man page, made by help2man from the built tool's --help and
#    --version, so the option list has one source (skipped with a message
#    when help2man is missing);
#  - bash completion, which reads the options from --help when it runs;
#  - the Python package (python/ziptext), installed where the Python
#    interpreter looks, with a note of where the library lies relative to
#    it, so that the installed tree can move as a whole.

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

# The interpreter the package is installed for and tested with: Debian's
# (where Debian's dask and pytest are), else the first python3 on PATH.
find_program(ZIPTEXT_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(ZIPTEXT_PYTHON NAMES python3)

option(ZIPTEXT_INSTALL_PYTHON "Install the Python package with the library" ON)
if(ZIPTEXT_INSTALL_PYTHON)
  # Where this prefix's packages go for that interpreter: the first of its
  # folder names that lies on its sys.path (Debian's dist-packages, or
  # site-packages), else site-packages.
  if(NOT ZIPTEXT_PYTHON_DIR)
    set(dir "")
    if(ZIPTEXT_PYTHON)
      execute_process(
        COMMAND ${ZIPTEXT_PYTHON} -c
                "import sys; v='python%d.%d' % sys.version_info[:2]; p=sys.argv[1]
names=['lib/%s/site-packages' % v, 'lib/%s/dist-packages' % v, 'lib/python3/dist-packages']
print(next((n for n in names if p + '/' + n in sys.path), names[0]), end='')"
                ${CMAKE_INSTALL_PREFIX}
        OUTPUT_VARIABLE dir RESULT_VARIABLE failed)
      if(failed)
        set(dir "")
      endif()
    endif()
    if(NOT dir)
      set(dir lib/python3/site-packages)
    endif()
    set(ZIPTEXT_PYTHON_DIR ${dir} CACHE STRING "Where the Python package is installed")
  endif()
  cmake_path(ABSOLUTE_PATH ZIPTEXT_PYTHON_DIR BASE_DIRECTORY /p OUTPUT_VARIABLE from)
  cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_LIBDIR BASE_DIRECTORY /p OUTPUT_VARIABLE to)
  file(RELATIVE_PATH libdir ${from}/ziptext ${to})
  file(WRITE ${CMAKE_BINARY_DIR}/python/_libdir.py
       "\"\"\"Written by cmake --install: libziptext's folder, from the package's.\"\"\"\n"
       "LIBDIR = \"${libdir}\"\n")
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/python/ziptext DESTINATION ${ZIPTEXT_PYTHON_DIR}
          PATTERN __pycache__ EXCLUDE)
  install(FILES ${CMAKE_BINARY_DIR}/python/_libdir.py DESTINATION ${ZIPTEXT_PYTHON_DIR}/ziptext)
endif()
