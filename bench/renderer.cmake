# Benchmarks of the frame renderer. Included from bench/CMakeLists.txt after Google Benchmark
# has been found.
add_executable(bench-renderer ${CMAKE_CURRENT_LIST_DIR}/bench_renderer.cpp)
target_link_libraries(bench-renderer PRIVATE reelbox_compose benchmark::benchmark Qt6::Gui)
