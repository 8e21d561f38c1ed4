veraxo_add_test(signal_filters_test
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/Signal/FrameworkTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/Signal/DFFTTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/Signal/MelTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/Signal/LogTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/Signal/VoiceDetectTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/Signal/VerdictTest.cpp
    LIBS veraxo_signal)
target_include_directories(signal_filters_test PRIVATE ${CMAKE_CURRENT_LIST_DIR})

veraxo_add_test(veraxo_engine_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/VeraxoEngineTest.cpp
    LIBS veraxo_signal)
target_include_directories(veraxo_engine_test PRIVATE ${CMAKE_CURRENT_LIST_DIR})

# Replaces the global operator new, so it lives in an executable of its own.
veraxo_add_test(veraxo_engine_alloc_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/VeraxoEngineAllocTest.cpp
    LIBS veraxo_signal
    COUNT_ALLOCATIONS)

# The engine against a plain transcription of the chain, on whole recordings and random splits.
veraxo_add_test(veraxo_engine_oracle_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/EngineOracleTest.cpp
    LIBS veraxo_signal)
target_include_directories(veraxo_engine_oracle_test PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_compile_definitions(veraxo_engine_oracle_test PRIVATE
    SAMPLE_WAV="${PROJECT_SOURCE_DIR}/resources/sample.wav")
