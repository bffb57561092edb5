# The serial session with recording fakes.
add_core_test(test_session test_session.cpp fakes.h)
