veraxo_add_test(audio_file_reader_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/AudioFileReaderTest.cpp
    LIBS veraxo_audiofile)
