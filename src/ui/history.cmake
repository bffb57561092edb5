# The transfer history in the window: recording every transfer of the session, the History
# dialog and the comparison with the last upload.
target_link_libraries(ppui PUBLIC pphistory)
target_sources(ppui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/history_tap.h
    ${CMAKE_CURRENT_LIST_DIR}/history_tap.cpp
    ${CMAKE_CURRENT_LIST_DIR}/history_dialog.h
    ${CMAKE_CURRENT_LIST_DIR}/history_dialog.cpp
    ${CMAKE_CURRENT_LIST_DIR}/history_actions.h
    ${CMAKE_CURRENT_LIST_DIR}/history_actions.cpp
)
