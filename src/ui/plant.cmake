# Forwarding the history to the plant's server, from a thread of its own, and where that server is.
target_sources(ppui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/plant_settings.h
    ${CMAKE_CURRENT_LIST_DIR}/plant_settings.cpp
    ${CMAKE_CURRENT_LIST_DIR}/plant_forwarding.h
    ${CMAKE_CURRENT_LIST_DIR}/plant_forwarding.cpp
    ${CMAKE_CURRENT_LIST_DIR}/history_server_dialog.h
    ${CMAKE_CURRENT_LIST_DIR}/history_server_dialog.cpp
)
