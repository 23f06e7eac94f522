# harness.cmake - the two programs of bench/run.sh: the archive generator
# and the floor.  Included by tests/CMakeLists.txt (for the harness's smoke
# test) and by bench/CMakeLists.txt, whichever comes first.
include_guard(GLOBAL)

add_executable(vtq_bench_gen ${CMAKE_SOURCE_DIR}/bench/gen_archives.cpp)
target_link_libraries(vtq_bench_gen PRIVATE ZLIB::ZLIB Threads::Threads)

add_executable(vtq_bench_floor ${CMAKE_SOURCE_DIR}/bench/floor.cpp)
target_link_libraries(vtq_bench_floor PRIVATE ZLIB::ZLIB)
if(TARGET Libdeflate::Libdeflate)
  target_link_libraries(vtq_bench_floor PRIVATE Libdeflate::Libdeflate)
  target_compile_definitions(vtq_bench_floor PRIVATE VTQ_HAVE_LIBDEFLATE=1)
endif()

add_executable(vtq_bench_run ${CMAKE_SOURCE_DIR}/bench/runner.cpp)
