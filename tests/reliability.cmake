# Faults end to end: every line fault against the simulated instrument over a real pty, and
# the disk failing under the parameter and settings files.
add_qt_test(test_fault_matrix test_fault_matrix.cpp support/fakes.h support/line_tap.h)
set_tests_properties(test_fault_matrix PROPERTIES TIMEOUT 600)

add_core_test(test_disk_faults test_disk_faults.cpp support/fakes.h support/file_support.h)
target_link_libraries(test_disk_faults PRIVATE ppsim)

# Soak run against the simulated instrument: scripts/soak.sh, never part of ctest.
add_executable(pp-soak soak_main.cpp support/fakes.h)
target_link_libraries(pp-soak PRIVATE ppui ppsim)
