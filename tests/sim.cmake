# The simulated instrument on its own, and the editor's session against it over a real pty.
add_core_test(test_instrument test_instrument.cpp)
target_link_libraries(test_instrument PRIVATE ppsim)
target_compile_definitions(test_instrument PRIVATE PP_SIM_BINARY="$<TARGET_FILE:qx7400-sim>")
add_dependencies(test_instrument qx7400-sim)

add_qt_test(test_e2e_link test_e2e_link.cpp support/fakes.h)
