# fuzz/replay.cmake - replay the fuzz findings in every normal build
#
# Included from tests/CMakeLists.txt.  The harness sources are built with
# the project's own compiler and flags (so the sanitizer preset replays
# them under AddressSanitizer) and a plain main() that feeds them the files
# of fuzz/regressions/<harness>/ (and the public corpus).  No clang, no
# libFuzzer.
set(VTQ_FUZZ_DIR ${CMAKE_SOURCE_DIR}/fuzz)

add_executable(fuzz_replay_central_dir ${VTQ_FUZZ_DIR}/fuzz_central_dir.cc
               ${VTQ_FUZZ_DIR}/fuzz_common.cc ${VTQ_FUZZ_DIR}/replay_main.cc
               ${CMAKE_SOURCE_DIR}/tests/support/test_host.cpp
               $<TARGET_OBJECTS:vtq_filter_objs> $<TARGET_OBJECTS:vtq_oscomm_impl>
               $<TARGET_OBJECTS:vtq_comm_impl> $<TARGET_OBJECTS:vtq_conf_impl>)
add_executable(fuzz_replay_inflate ${VTQ_FUZZ_DIR}/fuzz_inflate.cc
               ${VTQ_FUZZ_DIR}/fuzz_common.cc ${VTQ_FUZZ_DIR}/replay_main.cc
               ${CMAKE_SOURCE_DIR}/tests/support/test_host.cpp
               $<TARGET_OBJECTS:vtq_filter_objs> $<TARGET_OBJECTS:vtq_oscomm_impl>
               $<TARGET_OBJECTS:vtq_comm_impl> $<TARGET_OBJECTS:vtq_conf_impl>)
add_executable(fuzz_replay_methods ${VTQ_FUZZ_DIR}/fuzz_methods.cc
               ${VTQ_FUZZ_DIR}/fuzz_common.cc ${VTQ_FUZZ_DIR}/replay_main.cc
               ${CMAKE_SOURCE_DIR}/tests/support/test_host.cpp
               $<TARGET_OBJECTS:vtq_filter_objs> $<TARGET_OBJECTS:vtq_oscomm_impl>
               $<TARGET_OBJECTS:vtq_comm_impl> $<TARGET_OBJECTS:vtq_conf_impl>)
add_executable(fuzz_replay_extract ${VTQ_FUZZ_DIR}/fuzz_extract.cc
               ${VTQ_FUZZ_DIR}/fuzz_common.cc ${VTQ_FUZZ_DIR}/replay_main.cc)
target_link_libraries(fuzz_replay_extract PRIVATE vtq_zozaz vtq_txif vtq_oscomm vtq_comm vtq_conf)
add_dependencies(fuzz_replay_extract vtq_zozaz)

# The document dispatch: the host's own objects, the filter by dlopen.
add_executable(fuzz_replay_documents ${VTQ_FUZZ_DIR}/fuzz_documents.cc
               ${VTQ_FUZZ_DIR}/fuzz_common.cc ${VTQ_FUZZ_DIR}/replay_main.cc
               $<TARGET_OBJECTS:vtq_txif_impl>)
target_link_libraries(fuzz_replay_documents PRIVATE vtq_txif vtq_oscomm vtq_comm vtq_conf
                      PkgConfig::UCHARDET ${VTQ_DOCUMENT_LIBS})
add_dependencies(fuzz_replay_documents vtq_zozaz)
# Its seeds are the committed sample documents.
add_test(NAME fuzz_regressions_documents
         COMMAND fuzz_replay_documents ${CMAKE_SOURCE_DIR}/tests/data/documents)
set_tests_properties(fuzz_regressions_documents PROPERTIES LABELS fuzz)

foreach(harness central_dir inflate extract methods documents)
  target_include_directories(fuzz_replay_${harness} PRIVATE ${VTQ_INCLUDE} ${CMAKE_SOURCE_DIR}
                             ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(fuzz_replay_${harness} PRIVATE ${VTQ_FILTER_LINK_LIBS} Threads::Threads
                        ${CMAKE_DL_LIBS})
  if(EXISTS ${VTQ_FUZZ_DIR}/regressions/${harness})
    add_test(NAME fuzz_regressions_${harness}
             COMMAND fuzz_replay_${harness} ${VTQ_FUZZ_DIR}/regressions/${harness})
    set_tests_properties(fuzz_regressions_${harness} PROPERTIES LABELS fuzz)
  endif()
  # The public corpus through the same checks (every mode, no leftovers).
  # The decoder's harness reads an archive as a size and a raw stream, which
  # mostly exercises the refusals of both decoders; it keeps the harness
  # built and running between campaigns.
  # (Not for the methods harness: an archive read as its input is an AES
  # member that fails its password check, again and again.)
  if(EXISTS ${VTQ_CORPUS_DIR}/MANIFEST.tsv AND NOT harness STREQUAL "methods")
    add_test(NAME fuzz_corpus_${harness} COMMAND fuzz_replay_${harness} ${VTQ_CORPUS_DIR})
    set_tests_properties(fuzz_corpus_${harness} PROPERTIES LABELS fuzz)
  endif()
endforeach()
