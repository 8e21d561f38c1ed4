# Buffer queue, capture properties and the voice unit over the scriptable audio unit.
veraxo_add_test(test_buffer_queue SOURCES ${CMAKE_CURRENT_LIST_DIR}/BufferQueueTest.cpp
    LIBS veraxo_capture LABELS unit threads)
veraxo_add_test(test_voice_unit_properties SOURCES ${CMAKE_CURRENT_LIST_DIR}/VoiceUnitPropertiesTest.cpp
    LIBS veraxo_capture)
veraxo_add_test(test_voice_unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/VoiceUnitTest.cpp
    LIBS veraxo_capture veraxo_audio_double LABELS threads)
veraxo_add_test(test_voice_unit_allocation SOURCES ${CMAKE_CURRENT_LIST_DIR}/VoiceUnitAllocationTest.cpp
    LIBS veraxo_capture veraxo_audio_double LABELS threads COUNT_ALLOCATIONS)
