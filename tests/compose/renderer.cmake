# Tests of the frame renderer and the live layout. Included from tests/compose/CMakeLists.txt.
reelbox_test(renderer-tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/FrameRendererTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/LiveLayoutTest.cpp
    LIBS reelbox_compose Qt6::Gui)
