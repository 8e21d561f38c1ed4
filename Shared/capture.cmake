# veraxo_capture: buffer queue, capture properties and the voice unit over the audio-unit layer.
add_library(veraxo_capture STATIC ${CMAKE_CURRENT_LIST_DIR}/VoiceUnit.cpp)
target_include_directories(veraxo_capture PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR})
target_link_libraries(veraxo_capture PUBLIC brel veraxo_audio_platform)
