# Tests of the application shell. The widget tests need a display (label gui: run under xvfb-run).
if(NOT TARGET veraxo_shell)
    return()
endif()
find_package(Qt6 REQUIRED COMPONENTS Test)

veraxo_add_test(app_callback_proxy_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/CallbackProxy2Test.cpp)
target_include_directories(app_callback_proxy_test PRIVATE ${PROJECT_SOURCE_DIR}/app)

veraxo_add_test(app_shell_gui_test
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/gui_test_main.cpp
        ${CMAKE_CURRENT_LIST_DIR}/LaunchOptionsTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/HelpViewControllerTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/NavigationControllerTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/VeraxoAppDelegateTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/VeraxoViewControllerTest.cpp
    LIBS veraxo_shell veraxo_audio_double Qt6::Test
    LABELS gui
    OWN_MAIN)
target_compile_definitions(app_shell_gui_test PRIVATE
    VERAXO_SAMPLE_RECORDING="${PROJECT_SOURCE_DIR}/resources/sample.wav"
    VERAXO_ANALYZE="$<TARGET_FILE:veraxo-analyze>")
add_dependencies(app_shell_gui_test veraxo-analyze)

# The real program, end to end: analyse the sample recording live and take a picture of the window.
find_program(VERAXO_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(VERAXO_PYTHON AND EXISTS ${PROJECT_SOURCE_DIR}/resources/sample.wav)
    add_test(NAME app_smoke_test
        COMMAND ${VERAXO_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/smoke_test.py $<TARGET_FILE:veraxo>
            ${PROJECT_SOURCE_DIR}/resources/sample.wav ${CMAKE_CURRENT_BINARY_DIR}/smoke_screenshot.png)
    set_tests_properties(app_smoke_test PROPERTIES LABELS gui TIMEOUT 120)
    # Under ASan the program unloads its GL and audio plug-ins at exit, and LeakSanitizer then takes
    # what they still hold for leaks it cannot attribute. Leaks of our own code are caught in-process
    # by app_shell_gui_test, which keeps the plug-ins loaded until its check.
    if(CMAKE_CXX_FLAGS MATCHES "sanitize=address")
        set_property(TEST app_smoke_test APPEND PROPERTY ENVIRONMENT
            "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1:suppressions=${PROJECT_SOURCE_DIR}/tests/sanitizers/asan.supp")
    endif()
endif()

# The session store's hand-over from the audio thread, counted for allocations.
veraxo_add_test(app_session_store_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/SessionStoreTest.cpp
    LIBS veraxo_shell
    LABELS unit threads OWN_MAIN COUNT_ALLOCATIONS)
