# Comparing sheets, and the window's comparisons and backup against the simulated instrument.
add_core_test(test_compare test_compare.cpp support/fakes.h)
add_qt_test(test_compare_window test_compare_window.cpp)
