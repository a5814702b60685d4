# The export alone, over a mix made beforehand (bench/compare-export.sh runs it against the
# ffmpeg command line). Included from bench/CMakeLists.txt after Google Benchmark has been
# found.
add_executable(bench-export ${CMAKE_CURRENT_LIST_DIR}/bench_export.cpp)
target_link_libraries(bench-export PRIVATE reelbox_compose reelbox_model reelbox_platform
    Qt6::Core Qt6::Gui)
