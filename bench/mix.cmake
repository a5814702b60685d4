# The offline mix of 8 tracks with every effect on (bench/compare-mix.sh runs it against
# ffmpeg). Included from bench/CMakeLists.txt after Google Benchmark has been found.
add_executable(bench-mix ${CMAKE_CURRENT_LIST_DIR}/bench_mix.cpp)
target_link_libraries(bench-mix PRIVATE reelbox_audio reelbox_platform reelbox_model Qt6::Core)
