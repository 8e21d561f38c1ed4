# Tests of the display views. They draw with Qt and GL: the relief and texture tests render on a
# headless EGL context and the painted views on Qt's offscreen platform; only the GL widget's on-screen
# test needs a display (xvfb-run, label gui) and is skipped without one.
if(NOT TARGET veraxo_views)
    return()
endif()

set(display_main ${CMAKE_CURRENT_LIST_DIR}/display/display_test_main.cpp)

veraxo_add_test(test_spectrum_history
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/display/test_spectrum_history.cpp
    LIBS veraxo_views
    COUNT_ALLOCATIONS)
veraxo_add_test(test_spectrum_render
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/display/test_spectrum_render.cpp ${display_main}
    LIBS veraxo_views
    OWN_MAIN)
veraxo_add_test(test_texture2d
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/display/test_texture2d.cpp ${display_main}
    LIBS veraxo_views
    OWN_MAIN)
veraxo_add_test(test_graph_indicator
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/display/test_graph_indicator.cpp ${display_main}
    LIBS veraxo_views
    OWN_MAIN)
veraxo_add_test(test_spectrum_view
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/display/test_spectrum_view.cpp ${display_main}
    LIBS veraxo_views
    DISPLAY_TESTS SpectrumView.ShowsTheRenderedReliefInTheWidget
    OWN_MAIN)
veraxo_add_test(test_views_threads
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/display/test_views_threads.cpp ${display_main}
    LIBS veraxo_views
    LABELS threads OWN_MAIN)
target_compile_definitions(test_spectrum_view PRIVATE DISPLAY_TESTS_ON_SCREEN)

if(TARGET veraxo-analyze)
    veraxo_add_test(test_report_picture
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/display/test_report_picture.cpp
        LIBS veraxo_analyze_core)
    target_compile_definitions(test_report_picture PRIVATE
        VERAXO_ANALYZE="$<TARGET_FILE:veraxo-analyze>"
        SAMPLE_WAV="${PROJECT_SOURCE_DIR}/resources/sample.wav")
    add_dependencies(test_report_picture veraxo-analyze)
endif()
