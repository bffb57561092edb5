# The parameter report: composition (core) and printing (Qt).
add_core_test(test_report test_report.cpp)
