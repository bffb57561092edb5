# Record decoding and download encoding.
add_core_test(test_records_system test_records_system.cpp)
add_core_test(test_records_part test_records_part.cpp)
