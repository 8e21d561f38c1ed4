# The audio-unit layer, run loop and message port, thread policy and the audio backends.
find_package(PkgConfig REQUIRED)
pkg_check_modules(PORTAUDIO REQUIRED IMPORTED_TARGET portaudio-2.0)
find_package(Threads REQUIRED)

add_library(veraxo_audio_platform STATIC
    ${CMAKE_CURRENT_LIST_DIR}/AudioUnit.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AudioUnitInstance.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MessagePort.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RunLoop.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RunLoopSource.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ThreadPolicy.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PortAudioUnit.cpp)
target_include_directories(veraxo_audio_platform PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(veraxo_audio_platform PUBLIC Threads::Threads PRIVATE PkgConfig::PORTAUDIO)

# Reading recordings goes through the shared decoder when it is part of the build.
if(TARGET veraxo_audiofile)
    target_sources(veraxo_audio_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/FileAudioUnit.cpp)
    target_link_libraries(veraxo_audio_platform PUBLIC veraxo_audiofile)
    target_compile_definitions(veraxo_audio_platform PUBLIC VERAXO_HAVE_FILE_BACKEND=1)
endif()

# The scriptable stand-in for tests and benchmarks; never linked into the programs.
add_library(veraxo_audio_double STATIC ${CMAKE_CURRENT_LIST_DIR}/TestAudioUnit.cpp)
target_link_libraries(veraxo_audio_double PUBLIC veraxo_audio_platform)
