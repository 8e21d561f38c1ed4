# The application shell: start-up, navigation, the main and help screens, and the `veraxo` program.
# It needs the engine, the voice unit and the views; until all of them are in the tree it is skipped.
if(NOT VERAXO_BUILD_GUI)
    return()
endif()
foreach(needed brel veraxo_signal veraxo_capture veraxo_audiofile veraxo_views)
    if(NOT TARGET ${needed})
        message(STATUS "veraxo: the desktop app needs ${needed}; skipping it for now")
        return()
    endif()
endforeach()

find_package(Qt6 REQUIRED COMPONENTS Widgets OpenGLWidgets)

add_library(veraxo_shell STATIC
    ${CMAKE_CURRENT_LIST_DIR}/Bundle.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DeviceMenu.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Globals.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HelpViewController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ImageButton.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LaunchOptions.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LevelMeter.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainScreenLayout.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainWindow.cpp
    ${CMAKE_CURRENT_LIST_DIR}/NavigationController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PipeRelay.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RunLoopBridge.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SessionStore.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StatusBar.cpp
    ${CMAKE_CURRENT_LIST_DIR}/VeraxoAppDelegate.cpp
    ${CMAKE_CURRENT_LIST_DIR}/VeraxoViewController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ViewController.cpp)
set_target_properties(veraxo_shell PROPERTIES AUTOMOC ON)
target_include_directories(veraxo_shell PUBLIC ${CMAKE_CURRENT_LIST_DIR})
# Exports go through veraxo-analyze's own CSV writer and report picture.
target_link_libraries(veraxo_shell PUBLIC Qt6::Widgets veraxo_views veraxo_capture veraxo_signal brel
                      veraxo_analyze_core)

# The shell's own resources; the pictures come with veraxo_views under ":/images/".
set(VERAXO_RESOURCES ${PROJECT_SOURCE_DIR}/resources)
qt_add_resources(veraxo_shell veraxo_bundle PREFIX /veraxo BASE ${VERAXO_RESOURCES} FILES ${VERAXO_RESOURCES}/Help.html)

add_executable(veraxo ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_compile_definitions(veraxo PRIVATE VERAXO_VERSION="${PROJECT_VERSION}")
target_link_libraries(veraxo PRIVATE veraxo_shell)

install(TARGETS veraxo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${VERAXO_RESOURCES}/veraxo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VERAXO_RESOURCES}/images/Icon.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps
        RENAME veraxo.png)
install(FILES ${VERAXO_RESOURCES}/images/Icon@2x.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps
        RENAME veraxo.png)
