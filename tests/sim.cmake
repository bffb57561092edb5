# The simulated instrument on its own, and the editor's session against it over a real pty.
add_core_test(test_instrument test_instrument.cpp)
target_link_libraries(test_instrument PRIVATE ppsim)

add_qt_test(test_e2e_link test_e2e_link.cpp support/fakes.h)
