# The frame renderer. Included from src/compose/CMakeLists.txt.
target_sources(reelbox_compose PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/FrameRenderer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FrameRenderer.h
)
# The pixel loops are written for the vectoriser; -O2 would leave most of them scalar.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/FrameRenderer.cpp
    PROPERTIES COMPILE_OPTIONS "$<$<NOT:$<CONFIG:Debug>>:-O3>")
