# The parameter report: composition (core) and printing (Qt).
add_core_test(test_report test_report.cpp)
add_qt_test(test_print test_print.cpp print_support.h)
