# Fault injection into the voice unit through the scriptable audio unit.
veraxo_add_test(test_voice_unit_faults SOURCES ${CMAKE_CURRENT_LIST_DIR}/VoiceUnitFaultTest.cpp
    LIBS veraxo_capture veraxo_audio_double LABELS threads)
# Malformed blocks, settings and headers at each entrance of the analysis and capture paths.
veraxo_add_test(test_bad_input SOURCES ${CMAKE_CURRENT_LIST_DIR}/BadInputTest.cpp
    LIBS veraxo_signal veraxo_capture veraxo_audio_double veraxo_audiofile LABELS threads)
