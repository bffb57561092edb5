# The parameter report: composition (core) and printing (Qt).
add_core_test(test_report test_report.cpp)
add_qt_test(test_print test_print.cpp support/print_support.h)
# Through a private CUPS scheduler with cups-pdf queues; skipped where that cannot run.
add_qt_test(test_print_cups test_print_cups.cpp support/print_support.h)
set_tests_properties(test_print_cups PROPERTIES TIMEOUT 300)
