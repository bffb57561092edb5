# The serial session with recording fakes.
add_core_test(test_session test_session.cpp support/fakes.h)

# Its Qt adapters over a real pty that the test plays by hand.
add_qt_test(test_session_driver test_session_driver.cpp support/fakes.h)
