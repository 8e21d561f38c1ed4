# The application shell: start-up, navigation, the main and help screens, and the `veraxo` program.
# It needs the engine, the voice unit and the views; until all of them are in the tree it is skipped.
if(NOT VERAXO_BUILD_GUI)
    return()
endif()
foreach(needed brel veraxo_signal veraxo_capture veraxo_views)
    if(NOT TARGET ${needed})
        message(STATUS "veraxo: the desktop app needs ${needed}; skipping it for now")
        return()
    endif()
endforeach()

find_package(Qt6 REQUIRED COMPONENTS Widgets OpenGLWidgets)

add_library(veraxo_shell STATIC
    ${CMAKE_CURRENT_LIST_DIR}/Bundle.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Globals.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HelpViewController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ImageButton.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LaunchOptions.cpp
    ${CMAKE_CURRENT_LIST_DIR}/NavigationController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RunLoopBridge.cpp
    ${CMAKE_CURRENT_LIST_DIR}/VeraxoAppDelegate.cpp
    ${CMAKE_CURRENT_LIST_DIR}/VeraxoViewController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ViewController.cpp)
set_target_properties(veraxo_shell PROPERTIES AUTOMOC ON)
target_include_directories(veraxo_shell PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(veraxo_shell PUBLIC Qt6::Widgets veraxo_views veraxo_capture veraxo_signal brel)

# The bundle: the help page and the pictures the shell asks for by name.
set(VERAXO_RESOURCES ${PROJECT_SOURCE_DIR}/resources)
set(VERAXO_BUNDLE_FILES ${VERAXO_RESOURCES}/Help.html)
foreach(image button_start button_start_over button_pause button_pause_over Icon)
    foreach(variant "" "@2x")
        if(EXISTS ${VERAXO_RESOURCES}/${image}${variant}.png)
            list(APPEND VERAXO_BUNDLE_FILES ${VERAXO_RESOURCES}/${image}${variant}.png)
        endif()
    endforeach()
endforeach()
qt_add_resources(veraxo_shell veraxo_bundle PREFIX /veraxo BASE ${VERAXO_RESOURCES} FILES ${VERAXO_BUNDLE_FILES})

add_executable(veraxo ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_compile_definitions(veraxo PRIVATE VERAXO_VERSION="${PROJECT_VERSION}")
target_link_libraries(veraxo PRIVATE veraxo_shell)

install(TARGETS veraxo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${VERAXO_RESOURCES}/veraxo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# Icon.png is square; pixmaps/ takes an icon of any size.
install(FILES ${VERAXO_RESOURCES}/Icon.png DESTINATION ${CMAKE_INSTALL_DATADIR}/pixmaps RENAME veraxo.png OPTIONAL)
