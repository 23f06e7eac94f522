# fuzz/replay.cmake - vtq_fuzz_harness(TARGET HARNESS): fuzz_HARNESS.cc on what it
# runs on, for fuzz/CMakeLists.txt's libFuzzer binaries and, included from
# tests/, for replays with the build's own compiler and flags, which CTest
# feeds fuzz/regressions/HARNESS and the public corpus.
function(vtq_fuzz_harness target harness)
  add_executable(${target} ${CMAKE_SOURCE_DIR}/fuzz/fuzz_${harness}.cc
                 ${CMAKE_SOURCE_DIR}/fuzz/fuzz_common.cc)
  if(harness MATCHES "^(central_dir|inflate|methods)$") # the filter on the counting host
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/test_host.cpp
                   $<TARGET_OBJECTS:vtq_filter_objs> $<TARGET_OBJECTS:vtq_oscomm_impl>
                   $<TARGET_OBJECTS:vtq_comm_impl> $<TARGET_OBJECTS:vtq_conf_impl>)
  else() # the shipped host libraries, and the filter by dlopen
    target_link_libraries(${target} PRIVATE vtq_txif vtq_oscomm vtq_comm vtq_conf)
    add_dependencies(${target} vtq_zozaz)
  endif()
  if(harness STREQUAL "extract")
    target_link_libraries(${target} PRIVATE vtq_zozaz libziptext)
  elseif(harness STREQUAL "documents")
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:vtq_txif_impl>)
    target_link_libraries(${target} PRIVATE ${VTQ_DETECT_LIBS} ${VTQ_DOCUMENT_LIBS})
  endif()
  target_include_directories(${target} PRIVATE ${VTQ_INCLUDE} ${CMAKE_SOURCE_DIR}
                             ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${target} PRIVATE ${VTQ_FILTER_LINK_LIBS} Threads::Threads
                        ${CMAKE_DL_LIBS})
endfunction()
if(VTQ_FUZZ_HARNESSES_ONLY)
  return()
endif()

foreach(harness central_dir inflate extract methods documents)
  vtq_fuzz_harness(fuzz_replay_${harness} ${harness})
  target_compile_definitions(fuzz_replay_${harness} PRIVATE VTQ_FUZZ_REPLAY)
  add_test(NAME fuzz_regressions_${harness} COMMAND fuzz_replay_${harness}
           ${CMAKE_SOURCE_DIR}/fuzz/regressions/${harness})
  # Not the methods harness: any archive is an AES member failing its password check.
  if(EXISTS ${VTQ_CORPUS_DIR}/MANIFEST.tsv AND NOT harness STREQUAL "methods")
    add_test(NAME fuzz_corpus_${harness} COMMAND fuzz_replay_${harness} ${VTQ_CORPUS_DIR})
  endif()
endforeach()
get_property(fuzz_tests DIRECTORY PROPERTY TESTS)
list(FILTER fuzz_tests INCLUDE REGEX "^fuzz_")
set_tests_properties(${fuzz_tests} PROPERTIES LABELS fuzz)
