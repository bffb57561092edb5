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
)
