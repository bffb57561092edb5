target_sources(ppui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/about_box.h
    ${CMAKE_CURRENT_LIST_DIR}/about_box.cpp
    ${CMAKE_CURRENT_LIST_DIR}/icons.h
    ${CMAKE_CURRENT_LIST_DIR}/icons.cpp
    ${CMAKE_CURRENT_LIST_DIR}/main_window.h
    ${CMAKE_CURRENT_LIST_DIR}/main_window.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mode_window.h
    ${CMAKE_CURRENT_LIST_DIR}/mode_window.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_dialog.h
    ${CMAKE_CURRENT_LIST_DIR}/port_dialog.cpp
    ${CMAKE_CURRENT_LIST_DIR}/qt_window.h
    ${CMAKE_CURRENT_LIST_DIR}/qt_window.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sheet_view.h
    ${CMAKE_CURRENT_LIST_DIR}/sheet_view.cpp
    ${CMAKE_CURRENT_LIST_DIR}/undo_steps.h
    ${CMAKE_CURRENT_LIST_DIR}/undo_steps.cpp
    ${CMAKE_CURRENT_LIST_DIR}/main_window_edit.cpp
    ${CMAKE_CURRENT_LIST_DIR}/program_settings.h
    ${CMAKE_CURRENT_LIST_DIR}/recent_files.h
    ${CMAKE_CURRENT_LIST_DIR}/recent_files.cpp
    ${CMAKE_CURRENT_LIST_DIR}/user_guide.h
    ${CMAKE_CURRENT_LIST_DIR}/user_guide.cpp
)
# The user guide travels inside the program.
qt_add_resources(ppui "user_guide" PREFIX "/guide" BASE ${CMAKE_CURRENT_LIST_DIR}
                 FILES ${CMAKE_CURRENT_LIST_DIR}/user_guide.html)
