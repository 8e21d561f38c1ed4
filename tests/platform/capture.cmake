# The run loop and message port, thread policy and the file backend.
veraxo_add_test(test_message_port SOURCES ${CMAKE_CURRENT_LIST_DIR}/MessagePortTest.cpp
    LIBS veraxo_audio_platform LABELS threads)
veraxo_add_test(test_thread_policy SOURCES ${CMAKE_CURRENT_LIST_DIR}/ThreadPolicyTest.cpp
    LIBS veraxo_audio_platform LABELS threads)
if(TARGET veraxo_audiofile)
    veraxo_add_test(test_file_audio_unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/FileAudioUnitTest.cpp
        LIBS veraxo_capture LABELS threads TIMEOUT 60)
endif()
if(TARGET veraxo_audiofile AND TARGET veraxo_signal)
    veraxo_add_test(test_portaudio_capture SOURCES ${CMAKE_CURRENT_LIST_DIR}/PortAudioCaptureTest.cpp
        LIBS veraxo_capture veraxo_signal LABELS device TIMEOUT 60)
    target_compile_definitions(test_portaudio_capture PRIVATE VERAXO_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    # Needs no sound server: the stream comes from ALSA's null device.
    veraxo_add_test(test_portaudio_stop SOURCES ${CMAKE_CURRENT_LIST_DIR}/PortAudioStopTest.cpp
        LIBS veraxo_capture LABELS unit threads TIMEOUT 60)
endif()
# The microphone backend over a stand-in PortAudio whose stream does not stop.
veraxo_add_test(test_portaudio_abandon SOURCES ${CMAKE_CURRENT_LIST_DIR}/PortAudioAbandonTest.cpp
    LIBS veraxo_capture LABELS threads)
# The audio libraries PortAudio probes stay silent on standard error. The name is short like the
# program's: ALSA's JACK plug-in prints a warning of its own for client names past 31 characters.
veraxo_add_test(test_quiet_audio SOURCES ${CMAKE_CURRENT_LIST_DIR}/AudioLibraryNoiseTest.cpp
    LIBS veraxo_capture)
