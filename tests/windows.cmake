# The Windows build's tests, run by CTest through Wine (CMAKE_CROSSCOMPILING_EMULATOR).
add_core_test(test_number_text test_number_text.cpp)
add_core_test(test_frames test_frames.cpp)
