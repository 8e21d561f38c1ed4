# veraxo_audiofile: reads any audio file libsndfile knows (or headerless 16-bit raw), from disk or from
# memory, as a stream of 16-bit mono samples at 8000 Hz. No Qt.
find_package(PkgConfig REQUIRED)
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)
pkg_check_modules(SAMPLERATE REQUIRED IMPORTED_TARGET samplerate)

add_library(veraxo_audiofile STATIC ${CMAKE_CURRENT_LIST_DIR}/AudioFileReader.cpp)
target_include_directories(veraxo_audiofile PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(veraxo_audiofile PUBLIC PkgConfig::SNDFILE PkgConfig::SAMPLERATE)
