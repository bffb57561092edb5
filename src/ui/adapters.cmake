target_sources(ppui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/qt_serial_port.h
    ${CMAKE_CURRENT_LIST_DIR}/qt_serial_port.cpp
    ${CMAKE_CURRENT_LIST_DIR}/session_driver.h
    ${CMAKE_CURRENT_LIST_DIR}/session_driver.cpp
)
