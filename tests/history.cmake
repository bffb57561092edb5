# The transfer history: the store on the real file system. The command line's tests tamper with
# a history file as a database tool would.
find_package(SQLite3 REQUIRED)
add_core_test(test_history test_history.cpp support/fakes.h support/history_support.h)
target_link_libraries(test_history PRIVATE pphistory ppsim SQLite::SQLite3)
target_compile_definitions(test_history PRIVATE PP_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data")
target_link_libraries(test_cli PRIVATE SQLite::SQLite3)
