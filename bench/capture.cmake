# Cost of a captured block from the input callback through the queue and dispatch (and the engine).
add_executable(capture_bench ${CMAKE_CURRENT_LIST_DIR}/capture_bench.cpp)
target_link_libraries(capture_bench PRIVATE veraxo_capture veraxo_audio_double veraxo_signal benchmark::benchmark)
