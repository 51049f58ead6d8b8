# The window's own tests, included by this folder's CMakeLists.txt: the event rules on real controls, and a logon
# end to end. Both need an X server for Wine: a private Xvfb with openbox, started and ended by
# tests/e2e/win32_display.sh, which bounds every step in time so that no test hangs.
set(selvatro_display ${PROJECT_SOURCE_DIR}/tests/e2e/win32_display.sh)

add_executable(win32_window_test ${CMAKE_CURRENT_LIST_DIR}/window_test.cpp)
target_link_libraries(win32_window_test PRIVATE selvatro_win32 GTest::gtest_main selvatro_warnings)
target_include_directories(win32_window_test PRIVATE ${PROJECT_SOURCE_DIR}/tests)
add_test(NAME win32_window_test
         COMMAND ${selvatro_display} --timeout 180 ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:win32_window_test>)
# One X server and one Wine prefix at a time: the focus and the timer's figures are not shared with another test.
set_tests_properties(win32_window_test PROPERTIES TIMEOUT 240 RUN_SERIAL TRUE)

# The stand-in for a listed program.
add_executable(win32_recorder WIN32 ${PROJECT_SOURCE_DIR}/tests/e2e/win32_recorder.cpp)
target_link_libraries(win32_recorder PRIVATE selvatro_warnings shell32)
target_compile_definitions(win32_recorder PRIVATE UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)
target_link_options(win32_recorder PRIVATE -municode -static)

# Holds a file open without sharing, as another program may hold the list.
add_executable(win32_hold ${PROJECT_SOURCE_DIR}/tests/e2e/win32_hold.cpp)
target_link_libraries(win32_hold PRIVATE selvatro_warnings shell32)
target_compile_definitions(win32_hold PRIVATE UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)
target_link_options(win32_hold PRIVATE -municode -static)

# Makes a shell link, as Explorer does.
add_executable(win32_make_link ${PROJECT_SOURCE_DIR}/tests/e2e/win32_make_link.cpp)
target_link_libraries(win32_make_link PRIVATE selvatro_warnings shell32 ole32 uuid)
target_compile_definitions(win32_make_link PRIVATE UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)
target_link_options(win32_make_link PRIVATE -municode -static)

if(TARGET selvatro)
    # Lists as Windows users keep them: hidden, held open by another program, in UTF-16 or UTF-8 without a mark;
    # a renamed program; the same folder through its short name.
    add_test(NAME win32_lists_test
             COMMAND ${selvatro_display} --timeout 300 bash ${PROJECT_SOURCE_DIR}/tests/e2e/win32_lists_test.sh
                     $<TARGET_FILE:selvatro> $<TARGET_FILE:win32_recorder> $<TARGET_FILE:win32_hold>
                     ${CMAKE_CROSSCOMPILING_EMULATOR})
    set_tests_properties(win32_lists_test PROPERTIES TIMEOUT 360 RUN_SERIAL TRUE
                         ENVIRONMENT "SELVATRO_WINE_BUILD_DIR=${CMAKE_BINARY_DIR}")
    # A row that names a shortcut: its program starts at the row's delay with the link's arguments and folder.
    add_test(NAME win32_shortcut_test
             COMMAND ${selvatro_display} --timeout 180 bash ${PROJECT_SOURCE_DIR}/tests/e2e/win32_shortcut_test.sh
                     $<TARGET_FILE:selvatro> $<TARGET_FILE:win32_recorder> $<TARGET_FILE:win32_make_link>
                     ${CMAKE_CROSSCOMPILING_EMULATOR})
    set_tests_properties(win32_shortcut_test PROPERTIES TIMEOUT 240 RUN_SERIAL TRUE
                         ENVIRONMENT "SELVATRO_WINE_BUILD_DIR=${CMAKE_BINARY_DIR}")
    add_test(NAME win32_logon_test
             COMMAND ${selvatro_display} --timeout 240 bash ${PROJECT_SOURCE_DIR}/tests/e2e/win32_logon_test.sh
                     $<TARGET_FILE:selvatro> $<TARGET_FILE:win32_recorder> ${CMAKE_CROSSCOMPILING_EMULATOR})
    set_tests_properties(win32_logon_test PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE
                         ENVIRONMENT "SELVATRO_WINE_BUILD_DIR=${CMAKE_BINARY_DIR}")
endif()

# `selvatro.exe /give-back` in a Wine prefix of its own: only Selvatro's switches of the user's logon entries go
# back, and nothing else happens.
if(TARGET selvatro)
    add_test(NAME win32_give_back_test
             COMMAND ${selvatro_display} --timeout 180 bash ${PROJECT_SOURCE_DIR}/tests/e2e/win32_give_back_test.sh
                     $<TARGET_FILE:selvatro> ${CMAKE_CROSSCOMPILING_EMULATOR})
    set_tests_properties(win32_give_back_test PROPERTIES TIMEOUT 240 RUN_SERIAL TRUE)
endif()

# The installer end to end, in a Wine prefix of its own: a silent install, a first start, an upgrade and an
# uninstall while the program runs, and a portable copy's Startup link that the uninstaller leaves.
if(TARGET selvatro_installer)
    add_test(NAME win32_install_test
             COMMAND ${selvatro_display} --timeout 240 bash ${PROJECT_SOURCE_DIR}/tests/e2e/win32_install_test.sh
                     ${SELVATRO_INSTALLER} ${PROJECT_VERSION} ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:selvatro>)
    set_tests_properties(win32_install_test PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
endif()
