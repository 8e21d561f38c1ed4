# Fault injection into the voice unit through the scriptable audio unit.
veraxo_add_test(test_voice_unit_faults SOURCES ${CMAKE_CURRENT_LIST_DIR}/VoiceUnitFaultTest.cpp
    LIBS veraxo_capture veraxo_audio_double LABELS threads)
