add_qt_test(test_main_window test_main_window.cpp)
# The same window on a 1024 x 600 panel.
add_test(NAME test_main_window_small_screen
         COMMAND test_main_window everythingInReachOnASmallScreenOrWithALargeFont
                 historyWithinTheScreen tabsAndButtonsStayWhileTheSheetScrolls)
set_tests_properties(test_main_window_small_screen PROPERTIES ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen:configfile=${CMAKE_CURRENT_SOURCE_DIR}/support/screen-small.json")
# The first window on an 800 x 600 screen.
add_test(NAME test_main_window_800x600 COMMAND test_main_window firstShowWithinTheScreen)
set_tests_properties(test_main_window_800x600 PROPERTIES ENVIRONMENT
    "QT_QPA_PLATFORM=offscreen:configfile=${CMAKE_CURRENT_SOURCE_DIR}/support/screen-800x600.json")
add_qt_test(test_window_commands test_window_commands.cpp)

# The program answers --version without a display.
add_test(NAME paramporter_version COMMAND paramporter --version)
set_tests_properties(paramporter_version PROPERTIES PASS_REGULAR_EXPRESSION "^2\\.0\\.0\n$")
add_qt_test(test_editor test_editor.cpp)
add_test(NAME desktop_entry
         COMMAND ${CMAKE_COMMAND} -DSOURCE=${CMAKE_SOURCE_DIR}
                 -DWORK=${CMAKE_CURRENT_BINARY_DIR}/desktop-entry -P
                 ${CMAKE_CURRENT_SOURCE_DIR}/desktop_entry.cmake)
