# The transfer history: the store on the real file system.
find_package(SQLite3 REQUIRED) # the tests tamper with the file as a database tool would
add_core_test(test_history test_history.cpp fakes.h)
target_link_libraries(test_history PRIVATE pphistory ppsim SQLite::SQLite3)
