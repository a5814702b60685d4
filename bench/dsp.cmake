# Benchmarks of the effects (audio/dsp). Included from bench/CMakeLists.txt after
# Google Benchmark has been found.
add_executable(bench-dsp ${CMAKE_CURRENT_LIST_DIR}/bench_dsp.cpp)
target_link_libraries(bench-dsp PRIVATE reelbox_dsp benchmark::benchmark)
