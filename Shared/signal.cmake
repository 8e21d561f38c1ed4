# veraxo_signal: the analysis filters, the processor that chains them and the engine that wires the
# network. Plain C++ on top of brel; no Qt.
add_library(veraxo_signal STATIC
    ${CMAKE_CURRENT_LIST_DIR}/Signal/Filter/Base.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Signal/Filter/Terminator.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Signal/Filter/ConvertToFloat.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Signal/Filter/DFFT.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Signal/Filter/Mel.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Signal/Filter/Log.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Signal/Filter/VoiceDetect.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Signal/Filter/Verdict.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Signal/Processor.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Signal/Utils.cpp
    ${CMAKE_CURRENT_LIST_DIR}/VeraxoEngine.cpp)
target_include_directories(veraxo_signal PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(veraxo_signal PUBLIC brel)
