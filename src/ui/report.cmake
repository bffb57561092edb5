# The parameter report on paper: the print dialog and the printer.
target_sources(ppui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/print_dialog.h
    ${CMAKE_CURRENT_LIST_DIR}/print_dialog.cpp
    ${CMAKE_CURRENT_LIST_DIR}/report_printer.h
    ${CMAKE_CURRENT_LIST_DIR}/report_printer.cpp
)
